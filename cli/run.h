// The command-line checker's work, apart from argument parsing and the process.
#pragma once

#include <istream>
#include <ostream>

#include "directory_session.h"
#include "options.h"
#include "scan_state.h"

namespace corvane::cli {

inline constexpr int kExitClean = 0;
inline constexpr int kExitMessages = 1;
inline constexpr int kExitTrouble = 2;

// Checks the files the options name (the document on in for "-") against the tree they
// select, one after another, each from a fresh state (with carryOver, in one session as the
// window checks them), and writes the chosen format to out (or to the
// --output file); the summary and usage errors go to err. The project file of the first
// input completes the run-wide options; each file's own project file adds its excludes and
// ignored codes. Returns the exit status.
int RunChecks(const Options& options, std::istream& in, std::ostream& out, std::ostream& err);
// Points the session at the tree the options name (schema files, a configured tree, or the
// primary connection's tree as the window does at start) and reads its schema into schema.
// Returns why that cannot be done (for the command line, a usage error), if so.
std::string SelectTree(const Options& options, DirectorySession& directory, SchemaView& schema);
// Writes the client's trees, one per line, to out; why there are none goes to err.
int ListTrees(std::ostream& out, std::ostream& err);

}  // namespace corvane::cli
