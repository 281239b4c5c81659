#include "check_worker.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <utility>

#include "diagnostics.h"
#include "dir_client.h"
#include "directory_session.h"
#include "editor_queries.h"
#include "file_findings.h"
#include "json_text.h"
#include "log.h"
#include "plain_sinks.h"
#include "project_file.h"
#include "run.h"
#include "scan.h"
#include "suggestions.h"

namespace corvane::lsp {

namespace {

using nlohmann::json;

// Whether a reported finding is the listed message m.
bool SameFinding(const cli::ReportedMessage& reported, const Message& m, const PlainTree& tree) {
  if (reported.code != m.code || reported.text != m.text) return false;
  const TreeItem at = PointedItem(m);
  const NodeId node = at < tree.items().size() ? tree.items()[at].node : kNoNode;
  return reported.node == node;
}

// The quick fix of each reported finding, found by the suggester the command line uses. The
// report holds the listed messages, less those ignored or silenced, in the list's order, and
// after them what it adds itself (unused directives): one walk along the list pairs them.
std::vector<std::optional<QuickFix>> QuickFixes(const Suggester& suggester, const std::vector<Message>& listed,
                                                const cli::FileReport& report, const PlainTree& tree,
                                                const XmlDocument& doc, std::string_view text,
                                                std::string_view webAppRoot) {
  std::vector<std::size_t> corrected;  // the reported findings with a suggestion
  std::vector<Suggestion> suggestions;
  std::size_t next = 0;
  for (std::size_t i = 0; i < report.messages.size(); ++i) {
    while (next < listed.size() && !SameFinding(report.messages[i], listed[next], tree)) ++next;
    if (next == listed.size()) break;
    if (std::optional<Suggestion> suggestion = suggester.of(listed[next], tree, doc, webAppRoot)) {
      corrected.push_back(i);
      suggestions.push_back(std::move(*suggestion));
    }
    ++next;
  }
  std::vector<std::optional<QuickFix>> found = QuickFixesOf(suggestions, doc, text);
  std::vector<std::optional<QuickFix>> fixes(report.messages.size());
  for (std::size_t k = 0; k < corrected.size(); ++k) fixes[corrected[k]] = std::move(found[k]);
  return fixes;
}

// A problem that stops the check, shown at the document's start.
DiagnosticList ProblemAtStart(const std::string& problem) {
  const json start = {{"line", 0}, {"character", 0}};
  return {WriteJson(json::array({{{"range", {{"start", start}, {"end", start}}},
                                  {"severity", kMessageError},
                                  {"source", "corvanexml"},
                                  {"message", problem}}})),
          json::array()};
}

// The checker of one tree, used by the worker thread alone: the tree's schema, the message
// list and the scan state the rules share. The schema is a copy that needs no directory: the
// client serves one set of connections at a time, and each tree's checker outlives the
// reading of the next.
class DocumentChecker {
 public:
  DocumentChecker(const cli::Options& options, std::shared_ptr<const EditorSchema> schema)
      : options_(options), schema_(std::move(schema)), state_(tree_, messages_) {
    state_.schema = schema_->view();
    suggester_.emplace(state_.schema);
  }

  // The schema checked against, for the protocol thread.
  const std::shared_ptr<const EditorSchema>& editorSchema() const { return schema_; }

  // The diagnostics of a document, found as the command line finds a file's (each check
  // from a fresh state), fullPath and project being those of the document's path.
  DiagnosticList diagnostics(const DocumentSnapshot& document, const std::string& fullPath,
                             const cli::ProjectFile* project, PositionEncoding encoding) {
    ForgetCarriedState(state_);
    const cli::CheckedInput checked =
        cli::CheckDocumentText(state_, document.path.value_or(document.uri), fullPath, *document.text, false);
    // Findings empties the list; the messages are kept to find their corrections.
    const std::vector<Message> listed = messages_.sorted();
    std::ostringstream err;
    const cli::FileReport report = cli::Findings(options_, project != nullptr ? project->ignored : cli::CodeSet(),
                                                 checked, tree_, messages_, nullptr, cli::ReportOrder::List, err);
    if (!err.str().empty()) Log(err.str());
    const XmlDocument* doc = checked.outcome.document.get();
    std::vector<std::optional<QuickFix>> fixes;
    if (doc != nullptr && suggester_) {
      fixes = QuickFixes(*suggester_, listed, report, tree_, *doc, *document.text, state_.WebAppRoot);
    }
    return Diagnostics(report, doc, *document.text, encoding, fixes);
  }

