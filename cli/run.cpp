#include "run.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <future>
#include <filesystem>
#include <ios>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ahead_of_turn.h"
#include "baseline.h"
#include "client_interface.h"
#include "connections.h"
#include "d_util.h"
#include "dir_client.h"
#include "directory_session.h"
#include "file_findings.h"
#include "fixes.h"
#include "output.h"
#include "plain_sinks.h"
#include "project_file.h"
#include "report.h"
#include "scan.h"
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

// Whether the run looks for fixes: to apply or show them, or to report them in JSON or SARIF.
bool LooksForFixes(const Options& options) {
  return options.fix || options.diff || options.format == OutputFormat::Json || options.format == OutputFormat::Sarif;
}

// An input's file as read and parsed ahead of its turn: where it is checked and what the
// load gave. Standard input is read in its turn and has nothing here.
struct ReadAhead {
  std::string fullPath;
  std::error_code pathError;  // the input names no file to check
  std::optional<LoadResult> loaded;
  std::string source;          // the bytes read, kept only where fixes are looked for
  std::exception_ptr failure;  // what stopped the read, thrown again in the file's turn
  bool inTurn = false;         // a large file, read as it is checked and walked beside its parse

  // About how many bytes it holds until its turn.
  std::size_t heldBytes() const {
    const XmlDocument* doc = loaded ? loaded->document.get() : nullptr;
    return source.capacity() + (doc != nullptr ? doc->heldBytes() : 0);
  }
};

// Files read ahead of their turn hold at most about this much (and at least a few files are
// read ahead, whatever they hold): small files are read far ahead, large ones a few at a time.
constexpr std::size_t kReadAheadBytes = std::size_t{64} << 20;

// From this size on a file is walked beside its parse, on a thread of its own: the walk
// then costs little more than the parse, which outweighs starting the thread.
constexpr std::uint64_t kWalkBesideParseFrom = std::uint64_t{1} << 20;

// FullPathToCheck of path, with the current folder the run found at its start (empty when it
// could not): the run never changes its folder, so no file needs to ask for it again.
std::string FullPathBelow(const std::string& currentFolder, const std::string& path, std::error_code& ec) {
  const bool relative = !path.empty() && path.front() != '/';
  return FullPathToCheck(relative && !currentFolder.empty() ? currentFolder + '/' + path : path, ec);
}

// Reads and parses the file an input names, unless it is large and threads may be used
// (parallel); needs nothing of the run but the options, so it runs on any thread.
ReadAhead ReadInput(const Options& options, const std::string& currentFolder, const InputFile& input, bool parallel) {
  ReadAhead ahead;
  if (input.path == kStdinInput) return ahead;
  try {
    ahead.fullPath = FullPathBelow(currentFolder, input.path, ahead.pathError);
    if (ahead.pathError) return ahead;
    const FoundFile* found = input.walked ? &*input.walked : nullptr;
    std::string* kept = LooksForFixes(options) ? &ahead.source : nullptr;
    ahead.loaded = LoadSmallXmlFile(ahead.fullPath, found, parallel ? kWalkBesideParseFrom : UINT64_MAX, kept);
    ahead.inTurn = !ahead.loaded;
  } catch (...) {
    ahead.failure = std::current_exception();
  }
  return ahead;
}

// Checks a file read ahead, or standard input for "-". Nothing when the input names no file
// to check or standard input cannot be read: trouble says why, which fails the run.
std::optional<CheckedInput> CheckInput(const Options& options, const InputFile& input, ReadAhead ahead,
                                       ScanState& state, std::istream& in, std::string& trouble) {
  const bool fromStdin = input.path == kStdinInput;
  CheckedInput checked{fromStdin ? options.stdinFileName.value_or(kUnnamedStdin) : input.path, {}, {}, {}};
  if (!fromStdin) {
    if (ahead.failure) std::rethrow_exception(ahead.failure);
    if (ahead.pathError) {
      trouble = PathProblem(checked.path, ahead.pathError);
      return std::nullopt;
    }
    checked.fullPath = std::move(ahead.fullPath);
    if (ahead.inTurn) {
      std::string* source = LooksForFixes(options) ? &checked.source : nullptr;
      checked.outcome = CheckFileFollowingLoad(state, checked.fullPath, input.walked, source);
      return checked;
    }
    checked.source = std::move(ahead.source);
    checked.outcome = CheckLoaded(state, checked.fullPath, std::move(*ahead.loaded));
    return checked;
  }
  if (options.stdinFileName) {
    std::error_code pathError;
    checked.fullPath = FullPathToCheck(checked.path, pathError);
    if (pathError) {
      trouble = PathProblem(checked.path, pathError);
      return std::nullopt;
    }
  }
  std::string reason;
  const std::optional<std::string> text = ReadAll(in, reason);
  if (!text) {
    trouble = "cannot read standard input: " + reason;
    return std::nullopt;
  }
  return CheckDocumentText(state, std::move(checked.path), std::move(checked.fullPath), *text, LooksForFixes(options));
}

