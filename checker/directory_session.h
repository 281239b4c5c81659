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
  ~DirectorySession();

  // Starts the client (an error box on failure) and creates the context; false when the
  // client could not start.
  bool start();
  // Whether start succeeded.
  bool started() const { return started_; }
  // The trees of the client's connections, each once, in the order found.
  StringList trees() const;
  // The tree of the primary connection, or empty.
  std::string primaryTree() const;

  // Points the context at a tree and reads its schema into the lists, as a change of the
  // selected tree does: a failed change is shown as "Error %04X: DSChangeCurrentTree" and
  // the lists are read all the same. Returns the code of the change.
  ResultCode changeTree(const std::string& tree, SchemaView& schema, StringList& auxAttributes);

 private:
  ContextHandle context_ = 0;
  bool started_ = false;
};

}  // namespace corvane
