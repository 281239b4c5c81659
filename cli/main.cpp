// corvanexml-check: the checker without a window, for scripts and CI pipelines.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "options.h"
#include "plain_sinks.h"
#include "report.h"
#include "scan.h"

namespace {

using namespace corvane;
using namespace corvane::cli;

constexpr int kExitClean = 0;
constexpr int kExitMessages = 1;
constexpr int kExitTrouble = 2;

void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int Run(const Options& options) {
  const std::vector<std::string> files = ExpandInputs(options.inputs);
  const bool headers = files.size() > 1;

  PlainTree tree;
  PlainMessages messages;
  ScanState state(tree, messages);
  std::vector<FileReport> reports;
  bool anyMessage = false;
  bool anyUnreadable = false;

  for (const std::string& file : files) {
    const CheckOutcome outcome = CheckFile(state, std::filesystem::absolute(file).lexically_normal().string());
    const std::vector<Message> sorted = messages.sorted();
    anyMessage = anyMessage || !sorted.empty();
    anyUnreadable = anyUnreadable || (outcome.loadError && outcome.loadError->unreadable);
    const XmlDocument* doc = outcome.document.get();
    if (options.format != OutputFormat::Text) {
      reports.push_back(MakeFileReport(file, tree, doc, sorted, outcome.loadError));
      continue;
    }
    std::string out;
    if (headers) out.append(file).append(":\n");
    if (options.showTree) {
      if (doc != nullptr) AppendTreeText(out, tree, doc);
      out.push_back('\n');
    }
    AppendMessageText(out, sorted);
    Write(out);
  }
  if (options.format == OutputFormat::Json) Write(JsonReport(reports));
  if (options.format == OutputFormat::Sarif) Write(SarifReport(reports));
  std::fflush(stdout);
  if (anyUnreadable) return kExitTrouble;
  return anyMessage ? kExitMessages : kExitClean;
}

}  // namespace

int main(int argc, char** argv) {
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
  return Run(*options);
}
