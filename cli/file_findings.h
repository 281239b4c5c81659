// The findings of one checked file, worked out the same way wherever the file comes from:
// a file on disk or standard input for the command line, an open document for the
// language server.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "options.h"
#include "plain_sinks.h"
#include "report.h"
#include "rule_info.h"
#include "scan.h"
#include "suggestions.h"

namespace corvane::cli {

// A checked input: the path findings name, the full path it was checked under (empty for
// standard input without a name), and what the check left.
struct CheckedInput {
  std::string path;
  std::string fullPath;
  CheckOutcome outcome;
  std::string source;  // the bytes checked, kept only where fixes are looked for
};

// Checks a document held in memory as the file at fullPath (path when fullPath is empty)
// would be checked: the web application, its bundles and pages are found from there, and
// the file itself is not read. With keepSource, the text is kept in the result's source.
CheckedInput CheckDocumentText(ScanState& state, std::string path, std::string fullPath, std::string_view text,
                               bool keepSource);

// The order of a report's findings: the message list's, or by line and column with those at
// one position in the list's order.
enum class ReportOrder { List, Position };
// The order the run's output needs: by position where the format writes findings so and
// nothing else reads the list in order (a baseline excuses the first of equal findings in
// it, and --fix and --diff apply the first fix for a stretch of text).
ReportOrder OutputOrder(const Options& options);

// The findings of a checked document that the options let through, before the baseline, in
// the given order: the message list's lines (the list is left empty) without ignored codes
// (the options' and projectIgnored) and what directives in the file silence; unused
// directives are added when asked for; with a suggester, each finding carries its fix, if
// any. A directive the checker cannot read is said on err.
FileReport Findings(const Options& options, const CodeSet& projectIgnored, const CheckedInput& checked,
                    const PlainTree& tree, PlainMessages& messages, const Suggester* suggester, ReportOrder order,
                    std::ostream& err);

}  // namespace corvane::cli
