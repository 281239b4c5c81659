// libFuzzer target: any bytes as a properties file; every key it defines is found again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "web_app.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const corvane::KeyTable keys = corvane::KeyTable::Parse(text);
  const std::string_view firstLine = text.substr(0, text.find('\n'));
  const std::string_view firstKey = firstLine.substr(0, firstLine.find('='));
  if (!text.empty() && !firstKey.empty() && firstKey.find('\r') == std::string_view::npos && !keys.contains(firstKey)) {
    std::abort();  // a key the file defines must be found
  }
  return 0;
}
