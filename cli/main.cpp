// corvanexml-check: the checker without a window, for scripts and CI pipelines.
#include <csignal>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "options.h"
#include "run.h"
#include "server.h"
#include "warnings.h"

int main(int argc, char** argv) {
  using namespace corvane::cli;
  // A server or reader that hangs up makes a write fail, which is told; it never ends the run.
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));  // cannot fail for this signal
  std::ios::sync_with_stdio(false);
  try {
    std::string error;
    const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
      corvane::WriteLine(std::cerr, "corvanexml-check: " + error);
      std::cerr << "Try 'corvanexml-check --help'.\n";
      return kExitTrouble;
    }
    if (options->help) {
      std::cout << HelpText();
      return kExitClean;
    }
    if (options->version) {
      std::cout << VersionText();
      return kExitClean;
    }
    if (options->listTrees) return ListTrees(std::cout, std::cerr);
    if (options->lsp) return corvane::lsp::RunServer(*options);
    return RunChecks(*options, std::cin, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    // What was written so far stays; the message must not need memory of its own.
    std::cout.flush();
    std::cerr << "corvanexml-check: out of memory\n";
  } catch (const std::exception& e) {
    std::cout.flush();
    corvane::WriteLine(std::cerr, std::string("corvanexml-check: ") + e.what());
  }
  return kExitTrouble;
}
