// Corrections of findings: the one routine behind every offer to correct a name, whoever
// shows or applies it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "plain_sinks.h"
#include "scan_state.h"

namespace corvane {

// A finding's one certain correction: the text of a text element replaced.
struct Suggestion {
  NodeId element = kNoNode;      // the text element whose text is wrong
  std::string text;              // the text it should have
  std::string_view description;  // what the change does, for a reader
};

// Finds the corrections of a tree's findings. The schema's names are indexed once, so each
// finding costs a lookup, however large the schema.
class Suggester {
 public:
  explicit Suggester(const SchemaView& schema);

  // The correction of message, found in tree and doc, when it has exactly one: for Msg 009
  // the class name with "_" for each blank; for Msg 001 and Msg 006 the schema's spelling of
  // the name, when exactly one schema name equals the written one with letter case ignored.
  std::optional<Suggestion> of(const Message& message, const PlainTree& tree, const XmlDocument& doc) const;

 private:
  // The written names in upper case, each with the one schema name of that spelling, or
  // nothing when several differ only in letter case.
  using Spellings = std::unordered_map<std::string, std::optional<std::string>>;

  static Spellings Index(const StringList& names);
  static std::optional<std::string> SpellingOf(const Spellings& spellings, std::string_view written);

  Spellings classes_;
  Spellings attributes_;
};

}  // namespace corvane