 private:
  const cli::Options& options_;
  std::shared_ptr<const EditorSchema> schema_;
  PlainTree tree_;
  PlainMessages messages_;
  ScanState state_;
  std::optional<Suggester> suggester_;  // over the schema lists of the tree
};

// The options with the tree a choice names.
cli::Options WithTree(cli::Options options, const TreeChoice& choice) {
  options.tree = choice.tree;
  options.schemaFiles = choice.schemaFiles;
  return options;
}

bool NamesATree(const cli::Options& options) { return options.tree || !options.schemaFiles.empty(); }
bool NamesATree(const TreeChoice& choice) { return choice.tree || !choice.schemaFiles.empty(); }

// Tells trees apart: by name, or by their schema files; empty for the primary connection's.
std::string TreeKey(const cli::Options& options) {
  if (options.tree) return "tree " + *options.tree;
  std::string key;
  for (const std::string& file : options.schemaFiles) key += "schema " + file + "\n";
  return key;
}

}  // namespace

// The trees documents are checked against, each read when first needed and then kept with
// its checker, so that documents of projects with different trees are each checked against
// their own. A tree that cannot be read is remembered as such until files change.
class CheckWorker::Trees {
 public:
  explicit Trees(const cli::Options& commandLine) : commandLine_(commandLine) {}

