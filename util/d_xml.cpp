#include "d_xml.h"

namespace corvane {

std::string XmlTag(std::string_view name, std::string_view content) {
  if (content.empty()) return XmlEmptyTag(name);
  std::string out;
  out.reserve(2 * name.size() + content.size() + 5);
  out.append("<").append(name).append(">").append(content).append("</").append(name).append(">");
  return out;
}

std::string XmlEmptyTag(std::string_view name) {
  std::string out;
  out.append("<").append(name).append("/>");
  return out;
}

}  // namespace corvane
