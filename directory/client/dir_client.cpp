// Connections, contexts and error texts of the directory client.
#include "dir_client.h"

#include <algorithm>
#include <cstring>

#include "client_state.h"
#include "d_util.h"
#include "ldap_schema.h"
#include "schema_file.h"
#include "warnings.h"

namespace corvane::client {
namespace {

// Copies text with its NUL into a buffer of size bytes.
bool CopyText(std::string_view text, void* buffer, std::size_t size) {
  if (!buffer || text.size() >= size) return false;
  std::memcpy(buffer, text.data(), text.size());
  static_cast<char*>(buffer)[text.size()] = '\0';
  return true;
}

Connection* FindConnection(ConnHandle conn) {
  auto& connections = State().connections;
  return conn >= 1 && conn <= connections.size() ? &connections[conn - 1] : nullptr;
}

std::optional<std::size_t> PrimaryIndex() {
  const auto& connections = State().connections;
  const auto it =
      std::find_if(connections.begin(), connections.end(), [](const Connection& c) { return c.config.primary; });
  if (it == connections.end()) return std::nullopt;
  return static_cast<std::size_t>(it - connections.begin());
}

std::string TreeWarning(const ConnectionConfig& config, const std::string& what) {
  return "warning: tree " + config.treeName + ": " + what;
}

// A tree's definitions come from its LDAP server or from its schema files.
bool ReadTreeDefinitions(const ConnectionConfig& config, SchemaDefinitions& definitions, LdapTreeFacts& facts,
                         std::string& error) {
  definitions.nameExtension = config.nameExtension;
  if (!config.url.empty()) {
    if (ReadLdapSchema(config, definitions, facts, error)) return true;
    error = "cannot read the schema from " + config.url + ": " + error;
    return false;
  }
  if (config.schemaFiles.empty()) {
    error = "no schema file configured";
    return false;
  }
  for (const auto& file : config.schemaFiles)
    if (!ReadSchemaFile(file, definitions, error)) return false;
  return true;
}

ResultCode LoadSchema(Connection& connection) {
  if (connection.schema) return 0;
  const ConnectionConfig& config = connection.config;
  SchemaDefinitions definitions;
  LdapTreeFacts facts;
  std::string error;
  if (!ReadTreeDefinitions(config, definitions, facts, error)) {
    // Standard error has the reason once; a window that asks again still wants it.
    if (error != connection.loadError)
      WriteWarning(TreeWarning(config, error));
    else
      NoteWarning(TreeWarning(config, error));
    connection.loadError = error;
    return kCodeSchemaUnavailable;
  }
  connection.loadError.clear();
  connection.namingContext = facts.namingContext;
  connection.schema = std::make_shared<const TreeSchema>(std::move(definitions));
  return 0;
}

// Tree names are handed out filled up with '_' to 32 characters, so "LAB" and "LAB__" name
// the same tree.
std::string PaddedTreeName(std::string name) {
  const std::size_t chars = Utf8Length(name);
  if (chars < kTreeNameChars) name.append(kTreeNameChars - chars, '_');
  return name;
}

std::optional<std::size_t> ConnectionIndexOfTree(std::string_view treeName) {
  const auto& connections = State().connections;
  const std::string wanted = PaddedTreeName(std::string(treeName));
  for (std::size_t i = 0; i < connections.size(); ++i)
    if (SameText(PaddedTreeName(connections[i].config.treeName), wanted)) return i;
  return std::nullopt;
}

ResultCode SetTree(Context& context, const char* treeName) {
  const auto index = ConnectionIndexOfTree(treeName);
  const ResultCode code = index ? LoadSchema(State().connections[*index]) : kCodeUnknownTree;
  if (code != 0) {
    // The context is left without a tree, so that nothing of the tree before is read under
    // the name that failed; its reads fail quietly instead of warning again.
    context.connection.reset();
    context.treeSet = false;
    return code;
  }
  context.connection = index;
  context.treeSet = true;
  context.continuations.clear();
  return 0;
}

const Connection* ContextConnection(ContextHandle ctx) {
  const Context* context = FindContext(ctx);
  if (!context || !context->connection) return nullptr;
  return &State().connections[*context->connection];
}

}  // namespace

ClientState& State() {
  // Never destroyed: what it holds is memory alone, and freeing a large schema's objects one
  // by one at exit would only make the program end later.
  static ClientState& state = *new ClientState;
  return state;
}

Context* FindContext(ContextHandle ctx) {
  auto& contexts = State().contexts;
  const auto it = contexts.find(ctx);
  return it == contexts.end() ? nullptr : &it->second;
}

const TreeSchema* ContextSchema(ContextHandle ctx, ResultCode& code) {
  const Context* context = FindContext(ctx);
  code = !context ? kCodeInvalidContext : !context->connection ? kCodeNoTree : 0;
  if (code != 0) return nullptr;
  Connection& connection = State().connections[*context->connection];
  code = LoadSchema(connection);
  return code == 0 ? connection.schema.get() : nullptr;
}

ResultCode ClientInit(std::uint32_t, std::uint32_t) {
  ClientState& state = State();
  if (!state.configured) {
    std::vector<ConnectionConfig> configs;
    std::string error;
    if (!ReadConnections(configs, error)) {
      WriteWarning("warning: cannot read the connections file " + error);
      return kCodeClientStartFailed;
    }
    for (auto& config : configs) state.connections.push_back({std::move(config), nullptr, {}, {}});
    state.configured = true;
  }
  state.started = true;
  return 0;
}

ResultCode ConnGetPrimary(ConnHandle* conn) {
  if (!State().started) return kCodeClientNotStarted;
  const auto primary = PrimaryIndex();
  if (!primary) return kCodeNoPrimaryConnection;
  *conn = static_cast<ConnHandle>(*primary + 1);
  return 0;
}

ResultCode ConnScan(std::uint32_t* iterator, ConnHandle* conn) {
  if (!State().started) return kCodeClientNotStarted;
  if (*iterator >= State().connections.size()) return kCodeNoMoreConnections;
  *conn = ++*iterator;
  return 0;
}

ResultCode ConnOpen(ConnHandle conn, std::uint32_t, std::uint32_t, std::uint32_t* reference) {
  if (!State().started) return kCodeClientNotStarted;
  if (!FindConnection(conn)) return kCodeInvalidConnection;
  *reference = conn;
  return 0;
}

ResultCode ConnGetInfo(ConnHandle conn, std::uint32_t item, std::uint32_t size, void* buffer) {
  if (!State().started) return kCodeClientNotStarted;
  const Connection* connection = FindConnection(conn);
  if (!connection) return kCodeInvalidConnection;
  if (item != kInfoTreeName) return kCodeUnknownInfoItem;
  return CopyText(PaddedTreeName(connection->config.treeName), buffer, size) ? 0 : kCodeInfoBufferTooSmall;
}

ResultCode CtxCreate(ContextHandle* ctx) {
  ClientState& state = State();
  if (!state.started) return kCodeClientNotStarted;
  Context context;
  context.connection = PrimaryIndex();
  if (!context.connection && !state.connections.empty()) context.connection = 0;
  *ctx = state.nextContext++;
  state.contexts[*ctx] = context;
  return 0;
}

ResultCode CtxFree(ContextHandle ctx) { return State().contexts.erase(ctx) == 1 ? 0 : kCodeInvalidContext; }

ResultCode CtxGet(ContextHandle ctx, std::uint32_t key, void* value) {
  const Context* context = FindContext(ctx);
  if (!context) return kCodeInvalidContext;
  if (!value) return kCodeInvalidRequest;
  if (key == kContextFlags) {
    std::memcpy(value, &context->flags, sizeof context->flags);
    return 0;
  }
  if (key == kContextNameContext)
    return CopyText(context->nameContext, value, kContextTextBytes) ? 0 : kCodeBufferTooSmall;
  if (key != kContextTreeName) return kCodeUnknownContextKey;
  const Connection* connection = context->treeSet ? ContextConnection(ctx) : nullptr;
  return CopyText(connection ? connection->config.treeName : "", value, kContextTextBytes) ? 0 : kCodeBufferTooSmall;
}

ResultCode CtxSet(ContextHandle ctx, std::uint32_t key, const void* value) {
  Context* context = FindContext(ctx);
  if (!context) return kCodeInvalidContext;
  if (!value) return kCodeInvalidRequest;
  if (key == kContextFlags) {
    std::memcpy(&context->flags, value, sizeof context->flags);
    return 0;
  }
  if (key == kContextNameContext) {
    context->nameContext = static_cast<const char*>(value);
    return 0;
  }
  return key == kContextTreeName ? SetTree(*context, static_cast<const char*>(value)) : kCodeUnknownContextKey;
}

// A live directory names its own context when the section does not.
ResultCode CtxDefaultName(ContextHandle ctx, std::uint32_t size, char* buffer) {
  if (!FindContext(ctx)) return kCodeInvalidContext;
  const Connection* connection = ContextConnection(ctx);
  if (!connection) return kCodeNoTree;
  const std::string& context = connection->config.context;
  return CopyText(context.empty() ? connection->namingContext : context, buffer, size) ? 0 : kCodeBufferTooSmall;
}

// Over LDAP the logged-in object is the one bound as, unless the section names another.
ResultCode CtxMyName(ContextHandle ctx, char* buffer) {
  if (!FindContext(ctx)) return kCodeInvalidContext;
  const Connection* connection = ContextConnection(ctx);
  if (!connection) return kCodeNoTree;
  const ConnectionConfig& config = connection->config;
  return CopyText(config.user.empty() ? config.bindDn : config.user, buffer, kMyNameBytes) ? 0 : kCodeBufferTooSmall;
}

const char* ClientErrorText(ResultCode code) {
  static constexpr std::pair<ResultCode, const char*> texts[] = {
      {kCodeNoPrimaryConnection, "No primary connection"},
      {kCodeNoMoreConnections, "No more connections"},
      {kCodeInvalidConnection, "Invalid connection handle"},
      {kCodeUnknownInfoItem, "Unknown connection information item"},
      {kCodeInfoBufferTooSmall, "Buffer too small for the connection information"},
      {kCodeClientNotStarted, "Directory client not started"},
      {kCodeClientStartFailed, "Directory client cannot read its connections file"},
      {kCodeInvalidContext, "Invalid directory context"},
      {kCodeUnknownContextKey, "Unknown context key"},
      {kCodeNoTree, "Context is not connected to a tree"},
      {kCodeUnknownTree, "No connection to this tree"},
      {kCodeSchemaUnavailable, "Schema of the tree cannot be read"},
      {kCodeInvalidBufferSize, "Invalid buffer size"},
      {kCodeInvalidBuffer, "Invalid buffer"},
      {kCodeBufferTooSmall, "Buffer too small"},
      {kCodeBufferExhausted, "No more data in buffer"},
      {kCodeNoSuchClass, "No such class"},
      {kCodeInvalidLevel, "Invalid information level"},
      {kCodeInvalidIteration, "Invalid iteration handle"},
      {kCodeInvalidRequest, "Invalid request"},
  };
  for (const auto& [known, text] : texts)
    if (known == code) return text;
  return "Unknown error";
}

std::string ServeSchemaFiles(const std::vector<std::string>& files, std::string_view treeName) {
  if (files.empty()) return "no schema file given";
  SchemaDefinitions definitions;
  for (const auto& file : files) {
    std::string error;
    if (!ReadSchemaFile(file, definitions, error)) return error;
  }
  ConnectionConfig config;
  config.treeName = treeName;
  config.schemaFiles = files;
  config.primary = true;
  ClientState& state = State();
  state.connections = {{std::move(config), std::make_shared<const TreeSchema>(std::move(definitions)), {}, {}}};
  state.contexts.clear();
  state.configured = true;
  return {};
}

void ResetClient() { State() = ClientState{}; }

}  // namespace corvane::client
