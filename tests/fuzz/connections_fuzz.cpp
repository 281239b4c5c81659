// libFuzzer target: any bytes as the connections file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "connections.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)corvane::client::ParseConnections(text, "fuzz.ini", "/nonexistent");
  return 0;
}
