#include "run.h"

#include <filesystem>
#include <string>
#include <vector>

#include "dir_client.h"
#include "directory_session.h"
#include "plain_sinks.h"
#include "report.h"
#include "scan.h"

namespace corvane::cli {

namespace {

std::string JoinLines(const StringList& list, std::string_view separator) {
  std::string out;
  for (const StringList::Entry& e : list.entries()) out.append(out.empty() ? "" : separator).append(e.text);
  return out;
}

// Points the session at the tree the options name (schema files, a configured tree, or the
// primary connection's tree as the window does at start). Returns a usage error, if any.
std::string SelectTree(const Options& options, DirectorySession& directory, SchemaView& schema) {
  if (!options.schemaFiles.empty()) {
    const std::string error = client::ServeSchemaFiles(options.schemaFiles);
    if (!error.empty()) return error;
  }
  if (!directory.start()) return {};  // the client's error box has been shown; no schema
  const StringList trees = directory.trees();
  std::string tree = options.tree ? *options.tree : directory.primaryTree();
  const std::int64_t index = trees.indexOfText(tree);
  if (index < 0) {
    if (options.tree) return "no tree named '" + tree + "'; the trees are: " + JoinLines(trees, ", ");
    return {};
  }
  StringList auxAttributes;
  tree = trees[static_cast<std::size_t>(index)].text;
  // Checked against an empty schema every name would be reported: better to stop.
  if (directory.changeTree(tree) != 0) return "the schema of tree '" + tree + "' cannot be read";
  directory.readSchema(schema, auxAttributes);
  return {};
}

}  // namespace

int ListTrees(std::ostream& out) {
  DirectorySession directory;
  directory.start();
  const std::string lines = JoinLines(directory.trees(), "\n");
  out << lines << (lines.empty() ? "" : "\n");
  return kExitClean;
}

int RunChecks(const Options& options, std::ostream& out, std::ostream& err) {
  // Plain text without the tree needs no labels and no source positions.
  const bool needsTree = options.showTree || options.format != OutputFormat::Text;
  PlainTree tree;
  CountingTree countingTree;
  PlainMessages messages;
  ScanState state(needsTree ? static_cast<TreeSink&>(tree) : countingTree, messages);
  DirectorySession directory;
  if (const std::string error = SelectTree(options, directory, state.schema); !error.empty()) {
    err << "corvanexml-check: " << error << "\n";
    return kExitTrouble;
  }
  const std::vector<std::string> files = ExpandInputs(options.inputs);
  const bool headers = files.size() > 1;
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
    if (headers) out << file << ":\n";
    if (options.showTree) {
      if (doc != nullptr) WriteTreeText(out, tree, doc);
      out << '\n';
    }
    WriteMessageText(out, sorted);
  }
  if (options.format == OutputFormat::Json) out << JsonReport(reports);
  if (options.format == OutputFormat::Sarif) out << SarifReport(reports);
  out.flush();
  if (anyUnreadable) return kExitTrouble;
  return anyMessage ? kExitMessages : kExitClean;
}

}  // namespace corvane::cli
