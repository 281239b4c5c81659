// State that the connection/context half and the buffer/schema half of the client share.
#pragma once

#include <array>
#include <deque>
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
  std::string loadError;                     // why the last read failed, warned about once
  std::string namingContext;                 // the first one a live directory names
};

// Where a class definition read stopped inside a class too large for one result block. The
// read's handle names it; it holds the class's items, so that the next block goes on from
// there without gathering them again.
struct ClassContinuation {
  std::int32_t handle = 0;
  bool allClasses = false;
  std::size_t position = 0;   // of the class among the classes read
  std::size_t delivered = 0;  // items already handed out, over the five lists in turn
  std::array<std::vector<std::string>, kClassItemLists> items;
};

struct Context {
  std::optional<std::size_t> connection;
  // A new context works on the primary connection but names no tree until one is set, so
  // that the first tree change reads the tree's schema and reports a tree that cannot be read.
  bool treeSet = false;
  std::string nameContext;
  std::uint32_t flags = 0;
  // Reads that were left inside a class, latest last; handles count down from -2, since -1
  // ends a read and handles from 0 up are positions.
  std::deque<ClassContinuation> continuations;
  std::int32_t nextContinuation = -2;
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
