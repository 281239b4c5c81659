// Tag builders for the XML export layout. Nothing is escaped: callers pass ready text.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// "<Name>Content</Name>", or XmlEmptyTag(Name) when Content is empty.
std::string XmlTag(std::string_view name, std::string_view content);
// "<Name/>".
std::string XmlEmptyTag(std::string_view name);

}  // namespace corvane
