// An open document's text, the positions the protocol names in it, and its edits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::lsp {

// How a position's character counts: UTF-16 code units (the protocol's default) or bytes.
enum class PositionEncoding { Utf16, Utf8 };

// A place in a document as the protocol names it, both counted from 0.
struct Position {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
};

// Where the lines of a text start; lines end at a LF, a CR LF or a lone CR. Every 16th
// line's start is kept, and the lines between are found from it: a large document's index
// is small beside its text.
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
  static constexpr std::size_t kStride = 16;
  // The line holding offset and where it starts.
  std::pair<std::size_t, std::size_t> lineOf(std::size_t offset) const;
  // Where a line starts; nothing when it is not in the index.
  std::optional<std::size_t> lineStart(std::size_t line) const;

  std::string_view text_;
  std::vector<std::size_t> starts_;  // of lines 0, kStride, 2 * kStride ...
  std::size_t lines_ = 1;            // how many lines are indexed
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
