// The command-line checker's work, apart from argument parsing and the process.
#pragma once

#include <ostream>

#include "options.h"

namespace corvane::cli {

inline constexpr int kExitClean = 0;
inline constexpr int kExitMessages = 1;
inline constexpr int kExitTrouble = 2;

// Checks the files the options name, one after another in one session, and writes the
// chosen format to out. Returns the exit status.
int RunChecks(const Options& options, std::ostream& out);

}  // namespace corvane::cli
