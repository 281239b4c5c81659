// The directory side of a checking session: the client started once, one directory context,
// and the tree change that fills the schema lists the name rules look names up in.
#pragma once

#include <string>

#include "d_nw.h"
#include "scan_state.h"
#include "string_list.h"

namespace corvane {

class DirectorySession {
 public:
  DirectorySession() = default;
  DirectorySession(const DirectorySession&) = delete;
  DirectorySession& operator=(const DirectorySession&) = delete;
  // Frees the context.
  ~DirectorySession() { release(); }

  // Starts the client (an error box on failure) and creates the context; false when the
  // client could not start.
  bool start();
  // Whether start succeeded.
  bool started() const { return started_; }
  // The trees of the client's connections, each once, in the order found.
  StringList trees() const;
  // The tree of the primary connection, or empty.
  std::string primaryTree() const;

  // Points the context at a tree, as a change of the selected tree does: a failed change is
  // shown as "Error %04X: DSChangeCurrentTree" with the warnings written during the change as
  // its details, and the flag that marks the change is set in any case. Returns the code of
  // the change.
  ResultCode changeTree(const std::string& tree);
  // Replaces the schema lists with those of the context's tree (a failed read leaves what
  // was read before it) and lets the class cache read through the context.
  void readSchema(SchemaView& schema);
  // The same, and the attributes of the auxiliary classes, which only the window lists.
  void readSchema(SchemaView& schema, StringList& auxAttributes);
  // Name of the object logged in to the current tree, or empty.
  std::string myName() const { return context_ != 0 ? GetMyName(context_) : std::string(); }
  // Frees the context (the session ends; nothing may be read afterwards).
  void release();

 private:
  ContextHandle context_ = 0;
  bool started_ = false;
};

}  // namespace corvane
