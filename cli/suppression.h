// Inline suppression: a comment "corvanexml-check disable=Msg003,Msg004" ("disable" alone:
// every code) silences findings in the element that follows it and everything inside that
// element, or in the whole file when it stands before the document element. One with no
// element after it (after the document element, or after an element's last child) silences
// nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plain_sinks.h"
#include "report.h"
#include "rule_info.h"
#include "xml_document.h"

namespace corvane::cli {

class Suppressions {
 public:
  // A comment that starts with the checker's name but is no directive it understands.
  struct Problem {
    NodeId comment;
    std::string what;
  };

  // No directives: nothing is silenced.
  Suppressions();
  // The directives of a document whose items the tree holds.
  Suppressions(const PlainTree& tree, const XmlDocument& doc);

  // Whether a directive silences code at item (kNoItem: the file as a whole); the nearest
  // directive that does counts as used (the first of those in one place).
  bool silences(TreeItem item, int code);
  // The comments of the directives that silenced nothing, in document order.
  std::vector<NodeId> unused() const;
  const std::vector<Problem>& problems() const { return problems_; }
  // Scopes silences() has looked at so far; tests use it to see lookups stay linear.
  std::size_t scopeVisits() const { return scopeVisits_; }

 private:
  struct Directive {
    NodeId comment;
    CodeSet codes;
    bool used = false;
  };
  // The directives that hold for an element and everything inside it, and the scope around.
  struct Scope {
    std::uint32_t parent;
    std::vector<std::uint32_t> directives;
    CodeSet own;       // the codes its directives silence
    CodeSet silenced;  // the codes it or a scope around it silences
    CodeSet settled;   // codes whose directive was found from here: what lies above is marked
  };

  // Reads the directive a comment holds, if any; returns its index.
  std::optional<std::uint32_t> read(const XmlDocument& doc, NodeId comment);
  // Opens the scopes of the directives inside the document element, and reads them.
  void openScopes(const PlainTree& tree, const XmlDocument& doc);
  // Gives a scope's directives their codes; the scope around must have its own already.
  void gatherCodes(std::uint32_t scope);

  std::vector<Directive> directives_;
  std::vector<Scope> scopes_;           // scopes_[0]: the whole file
  std::vector<std::uint32_t> scopeOf_;  // by tree item; empty while every item lies in the file's scope
  std::vector<Problem> problems_;
  std::size_t scopeVisits_ = 0;
};

// A finding for each directive that silenced nothing, at its comment:
// "Unused directive: corvanexml-check disable=Msg003".
std::vector<ReportedMessage> UnusedDirectives(const Suppressions& directives, const XmlDocument& doc,
                                              TextBlocks& texts);

// Removes the messages whose code is ignored or that a directive silences, where each points
// (its source element, else its item), and returns those a directive silenced. No directive
// silences a Msg 100.
std::vector<ListedMessage> RemoveSilenced(std::vector<ListedMessage>& messages, const CodeSet& ignored,
                                          Suppressions& directives);

}  // namespace corvane::cli
