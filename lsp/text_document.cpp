#include "text_document.h"

#include <algorithm>

#include "d_util.h"

namespace corvane::lsp {

namespace {

// UTF-16 code units of the character at i: two for one beyond the basic plane (four UTF-8
// bytes), one otherwise; a byte that is no part of a well-formed character counts as one.
std::size_t Utf16Units(const Utf8Char& c) { return c.wellFormed && c.size == 4 ? 2 : 1; }

}  // namespace

LineIndex::LineIndex(std::string_view text) : text_(text), starts_{0} {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (text[i] == '\n' || text[i] == '\r') starts_.push_back(i + 1);
  }
}

std::size_t LineIndex::lineEnd(std::size_t offset) const {
  std::size_t end = std::min(offset, text_.size());
  while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
  return end;
}

Position LineIndex::position(std::size_t offset, PositionEncoding encoding) const {
  offset = std::min(offset, text_.size());
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto line = static_cast<std::size_t>(after - starts_.begin()) - 1;
  std::size_t character = 0;
  for (std::size_t i = starts_[line]; i < offset;) {
    const Utf8Char c = NextUtf8Char(text_, i);
    if (i + c.size > offset) break;  // inside a character: its start
    character += encoding == PositionEncoding::Utf8 ? c.size : Utf16Units(c);
    i += c.size;
  }
  return {static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(character)};
}

std::optional<std::size_t> LineIndex::offset(Position position, PositionEncoding encoding) const {
  if (position.line >= starts_.size()) return std::nullopt;
  const std::size_t start = starts_[position.line];
  const std::size_t end = lineEnd(start);
  std::size_t units = 0;
  std::size_t i = start;
  while (units < position.character) {
    if (i >= end) return std::nullopt;
    const Utf8Char c = NextUtf8Char(text_, i);
    units += encoding == PositionEncoding::Utf8 ? c.size : Utf16Units(c);
    i += c.size;
  }
  // A position inside a character (half a surrogate pair, a byte in the middle) is past it.
  return std::min(i, end);
}

bool ApplyChanges(std::string& text, const std::vector<TextChange>& changes, PositionEncoding encoding) {
  for (const TextChange& change : changes) {
    if (!change.start || !change.end) {
      text = change.text;
      continue;
    }
    const LineIndex lines(text);
    const std::optional<std::size_t> from = lines.offset(*change.start, encoding);
    const std::optional<std::size_t> to = lines.offset(*change.end, encoding);
    if (!from || !to || *to < *from) return false;
    text.replace(*from, *to - *from, change.text);
  }
  return true;
}

}  // namespace corvane::lsp
