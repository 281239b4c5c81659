#include "suggestions.h"

#include <algorithm>

#include "catalogue.h"
#include "d_util.h"
#include "file_read.h"
#include "web_app.h"

namespace corvane {

namespace {

constexpr std::string_view kSchemaSpelling = "Use the schema's spelling.";
constexpr std::string_view kBlanksToUnderscores = "Write \"_\" for each blank.";
constexpr std::string_view kNearestName = "Use the schema's nearest name (a guess: check it is the one meant).";
constexpr std::string_view kAddKey = "Add the key to the bundle.";

// How far a name may be from the one written for a guess.
constexpr std::size_t kMostEdits = 2;

// The edit distance of a and b when it is at most bound, else bound + 1. Only the band of
// cells within bound of the diagonal can stay within it, and a row beyond it ends the count.
std::size_t BoundedDistance(std::string_view a, std::string_view b, std::size_t bound) {
  if (std::max(a.size(), b.size()) - std::min(a.size(), b.size()) > bound) return bound + 1;
  const std::size_t over = bound + 1;
  std::vector<std::size_t> row(b.size() + 1);
  std::vector<std::size_t> next(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = std::min(j, over);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    const std::size_t first = i > bound ? i - bound : 1;
    const std::size_t last = std::min(b.size(), i + bound);
    next[0] = std::min(i, over);
    if (first > 1) next[first - 1] = over;
    std::size_t best = next[0];
    for (std::size_t j = first; j <= last; ++j) {
      const std::size_t change = row[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      next[j] = std::min({change, row[j] + 1, next[j - 1] + 1, over});
      best = std::min(best, next[j]);
    }
    if (last < b.size()) next[last + 1] = over;
    if (best > bound) return over;
    std::swap(row, next);
  }
  return row[b.size()];
}

// The url parameter value a Msg 009 at `at` is about: the last "param-value" of its
// url-param up to `at`, when the message names that very value. An eDirSearch key may
// follow its value, so the message may stand at the key or at a later element.
std::optional<NodeId> BadClassNameValue(std::string_view text, const PlainTree& tree, const XmlDocument& doc,
                                        TreeItem at) {
  const TreeItem parent = tree.items()[at].parent;
  if (parent == kNoItem || tree.items()[parent].node == kNoNode) return std::nullopt;
  const NodeId last = tree.items()[at].node;
  std::optional<NodeId> value;
  for (NodeId n = doc.firstChild(tree.items()[parent].node); n != kNoNode; n = doc.node(n).nextSibling) {
    if (doc.name(n) == "param-value" && doc.isTextElement(n)) value = n;
    if (n == last) break;
  }
  if (!value || text != FormatMessage(kBadClassName, doc.elementText(*value))) return std::nullopt;
  return value;
}

// The bundle and key a Msg 003 names, when its key is the written text as the rules look it
// up (a translator's name with its prefix); nothing when the message is about another key.
std::optional<std::pair<std::string, std::string>> MissingKey(std::string_view text, std::string_view written) {
  constexpr std::string_view kPrefixes[] = {"", "Attribute.", "ObjectType."};
  // The catalogue's text ends with "<bundle>/<key>".
  const std::string empty = FormatMessage(kKeyNotFound, "", "");
  const std::string_view lead = std::string_view(empty).substr(0, empty.rfind('/'));
  for (const std::string_view prefix : kPrefixes) {
    std::string key = std::string(prefix).append(written);
    const std::string tail = "/" + key;
    if (text.size() < lead.size() + tail.size() || !text.starts_with(lead) || !text.ends_with(tail)) continue;
    std::string bundle(text.substr(lead.size(), text.size() - lead.size() - tail.size()));
    if (FormatMessage(kKeyNotFound, bundle, key) == text) return std::pair{std::move(bundle), std::move(key)};
  }
  return std::nullopt;
}

// The line "key=" appended to the bundle's properties file, after a line end when the file
// lacks its last one. Keys with blanks are looked up with "_" for them, and so written.
std::optional<Suggestion> AddKeySuggestion(std::string_view text, NodeId node, std::string_view written,
                                           std::string_view webAppRoot) {
  if (webAppRoot.empty()) return std::nullopt;
  const auto missing = MissingKey(text, written);
  if (!missing) return std::nullopt;
  std::string path = PropertiesPath(webAppRoot, missing->first);
  std::string reason;
  const std::optional<std::string> content = ReadRegularFile(path, reason);
  if (!content) return std::nullopt;
  std::string line;
  if (!content->empty() && content->back() != '\n' && content->back() != '\r') line.push_back('\n');
  line.append(ReplaceChars(missing->second, " ", '_')).append("=\n");
  return Suggestion{node, {}, kAddKey, true, FileAppend{std::move(path), std::move(line)}};
}

}  // namespace

Suggester::Suggester(const SchemaView& schema)
    : classes_(Index(schema.SchemaClassList)), attributes_(Index(schema.SchemaAttributeList)) {}

Suggester::Names Suggester::Index(const StringList& list) {
  Names names;
  for (const StringList::Entry& name : list.entries()) {
    const auto [it, added] = names.spellings.try_emplace(UpperCaseAscii(name.text), name.text);
    if (!added && it->second != name.text) it->second.reset();
    if (!added) continue;
    if (names.byLength.size() <= it->first.size()) names.byLength.resize(it->first.size() + 1);
    names.byLength[it->first.size()].push_back(it->first);
  }
  return names;
}

std::optional<std::string> Suggester::NearestOf(const Names& names, std::string_view written) {
  const std::string folded = UpperCaseAscii(written);
  const std::string* nearest = nullptr;
  std::size_t bound = kMostEdits;
  bool tie = false;
  const std::size_t shortest = folded.size() > kMostEdits ? folded.size() - kMostEdits : 0;
  for (std::size_t length = shortest; length <= folded.size() + kMostEdits && length < names.byLength.size();
       ++length) {
    for (const std::string& name : names.byLength[length]) {
      const std::size_t distance = BoundedDistance(folded, name, bound);
      if (distance > bound) continue;
      tie = distance == bound && nearest != nullptr;
      if (!tie) nearest = &name;
      bound = distance;
    }
  }
  if (nearest == nullptr || tie) return std::nullopt;
  // Names that differ only in letter case are no one name either.
  return names.spellings.at(*nearest);
}

std::optional<Suggestion> Suggester::of(int code, std::string_view text, TreeItem at, const PlainTree& tree,
                                        const XmlDocument& doc, std::string_view webAppRoot) const {
  if (at >= tree.items().size()) return std::nullopt;
  const NodeId node = tree.items()[at].node;
  if (node == kNoNode || !doc.isTextElement(node)) return std::nullopt;
  const std::string_view written = doc.elementText(node);
  switch (code) {
    case kAttributeNotFound:
    case kClassNotFound: {
      const Names& names = code == kClassNotFound ? classes_ : attributes_;
      // A name the schema has with letter case ignored is never guessed at.
      if (const auto it = names.spellings.find(UpperCaseAscii(written)); it != names.spellings.end()) {
        if (!it->second || *it->second == written) return std::nullopt;
        return Suggestion{node, *it->second, kSchemaSpelling, true, std::nullopt};
      }
      std::optional<std::string> nearest = NearestOf(names, written);
      if (!nearest) return std::nullopt;
      return Suggestion{node, std::move(*nearest), kNearestName, false, std::nullopt};
    }
    case kKeyNotFound: return AddKeySuggestion(text, node, written, webAppRoot);
    case kBadClassName: {
      const std::optional<NodeId> value = BadClassNameValue(text, tree, doc, at);
      if (!value) return std::nullopt;
      return Suggestion{*value, ReplaceChars(doc.elementText(*value), " ", '_'), kBlanksToUnderscores, true,
                        std::nullopt};
    }
    default: return std::nullopt;
  }
}

}  // namespace corvane