// A class's attributes are read once per run, by whichever check meets the class first, and
// never by two checks at once: the checks running on several threads share one directory
// session.
void ReadClassAttributesOnce(SchemaView& schema) {
  if (!schema.GetClassAttributes) return;
  struct Answers {
    std::mutex mutex;
    std::unordered_map<std::string, std::pair<std::int32_t, StringList>> byClass;
  };
  schema.GetClassAttributes = [read = std::move(schema.GetClassAttributes), answers = std::make_shared<Answers>()](
                                  const std::string& className, StringList& attributes) {
    const std::lock_guard lock(answers->mutex);
    auto it = answers->byClass.find(className);
    if (it == answers->byClass.end()) {
      StringList found;
      const std::int32_t code = read(className, found);
      it = answers->byClass.emplace(className, std::pair{code, std::move(found)}).first;
    }
    attributes = it->second.second;
    return it->second.first;
  };
}

// What one thread checks files with: a state of its own, whose schema is a copy of the run's
// (its lists build their indexes as they are used), and the facts of files the run shares.
struct Checker {
  Checker(const SchemaView& schema, std::shared_ptr<FileFacts> files) {
    state.schema = schema;
    // The run ends before anyone edits the bundles and pages: each is read or probed once.
    state.files.keepAcrossChecks(std::move(files));
  }

  PlainTree tree;
  PlainMessages messages;
  ScanState state{tree, messages};
  std::ostringstream said;  // what a check says on standard error, taken out for its turn
};

// A file's check, all that the run takes from it in the file's turn.
struct CheckedTurn {
  std::optional<FileReport> report;  // nothing when the input names no file to check
  std::string trouble;               // why not, which fails the run
  std::string errText;               // what the check said on standard error
  std::string treeText;              // see Output::TreeText
  std::string source;                // the bytes checked, kept only where fixes are looked for

  // About how many bytes it holds until its turn.
  std::size_t heldBytes() const {
    std::size_t bytes = errText.capacity() + treeText.capacity() + source.capacity();
    if (report) {
      for (const ReportedMessage& m : report->messages) bytes += sizeof m + m.text.size();
    }
    return bytes;
  }
};

// Checks an input and works out its findings, with nothing that depends on another file's
// check: what the check says on standard error is kept for the file's turn.
CheckedTurn CheckTurn(const Options& options, const InputFile& input, const ProjectFile* project, ReadAhead ahead,
                      Checker& checker, std::istream& in, const Suggester* suggester) {
  CheckedTurn turn;
  if (!options.carryOver) ForgetCarriedState(checker.state);
  std::optional<CheckedInput> checked = CheckInput(options, input, std::move(ahead), checker.state, in, turn.trouble);
  if (!checked) return turn;
  turn.report = Findings(options, project != nullptr ? project->ignored : CodeSet(), *checked, checker.tree,
                         checker.messages, suggester, OutputOrder(options), checker.said);
  turn.errText = std::move(checker.said).str();  // which leaves it empty
  turn.treeText = Output::TreeText(options, checker.tree, checked->outcome.document.get());
  turn.source = std::move(checked->source);
  return turn;
}

// Takes a file's check in its turn: what it said on standard error, its trouble, baseline,
// fixes and output. What the output does not keep is left in turn.
void TakeTurn(const Options& options, CheckedTurn& turn, Baseline* baseline, Output& output, RunSummary& run,
              std::ostream& out, std::ostream& err) {
  if (!turn.trouble.empty()) run.fail(err, std::move(turn.trouble));
  // Standard error is unbuffered: nothing to say is no write.
  if (!turn.errText.empty()) err << turn.errText;
  if (!turn.report) return;
  FileReport& report = *turn.report;
  if (report.unreadable || report.stopped) run.successful = false;
  if (baseline != nullptr) baseline->excuse(report);
  if (options.fix || options.diff) FixFile(options, report, turn.source, out, err, run);
  output.add(std::move(report), turn.treeText);
}

// An input's file on its way through the run: read ahead, then checked ahead or in its turn.
struct FileTurn {
  ReadAhead ahead;
  std::optional<CheckedTurn> checked;
  std::exception_ptr failure;  // what stopped a check made ahead, thrown again in its turn
  unsigned checkedOn = 0;      // the thread that checked it (AheadOfTurn's numbering)

  std::size_t heldBytes() const { return ahead.heldBytes() + (checked ? checked->heldBytes() : 0); }
};

