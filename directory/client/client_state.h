// State that the connection/context half and the buffer/schema half of the client share.
#pragma once

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "client_types.h"
#include "connections.h"
#include "tree_schema.h"

namespace corvane::client {

struct Connection {
  ConnectionConfig config;
  std::shared_ptr<const TreeSchema> schema;  // read on first use
  std::string loadError;                      // why the last read failed, warned about once
};

struct Context {
  std::optional<std::size_t> connection;
  // A new context works on the primary connection but names no tree until one is set, so
  // that the first tree change reads the tree's schema and reports a tree that cannot be read.
  bool treeSet = false;
  std::string nameContext;
  std::uint32_t flags = 0;
};

struct ClientState {
  bool configured = false;  // connections known, from the file or from ServeSchemaFiles
  bool started = false;
  std::vector<Connection> connections;
  std::unordered_map<ContextHandle, Context> contexts;
  ContextHandle nextContext = 1;
};

// The one client state of the process.
ClientState& State();
// The context of a handle, or null.
Context* FindContext(ContextHandle ctx);
// The schema of the context's tree, read on first use; null with a code on failure.
const TreeSchema* ContextSchema(ContextHandle ctx, ResultCode& code);

}  // namespace corvane::client
