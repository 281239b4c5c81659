// The tree's schema as the protocol thread reads it for completion and hover.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "scan_state.h"
#include "string_list.h"

namespace corvane::lsp {

// A copy of a tree's schema that needs no directory: its lists and every class's definition,
// read once when the tree is chosen. The directory client serves one thread, the check
// worker's; a copy lets the protocol thread answer while a check runs, without waiting for it
// and without touching the client. Nothing changes after construction, so any thread may read it.
class EditorSchema {
 public:
  // Reads every class of schema through its directory: on the thread that owns the directory.
  explicit EditorSchema(const SchemaView& schema);
  EditorSchema(const EditorSchema&) = delete;
  EditorSchema& operator=(const EditorSchema&) = delete;
  ~EditorSchema() = default;

  // A view whose class reads answer from the copy.
  const SchemaView& view() const { return view_; }

 private:
  struct ClassDefinition {
    StringList attributes;
    std::int32_t attributesCode = 0;
    StringList superClasses;
    std::int32_t superClassesCode = 0;
  };

  std::unordered_map<std::string, ClassDefinition> classes_;
  SchemaView view_;
};

}  // namespace corvane::lsp
