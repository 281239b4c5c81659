// The server's log: lines on standard error, whole, from any thread.
#pragma once

#include <string_view>

namespace corvane::lsp {

// Writes "corvanexml-check: " and line (as visible text) to standard error.
void Log(std::string_view line);

}  // namespace corvane::lsp
