#include "server.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <utility>

#include "diagnostics.h"
#include "file_read.h"
#include "file_write.h"
#include "file_uri.h"
#include "json_text.h"
#include "log.h"

namespace corvane::lsp {

namespace {

using nlohmann::json;

// A request that ends in an error response.
struct RpcError {
  int code;
  std::string message;
};

constexpr int kSyncIncremental = 2;
constexpr std::string_view kQuickFix = "quickfix";

// A request's id as a key: its JSON text, so that 1 and "1" differ.
std::string IdKey(const json& id) { return WriteJson(id); }

bool ValidId(const json& id) { return id.is_string() || id.is_number_integer() || id.is_number_unsigned(); }

// The tree settings an editor sends (at the top level or under "corvanexml"); nothing when
// they name neither tree nor schema files.
std::optional<TreeChoice> TreeSettings(const json& settings) {
  if (!settings.is_object()) return std::nullopt;
  const auto own = settings.find("corvanexml");
  const json& s = own != settings.end() && own->is_object() ? *own : settings;
  const auto tree = s.find("tree");
  const auto schema = s.find("schemaFiles");
  if (tree == s.end() && schema == s.end()) return std::nullopt;
  TreeChoice choice;
  if (tree != s.end() && !tree->is_null()) {
    if (!tree->is_string()) throw RpcError{kInvalidParams, "the setting 'tree' is a tree's name"};
    if (!tree->get_ref<const std::string&>().empty()) choice.tree = tree->get<std::string>();
  }
  if (schema != s.end() && !schema->is_null()) {
    const json files = schema->is_string() ? json::array({*schema}) : *schema;
    if (!files.is_array() || !std::all_of(files.begin(), files.end(), [](const json& f) { return f.is_string(); })) {
      throw RpcError{kInvalidParams, "the setting 'schemaFiles' is a list of file names"};
    }
    for (const json& file : files) choice.schemaFiles.push_back(file.get<std::string>());
  }
  return choice;
}

// The completion item kind that shows what a candidate is.
int CompletionItemKind(CandidateKind kind) {
  enum : int { kClass = 7, kModule = 9, kProperty = 10, kFile = 17, kReference = 18, kConstant = 21 };
  switch (kind) {
    case CandidateKind::Class: return kClass;
    case CandidateKind::Attribute: return kProperty;
    case CandidateKind::Key: return kConstant;
    case CandidateKind::Bundle: return kModule;
    case CandidateKind::Id: return kReference;
    case CandidateKind::Template: return kFile;
  }
  return kClass;
}

// Whether position a lies before position b.
bool Before(const json& a, const json& b) {
  const auto line = [](const json& p) { return p.at("line").get<std::uint32_t>(); };
  const auto character = [](const json& p) { return p.at("character").get<std::uint32_t>(); };
  return line(a) < line(b) || (line(a) == line(b) && character(a) < character(b));
}

// Whether two ranges share a position; a range's end counts, so that a cursor just after a
// value still touches it.
bool Touch(const json& a, const json& b) {
  return !Before(a.at("end"), b.at("start")) && !Before(b.at("end"), a.at("start"));
}

// Whether a code action request lets quick fixes through.
bool WantsQuickFixes(const json& context) {
  if (!context.is_object()) return true;
  const auto only = context.find("only");
  if (only == context.end() || !only->is_array()) return true;
  return std::any_of(only->begin(), only->end(), [](const json& kind) {
    return kind.is_string() && (kind.get_ref<const std::string&>().empty() || kind == kQuickFix);
  });
}

// The text of a file as the editor has it: the open document's, else what the file holds.
struct FileText {
  std::string uri;
  std::optional<std::int64_t> version;      // an open document's
  std::shared_ptr<const std::string> text;  // null when the file cannot be read
};

FileText TextOf(OpenDocuments& documents, const std::string& path) {
  FileText file{FileUriOfPath(path), std::nullopt, nullptr};
  if (std::optional<DocumentSnapshot> open = documents.snapshot(file.uri)) {
    file.version = open->version;
    file.text = std::move(open->text);
    return file;
  }
  std::string reason;
  if (std::optional<std::string> read = ReadRegularFile(path, reason)) {
    file.text = std::make_shared<const std::string>(std::move(*read));
  }
  return file;
}

bool IsWatchedFile(std::string_view uri) {
  const auto endsWith = [&](std::string_view suffix) {
    return uri.size() >= suffix.size() &&
           std::equal(
               suffix.begin(), suffix.end(), uri.end() - static_cast<std::ptrdiff_t>(suffix.size()),
               [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b); });
  };
  return endsWith(".properties") || endsWith(".jsp") || endsWith(".corvanexml.toml");
}

}  // namespace

