// Corrections of findings: the one routine behind every offer to correct a name, whoever
// shows or applies it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "plain_sinks.h"
#include "scan_state.h"

namespace corvane {

// Text added at the end of a file other than the checked one.
struct FileAppend {
  std::string path;  // the file
  std::string text;  // appended whole; it ends with a line feed
};

// A finding's correction: the text of a text element replaced, or a line added to a bundle.
struct Suggestion {
  NodeId element = kNoNode;      // the text element whose text is wrong
  std::string text;              // the text it should have
  std::string_view description;  // what the change does, for a reader
  // False for a guess (the nearest name): offered to a reader, never applied unasked.
  bool certain = true;
  // Set instead of text for a key missing from its bundle: element is the key's, kept as it is.
  std::optional<FileAppend> append;
};

// Finds the corrections of a tree's findings. The schema's names are indexed once, so each
// finding costs a lookup, or a bounded comparison with the names of about its length.
class Suggester {
 public:
  explicit Suggester(const SchemaView& schema);

  // The correction of message, found in tree and doc, when it has one: for Msg 009 the class
  // name with "_" for each blank; for Msg 001 and Msg 006 the schema's spelling of the name,
  // when exactly one schema name equals the written one with letter case ignored, or else,
  // as a guess, the one schema name nearest to it (at most two letters inserted, deleted or
  // changed, letter case ignored; none on a tie). With the web application's root, for
  // Msg 003 the line "key=" appended to the bundle's properties file.
  std::optional<Suggestion> of(const Message& message, const PlainTree& tree, const XmlDocument& doc,
                               std::string_view webAppRoot = {}) const {
    return of(message.code, message.text, PointedItem(message), tree, doc, webAppRoot);
  }
  // The same for a message of code and text about the item at (its source item, else its item).
  std::optional<Suggestion> of(int code, std::string_view text, TreeItem at, const PlainTree& tree,
                               const XmlDocument& doc, std::string_view webAppRoot = {}) const;

 private:
  // The written names in upper case, each with the one schema name of that spelling, or
  // nothing when several differ only in letter case; beside them the names by length.
  struct Names {
    std::unordered_map<std::string, std::optional<std::string>> spellings;
    std::vector<std::vector<std::string>> byLength;  // the keys of spellings, by their length
  };

  static Names Index(const StringList& names);
  // The one name nearest to written, when it is near enough; see of.
  static std::optional<std::string> NearestOf(const Names& names, std::string_view written);

  Names classes_;
  Names attributes_;
};

}  // namespace corvane
