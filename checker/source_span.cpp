#include "source_span.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "d_util.h"

namespace corvane {

namespace {

// A place in the source, moved forward one character at a time as the document counts them.
struct Cursor {
  std::size_t offset = 0;
  SourcePosition position{1, 1};

  bool atLineEnd(std::string_view s) const { return s[offset] == '\n' || s[offset] == '\r'; }

  // Moves past the character at offset; a CR LF pair is one line end.
  void step(std::string_view s) {
    if (!atLineEnd(s)) {
      offset += NextUtf8Char(s, offset).size;
      ++position.column;
      return;
    }
    offset += s.substr(offset, 2) == "\r\n" ? 2 : 1;
    ++position.line;
    position.column = 1;
  }

  // Moves over every character before end.
  void stepTo(std::string_view s, std::size_t end) {
    while (offset < end) step(s);
  }
};

bool Before(const SourcePosition& a, const SourcePosition& b) {
  return a.line != b.line ? a.line < b.line : a.column < b.column;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::optional<std::size_t> StartTagEnd(std::string_view source, std::size_t start) {
  char quote = 0;
  for (std::size_t i = start; i < source.size(); ++i) {
    const char c = source[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return std::nullopt;
}

std::vector<std::optional<std::size_t>> ByteOffsets(std::string_view source,
                                                    std::span<const SourcePosition> positions) {
  std::vector<std::size_t> order(positions.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return Before(positions[a], positions[b]); });
  std::vector<std::optional<std::size_t>> offsets(positions.size());
  // A byte order mark is no character of the first line.
  Cursor cursor{source.size() - SkipByteOrderMark(source).size(), {1, 1}};
  for (const std::size_t i : order) {
    const SourcePosition wanted = positions[i];
    while (cursor.offset < source.size() && Before(cursor.position, wanted)) {
      // A column past the line's end is not on the line; the next position may still be.
      if (cursor.position.line == wanted.line && cursor.atLineEnd(source)) break;
      cursor.step(source);
    }
    if (cursor.position.line == wanted.line && cursor.position.column == wanted.column) offsets[i] = cursor.offset;
  }
  return offsets;
}

std::optional<SourceSpan> TextElementSpan(std::string_view source, std::size_t start, const XmlDocument& doc,
                                          NodeId element) {
  const std::string_view name = doc.name(element);
  const std::size_t nameEnd = start + 1 + name.size();
  if (source.substr(start, 1) != "<" || source.substr(start + 1, name.size()) != name || nameEnd >= source.size()) {
    return std::nullopt;
  }
  if (!IsXmlSpace(source[nameEnd]) && source[nameEnd] != '>') return std::nullopt;
  const std::optional<std::size_t> tagEnd = StartTagEnd(source, nameEnd);
  if (!tagEnd || source[*tagEnd - 1] == '/') return std::nullopt;
  const std::size_t textStart = *tagEnd + 1;
  const std::string_view text = doc.elementText(element);
  const std::string closing = std::string("</").append(name);
  if (source.substr(textStart, text.size()) != text ||
      source.substr(textStart + text.size(), closing.size()) != closing) {
    return std::nullopt;
  }
  Cursor cursor{start, doc.position(element)};
  cursor.stepTo(source, textStart);
  SourceSpan span{textStart, text.size(), cursor.position, {}};
  cursor.stepTo(source, textStart + text.size());
  span.end = cursor.position;
  return span;
}

}  // namespace corvane