// A method the server knows: a request is answered with what its handler returns.
struct Server::Method {
  std::string_view name;
  bool request;
  json (Server::*handler)(json& params);
};

const Server::Method* Server::FindMethod(std::string_view name) {
  static const Method kMethods[] = {
      {"initialize", true, &Server::initialize},
      {"initialized", false, &Server::initialized},
      {"shutdown", true, &Server::shutdown},
      {"textDocument/didOpen", false, &Server::didOpen},
      {"textDocument/didChange", false, &Server::didChange},
      {"textDocument/didClose", false, &Server::didClose},
      {"workspace/didChangeWatchedFiles", false, &Server::didChangeWatchedFiles},
      {"workspace/didChangeConfiguration", false, &Server::didChangeConfiguration},
      {"$/cancelRequest", false, &Server::cancelRequest},
      {"textDocument/completion", true, &Server::completion},
      {"textDocument/hover", true, &Server::hover},
      {"textDocument/definition", true, &Server::definition},
      {"textDocument/codeAction", true, &Server::codeAction},
  };
  const auto it =
      std::find_if(std::begin(kMethods), std::end(kMethods), [&](const Method& m) { return m.name == name; });
  return it == std::end(kMethods) ? nullptr : it;
}

void Server::receive(Frame frame) {
  if (!frame.fault.empty()) frame.fault = "bad frame: " + frame.fault;
  // A cancellation counts for the requests that wait before it. Only a message that names
  // the method can be one.
  if (frame.fault.empty() && frame.body.find("$/cancelRequest") != std::string::npos) {
    try {
      const json m = ReadJson(frame.body);
      if (m.is_object() && m.value("method", json()) == "$/cancelRequest") {
        const auto params = m.find("params");
        if (params != m.end() && params->is_object() && params->contains("id") && ValidId((*params)["id"])) {
          cancelled_.insert(IdKey((*params)["id"]));
        }
      }
    } catch (const JsonReadError&) {
      // Told when the message is handled.
    }
  }
  queue_.push_back(std::move(frame));
}

std::optional<int> Server::handleNext() {
  Incoming incoming = std::move(queue_.front());
  queue_.pop_front();
  if (incoming.fault.empty()) {
    json message;
    try {
      message = ReadJson(incoming.body);
    } catch (const JsonReadError& e) {
      incoming.fault = std::string("the message is no JSON: ") + e.what();
    }
    // The bytes are not needed beside the tree they were read into.
    incoming.body = std::string();
    if (incoming.fault.empty()) return handle(message);
  }
  Log(incoming.fault);
  respondError(nullptr, kParseError, incoming.fault);
  return std::nullopt;
}

