#include "check_worker.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <utility>

#include "diagnostics.h"
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

constexpr int kMessageError = 1;

// Whether a reported finding is the listed message m.
bool SameFinding(const cli::ReportedMessage& reported, const Message& m, const PlainTree& tree) {
  if (reported.code != m.code || reported.text != m.text) return false;
  const TreeItem at = m.source != kNoItem ? m.source : m.item;
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

// The checker's own state, used by the worker thread alone: the tree, the message list and
// the scan state the rules share, and the directory session the schema is read through.
class DocumentChecker {
 public:
  explicit DocumentChecker(const cli::Options& options) : options_(options), state_(tree_, messages_) {}

  // Points the checks at the tree options name; why it cannot be, if so, and then the
  // previous tree stays.
  std::string selectTree(const cli::Options& options) {
    auto directory = std::make_unique<DirectorySession>();
    SchemaView schema;
    std::string error = cli::SelectTree(options, *directory, schema);
    if (!error.empty()) return error;
    // The old schema's class cache reads through the old session: both go together.
    state_.schema = std::move(schema);
    directory_ = std::move(directory);
    suggester_.emplace(state_.schema);
    editorSchema_ = std::make_shared<const EditorSchema>(state_.schema);
    return {};
  }
  bool hasTree() const { return directory_ != nullptr; }
  // The schema of the tree chosen last, for the protocol thread.
  std::shared_ptr<const EditorSchema> editorSchema() const { return editorSchema_; }

  // The diagnostics of a document, found as the command line finds a file's (each check
  // from a fresh state, with the project file around the document).
  DiagnosticList diagnostics(const DocumentSnapshot& document, PositionEncoding encoding) {
    std::string fullPath;
    cli::ProjectFiles projects;  // read again for each check: it may have been edited
    const cli::ProjectFile* project = nullptr;
    if (document.path) {
      std::error_code ec;
      fullPath = FullPathToCheck(*document.path, ec);
      project = projects.forPath(*document.path);
      if (!projects.error().empty()) return ProblemAtStart(projects.error());
      if (projects.excludes(*document.path)) return {};
    }
    ForgetCarriedState(state_);
    const cli::CheckedInput checked =
        cli::CheckDocumentText(state_, document.path.value_or(document.uri), fullPath, *document.text, false);
    // Findings empties the list; the messages are kept to find their corrections.
    const std::vector<Message> listed = messages_.sorted();
    std::ostringstream err;
    const cli::FileReport report = cli::Findings(options_, project != nullptr ? project->ignored : cli::CodeSet(),
                                                 checked, tree_, messages_, nullptr, err);
    if (!err.str().empty()) Log(err.str());
    const XmlDocument* doc = checked.outcome.document.get();
    std::vector<std::optional<QuickFix>> fixes;
    if (doc != nullptr && suggester_) {
      fixes = QuickFixes(*suggester_, listed, report, tree_, *doc, *document.text, state_.WebAppRoot);
    }
    return Diagnostics(report, doc, *document.text, encoding, fixes);
  }

 private:
  // A problem that stops the check, shown at the document's start.
  static DiagnosticList ProblemAtStart(const std::string& problem) {
    const json start = {{"line", 0}, {"character", 0}};
    return {WriteJson(json::array({{{"range", {{"start", start}, {"end", start}}},
                                    {"severity", kMessageError},
                                    {"source", "corvanexml"},
                                    {"message", problem}}})),
            json::array()};
  }

  const cli::Options& options_;
  PlainTree tree_;
  PlainMessages messages_;
  ScanState state_;
  std::unique_ptr<DirectorySession> directory_;
  std::optional<Suggester> suggester_;  // over the schema lists of the tree chosen
  std::shared_ptr<const EditorSchema> editorSchema_;
};

// The options with the tree a choice names.
cli::Options WithTree(cli::Options options, const TreeChoice& choice) {
  options.tree = choice.tree;
  options.schemaFiles = choice.schemaFiles;
  return options;
}

}  // namespace