// Turns taken, each left to be freed by the thread that checked it. Memory freed on another
// thread goes back to its maker's allocator under that allocator's lock, which the maker,
// busy with the next files, holds most of the time: freeing a thousand findings there
// would keep both threads waiting on each other.
class SpentTurns {
 public:
  explicit SpentTurns(unsigned threads) : byThread_(threads) {}

  // Frees a turn checked on this thread (0) now, any other when its thread calls freeOwn.
  void giveBack(FileTurn turn) {
    if (turn.checkedOn == 0) return;
    const std::lock_guard lock(mutex_);
    byThread_[turn.checkedOn].push_back(std::move(turn));
  }
  // Frees the turns given back that this thread checked.
  void freeOwn(unsigned thread) {
    std::vector<FileTurn> own;
    const std::lock_guard lock(mutex_);
    own.swap(byThread_[thread]);
  }

 private:
  std::mutex mutex_;
  std::vector<std::vector<FileTurn>> byThread_;
};

// Runs work on a thread of its own where threads may be used (parallel), else, or where the
// system refuses a thread, when its result is asked for.
template <typename Work>
std::future<std::invoke_result_t<Work>> Beside(bool parallel, Work work) {
  if (parallel) {
    try {
      return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
    }
  }
  return std::async(std::launch::deferred, std::move(work));
}

// The normalised absolute path of a file, links resolved as far as they exist.
std::string Normalised(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return {};
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, ec);
  return (ec ? absolute.lexically_normal() : resolved).string();
}

// Where an input lives: its path, or for '-' the path --stdin-filename gives it ("" for none).
std::string WhereItLives(const Options& options, const std::string& input) {
  return input == kStdinInput ? options.stdinFileName.value_or("") : input;
}

// Why the file an option writes (what: "the baseline") must not be written at target: it is
// one of those checked (the document read from '-' lives there too), and would be
// overwritten. Empty when it may be written.
std::string WriteClash(const Options& options, std::string_view option, const std::string& target,
                       std::string_view what, const std::vector<InputFile>& files) {
  // The same file by identity when it exists, so that links and hard links count as well.
  const std::optional<FileIdentity> identity = IdentityOf(target);
  const std::string normalised = Normalised(target);
  const auto clashes = [&](const std::string& path, const std::optional<FoundFile>& walked) {
    if (identity) return (walked ? IdentityOf(*walked) : IdentityOf(path)) == identity;
    return !normalised.empty() && Normalised(path) == normalised;
  };
  for (const InputFile& file : files) {
    const std::string& path = WhereItLives(options, file.path);
    if (!path.empty() && clashes(path, file.walked)) {
      return std::string(option) + " " + target + " is " + (path == target ? "" : path + ", ") +
             "a file being checked: " + std::string(what) + " would overwrite it; write it elsewhere";
    }
  }
  return {};
}

// Whether an input is a folder: a walk that finds nothing there is a mistake in the command,
// while a file named and left out by a project file is not (a hook names every changed file).
bool NamesAFolder(const std::vector<std::string>& inputs) {
  return std::any_of(inputs.begin(), inputs.end(), [](const std::string& input) {
    std::error_code ec;
    return input != kStdinInput && std::filesystem::is_directory(input, ec);
  });
}

// Why the run cannot go on once its files are known: a project file of one of them is bad,
// or a file the run writes is one of them. Empty when it can. Sets each file's project file.
std::string FilesProblem(const Options& options, ProjectFiles& projects, const std::vector<InputFile>& files,
                         std::vector<const ProjectFile*>& projectOf) {
  projectOf.reserve(files.size());
  for (const InputFile& file : files) {
    projectOf.push_back(file.walked ? projects.forFile(file.path) : projects.forPath(WhereItLives(options, file.path)));
  }
  if (!projects.error().empty()) return projects.error();
  if (options.writeBaseline) {
    std::string clash = WriteClash(options, "--write-baseline", *options.writeBaseline, "the baseline", files);
    if (!clash.empty()) return clash;
  }
  return options.output ? WriteClash(options, "--output", *options.output, "the findings", files) : std::string();
}

}  // namespace

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
  tree = trees[static_cast<std::size_t>(index)].text;
  const ResultCode code = directory.changeTree(tree);
  // The client lists a longer name cut to 32 characters, and then knows no tree of that name.
  if (code == client::kCodeUnknownTree) {
    return "the tree name '" + tree + "...' is longer than 32 characters: shorten it in " + ConnectionsFile();
  }
  if (code != 0) return "the schema of tree '" + tree + "' cannot be read";
  directory.readSchema(schema);
  return {};
}

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

