// corvanexml-check: the checker without a window, for scripts and CI pipelines.
#include <iostream>
#include <string>
#include <vector>

#include "options.h"
#include "run.h"

int main(int argc, char** argv) {
  using namespace corvane::cli;
  std::ios::sync_with_stdio(false);
  std::string error;
  const auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::cerr << "corvanexml-check: " << error << "\nTry 'corvanexml-check --help'.\n";
    return kExitTrouble;
  }
  if (options->help) {
    std::cout << HelpText();
    return kExitClean;
  }
  if (options->listTrees) return ListTrees(std::cout);
  return RunChecks(*options, std::cout, std::cerr);
}
