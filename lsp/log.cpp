#include "log.h"

#include <iostream>
#include <mutex>
#include <string>

#include "warnings.h"

namespace corvane::lsp {

namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

void Log(std::string_view line) {
  const std::lock_guard lock(LogMutex());
  WriteLine(std::cerr, std::string("corvanexml-check: ").append(line));
  std::cerr.flush();
}

}  // namespace corvane::lsp