std::optional<int> Server::handle(json& message) {
  if (!message.is_object()) {
    respondError(nullptr, kInvalidRequest, "a message is a JSON object");
    return std::nullopt;
  }
  const auto id = message.find("id");
  const auto method = message.find("method");
  if (method == message.end() && id != message.end() && (message.contains("result") || message.contains("error"))) {
    return std::nullopt;  // the client's answer to a request of ours; none needs reading
  }
  const bool idOk = id == message.end() || ValidId(*id);
  if (message.value("jsonrpc", json()) != "2.0" || method == message.end() || !method->is_string() || !idOk) {
    respondError(idOk && id != message.end() ? *id : json(), kInvalidRequest,
                 "a request or notification has \"jsonrpc\": \"2.0\", a method name and an id that is a number or a "
                 "string");
    return std::nullopt;
  }
  const std::string& name = method->get_ref<const std::string&>();
  const bool request = id != message.end();
  if (name == "exit") return exitStatus();
  if (request && cancelled_.erase(IdKey(*id)) > 0) {
    respondError(*id, kRequestCancelled, "the request was cancelled");
    return std::nullopt;
  }
  // The params are moved out, not copied: a document's text is held once.
  json params;
  if (const auto found = message.find("params"); found != message.end()) params = std::move(*found);
  const Method* known = FindMethod(name);
  if (!request) {
    // Notifications before initialize and after shutdown are dropped; unknown ones ignored.
    if (known == nullptr || known->request || state_ != State::Running) return std::nullopt;
    try {
      (this->*(known->handler))(params);
    } catch (const RpcError& e) {
      Log(name + ": " + e.message);
    } catch (const json::exception& e) {
      Log(name + ": bad parameters: " + e.what());
    }
    return std::nullopt;
  }
  try {
    if (state_ == State::ShutDown) throw RpcError{kInvalidRequest, "the server was shut down"};
    if (state_ == State::Uninitialized && name != "initialize") {
      throw RpcError{kServerNotInitialized, "the server was not initialized"};
    }
    if (known == nullptr || !known->request) throw RpcError{kMethodNotFound, "no such method: " + name};
    respond(*id, (this->*(known->handler))(params));
  } catch (const RpcError& e) {
    respondError(*id, e.code, e.message);
  } catch (const json::exception& e) {
    respondError(*id, kInvalidParams, std::string("bad parameters: ") + e.what());
  } catch (const std::bad_alloc&) {
    respondError(*id, kInternalError, "out of memory");
  }
  return std::nullopt;
}

void Server::send(const json& message) {
  if (!writer_.write(WriteJson(message))) Log("the client can no longer be written to");
}

