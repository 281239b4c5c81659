// An open document's text, the positions the protocol names in it, and its edits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::lsp {

// How a position's character counts: UTF-16 code units (the protocol's default) or bytes.
enum class PositionEncoding { Utf16, Utf8 };

// A place in a document as the protocol names it, both counted from 0.
struct Position {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
};

// Where each line of a text starts; lines end at a LF, a CR LF or a lone CR.
class LineIndex {
 public:
  // Indexes the lines up to lastLine (all of them by default); positions on later lines
  // are not in the index.
  explicit LineIndex(std::string_view text, std::uint32_t lastLine = UINT32_MAX);

  // The position of a byte offset (one past the text is its end); an offset inside a
  // character counts as that character's start.
  Position position(std::size_t offset, PositionEncoding encoding) const;
  // The byte offset of a position; nothing when the line is not in the text or the
  // character lies past the line's end (before its line break).
  std::optional<std::size_t> offset(Position position, PositionEncoding encoding) const;
  // The offset where the line holding offset ends, before its line break.
  std::size_t lineEnd(std::size_t offset) const;

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

// One edit of a document: a range replaced, or (without range) the whole text.
struct TextChange {
  std::optional<Position> start;
  std::optional<Position> end;
  std::string text;
};

// Applies edits in order to text, moving their texts in; false, with text as the edits before
// the faulty one left it, when an edit's range lies outside the document or ends before it
// starts.
bool ApplyChanges(std::string& text, std::vector<TextChange> changes, PositionEncoding encoding);

}  // namespace corvane::lsp
