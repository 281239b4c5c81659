#include "run.h"

#include <cerrno>
#include <filesystem>
#include <ios>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "baseline.h"
#include "client_interface.h"
#include "connections.h"
#include "d_util.h"
#include "dir_client.h"
#include "directory_session.h"
#include "output.h"
#include "plain_sinks.h"
#include "report.h"
#include "scan.h"
#include "suppression.h"
#include "visible_text.h"
#include "warnings.h"

namespace corvane::cli {

namespace {

std::string JoinLines(const StringList& list, std::string_view separator) {
  std::string out;
  // Tree names come from connections files and servers.
  for (const StringList::Entry& e : list.entries()) AppendVisible(out.append(out.empty() ? "" : separator), e.text);
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
  const std::string reason = (Client().ConnGetPrimary(&conn) & 0xFFFF) != 0
                                 ? "no connection in " + file + " says 'primary = true': mark one"
                                 : "the primary connection in " + file +
                                       " has no usable tree name (at most 32 characters, not only '_'): rename it";
  return reason + ", or choose a tree with --tree NAME (the trees: " + JoinLines(trees, ", ") + ")";
}

// Points the session at the tree the options name (schema files, a configured tree, or the
// primary connection's tree as the window does at start). Returns a usage error, if any.
std::string SelectTree(const Options& options, DirectorySession& directory, SchemaView& schema) {
  if (!options.schemaFiles.empty()) {
    if (std::string error = client::ServeSchemaFiles(options.schemaFiles); !error.empty()) return error;
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

// The name findings give a document read from standard input without --stdin-filename.
constexpr char kUnnamedStdin[] = "<stdin>";

// The whole of in; nothing, with the reason, when reading fails (standard input may be a
// folder, or a device that fails), which the stream tells by an exception or by its state.
std::optional<std::string> ReadAll(std::istream& in, std::string& reason) {
  errno = 0;
  try {
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.bad()) return text;
  } catch (const std::ios_base::failure&) {
  }
  reason = errno != 0 ? ErrnoText(errno) : "read error";
  return std::nullopt;
}

// A checked input: the path findings name, the full path it was checked under (empty for
// standard input without a name), and what the check left.
struct CheckedInput {
  std::string path;
  std::string fullPath;
  CheckOutcome outcome;
};

// Checks a file, or standard input for "-". Nothing when the input names no file to check
// or standard input cannot be read (said on err, and the run fails).
std::optional<CheckedInput> CheckInput(const Options& options, const InputFile& input, ScanState& state,
                                       std::istream& in, RunSummary& run, std::ostream& err) {
  const bool fromStdin = input.path == kStdinInput;
  CheckedInput checked{fromStdin ? options.stdinFileName.value_or(kUnnamedStdin) : input.path, {}, {}};
  if (!fromStdin || options.stdinFileName) {
    std::error_code pathError;
    checked.fullPath = FullPathToCheck(checked.path, pathError);
    if (pathError) {
      run.fail(err, PathProblem(checked.path, pathError));
      return std::nullopt;
    }
  }
  if (!fromStdin) {
    checked.outcome =
        input.walked ? CheckFile(state, checked.fullPath, *input.walked) : CheckFile(state, checked.fullPath);
    return checked;
  }
  std::string reason;
  const std::optional<std::string> text = ReadAll(in, reason);
  if (!text) {
    run.fail(err, "cannot read standard input: " + reason);
    return std::nullopt;
  }
  checked.outcome = CheckText(state, checked.fullPath.empty() ? checked.path : checked.fullPath, *text);
  return checked;
}

// The findings of a checked document that the options let through, before the baseline:
// ignored codes and what directives silence are dropped; unused directives are added when
// asked for. A directive the checker cannot read is said on err.
FileReport Findings(const Options& options, const CheckedInput& checked, const PlainTree& tree,
                    std::vector<Message> sorted, std::ostream& err) {
  const XmlDocument* doc = checked.outcome.document.get();
  const std::optional<LoadError>& loadError = checked.outcome.loadError;
  Suppressions directives;
  if (doc != nullptr) {
    directives = Suppressions(tree, *doc);
    for (const Suppressions::Problem& problem : directives.problems()) {
      const XmlDocument::Node& at = doc->node(problem.comment);
      WriteLine(err, "corvanexml-check: " + checked.path + ':' + std::to_string(at.line) + ':' +
                         std::to_string(at.column) + ": " + problem.what);
    }
  }
  // That a file could not be read, or not checked to its end, is no finding to ignore.
  const bool stopped = checked.outcome.walkError.has_value();
  CodeSet ignored = options.ignored;
  if (stopped || (loadError && loadError->unreadable)) ignored.reset(kXmlError);
  RemoveSilenced(sorted, ignored, directives);
  // Only JSON shows the labels, which take a walk up the tree for every finding.
  FileReport report = MakeFileReport(checked.path, checked.fullPath, tree, doc, std::move(sorted), loadError,
                                     options.format == OutputFormat::Json);
  report.stopped = stopped;
  if (options.reportUnusedDirectives && doc != nullptr) {
    for (ReportedMessage& unused : UnusedDirectives(directives, *doc)) report.messages.push_back(std::move(unused));
  }
  return report;
}

// The normalised absolute path of a file, links resolved as far as they exist.
std::string Normalised(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return {};
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : resolved).string();
}

// Why the baseline must not be written where the options say: that file is one of those
// checked (the document read from '-' lives there too), and would be overwritten. Empty when
// it may be written.
std::string BaselineClash(const Options& options, const std::vector<InputFile>& files) {
  if (!options.writeBaseline) return {};
  const std::string& baseline = *options.writeBaseline;
  // The same file by identity when it exists, so that links and hard links count as well.
  const std::optional<FileIdentity> identity = IdentityOf(baseline);
  const std::string normalised = Normalised(baseline);
  const auto clashes = [&](const std::string& path, const std::optional<FileIdentity>& walked) {
    if (identity) return (walked ? walked : IdentityOf(path)) == identity;
    return !normalised.empty() && Normalised(path) == normalised;
  };
  for (const InputFile& file : files) {
    const std::string& path = file.path == kStdinInput ? options.stdinFileName.value_or("") : file.path;
    if (!path.empty() && clashes(path, file.walked)) {
      return "--write-baseline " + baseline + " is " + (path == baseline ? "" : path + ", ") +
             "a file being checked: the baseline would overwrite it; write it elsewhere";
    }
  }
  return {};
}

}  // namespace

int ListTrees(std::ostream& out, std::ostream& err) {
  DirectorySession directory;
  StringList trees;
  if (const std::string error = StartWithTrees(directory, trees); !error.empty()) {
    WriteLine(err, "corvanexml-check: " + error);
    return kExitTrouble;
  }
  out << JoinLines(trees, "\n") << "\n";
  return kExitClean;
}

int RunChecks(const Options& options, std::istream& in, std::ostream& out, std::ostream& err) {
  // GitHub reads commands from standard error too: what echoes the files' text there must
  // not act as one.
  std::optional<WorkflowCommandStop> stop;
  if (options.format == OutputFormat::Github) stop.emplace();
  PlainTree tree;
  PlainMessages messages;
  ScanState state(tree, messages);
  DirectorySession directory;
  if (const std::string error = SelectTree(options, directory, state.schema); !error.empty()) {
    WriteLine(err, "corvanexml-check: " + error);
    return kExitTrouble;
  }
  std::optional<Baseline> baseline;
  if (options.baseline) {
    std::string error;
    baseline = Baseline::Read(*options.baseline, error);
    if (!baseline) {
      WriteLine(err, "corvanexml-check: " + error);
      return kExitTrouble;
    }
  }
  RunSummary run;
  const ExpandedInputs expanded = ExpandInputs(options.inputs, options.excludes);
  const std::vector<InputFile>& inputs = expanded.files;
  if (const std::string error = BaselineClash(options, inputs); !error.empty()) {
    WriteLine(err, "corvanexml-check: " + error);
    return kExitTrouble;
  }
  for (const std::string& link : expanded.notFollowed) WriteLine(err, "corvanexml-check: warning: " + link);
  for (const std::string& folder : expanded.unreadableFolders) run.fail(err, "cannot read folder " + folder);
  Output output(options, out, inputs.size() > 1);

  for (const InputFile& input : inputs) {
    const std::optional<CheckedInput> checked = CheckInput(options, input, state, in, run, err);
    if (!checked) continue;
    FileReport report = Findings(options, *checked, tree, messages.sorted(), err);
    if (report.unreadable || report.stopped) run.successful = false;
    if (baseline) baseline->excuse(report);
    output.add(std::move(report), tree, checked->outcome.document.get());
  }
  output.finish(run, err);
  if (!run.successful) return kExitTrouble;
  const bool failing = output.tally().findings > 0 && !options.exitZero && !options.writeBaseline;
  return failing ? kExitMessages : kExitClean;
}

}  // namespace corvane::cli
