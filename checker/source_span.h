// Where the document's positions lie in its bytes, for changes that must touch nothing else.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "xml_document.h"

namespace corvane {

// A stretch of the source: its bytes and the positions of its first character and of the
// character just past it.
struct SourceSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
  SourcePosition start;
  SourcePosition end;
};

// The byte offset in source of each position, counted as the document counts them (lines
// end at a LF, a CR LF or a lone CR; a column is one character, a byte that is no part of a
// UTF-8 character being one too, a byte order mark none); nothing for a position the source does not have. One pass
// over the source for all of them.
std::vector<std::optional<std::size_t>> ByteOffsets(std::string_view source, std::span<const SourcePosition> positions);

// The offset of the '>' that ends the start tag (or other markup) beginning at byte start;
// quoted values may hold one. Nothing when it does not end.
std::optional<std::size_t> StartTagEnd(std::string_view source, std::size_t start);

// The text of the text element `element`, whose start tag begins at byte `start` of source
// (its '<', at the position the document gives): nothing unless the bytes between its tags
// are its text exactly as written (no reference, no other encoding), so that replacing them
// changes that text and not a byte beside it.
std::optional<SourceSpan> TextElementSpan(std::string_view source, std::size_t start, const XmlDocument& doc,
                                          NodeId element);

}  // namespace corvane
