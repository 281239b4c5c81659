#include "suppression.h"

#include <algorithm>
#include <unordered_map>

#include "catalogue.h"
#include "d_util.h"

namespace corvane::cli {

namespace {

constexpr std::uint32_t kFileScope = 0;
constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::string_view kDirectiveName = "corvanexml-check";
constexpr std::string_view kDisable = "disable";
constexpr std::string_view kDisableCodes = "disable=";

std::string WithoutBlanksAround(std::string_view text) { return TrimRightChars(TrimLeftChars(text, kBlanks), kBlanks); }

// Whether a comment is meant as a directive: its first word names the checker.
bool NamesTheChecker(std::string_view comment) {
  const std::string_view text = comment.substr(std::min(comment.find_first_not_of(kBlanks), comment.size()));
  return text.substr(0, text.find_first_of(kBlanks)) == kDirectiveName;
}

// The codes a comment's directive silences. Nothing, with error empty, for a comment that is
// no directive; nothing, with error set, for one that names the checker but is wrong.
std::optional<CodeSet> ParseDirective(std::string_view comment, std::string& error) {
  if (!NamesTheChecker(comment)) return std::nullopt;
  const std::string text = WithoutBlanksAround(comment);
  const std::size_t blank = text.find_first_of(kBlanks);
  const std::string rest = blank == std::string::npos ? std::string() : TrimLeftChars(text.substr(blank), kBlanks);
  if (rest == kDisable) return CodeSet().set();
  if (rest.starts_with(kDisableCodes)) return ParseCodes(std::string_view(rest).substr(kDisableCodes.size()), error);
  error = "expected \"disable\" or \"disable=CODE,...\" after \"corvanexml-check\"";
  return std::nullopt;
}

}  // namespace

Suppressions::Suppressions() : scopes_{{kFileScope, {}, {}, {}, {}}} {}

Suppressions::Suppressions(const PlainTree& tree, const XmlDocument& doc) : Suppressions() {
  for (const NodeId comment : doc.prologComments()) {
    if (const auto directive = read(doc, comment)) scopes_[kFileScope].directives.push_back(*directive);
  }
  gatherCodes(kFileScope);
  const std::vector<NodeId>& inner = doc.innerComments();
  if (std::any_of(inner.begin(), inner.end(), [&](NodeId c) { return NamesTheChecker(doc.text(c)); })) {
    openScopes(tree, doc);
  }
  // Directives after the document element have no element to hold for: they are read for
  // their problems and stay unused.
  for (const NodeId comment : doc.epilogComments()) read(doc, comment);
}

void Suppressions::openScopes(const PlainTree& tree, const XmlDocument& doc) {
  // One pass over the items in pre-order: a directive waits, by its parent, for the next
  // element among its siblings, which opens a scope inside the scope around it.
  const auto& items = tree.items();
  std::unordered_map<TreeItem, std::vector<std::uint32_t>> waiting;
  for (TreeItem i = 0; i < items.size(); ++i) {
    const NodeId node = items[i].node;
    if (node == kNoNode) continue;  // the file's own item
    const TreeItem parent = items[i].parent;
    if (!scopeOf_.empty()) scopeOf_[i] = scopeOf_[parent];
    const NodeKind kind = doc.node(node).kind();
    if (kind == NodeKind::Comment) {
      const auto directive = read(doc, node);
      if (!directive) continue;
      if (scopeOf_.empty()) scopeOf_.assign(items.size(), kFileScope);
      waiting[parent].push_back(*directive);
    } else if (kind == NodeKind::Element) {
      const auto found = waiting.find(parent);
      if (found == waiting.end()) continue;
      scopes_.push_back({scopeOf_[i], std::move(found->second), {}, {}, {}});
      waiting.erase(found);
      scopeOf_[i] = static_cast<std::uint32_t>(scopes_.size() - 1);
      gatherCodes(scopeOf_[i]);
    }
  }
  // Directives still waiting have no element to hold for: they stay unused.
}

void Suppressions::gatherCodes(std::uint32_t scope) {
  Scope& s = scopes_[scope];
  for (const std::uint32_t d : s.directives) s.own |= directives_[d].codes;
  s.silenced = s.own;
  if (scope != kFileScope) s.silenced |= scopes_[s.parent].silenced;
}

std::optional<std::uint32_t> Suppressions::read(const XmlDocument& doc, NodeId comment) {
  std::string error;
  const auto codes = ParseDirective(doc.text(comment), error);
  if (!error.empty()) problems_.push_back({comment, std::move(error)});
  if (!codes) return std::nullopt;
  directives_.push_back({comment, *codes});
  return static_cast<std::uint32_t>(directives_.size() - 1);
}

bool Suppressions::silences(TreeItem item, int code) {
  std::uint32_t scope = item == kNoItem || scopeOf_.empty() ? kFileScope : scopeOf_[item];
  const auto bit = static_cast<std::size_t>(code);
  if (!scopes_[scope].silenced.test(bit)) return false;
  // Up to the scope whose directive silences the code, marking it used. A scope passed once
  // for a code is not passed again for it, so nesting costs each finding nothing extra.
  for (;;) {
    ++scopeVisits_;
    Scope& s = scopes_[scope];
    if (s.settled.test(bit)) return true;
    s.settled.set(bit);
    if (s.own.test(bit)) {
      const auto first = std::find_if(s.directives.begin(), s.directives.end(),
                                      [&](std::uint32_t d) { return directives_[d].codes.test(bit); });
      directives_[*first].used = true;
      return true;
    }
    scope = s.parent;
  }
}

std::vector<NodeId> Suppressions::unused() const {
  std::vector<NodeId> comments;
  for (const Directive& d : directives_) {
    if (!d.used) comments.push_back(d.comment);
  }
  return comments;
}

std::vector<ReportedMessage> UnusedDirectives(const Suppressions& directives, const XmlDocument& doc,
                                              TextBlocks& texts) {
  std::vector<ReportedMessage> findings;
  for (const NodeId comment : directives.unused()) {
    findings.push_back(MessageAtNode(doc, comment, "Unused directive: " + WithoutBlanksAround(doc.text(comment)),
                                     kUnusedDirective, texts));
  }
  return findings;
}

std::vector<ListedMessage> RemoveSilenced(std::vector<ListedMessage>& messages, const CodeSet& ignored,
                                          Suppressions& directives) {
  // The kept messages move up in place: a long list is not held twice.
  std::vector<ListedMessage> silenced;
  std::size_t kept = 0;
  for (const ListedMessage& m : messages) {
    if (ignored.test(static_cast<std::size_t>(m.code))) continue;
    // A Msg 100 says the file was not checked through: no directive in it can speak for that.
    const bool silence = m.code != kXmlError && directives.silences(PointedItem(m), m.code);
    if (silence) {
      silenced.push_back(m);
    } else {
      messages[kept++] = m;
    }
  }
  messages.resize(kept);
  return silenced;
}

}  // namespace corvane::cli
