#include "output.h"

#include "baseline.h"
#include "file_write.h"
#include "visible_text.h"
#include "warnings.h"

namespace corvane::cli {

void RunSummary::fail(std::ostream& err, std::string trouble) {
  WriteLine(err, "corvanexml-check: " + trouble);
  troubles.push_back(std::move(trouble));
  successful = false;
}

std::string Output::TreeText(const Options& options, const PlainTree& tree, const XmlDocument* doc) {
  if (!options.showTree) return {};
  std::ostringstream text;
  if (doc != nullptr) WriteTreeText(text, tree, doc);
  text << '\n';
  return std::move(text).str();
}

void Output::add(FileReport&& file, std::string_view treeText) {
  tally_.add(file);
  // With --diff, standard output is the patch.
  if (options_.diff) return;
  if (options_.writeBaseline) {
    kept_.push_back(std::move(file));
    return;
  }
  switch (options_.format) {
    case OutputFormat::Text:
      out_ << treeText;
      WriteFindingLines(out_, file);
      break;
    case OutputFormat::List:
      if (severalFiles_) out_ << VisibleText(file.path) << ":\n";
      out_ << treeText;
      WriteMessageList(out_, file);
      break;
    case OutputFormat::Github: WriteWorkflowCommands(out_, file); break;
    case OutputFormat::Json:
    case OutputFormat::Sarif: kept_.push_back(std::move(file)); break;
  }
}

void Output::finish(RunSummary& run, std::ostream& err) {
  if (options_.writeBaseline) {
    std::string reason;
    if (!WriteBaseline(*options_.writeBaseline, kept_, reason)) {
      run.fail(err, "cannot write the baseline " + *options_.writeBaseline + ": " + reason);
      return;
    }
    if (!options_.quiet) {
      err << "baseline " << VisibleText(*options_.writeBaseline) << ": " << SummaryLine(tally_) << "\n";
    }
    return;
  }
  if (options_.format == OutputFormat::Json) out_ << JsonReport(kept_);
  if (options_.format == OutputFormat::Sarif) out_ << SarifReport(kept_, run);
  out_.flush();
  std::string reason;
  if (options_.output && !WriteFileAtomically(*options_.output, file_.str(), reason)) {
    run.fail(err, "cannot write " + *options_.output + ": " + reason);
    return;
  }
  if (!options_.quiet) err << SummaryLine(tally_) << "\n";
}

}  // namespace corvane::cli
