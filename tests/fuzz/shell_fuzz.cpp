// libFuzzer target: any bytes as a command line for ShellRun (the open action only records,
// nothing is started) and as words for SplitShellWords.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "d_win.h"
#include "platform_hooks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const std::string line(reinterpret_cast<const char*>(data), size);
  static ShellRequest last;
  static const bool hooked = [] {
    SetShellOpenHook([](const ShellRequest& request) {
      last = request;
      return 42;
    });
    return true;
  }();
  (void)hooked;
  if (ShellRun(line, 1) != 42) std::abort();
  (void)SplitShellWords(line);
  return 0;
}
