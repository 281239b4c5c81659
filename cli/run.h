// The command-line checker's work, apart from argument parsing and the process.
#pragma once

#include <istream>
#include <ostream>

#include "options.h"

namespace corvane::cli {

inline constexpr int kExitClean = 0;
inline constexpr int kExitMessages = 1;
inline constexpr int kExitTrouble = 2;

// Checks the files the options name (the document on in for "-") against the tree they
// select, one after another in one session, and writes the chosen format to out; the
// summary and usage errors go to err. Returns the exit status.
int RunChecks(const Options& options, std::istream& in, std::ostream& out, std::ostream& err);
// Writes the client's trees, one per line, to out; why there are none goes to err.
int ListTrees(std::ostream& out, std::ostream& err);

}  // namespace corvane::cli
