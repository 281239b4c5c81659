#include "run.h"

#include <string>
#include <system_error>
#include <vector>

#include "connections.h"
#include "dir_client.h"
#include "client_interface.h"
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

std::string ConnectionsFile() { return client::ClientConfigFolder() + "/connections.ini"; }

// Starts the client and reads its trees. Returns why no tree can be offered, if so: checked
// against no tree, every name would be reported.
std::string StartWithTrees(DirectorySession& directory, StringList& trees) {
  if (!directory.start()) {
    return "the directory client did not start: correct " + ConnectionsFile() +
           " (or remove it to use the demo tree), or use --schema FILE";
  }
  trees = directory.trees();
  if (!trees.empty()) return {};
  return ConnectionsFile() +
         " offers no tree: give each tree a section such as [MYTREE] (a name of at most 32 characters) with "
         "'schema = FILE' or 'url = ...', or use --schema FILE";
}

// Why the tree of the primary connection cannot be used.
std::string NoPrimaryTree(const StringList& trees) {
  ConnHandle conn = 0;
  const std::string file = ConnectionsFile();
  const std::string reason =
      (Client().ConnGetPrimary(&conn) & 0xFFFF) != 0
          ? "no connection in " + file + " says 'primary = true': mark one"
          : "the primary connection in " + file + " has no usable tree name (at most 32 characters, not only '_'): rename it";
  return reason + ", or choose a tree with --tree NAME (the trees: " + JoinLines(trees, ", ") + ")";
}

// Points the session at the tree the options name (schema files, a configured tree, or the
// primary connection's tree as the window does at start). Returns a usage error, if any.
std::string SelectTree(const Options& options, DirectorySession& directory, SchemaView& schema) {
  if (!options.schemaFiles.empty()) {
    const std::string error = client::ServeSchemaFiles(options.schemaFiles);
    if (!error.empty()) return error;
  }
  StringList trees;
  if (std::string error = StartWithTrees(directory, trees); !error.empty()) return error;
  std::string tree = options.tree ? *options.tree : directory.primaryTree();
  const std::int64_t index = trees.indexOfText(tree);
  if (index < 0) {
    if (options.tree) return "no tree named '" + tree + "'; the trees are: " + JoinLines(trees, ", ");
    return NoPrimaryTree(trees);
  }
  StringList auxAttributes;
  tree = trees[static_cast<std::size_t>(index)].text;
  const ResultCode code = directory.changeTree(tree);
  // The client lists a longer name cut to 32 characters, and then knows no tree of that name.
  if (code == client::kCodeUnknownTree) {
    return "the tree name '" + tree + "...' is longer than 32 characters: shorten it in " + ConnectionsFile();
  }
  if (code != 0) return "the schema of tree '" + tree + "' cannot be read";
  directory.readSchema(schema, auxAttributes);
  return {};
}

// Why a path the user gave names no file to check.
std::string PathProblem(const std::string& path, const std::error_code& ec) {
  if (path.empty()) return "'': an empty argument names no file";
  return "'" + path + "': no full path, the current folder cannot be found (" + ec.message() + ")";
}

}  // namespace

int ListTrees(std::ostream& out, std::ostream& err) {
  DirectorySession directory;
  StringList trees;
  if (const std::string error = StartWithTrees(directory, trees); !error.empty()) {
    err << "corvanexml-check: " << error << "\n";
    return kExitTrouble;
  }
  out << JoinLines(trees, "\n") << "\n";
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
  std::vector<std::string> unreadableFolders;
  const std::vector<std::string> files = ExpandInputs(options.inputs, unreadableFolders);
  for (const std::string& folder : unreadableFolders) err << "corvanexml-check: cannot read folder " << folder << "\n";
  const bool headers = files.size() > 1;
  std::vector<FileReport> reports;
  bool anyMessage = false;
  bool anyTrouble = !unreadableFolders.empty();

  for (const std::string& file : files) {
    std::error_code pathError;
    const std::string fullPath = FullPathToCheck(file, pathError);
    if (pathError) {
      err << "corvanexml-check: " << PathProblem(file, pathError) << "\n";
      anyTrouble = true;
      continue;
    }
    const CheckOutcome outcome = CheckFile(state, fullPath);
    const std::vector<Message> sorted = messages.sorted();
    anyMessage = anyMessage || !sorted.empty();
    anyTrouble = anyTrouble || (outcome.loadError && outcome.loadError->unreadable);
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
  if (anyTrouble) return kExitTrouble;
  return anyMessage ? kExitMessages : kExitClean;
}

}  // namespace corvane::cli