  // The checker of the tree options name, read now if it was not before; null, with why,
  // when it cannot be read.
  DocumentChecker* get(const cli::Options& options, std::string& error) {
    const auto known = trees_.find(TreeKey(options));
    if (known == trees_.end()) return read(options, error);
    error = known->second.error;
    return known->second.checker.get();
  }
  // The same, read again in any case; when that fails, a checker read before stays.
  DocumentChecker* read(const cli::Options& options, std::string& error) {
    Tree& tree = trees_[TreeKey(options)];
    std::shared_ptr<const EditorSchema> schema;
    try {
      error = readSchema(options, schema);
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (!error.empty()) {
      Log("the tree " + Describe(options) + " cannot be read: " + error);
      if (tree.checker == nullptr) tree.error = error;
      return nullptr;
    }
    tree.checker = std::make_unique<DocumentChecker>(commandLine_, std::move(schema));
    tree.error.clear();
    return tree.checker.get();
  }
  // Forgets the trees that could not be read: the next document that needs one tries again.
  void forgetFailures() {
    std::erase_if(trees_, [](const auto& tree) { return tree.second.checker == nullptr; });
  }

 private:
  struct Tree {
    std::unique_ptr<DocumentChecker> checker;  // null when the tree cannot be read
    std::string error;                         // why
  };

  static std::string Describe(const cli::Options& options) {
    if (options.tree) return "'" + *options.tree + "'";
    if (options.schemaFiles.empty()) return "of the primary connection";
    std::string files;
    for (const std::string& file : options.schemaFiles) files += (files.empty() ? "" : ", ") + file;
    return "of " + files;
  }

  // Reads the tree through a directory session of its own, which ends once every class is copied.
  std::string readSchema(const cli::Options& options, std::shared_ptr<const EditorSchema>& schema) {
    // Schema files take the place of the connections file's connections: a tree to be found
    // there needs them back.
    if (options.schemaFiles.empty() && servedSchemaFiles_) {
      client::ResetClient();
      servedSchemaFiles_ = false;
      // The session starts the client only once in the process: it is started again here.
      if (const ResultCode code = client::ClientInit(0, 0); code != 0) {
        return std::string("the directory client did not start: ") + client::ClientErrorText(code);
      }
    }
    if (!options.schemaFiles.empty()) servedSchemaFiles_ = true;
    DirectorySession directory;
    SchemaView view;
    if (std::string error = cli::SelectTree(options, directory, view); !error.empty()) return error;
    schema = std::make_shared<const EditorSchema>(view);
    return {};
  }

  const cli::Options& commandLine_;
  std::map<std::string, Tree> trees_;  // by TreeKey
  bool servedSchemaFiles_ = false;     // the client serves schema files, not the connections file
};

// A document's check: its diagnostics (nothing when there is no tree to check against, which
// was told when it was read), and the schema of its tree (null for the chosen tree's).
struct CheckWorker::Checked {
  std::optional<DiagnosticList> diagnostics;
  std::shared_ptr<const EditorSchema> schema;
};

CheckWorker::CheckWorker(cli::Options options, OpenDocuments& documents, Publish publish, Notify notify)
    : options_(std::move(options)), documents_(documents), publish_(std::move(publish)), notify_(std::move(notify)) {}

CheckWorker::~CheckWorker() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  treeKnown_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CheckWorker::start(PositionEncoding encoding, std::optional<TreeChoice> tree) {
  if (thread_.joinable()) return;
  encoding_ = encoding;
  thread_ = std::thread([this, initial = std::move(tree)] { run(initial); });
}

void CheckWorker::markDirty(const std::string& uri) {
  if (dirtySet_.insert(uri).second) dirty_.push_back(uri);
}

void CheckWorker::check(const std::string& uri) {
  {
    const std::lock_guard lock(mutex_);
    open_[uri] = ++serial_;
    markDirty(uri);
  }
  wake_.notify_all();
}

void CheckWorker::close(const std::string& uri) {
  const std::lock_guard lock(mutex_);
  open_.erase(uri);
  published_.erase(uri);
  schemaOf_.erase(uri);
  if (dirtySet_.erase(uri) > 0) std::erase(dirty_, uri);
  // Under the lock: no check of the document published later can bring its findings back.
  publish_(uri, std::nullopt, "[]");
}

void CheckWorker::recheckAll() {
  {
    const std::lock_guard lock(mutex_);
    retryTrees_ = true;
    for (const auto& [uri, open] : open_) markDirty(uri);
  }
  wake_.notify_all();
}

void CheckWorker::chooseTree(TreeChoice choice) {
  {
    const std::lock_guard lock(mutex_);
    choice_ = std::move(choice);
  }
  wake_.notify_all();
}

std::optional<PublishedDiagnostics> CheckWorker::published(const std::string& uri) {
  const std::lock_guard lock(mutex_);
  const auto it = published_.find(uri);
  if (it == published_.end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<const EditorSchema> CheckWorker::schema(const std::string& uri) {
  // An editor asks for a completion as soon as the file is open, often before its tree is
  // read: the answer waits for it rather than offering nothing, but never for long.
  constexpr std::chrono::seconds kTreeWait{10};
  std::unique_lock lock(mutex_);
  treeKnown_.wait_for(lock, kTreeWait, [&] {
    return stop_ || (firstTreeTried_ && (schemaOf_.count(uri) > 0 || open_.count(uri) == 0));
  });
  const auto known = schemaOf_.find(uri);
  return known != schemaOf_.end() && known->second != nullptr ? known->second : schema_;
}

cli::Options CheckWorker::chosenOptions() const { return editorTree_ ? WithTree(options_, *editorTree_) : options_; }

std::shared_ptr<const EditorSchema> CheckWorker::useChoice(Trees& trees, const TreeChoice& choice, std::string& error) {
  if (choice.tree && !choice.schemaFiles.empty()) {
    error = "a tree and schema files cannot be used together";
    return nullptr;
  }
  // A choice that names no tree leaves it to the command line and the project files.
  const bool names = NamesATree(choice);
  const DocumentChecker* checker = trees.read(names ? WithTree(options_, choice) : options_, error);
  if (checker == nullptr) return nullptr;
  editorTree_ = names ? std::optional<TreeChoice>(choice) : std::nullopt;
  return checker->editorSchema();
}

CheckWorker::Checked CheckWorker::checkDocument(Trees& trees, const DocumentSnapshot& document) {
  // The project file is read again for each check: it may have been edited.
  std::string fullPath;
  cli::ProjectFiles projects;
  const cli::ProjectFile* project = nullptr;
  if (document.path) {
    std::error_code ec;
    fullPath = FullPathToCheck(*document.path, ec);
    project = projects.forPath(*document.path);
    if (!projects.error().empty()) return {ProblemAtStart(projects.error()), nullptr};
    if (projects.excludes(*document.path)) return {DiagnosticList{}, nullptr};
  }
  // The tree is decided as the command line decides it, the editor's choice counting as part
  // of the command line.
  const cli::Options chosen = chosenOptions();
  std::string error;
  const std::optional<cli::Options> options = cli::WithProjectFile(chosen, project, error);
  if (!options) return {ProblemAtStart(error), nullptr};
  DocumentChecker* checker = trees.get(*options, error);
  if (checker == nullptr) {
    // The editor's tree, the command line's and the primary connection's were told of when
    // they were read; one a project file names is told on each of its documents.
    if (NamesATree(chosen) || !NamesATree(*options) || project == nullptr) return {std::nullopt, nullptr};
    return {ProblemAtStart("the tree " + project->path + " names cannot be read: " + error), nullptr};
  }
  return {checker->diagnostics(document, fullPath, project, encoding_), checker->editorSchema()};
}

void CheckWorker::run(std::optional<TreeChoice> initial) {
  Trees trees(options_);
  std::string error;
  if (initial && NamesATree(*initial) && useChoice(trees, *initial, error) == nullptr) {
    notify_(kMessageError, "corvanexml: the tree the editor chose cannot be used: " + error);
  }
  DocumentChecker* chosen = trees.get(chosenOptions(), error);
  if (chosen == nullptr) notify_(kMessageError, "corvanexml: no tree to check against: " + error);
  std::unique_lock lock(mutex_);
  if (chosen != nullptr) schema_ = chosen->editorSchema();
  firstTreeTried_ = true;
  treeKnown_.notify_all();
  while (true) {
    wake_.wait(lock, [&] { return stop_ || choice_ || !dirty_.empty(); });
    if (stop_) return;
    if (retryTrees_) {
      retryTrees_ = false;
      trees.forgetFailures();
    }
    if (choice_) {
      const TreeChoice choice = std::move(*choice_);
      choice_.reset();
      const bool hadTree = schema_ != nullptr;
      lock.unlock();
      std::shared_ptr<const EditorSchema> schema = useChoice(trees, choice, error);
      if (schema == nullptr) {
        notify_(kMessageError, "corvanexml: the tree was not changed: " + error +
                                   (hadTree ? " (the documents are still checked against the previous tree)" : ""));
      }
      lock.lock();
      if (schema != nullptr) {
        schema_ = std::move(schema);
        // Until each document is checked again its tree is not known.
        schemaOf_.clear();
        for (const auto& [uri, open] : open_) markDirty(uri);
      }
      continue;
    }
    const std::string uri = std::move(dirty_.front());
    dirty_.pop_front();
    dirtySet_.erase(uri);
    const auto it = open_.find(uri);
    if (it == open_.end()) continue;
    const std::uint64_t serial = it->second;
    lock.unlock();
    // Taken after the serial: an edit made since then numbers its check after it.
    const std::optional<DocumentSnapshot> document = documents_.snapshot(uri);
    Checked checked;
    try {
      if (document) checked = checkDocument(trees, *document);
    } catch (const std::exception& e) {
      Log("checking " + uri + " failed: " + e.what());
    }
    lock.lock();
    const auto now = open_.find(uri);
    if (now != open_.end()) {
      schemaOf_[uri] = std::move(checked.schema);
      treeKnown_.notify_all();
    }
    // A newer edit, a close or files changed meanwhile: this result is stale.
    if (checked.diagnostics && now != open_.end() && now->second == serial && dirtySet_.count(uri) == 0) {
      publish_(uri, document->version, checked.diagnostics->text);
      published_[uri] = {document->version, std::make_shared<const json>(std::move(checked.diagnostics->corrected))};
    }
  }
}

}  // namespace corvane::lsp
