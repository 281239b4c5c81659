#include "suggestions.h"

#include "catalogue.h"
#include "d_util.h"

namespace corvane {

namespace {

constexpr std::string_view kSchemaSpelling = "Use the schema's spelling.";
constexpr std::string_view kBlanksToUnderscores = "Write \"_\" for each blank.";

// The url parameter value a Msg 009 at `at` is about: the last "param-value" of its
// url-param up to `at`, when the message names that very value. An eDirSearch key may
// follow its value, so the message may stand at the key or at a later element.
std::optional<NodeId> BadClassNameValue(const Message& message, const PlainTree& tree, const XmlDocument& doc,
                                        TreeItem at) {
  const TreeItem parent = tree.items()[at].parent;
  if (parent == kNoItem || tree.items()[parent].node == kNoNode) return std::nullopt;
  const NodeId last = tree.items()[at].node;
  std::optional<NodeId> value;
  for (NodeId n = doc.firstChild(tree.items()[parent].node); n != kNoNode; n = doc.node(n).nextSibling) {
    if (doc.name(n) == "param-value" && doc.isTextElement(n)) value = n;
    if (n == last) break;
  }
  if (!value || message.text != FormatMessage(kBadClassName, doc.elementText(*value))) return std::nullopt;
  return value;
}

}  // namespace

Suggester::Suggester(const SchemaView& schema)
    : classes_(Index(schema.SchemaClassList)), attributes_(Index(schema.SchemaAttributeList)) {}

Suggester::Spellings Suggester::Index(const StringList& names) {
  Spellings spellings;
  for (const StringList::Entry& name : names.entries()) {
    const auto [it, added] = spellings.try_emplace(UpperCaseAscii(name.text), name.text);
    if (!added && it->second != name.text) it->second.reset();
  }
  return spellings;
}

std::optional<std::string> Suggester::SpellingOf(const Spellings& spellings, std::string_view written) {
  const auto it = spellings.find(UpperCaseAscii(written));
  if (it == spellings.end() || it->second == written) return std::nullopt;
  return it->second;
}

std::optional<Suggestion> Suggester::of(const Message& message, const PlainTree& tree, const XmlDocument& doc) const {
  const TreeItem at = message.source != kNoItem ? message.source : message.item;
  if (at >= tree.items().size()) return std::nullopt;
  const NodeId node = tree.items()[at].node;
  if (node == kNoNode || !doc.isTextElement(node)) return std::nullopt;
  const std::string_view written = doc.elementText(node);
  switch (message.code) {
    case kAttributeNotFound:
    case kClassNotFound: {
      const Spellings& names = message.code == kClassNotFound ? classes_ : attributes_;
      std::optional<std::string> spelling = SpellingOf(names, written);
      if (!spelling) return std::nullopt;
      return Suggestion{node, std::move(*spelling), kSchemaSpelling};
    }
    case kBadClassName: {
      const std::optional<NodeId> value = BadClassNameValue(message, tree, doc, at);
      if (!value) return std::nullopt;
      return Suggestion{*value, ReplaceChars(doc.elementText(*value), " ", '_'), kBlanksToUnderscores};
    }
    default: return std::nullopt;
  }
}

}  // namespace corvane
