// The language server: the dispatcher of one protocol session and the process around it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base_protocol.h"
#include "check_worker.h"
#include "editor_queries.h"
#include "open_documents.h"
#include "options.h"
#include "text_document.h"

namespace corvane::lsp {

// JSON-RPC and protocol error codes.
enum ErrorCode : int {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kInternalError = -32603,
  kServerNotInitialized = -32002,
  kRequestCancelled = -32800,
};

// One session: messages are received as they arrive (cancellations count at once) and
// handled in order, requests answered and documents handed to the checks.
class Server {
 public:
  // documents: where the editor's documents are kept, for the checks to read too.
  Server(FrameWriter& writer, OpenDocuments& documents, Checks& checks)
      : writer_(writer), documents_(documents), checks_(checks) {}

  // Takes a message, or a framing fault, as it arrives.
  void receive(Frame frame);
  // Whether messages wait to be handled.
  bool pending() const { return !queue_.empty(); }
  // Handles the oldest waiting message; the exit status once it was "exit".
  std::optional<int> handleNext();
  // The exit status when the input ends without "exit".
  int exitStatus() const { return state_ == State::ShutDown ? 0 : 1; }

 private:
  enum class State { Uninitialized, Running, ShutDown };
  // A message as received, read as JSON only when handled: a burst of edits waits as their
  // bytes, not as their far larger trees.
  using Incoming = Frame;
  struct Method;
  static const Method* FindMethod(std::string_view name);

  // Handles a message, taking what it needs out of it.
  std::optional<int> handle(nlohmann::json& message);
  void respond(const nlohmann::json& id, nlohmann::json result);
  void respondError(const nlohmann::json& id, int code, const std::string& message);
  void notify(std::string_view method, nlohmann::json params);
  void send(const nlohmann::json& message);

  // The open document params name, and the byte offset of a position in it; an error
  // (InvalidParams) when it is not open or the position lies outside it.
  DocumentSnapshot documentOf(const nlohmann::json& params) const;
  std::size_t offsetOf(const DocumentSnapshot& document, const nlohmann::json& position) const;
  // The schema facts of the tree the checks use now for the document uri.
  SchemaFacts& schemaFacts(const std::string& uri);
  // A position of another file, from its line and byte column: read from the open document or
  // the file when the column needs counting.
  nlohmann::json positionIn(const std::string& path, std::size_t line, std::size_t column) const;
  // The code action of a quick fix a published diagnostic carries; null when it no longer fits.
  nlohmann::json quickFixAction(const DocumentSnapshot& document, const nlohmann::json& fix) const;
  // A workspace edit of one file, as the client takes edits.
  nlohmann::json workspaceEdit(const std::string& uri, std::optional<std::int64_t> version, nlohmann::json edit) const;

  // Requests and notifications, one handler each; params are the handler's to take from.
  nlohmann::json initialize(nlohmann::json& params);
  nlohmann::json initialized(nlohmann::json& params);
  nlohmann::json shutdown(nlohmann::json& params);
  nlohmann::json didOpen(nlohmann::json& params);
  nlohmann::json didChange(nlohmann::json& params);
  nlohmann::json didClose(nlohmann::json& params);
  nlohmann::json didChangeWatchedFiles(nlohmann::json& params);
  nlohmann::json didChangeConfiguration(nlohmann::json& params);
  nlohmann::json cancelRequest(nlohmann::json& params);
  nlohmann::json completion(nlohmann::json& params);
  nlohmann::json hover(nlohmann::json& params);
  nlohmann::json definition(nlohmann::json& params);
  nlohmann::json codeAction(nlohmann::json& params);

  FrameWriter& writer_;
  OpenDocuments& documents_;
  Checks& checks_;
  State state_ = State::Uninitialized;
  PositionEncoding encoding_ = PositionEncoding::Utf16;
  bool watchRegistration_ = false;  // the client registers file watchers when asked
  bool documentChanges_ = false;    // the client takes workspace edits as documentChanges
  // The facts are read on this thread only, from the worker's copy of the schema: each thread
  // keeps its own cache, so neither waits for the other (see EditorSchema). Another copy, of
  // another document's tree or made when the tree changes, gets fresh facts.
  std::shared_ptr<const EditorSchema> schema_;
  std::unique_ptr<SchemaFacts> facts_;
  std::deque<Incoming> queue_;
  std::set<std::string> cancelled_;  // ids of waiting requests, as JSON text
  std::int64_t nextRequestId_ = 1;
};

// Serves the protocol on standard input and output until "exit" or the input's end, with
// the command line's options (--tree, --schema, --ignore, ...); logs go to standard error.
// Returns the exit status: 0 after shutdown, else 1.
int RunServer(const cli::Options& options);

}  // namespace corvane::lsp
