// Runs a command line through the desktop's "open" action: finds which leading words name an
// existing program or document, passes the rest as its parameters, and sends the command
// interpreter's built-in commands to the interpreter. Results follow the convention of the
// open action: above 32 means accepted, 32 or less is an error code (2: no such file).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// What the open action is asked for: a program, document or address, its parameters, the
// working folder (empty = the current one) and the window state (1 = normal).
struct ShellRequest {
  std::string file;
  std::string parameters;
  std::string folder;
  std::int32_t showCmd = 1;
};

// The value of environment variable Name, or empty when it is not set.
std::string GetEnvVar(std::string_view name);
// True when Word is one of the command interpreter's built-in commands (ASCII case folded).
bool IsInternalCommand(std::string_view word);
// Splits CommandLine into file and parameters and hands the request to the open action.
std::int32_t ShellRun(std::string_view commandLine, std::int32_t showCmd);
// ShellRun(CommandLine, 1): window shown normally.
std::int32_t ShellRunNormal(std::string_view commandLine);
// Opens Target (a program, document or address) with its default program.
std::int32_t ShellOpen(std::string_view target);

// Words of Text as a POSIX shell splits them (quotes, backslashes, blanks), never expanded.
std::vector<std::string> SplitShellWords(std::string_view text);
// The real open action: starts an executable, or hands a document or address to xdg-open.
std::int32_t OpenWithDesktop(const ShellRequest& request);
// The path of the executable file Program in a folder of PATH, or empty when none has it.
std::string FindOnPath(const std::string& program);
// Starts Program detached with Args (Args[0] = Program), never through a shell; the result
// follows the open action's convention.
std::int32_t StartProgram(const std::string& program, std::vector<std::string> args, const std::string& folder);

// How a started program fared while it was watched.
struct StartWatch {
  std::int32_t result = 0;  // as StartProgram's
  bool ended = false;       // it ended while watched ...
  int waitStatus = 0;       // ... with this wait status
};
// StartProgram, then watches the program for up to Watch, repainting the window meanwhile:
// a program that fails as it starts says so only by ending. A program that ends is reaped,
// one that runs on is left to init as with StartProgram.
StartWatch StartProgramWatched(const std::string& program, std::vector<std::string> args, const std::string& folder,
                               std::chrono::milliseconds watch);

}  // namespace corvane
