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
  Server(FrameWriter& writer, Checks& checks) : writer_(writer), checks_(checks) {}

  // Takes a message, or a framing fault, as it arrives.
  void receive(const Frame& frame);
  // Whether messages wait to be handled.
  bool pending() const { return !queue_.empty(); }
  // Handles the oldest waiting message; the exit status once it was "exit".
  std::optional<int> handleNext();
  // The exit status when the input ends without "exit".
  int exitStatus() const { return state_ == State::ShutDown ? 0 : 1; }

  // An open document.
  struct Document {
    std::optional<std::string> path;
    std::int64_t version = 0;
    std::shared_ptr<const std::string> text;
  };

 private:
  enum class State { Uninitialized, Running, ShutDown };
  // A message as received: parsed, or what was wrong with its frame or its JSON.
  struct Incoming {
    std::unique_ptr<nlohmann::json> message;  // held apart, so that moving it cannot throw
    std::string fault;
  };
  struct Method;
  static const Method* FindMethod(std::string_view name);

  std::optional<int> handle(const nlohmann::json& message);
  void respond(const nlohmann::json& id, nlohmann::json result);
  void respondError(const nlohmann::json& id, int code, const std::string& message);
  void notify(std::string_view method, nlohmann::json params);
  void send(const nlohmann::json& message);

  // The open document params name, and the byte offset of a position in it; an error
  // (InvalidParams) when it is not open or the position lies outside it.
  const Document& documentOf(const nlohmann::json& params) const;
  std::size_t offsetOf(const Document& document, const nlohmann::json& position) const;
  void checkDocument(const std::string& uri, const Document& document);
  // The schema facts of the tree the checks use now.
  SchemaFacts& schemaFacts();
  // A position of another file, from its line and byte column: read from the open document or
  // the file when the column needs counting.
  nlohmann::json positionIn(const std::string& path, std::size_t line, std::size_t column) const;
  // The code action of a quick fix a published diagnostic carries; null when it no longer fits.
  nlohmann::json quickFixAction(const std::string& uri, const Document& document, const nlohmann::json& fix) const;
  // A workspace edit of one file, as the client takes edits.
  nlohmann::json workspaceEdit(const std::string& uri, std::optional<std::int64_t> version, nlohmann::json edit) const;

  // Requests and notifications, one handler each.
  nlohmann::json initialize(const nlohmann::json& params);
  nlohmann::json initialized(const nlohmann::json& params);
  nlohmann::json shutdown(const nlohmann::json& params);
  nlohmann::json didOpen(const nlohmann::json& params);
  nlohmann::json didChange(const nlohmann::json& params);
  nlohmann::json didClose(const nlohmann::json& params);
  nlohmann::json didChangeWatchedFiles(const nlohmann::json& params);
  nlohmann::json didChangeConfiguration(const nlohmann::json& params);
  nlohmann::json cancelRequest(const nlohmann::json& params);
  nlohmann::json completion(const nlohmann::json& params);
  nlohmann::json hover(const nlohmann::json& params);
  nlohmann::json definition(const nlohmann::json& params);
  nlohmann::json codeAction(const nlohmann::json& params);

  FrameWriter& writer_;
  Checks& checks_;
  State state_ = State::Uninitialized;
  PositionEncoding encoding_ = PositionEncoding::Utf16;
  bool watchRegistration_ = false;  // the client registers file watchers when asked
  bool documentChanges_ = false;    // the client takes workspace edits as documentChanges
  // The facts are read on this thread only, from the worker's copy of the schema: each thread
  // keeps its own cache, so neither waits for the other (see EditorSchema). A new copy, made
  // when the tree changes, gets fresh facts.
  std::shared_ptr<const EditorSchema> schema_;
  std::unique_ptr<SchemaFacts> facts_;
  std::map<std::string, Document> documents_;
  std::deque<Incoming> queue_;
  std::set<std::string> cancelled_;  // ids of waiting requests, as JSON text
  std::int64_t nextRequestId_ = 1;
};

// Serves the protocol on standard input and output until "exit" or the input's end, with
// the command line's options (--tree, --schema, --ignore, ...); logs go to standard error.
// Returns the exit status: 0 after shutdown, else 1.
int RunServer(const cli::Options& options);

}  // namespace corvane::lsp