CheckWorker::CheckWorker(cli::Options options, const OpenDocuments& documents, Publish publish, Notify notify)
    : options_(std::move(options)), documents_(documents), publish_(std::move(publish)), notify_(std::move(notify)) {}

CheckWorker::~CheckWorker() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  firstTreeRead_.notify_all();
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
  if (dirtySet_.erase(uri) > 0) std::erase(dirty_, uri);
  // Under the lock: no check of the document published later can bring its findings back.
  publish_(uri, std::nullopt, "[]");
}

void CheckWorker::recheckAll() {
  {
    const std::lock_guard lock(mutex_);
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

std::shared_ptr<const EditorSchema> CheckWorker::schema() {
  // An editor asks for a completion as soon as the file is open, often before the first tree
  // is read: the answer waits for it rather than offering nothing, but never for long.
  constexpr std::chrono::seconds kFirstTreeWait{10};
  std::unique_lock lock(mutex_);
  firstTreeRead_.wait_for(lock, kFirstTreeWait, [&] { return firstTreeTried_ || stop_; });
  return schema_;
}

void CheckWorker::run(std::optional<TreeChoice> initial) {
  DocumentChecker checker(options_);
  if (initial) {
    if (const std::string error = checker.selectTree(WithTree(options_, *initial)); !error.empty()) {
      Log("the tree the editor chose cannot be used: " + error);
      notify_(kMessageError, "corvanexml: the tree the editor chose cannot be used: " + error);
    }
  }
  if (!checker.hasTree()) {
    if (const std::string error = checker.selectTree(options_); !error.empty()) {
      Log(error);
      notify_(kMessageError, "corvanexml: no tree to check against: " + error);
    }
  }
  std::unique_lock lock(mutex_);
  schema_ = checker.editorSchema();
  firstTreeTried_ = true;
  firstTreeRead_.notify_all();
  while (true) {
    wake_.wait(lock, [&] { return stop_ || choice_ || !dirty_.empty(); });
    if (stop_) return;
    if (choice_) {
      const TreeChoice choice = std::move(*choice_);
      choice_.reset();
      lock.unlock();
      std::string error;
      if (!choice.tree || choice.schemaFiles.empty()) {
        error = checker.selectTree(WithTree(options_, choice));
      } else {
        error = "a tree and schema files cannot be used together";
      }
      if (!error.empty()) {
        Log("the tree was not changed: " + error);
        notify_(kMessageError,
                "corvanexml: the tree was not changed: " + error +
                    (checker.hasTree() ? " (the documents are still checked against the previous tree)" : ""));
      }
      lock.lock();
      if (error.empty()) {
        schema_ = checker.editorSchema();
        for (const auto& [uri, open] : open_) markDirty(uri);
      }
      continue;
    }
    const std::string uri = std::move(dirty_.front());
    dirty_.pop_front();
    dirtySet_.erase(uri);
    const auto it = open_.find(uri);
    if (it == open_.end() || !checker.hasTree()) continue;
    const std::uint64_t serial = it->second;
    lock.unlock();
    // Taken after the serial: an edit made since then numbers its check after it.
    const std::optional<DocumentSnapshot> document = documents_.snapshot(uri);
    std::optional<DiagnosticList> diagnostics;
    try {
      if (document) diagnostics = checker.diagnostics(*document, encoding_);
    } catch (const std::exception& e) {
      Log("checking " + uri + " failed: " + e.what());
    }
    lock.lock();
    // A newer edit, a close or files changed meanwhile: this result is stale.
    const auto now = open_.find(uri);
    if (diagnostics && now != open_.end() && now->second == serial && dirtySet_.count(uri) == 0) {
      publish_(uri, document->version, diagnostics->text);
      published_[uri] = {document->version, std::make_shared<const json>(std::move(diagnostics->corrected))};
    }
  }
}

}  // namespace corvane::lsp