void Server::respond(const json& id, json result) {
  send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void Server::respondError(const json& id, int code, const std::string& message) {
  send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

void Server::notify(std::string_view method, json params) {
  send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

DocumentSnapshot Server::documentOf(const json& params) const {
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  std::optional<DocumentSnapshot> document = documents_.snapshot(uri);
  if (!document) throw RpcError{kInvalidParams, "the document is not open: " + uri};
  return std::move(*document);
}

std::size_t Server::offsetOf(const DocumentSnapshot& document, const json& position) const {
  const Position p{position.at("line").get<std::uint32_t>(), position.at("character").get<std::uint32_t>()};
  const std::optional<std::size_t> offset = LineIndex(*document.text).offset(p, encoding_);
  if (!offset) throw RpcError{kInvalidParams, "the position lies outside the document"};
  return *offset;
}

json Server::initialize(json& params) {
  if (state_ != State::Uninitialized) throw RpcError{kInvalidRequest, "initialize came twice"};
  const json capabilities = params.value("capabilities", json::object());
  const json encodings = capabilities.value("general", json::object()).value("positionEncodings", json::array());
  if (encodings.is_array() && std::find(encodings.begin(), encodings.end(), "utf-8") != encodings.end()) {
    encoding_ = PositionEncoding::Utf8;
  }
  watchRegistration_ = capabilities.value("workspace", json::object())
                           .value("didChangeWatchedFiles", json::object())
                           .value("dynamicRegistration", false);
  documentChanges_ = capabilities.value("workspace", json::object())
                         .value("workspaceEdit", json::object())
                         .value("documentChanges", false);
  // A client without code action literals takes only commands: it is told no kinds.
  const bool actionLiterals = capabilities.value("textDocument", json::object())
                                  .value("codeAction", json::object())
                                  .contains("codeActionLiteralSupport");
  std::optional<TreeChoice> tree;
  if (const auto options = params.find("initializationOptions"); options != params.end()) {
    tree = TreeSettings(*options);
  }
  state_ = State::Running;
  checks_.start(encoding_, std::move(tree));
  return {{"capabilities",
           {{"positionEncoding", encoding_ == PositionEncoding::Utf8 ? "utf-8" : "utf-16"},
            {"textDocumentSync", {{"openClose", true}, {"change", kSyncIncremental}}},
            // ">" ends the start tag of a value; "." parts bundle names, keys and templates.
            {"completionProvider", {{"triggerCharacters", json::array({">", "."})}, {"resolveProvider", false}}},
            {"hoverProvider", true},
            {"definitionProvider", true},
            {"codeActionProvider", actionLiterals
                                       ? json{{"codeActionKinds", json::array({kQuickFix})}, {"resolveProvider", false}}
                                       : json(true)}}},
          {"serverInfo", {{"name", "corvanexml-check"}, {"version", CORVANE_VERSION}}}};
}

json Server::initialized(json&) {
  if (!watchRegistration_) return nullptr;
  // Bundles and pages change outside the editor too; the client tells of each change.
  const json watchers = json::array(
      {{{"globPattern", "**/*.properties"}}, {{"globPattern", "**/*.jsp"}}, {{"globPattern", "**/.corvanexml.toml"}}});
  send({{"jsonrpc", "2.0"},
        {"id", "corvanexml-" + std::to_string(nextRequestId_++)},
        {"method", "client/registerCapability"},
        {"params",
         {{"registrations", json::array({{{"id", "corvanexml-watched-files"},
                                          {"method", "workspace/didChangeWatchedFiles"},
                                          {"registerOptions", {{"watchers", watchers}}}}})}}}});
  return nullptr;
}

json Server::shutdown(json&) {
  state_ = State::ShutDown;
  return nullptr;
}

json Server::didOpen(json& params) {
  json& item = params.at("textDocument");
  const std::string& uri = item.at("uri").get_ref<const std::string&>();
  // Read whole before it is kept: a notification that lacks a field leaves no document without text.
  const auto version = item.at("version").get<std::int64_t>();
  documents_.open(uri, version, std::move(item.at("text").get_ref<std::string&>()));
  checks_.check(uri);
  return nullptr;
}

json Server::didChange(json& params) {
  const json& item = params.at("textDocument");
  const std::string& uri = item.at("uri").get_ref<const std::string&>();
  const auto version = item.at("version").get<std::int64_t>();
  std::vector<TextChange> changes;
  for (json& change : params.at("contentChanges")) {
    TextChange& c = changes.emplace_back();
    c.text = std::move(change.at("text").get_ref<std::string&>());
    if (const auto range = change.find("range"); range != change.end()) {
      c.start = Position{range->at("start").at("line").get<std::uint32_t>(),
                         range->at("start").at("character").get<std::uint32_t>()};
      c.end = Position{range->at("end").at("line").get<std::uint32_t>(),
                       range->at("end").at("character").get<std::uint32_t>()};
    }
  }
  switch (documents_.change(uri, version, std::move(changes), encoding_)) {
    case OpenDocuments::Changed::NotOpen:
      throw RpcError{kInvalidParams, "a change of a document that is not open: " + uri};
    case OpenDocuments::Changed::OutsideDocument:
      // The editor and the server no longer agree on the text; reopening the document mends it.
      notify("window/showMessage",
             {{"type", kMessageError},
              {"message", "corvanexml: a change of " + uri + " lies outside the document; close and reopen it"}});
      throw RpcError{kInvalidParams, "a change lies outside the document " + uri};
    case OpenDocuments::Changed::OutOfStep:
      throw RpcError{kInvalidParams, "a change of " + uri + " after one that lay outside it; it waits to be reopened"};
    case OpenDocuments::Changed::Done: break;
  }
  checks_.check(uri);
  return nullptr;
}

json Server::didClose(json& params) {
  const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
  documents_.close(uri);
  checks_.close(uri);
  return nullptr;
}

json Server::didChangeWatchedFiles(json& params) {
  const json& changes = params.at("changes");
  if (std::any_of(changes.begin(), changes.end(),
                  [](const json& c) { return IsWatchedFile(c.at("uri").get_ref<const std::string&>()); })) {
    checks_.recheckAll();
  }
  return nullptr;
}

json Server::didChangeConfiguration(json& params) {
  if (std::optional<TreeChoice> tree = TreeSettings(params.value("settings", json()))) {
    checks_.chooseTree(std::move(*tree));
  }
  return nullptr;
}

json Server::cancelRequest(json&) {
  // Counted when it arrived; a request it names that was answered already stays answered.
  return nullptr;
}

SchemaFacts& Server::schemaFacts(const std::string& uri) {
  std::shared_ptr<const EditorSchema> current = checks_.schema(uri);
  // Without a tree (none could be read), the questions see a schema without classes.
  if (facts_ != nullptr && (current == nullptr || current == schema_)) return *facts_;
  facts_.reset();
  schema_ = current != nullptr ? std::move(current) : std::make_shared<const EditorSchema>(SchemaView{});
  facts_ = std::make_unique<SchemaFacts>(schema_->view());
  return *facts_;
}

json Server::completion(json& params) {
  const DocumentSnapshot document = documentOf(params);
  const std::size_t offset = offsetOf(document, params.at("position"));
  const std::string& text = *document.text;
  const std::optional<Completion> found =
      CompleteAt({text, document.path.value_or(std::string())}, offset, schemaFacts(document.uri));
  if (!found) return nullptr;
  const json range = RangeJson(LineIndex(text), found->range, encoding_);
  json items = json::array();
  for (const Candidate& c : found->candidates) {
    items.push_back({{"label", c.label},
                     {"kind", CompletionItemKind(c.kind)},
                     {"detail", c.detail},
                     {"sortText", c.sortText},
                     {"textEdit", {{"range", range}, {"newText", c.label}}}});
  }
  return {{"isIncomplete", false}, {"items", std::move(items)}};
}

json Server::hover(json& params) {
  const DocumentSnapshot document = documentOf(params);
  const std::size_t offset = offsetOf(document, params.at("position"));
  const std::string& text = *document.text;
  const std::optional<Hover> found =
      HoverAt({text, document.path.value_or(std::string())}, offset, schemaFacts(document.uri));
  if (!found) return nullptr;
  return {{"contents", {{"kind", "markdown"}, {"value", found->markdown}}},
          {"range", RangeJson(LineIndex(text), found->range, encoding_)}};
}

json Server::positionIn(const std::string& path, std::size_t line, std::size_t column) const {
  const Position lineStart{static_cast<std::uint32_t>(line), 0};
  if (column == 0) return PositionJson(lineStart);
  const std::shared_ptr<const std::string> content = TextOf(documents_, path).text;
  if (content == nullptr) return PositionJson(lineStart);
  const LineIndex lines(*content);
  const std::optional<std::size_t> offset =
      lines.offset({lineStart.line, static_cast<std::uint32_t>(column)}, PositionEncoding::Utf8);
  return PositionJson(offset ? lines.position(*offset, encoding_) : lineStart);
}

json Server::definition(json& params) {
  const DocumentSnapshot document = documentOf(params);
  const std::size_t offset = offsetOf(document, params.at("position"));
  const std::string& text = *document.text;
  const std::string path = document.path.value_or(std::string());
  const std::optional<Location> found = DefinitionAt({text, path}, offset);
  if (!found) return nullptr;
  if (found->path == path)
    return {{"uri", document.uri}, {"range", RangeJson(LineIndex(text), found->range, encoding_)}};
  const json at = positionIn(found->path, found->line, found->column);
  return {{"uri", FileUriOfPath(found->path)}, {"range", {{"start", at}, {"end", at}}}};
}

json Server::workspaceEdit(const std::string& uri, std::optional<std::int64_t> version, json edit) const {
  if (!documentChanges_) return {{"changes", {{uri, json::array({std::move(edit)})}}}};
  const json identifier = {{"uri", uri}, {"version", version ? json(*version) : json(nullptr)}};
  return {
      {"documentChanges", json::array({{{"textDocument", identifier}, {"edits", json::array({std::move(edit)})}}})}};
}

json Server::quickFixAction(const DocumentSnapshot& document, const json& fix) const {
  json action = {{"title", fix.at("title")}, {"kind", kQuickFix}};
  if (fix.at("preferred").get<bool>()) action["isPreferred"] = true;
  const std::string& newText = fix.at("newText").get_ref<const std::string&>();
  const auto path = fix.find("path");
  if (path == fix.end()) {
    action["edit"] = workspaceEdit(document.uri, document.version, {{"range", fix.at("range")}, {"newText", newText}});
    return action;
  }
  // A line appended to another file, at its end as it is now.
  const FileText file = TextOf(documents_, path->get_ref<const std::string&>());
  const std::shared_ptr<const std::string>& content = file.text;
  if (content == nullptr) return nullptr;
  // The line starts with a line break where the file lacked its last one when it was checked;
  // a file changed since then is checked again, and its correction waits for that.
  const bool lacksBreak = !content->empty() && content->back() != '\n' && content->back() != '\r';
  if (lacksBreak != newText.starts_with('\n')) return nullptr;
  const json end = PositionJson(LineIndex(*content).position(content->size(), encoding_));
  action["edit"] =
      workspaceEdit(file.uri, file.version, {{"range", {{"start", end}, {"end", end}}}, {"newText", newText}});
  return action;
}

json Server::codeAction(json& params) {
  const DocumentSnapshot document = documentOf(params);
  const json& range = params.at("range");
  offsetOf(document, range.at("start"));
  offsetOf(document, range.at("end"));
  json actions = json::array();
  if (!WantsQuickFixes(params.value("context", json::object()))) return actions;
  // The corrections were placed in the text the check read: for any other version they would
  // change the wrong bytes.
  const std::optional<PublishedDiagnostics> published = checks_.published(document.uri);
  if (!published || published->diagnostics == nullptr || published->version != document.version) return actions;
  // One action for each correction, however many findings it mends.
  std::map<std::string, std::size_t> actionOf;
  for (const json& diagnostic : *published->diagnostics) {
    const auto data = diagnostic.find("data");
    if (data == diagnostic.end() || !data->contains("fix") || !Touch(diagnostic.at("range"), range)) continue;
    const json& fix = data->at("fix");
    const auto [known, fresh] = actionOf.try_emplace(WriteJson(fix), actions.size());
    if (!fresh) {
      actions[known->second]["diagnostics"].push_back(diagnostic);
      continue;
    }
    json action = quickFixAction(document, fix);
    if (action.is_null()) {
      actionOf.erase(known);
      continue;
    }
    action["diagnostics"] = json::array({diagnostic});
    actions.push_back(std::move(action));
  }
  return actions;
}

namespace {

// Whether bytes can be read from fd without waiting.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

}  // namespace

int RunServer(const cli::Options& options) {
  // The protocol owns standard output: whatever else would write there goes to the log.
  const int out = ::dup(STDOUT_FILENO);
  if (out < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    Log("standard output cannot be taken for the protocol");
    return 1;
  }
  FrameWriter writer([out](std::string_view bytes) { return WriteAll(out, bytes); });
  const auto send = [&writer](const json& message) {
    if (!writer.write(WriteJson(message))) Log("the client can no longer be written to");
  };
  OpenDocuments documents;
  CheckWorker worker(
      options, documents,
      [&writer](const std::string& uri, std::optional<std::int64_t> version, std::string_view diagnostics) {
        // Written around the diagnostics' text, which is written once.
        std::string body = R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":)" +
                           WriteJson(uri) + (version ? ",\"version\":" + std::to_string(*version) : std::string()) +
                           ",\"diagnostics\":";
        body += diagnostics;
        body += "}}";
        if (!writer.write(body)) Log("the client can no longer be written to");
      },
      [send](int type, const std::string& message) {
        send(
            {{"jsonrpc", "2.0"}, {"method", "window/showMessage"}, {"params", {{"type", type}, {"message", message}}}});
      });
  Server server(writer, documents, worker);
  FrameReader reader;
  std::array<char, 65536> buffer{};
  Log("serving the Language Server Protocol on standard input and output");
  while (true) {
    while (std::optional<Frame> frame = reader.next()) server.receive(std::move(*frame));
    // Bytes already there are read before the next message is handled, so that a
    // cancellation among them finds the request still waiting.
    if (server.pending() && !Readable(STDIN_FILENO)) {
      if (const std::optional<int> status = server.handleNext()) return *status;
      continue;
    }
    const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      while (server.pending()) {
        if (const std::optional<int> status = server.handleNext()) return *status;
      }
      if (reader.partial()) Log("the input ended inside a message");
      Log(n < 0 ? "standard input cannot be read" : "the input ended without exit");
      return server.exitStatus();
    }
    reader.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
}

}  // namespace corvane::lsp