namespace {

// The run, once the project file has completed the options.
int CheckAll(const Options& options, ProjectFiles& projects, std::istream& in, std::ostream& out, std::ostream& err) {
  // GitHub reads commands from standard error too: what echoes the files' text there must
  // not act as one.
  std::optional<WorkflowCommandStop> stop;
  if (options.format == OutputFormat::Github) stop.emplace();
  // Where threads may be used, the folders are walked while the tree is read.
  const unsigned jobs = options.fix ? 1 : JobCount(options);
  const bool namesAFolder = NamesAFolder(options.inputs);
  std::future<ExpandedInputs> walk = Beside(jobs > 1 && namesAFolder, [&] {
    return ExpandInputs(options.inputs, options.excludes,
                        [&](const std::string& path) { return projects.excludes(path); });
  });
  SchemaView schema;
  DirectorySession directory;
  if (const std::string error = SelectTree(options, directory, schema); !error.empty()) {
    WriteLine(err, "corvanexml-check: " + error);
    return kExitTrouble;
  }
  ReadClassAttributesOnce(schema);
  std::optional<Suggester> suggester;
  if (LooksForFixes(options)) suggester.emplace(schema);
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
  const ExpandedInputs expanded = walk.get();
  const std::vector<InputFile>& inputs = expanded.files;
  std::vector<const ProjectFile*> projectOf;
  if (const std::string error = FilesProblem(options, projects, inputs, projectOf); !error.empty()) {
    WriteLine(err, "corvanexml-check: " + error);
    return kExitTrouble;
  }
  for (const std::string& link : expanded.notFollowed) WriteLine(err, "corvanexml-check: warning: " + link);
  for (const std::string& folder : expanded.unreadableFolders) run.fail(err, "cannot read folder " + folder);
  if (inputs.empty() && run.successful && namesAFolder) {
    WriteLine(err, "corvanexml-check: no file to check: the folders hold no *.xml file that is not excluded");
    return kExitTrouble;
  }
  Output output(options, out, inputs.size() > 1);

  // The files are read, parsed and checked ahead on other threads, each with a state of its
  // own, and the output takes them in order here. Where a check takes on what the one before
  // left (--carry-over), only the reads run ahead, and the rules run here in order. A fix may
  // rewrite a file read later (named twice, or through a link), so with --fix each is read in
  // its turn. Standard input is read in its turn.
  const bool checksAhead = !options.carryOver;
  std::error_code noFolder;
  const std::string currentFolder = std::filesystem::current_path(noFolder).string();
  const auto files = std::make_shared<FileFacts>();
  std::vector<std::unique_ptr<Checker>> checkers(jobs);
  std::vector<FileTurn> turns(inputs.size());
  const Suggester* suggests = suggester ? &*suggester : nullptr;
  const auto check = [&](std::size_t i, unsigned thread) {
    std::unique_ptr<Checker>& checker = checkers[thread];
    if (!checker) checker = std::make_unique<Checker>(schema, files);
    turns[i].checked = CheckTurn(options, inputs[i], projectOf[i], std::move(turns[i].ahead), *checker, in, suggests);
    turns[i].checkedOn = thread;
  };
  // One file needs no thread beside this one, but for its walk beside its parse.
  const unsigned workers = inputs.size() > 1 ? jobs - 1 : 0;
  SpentTurns spent(jobs);
  AheadOfTurn reader(inputs.size(), workers, std::size_t{2} * jobs, kReadAheadBytes,
                     [&](std::size_t i, unsigned thread) {
                       spent.freeOwn(thread);
                       FileTurn& turn = turns[i];
                       turn.ahead = ReadInput(options, currentFolder, inputs[i], jobs > 1);
                       if (checksAhead && inputs[i].path != kStdinInput) {
                         try {
                           check(i, thread);
                         } catch (...) {
                           turn.failure = std::current_exception();
                         }
                       }
                       return turn.heldBytes();
                     });
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    reader.wait(i);
    FileTurn& turn = turns[i];
    if (turn.failure) std::rethrow_exception(turn.failure);
    if (!turn.checked) check(i, 0);
    TakeTurn(options, *turn.checked, baseline ? &*baseline : nullptr, output, run, out, err);
    spent.giveBack(std::exchange(turn, FileTurn{}));
  }
  output.finish(run, err);
  if (!run.successful) return kExitTrouble;
  const bool failing = output.tally().findings > 0 && !options.exitZero && !options.writeBaseline;
  return failing ? kExitMessages : kExitClean;
}

}  // namespace

int RunChecks(const Options& given, std::istream& in, std::ostream& out, std::ostream& err) {
  ProjectFiles projects;
  // The run-wide settings come from the project file of the first input.
  const ProjectFile* project = given.inputs.empty() ? nullptr : projects.forPath(WhereItLives(given, given.inputs[0]));
  std::string error = projects.error();
  std::optional<Options> options;
  if (error.empty()) options = WithProjectFile(given, project, error);
  if (!options) {
    WriteLine(err, "corvanexml-check: " + error);
    return kExitTrouble;
  }
  return CheckAll(*options, projects, in, out, err);
}

}  // namespace corvane::cli
