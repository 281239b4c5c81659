#include "file_findings.h"

#include <utility>
#include <vector>

#include "fixes.h"
#include "suppression.h"
#include "warnings.h"

namespace corvane::cli {

CheckedInput CheckDocumentText(ScanState& state, std::string path, std::string fullPath, std::string_view text,
                               bool keepSource) {
  CheckedInput checked{std::move(path), std::move(fullPath), {}, {}};
  checked.outcome = CheckText(state, checked.fullPath.empty() ? checked.path : checked.fullPath, text);
  if (keepSource) checked.source = text;
  return checked;
}

ReportOrder OutputOrder(const Options& options) {
  const bool byPosition = options.format == OutputFormat::Text || options.format == OutputFormat::Github ||
                          options.format == OutputFormat::Sarif;
  return byPosition && !options.baseline && !options.fix && !options.diff ? ReportOrder::Position : ReportOrder::List;
}

FileReport Findings(const Options& options, const CodeSet& projectIgnored, const CheckedInput& checked,
                    const PlainTree& tree, PlainMessages& messages, const Suggester* suggester, ReportOrder order,
                    std::ostream& err) {
  // In line order, the findings are not sorted by text first.
  const bool byPosition = order == ReportOrder::Position;
  std::vector<ListedMessage> sorted = byPosition ? messages.added() : messages.listed();
  // The report takes the texts over from the list: a long list is neither copied nor held twice.
  TextBlocks texts = messages.takeTexts();
  const XmlDocument* doc = checked.outcome.document.get();
  const std::optional<LoadError>& loadError = checked.outcome.loadError;
  Suppressions directives;
  if (doc != nullptr) {
    directives = Suppressions(tree, *doc);
    for (const Suppressions::Problem& problem : directives.problems()) {
      const SourcePosition at = doc->position(problem.comment);
      WriteLine(err, "corvanexml-check: " + checked.path + ':' + std::to_string(at.line) + ':' +
                         std::to_string(at.column) + ": " + problem.what);
    }
  }
  // That a file could not be read, or not checked to its end, is no finding to ignore.
  const bool stopped = checked.outcome.walkError.has_value();
  CodeSet ignored = options.ignored | projectIgnored;
  if (stopped || (loadError && loadError->unreadable)) ignored.reset(kXmlError);
  std::vector<ListedMessage> silenced = RemoveSilenced(sorted, ignored, directives);
  std::vector<std::unique_ptr<const Fix>> fixes;
  if (suggester != nullptr && doc != nullptr) fixes = FindFixes(*suggester, sorted, tree, *doc, checked.source);
  // Only JSON shows the labels, which take a walk up the tree for every finding.
  FileReport report = MakeFileReport(checked.path, checked.fullPath, tree, doc, sorted, loadError,
                                     options.format == OutputFormat::Json);
  report.texts = std::move(texts);
  // The report keeps the messages' order.
  for (std::size_t i = 0; i < fixes.size(); ++i) report.messages[i].fix = std::move(fixes[i]);
  report.stopped = stopped;
  report.silenced = ReportedMessages(tree, doc, silenced, loadError, false);
  if (byPosition) {
    PutInPositionOrder(report.messages);
    PutInPositionOrder(report.silenced);
  }
  if (options.reportUnusedDirectives && !ignored.test(kUnusedDirective) && doc != nullptr) {
    for (ReportedMessage& unused : UnusedDirectives(directives, *doc, report.texts)) {
      report.messages.push_back(std::move(unused));
    }
  }
  return report;
}

}  // namespace corvane::cli
