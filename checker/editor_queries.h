// What an editor asks about a plug-in file while it is written: what the text at an offset
// is, what may be written there, what a name means, where it is defined, and how a finding
// is corrected. Plain functions over the document's text, the tree's schema and the web
// application on disk; offsets and lengths count the document's UTF-8 bytes.
//
// The document is read by a tolerant scan of its text of our own, not by the XML parser:
// while the author types, the file is seldom well-formed (an element not yet closed, a tag
// half written), and the answers must point at bytes exactly. The scan keeps a stack of
// open elements: an end tag closes the open element of its name and every one inside it
// (an end tag not yet finished closes the innermost); a start tag first closes an innermost
// element that holds text but no element, or that is one of the value elements asked about
// here, since such an element was left unclosed; the end of the text closes what is still
// open, its value then ending before the blanks that follow it. Comments, CDATA sections,
// processing instructions and a document type declaration are stepped over; a tag not yet
// finished is ignored. Values resolve the predefined entities and character references.
// One pass over the text per question.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "scan_state.h"
#include "suggestions.h"

namespace corvane {

// A stretch of the document's bytes.
struct ByteRange {
  std::size_t offset = 0;
  std::size_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

// The document an editor holds.
struct EditorDocument {
  std::string_view text;  // UTF-8, as the editor has it, saved or not
  std::string path;       // where it lies: its web application is the part before "portal"
};

// The text element at an offset and the item around it.
struct EditorContext {
  std::string element;               // the text element's name; empty when the offset is in none
  std::string value;                 // its value, references resolved
  ByteRange valueRange;              // the bytes between its tags: what a completion replaces
  std::string item;                  // the item element around it (page, task, ...); empty outside one
  std::string itemId;                // that item's id
  std::vector<std::string> classes;  // the item's object-type-name values, in order
  std::string bundle;                // the resource-properties-file the element's keys are read from
};

// What the offset of text is in; see above for how a document that is not well-formed is read.
EditorContext ContextAt(std::string_view text, std::size_t offset);

// The tree's schema as the editor's questions read it: the names of a SchemaView, and each
// class's definition read through it once, on first use. schema must outlive it.
class SchemaFacts {
 public:
  struct ClassFacts {
    bool auxiliary = false;
    std::vector<std::string> superClasses;  // those the class names itself
    std::vector<std::string> must;          // inherited ones included, as the directory gives them
    std::vector<std::string> may;
    std::unordered_set<std::string> all;  // must and may, for lookups
  };

  explicit SchemaFacts(const SchemaView& schema) : schema_(schema) {}

  const SchemaView& view() const { return schema_; }
  // A class of the schema (letter case counts), or null.
  const ClassFacts* facts(std::string_view className);
  // Every superclass of a class, nearest first, each once.
  std::vector<std::string> ancestors(std::string_view className);
  // The class among className and its ancestors that declares attribute itself; empty for none.
  std::string declarer(std::string_view className, std::string_view attribute);
  // Every class of the schema that declares attribute itself; all classes are read the first time.
  const std::vector<std::string>& declaringClasses(std::string_view attribute);

 private:
  // Whether the class has attribute without any of the superclasses it names having it.
  bool declares(std::string_view className, std::string_view attribute);

  const SchemaView& schema_;
  std::map<std::string, ClassFacts, std::less<>> classes_;
  std::map<std::string, std::vector<std::string>, std::less<>> declaring_;  // built whole on first use
  bool declaringBuilt_ = false;
};

enum class CandidateKind : std::uint8_t { Class, Attribute, Key, Bundle, Id, Template };

// One name a completion offers.
struct Candidate {
  std::string label;     // the text inserted
  std::string detail;    // what it is, briefly: "MUST of User", "auxiliary: Mailbox"
  std::string sortText;  // orders the item's own names before the rest
  CandidateKind kind = CandidateKind::Class;
};

struct Completion {
  ByteRange range;  // what a chosen candidate replaces: the element's whole value
  std::vector<Candidate> candidates;
};

// What may be written in the value element at offset: object-type-name, attribute-name,
// display-name-key, resource-properties-file, role-assignment or merge-template.
std::optional<Completion> CompleteAt(const EditorDocument& doc, std::size_t offset, SchemaFacts& schema);

struct Hover {
  std::string markdown;
  ByteRange range;  // the value hovered
};

// What the name at offset means: a class, an attribute, a display-name key or a role assignment.
std::optional<Hover> HoverAt(const EditorDocument& doc, std::size_t offset, SchemaFacts& schema);

// A place in the document or in another file.
struct Location {
  std::string path;        // the file: the document's own path for a place in it
  std::size_t line = 0;    // counted from 0
  std::size_t column = 0;  // bytes from the line's start
  ByteRange range;         // in the document itself, the value there; empty in another file
};

// Where the name at offset is defined: a role assignment's id element in the document, a
// display-name key's line in its bundle, a bundle's properties file, a merge template's page.
std::optional<Location> DefinitionAt(const EditorDocument& doc, std::size_t offset);

// A change an editor can apply for a finding.
struct QuickFix {
  std::string title;
  std::string path;  // the file changed: empty for the document itself
  ByteRange range;   // what newText replaces in the document; for another file, newText is appended
  std::string newText;
  bool preferred = false;  // a certain correction, as --fix applies it
};

// The quick fix of a suggestion (see Suggester) for a document loaded from source; nothing when
// the element's text is not written there as it reads (a reference, a CDATA section).
std::optional<QuickFix> QuickFixOf(const Suggestion& suggestion, const XmlDocument& doc, std::string_view source);
// The quick fix of each of several suggestions for one document, as QuickFixOf gives it, the
// elements found in one pass over source.
std::vector<std::optional<QuickFix>> QuickFixesOf(std::span<const Suggestion> suggestions, const XmlDocument& doc,
                                                  std::string_view source);

}  // namespace corvane
