#include "run.h"

#include <filesystem>
#include <string>
#include <vector>

#include "plain_sinks.h"
#include "report.h"
#include "scan.h"

namespace corvane::cli {

int RunChecks(const Options& options, std::ostream& out) {
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
    std::string text;
    if (headers) text.append(file).append(":\n");
    if (options.showTree) {
      if (doc != nullptr) AppendTreeText(text, tree, doc);
      text.push_back('\n');
    }
    AppendMessageText(text, sorted);
    out << text;
  }
  if (options.format == OutputFormat::Json) out << JsonReport(reports);
  if (options.format == OutputFormat::Sarif) out << SarifReport(reports);
  out.flush();
  if (anyUnreadable) return kExitTrouble;
  return anyMessage ? kExitMessages : kExitClean;
}

}  // namespace corvane::cli
