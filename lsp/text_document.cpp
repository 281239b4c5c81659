#include "text_document.h"

#include <algorithm>
#include <cstring>

#include "d_util.h"

namespace corvane::lsp {

namespace {

// UTF-16 code units of the character at i: two for one beyond the basic plane (four UTF-8
// bytes), one otherwise; a byte that is no part of a well-formed character counts as one.
std::size_t Utf16Units(const Utf8Char& c) { return c.wellFormed && c.size == 4 ? 2 : 1; }

// Where the line after the one holding from starts, or npos when that is the last line. The
// bytes are searched with memchr: a large document is indexed again for every edit.
std::size_t NextLineStart(std::string_view text, std::size_t from) {
  const char* begin = text.data() + from;
  const std::size_t rest = text.size() - from;
  const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', rest));
  const std::size_t lfAt = lf == nullptr ? rest : static_cast<std::size_t>(lf - begin);
  const auto* cr = static_cast<const char*>(std::memchr(begin, '\r', lfAt));
  if (cr == nullptr) return lf == nullptr ? std::string_view::npos : from + lfAt + 1;
  const std::size_t crAt = from + static_cast<std::size_t>(cr - begin);
  return crAt + (crAt + 1 < text.size() && text[crAt + 1] == '\n' ? 2 : 1);
}

}  // namespace

LineIndex::LineIndex(std::string_view text, std::uint32_t lastLine) : text_(text), starts_{0} {
  for (std::size_t at = NextLineStart(text, 0); at != std::string_view::npos && lines_ <= lastLine;
       at = NextLineStart(text, at)) {
    if (lines_ % kStride == 0) starts_.push_back(at);
    ++lines_;
  }
}

std::pair<std::size_t, std::size_t> LineIndex::lineOf(std::size_t offset) const {
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto checkpoint = static_cast<std::size_t>(after - starts_.begin()) - 1;
  std::size_t line = checkpoint * kStride;
  std::size_t start = starts_[checkpoint];
  for (std::size_t next = NextLineStart(text_, start);
       next != std::string_view::npos && next <= offset && line + 1 < lines_; next = NextLineStart(text_, start)) {
    start = next;
    ++line;
  }
  return {line, start};
}

std::optional<std::size_t> LineIndex::lineStart(std::size_t line) const {
  if (line >= lines_) return std::nullopt;
  std::size_t start = starts_[line / kStride];
  for (std::size_t skip = line % kStride; skip > 0; --skip) start = NextLineStart(text_, start);
  return start;
}

std::size_t LineIndex::lineEnd(std::size_t offset) const {
  std::size_t end = std::min(offset, text_.size());
  while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
  return end;
}

Position LineIndex::position(std::size_t offset, PositionEncoding encoding) const {
  offset = std::min(offset, text_.size());
  const auto [line, start] = lineOf(offset);
  std::size_t character = 0;
  for (std::size_t i = start; i < offset;) {
    const Utf8Char c = NextUtf8Char(text_, i);
    if (i + c.size > offset) break;  // inside a character: its start
    character += encoding == PositionEncoding::Utf8 ? c.size : Utf16Units(c);
    i += c.size;
  }
  return {static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(character)};
}

std::optional<std::size_t> LineIndex::offset(Position position, PositionEncoding encoding) const {
  const std::optional<std::size_t> start = lineStart(position.line);
  if (!start) return std::nullopt;
  const std::size_t end = lineEnd(*start);
  std::size_t units = 0;
  std::size_t i = *start;
  while (units < position.character) {
    if (i >= end) return std::nullopt;
    const Utf8Char c = NextUtf8Char(text_, i);
    units += encoding == PositionEncoding::Utf8 ? c.size : Utf16Units(c);
    i += c.size;
  }
  // A position inside a character (half a surrogate pair, a byte in the middle) is past it.
  return std::min(i, end);
}

bool ApplyChanges(std::string& text, std::vector<TextChange> changes, PositionEncoding encoding) {
  for (TextChange& change : changes) {
    if (!change.start || !change.end) {
      text = std::move(change.text);
      continue;
    }
    // Only the lines up to the change's end are indexed: an edit costs what lies before it.
    const LineIndex lines(text, std::max(change.start->line, change.end->line));
    const std::optional<std::size_t> from = lines.offset(*change.start, encoding);
    const std::optional<std::size_t> to = lines.offset(*change.end, encoding);
    if (!from || !to || *to < *from) return false;
    text.replace(*from, *to - *from, change.text);
  }
  return true;
}

}  // namespace corvane::lsp
