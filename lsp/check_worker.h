// The checks of open documents, made on a thread of their own so that the protocol never
// waits for one; each result is published only while it is the newest for its document.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "editor_schema.h"
#include "open_documents.h"
#include "options.h"
#include "text_document.h"

namespace corvane::lsp {

// Where the names are looked up, as --tree and --schema say it; neither means the primary
// connection's tree.
struct TreeChoice {
  std::optional<std::string> tree;
  std::vector<std::string> schemaFiles;
};

// The diagnostics with a correction last published for a document (the others are not kept),
// and the version of it they were found in. A diagnostic carries its correction as "data":
// {"fix": {"title", "preferred", "newText", and "range" in the document or "path" of the
// file newText is appended to}}.
struct PublishedDiagnostics {
  std::int64_t version = 0;
  std::shared_ptr<const nlohmann::json> diagnostics;  // shared, so that handing it out copies nothing
};

// What the dispatcher asks of the checks. Every call returns at once.
class Checks {
 public:
  virtual ~Checks() = default;
  // Begins checking, with positions counted as the session agreed. A document is checked
  // against the tree the editor chose, else the one the server's command line names, else
  // the one its project file names, else the primary connection's. An editor's choice that
  // names no tree leaves the choice to the others; one that fails is told and left out.
  virtual void start(PositionEncoding encoding, std::optional<TreeChoice> tree) = 0;
  // Checks a document opened or changed, as it stands when the check starts; an older check
  // of it still running is stale.
  virtual void check(const std::string& uri) = 0;
  // Forgets a closed document and publishes an empty list for it.
  virtual void close(const std::string& uri) = 0;
  // Checks every open document again: files around them changed.
  virtual void recheckAll() = 0;
  // Changes the tree the editor chose; a change that fails is told and the tree stays.
  virtual void chooseTree(TreeChoice choice) = 0;
  // The corrections last published for an open document; nothing before its first result.
  virtual std::optional<PublishedDiagnostics> published(const std::string& uri) = 0;
  // The schema of the tree an open document is checked against, a new one for each tree;
  // that of the tree the editor or the command line chose (or the primary connection's) while
  // the document's is not known; null when there is none. Asked before the document's first
  // check, it waits for it a while.
  virtual std::shared_ptr<const EditorSchema> schema(const std::string& uri) = 0;
};

// The checks made by one worker thread, which alone talks to the directory client.
class CheckWorker : public Checks {
 public:
  // Sends a document's diagnostics, a JSON array's text (the version they belong to, if any).
  using Publish =
      std::function<void(const std::string& uri, std::optional<std::int64_t> version, std::string_view diagnostics)>;
  // Shows the user a message of a type (1 error, 2 warning, 3 info).
  using Notify = std::function<void(int type, const std::string& message)>;

  // options: the command line's (--tree, --schema, --ignore, ...); documents: where the
  // documents checked are read.
  CheckWorker(cli::Options options, OpenDocuments& documents, Publish publish, Notify notify);
  // Stops the thread after the check it is making.
  ~CheckWorker() override;
  CheckWorker(const CheckWorker&) = delete;
  CheckWorker& operator=(const CheckWorker&) = delete;

  void start(PositionEncoding encoding, std::optional<TreeChoice> tree) override;
  void check(const std::string& uri) override;
  void close(const std::string& uri) override;
  void recheckAll() override;
  void chooseTree(TreeChoice choice) override;
  std::optional<PublishedDiagnostics> published(const std::string& uri) override;
  std::shared_ptr<const EditorSchema> schema(const std::string& uri) override;

 private:
  class Trees;
  struct Checked;

  void run(std::optional<TreeChoice> initial);
  void markDirty(const std::string& uri);
  // Makes the editor's choice the tree checked against and returns its schema; null, with
  // why, when it cannot be read (the previous choice stays).
  std::shared_ptr<const EditorSchema> useChoice(Trees& trees, const TreeChoice& choice, std::string& error);
  // The options that name the tree unless a project file does: the editor's choice, else the
  // command line's.
  cli::Options chosenOptions() const;
  // Checks a document against its tree, on the worker thread.
  Checked checkDocument(Trees& trees, const DocumentSnapshot& document);

  cli::Options options_;
  OpenDocuments& documents_;
  Publish publish_;
  Notify notify_;
  PositionEncoding encoding_ = PositionEncoding::Utf16;

  std::mutex mutex_;  // guards what follows; results are published under it
  std::condition_variable wake_;
  std::condition_variable treeKnown_;  // the first tree was tried, or a document's tree became known
  bool firstTreeTried_ = false;        // the tree given at the start was read, or failed
  // The open documents, each with its last edit's number: a check knows whether it is the newest.
  std::map<std::string, std::uint64_t> open_;
  std::deque<std::string> dirty_;     // documents waiting for a check, oldest first
  std::set<std::string> dirtySet_;    // the same, for lookups
  std::optional<TreeChoice> choice_;  // a tree change waiting
  bool retryTrees_ = false;           // files changed: trees that could not be read are tried again
  std::map<std::string, PublishedDiagnostics> published_;
  std::shared_ptr<const EditorSchema> schema_;  // the chosen tree's, for documents not yet checked
  // The schema each open document was last checked against; null when its tree could not be read.
  std::map<std::string, std::shared_ptr<const EditorSchema>> schemaOf_;
  std::uint64_t serial_ = 0;
  bool stop_ = false;
  // The tree the editor chose, when it names one that could be read; used by the worker thread alone.
  std::optional<TreeChoice> editorTree_;
  std::thread thread_;
};

}  // namespace corvane::lsp
