#include "sinks.h"

#include "d_util.h"

namespace corvane {

std::string ItemLabel::str() const {
  if (!isTextElement) return std::string(name);
  std::string out;
  out.reserve(name.size() + 2 + value.size());
  out.append(name).append(": ").append(value);
  return out;
}

bool MessageOrder(const Message& a, const Message& b) { return CompareText(a.text, b.text) < 0; }

}  // namespace corvane
