// A compact, read-only node tree of one XML document, built in one pass from libxml2's
// SAX2 interface. It keeps what the checker walks (elements, text, CDATA sections,
// comments, processing instructions) and drops whitespace-only text, as the console does
// when it reads a plug-in file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_read.h"

namespace corvane {

using NodeId = std::uint32_t;
inline constexpr NodeId kNoNode = UINT32_MAX;

enum class NodeKind : std::uint8_t { Element, Text, CData, Comment, ProcessingInstruction };

// A place in the source text, both counted from 1; line 0 for nowhere.
struct SourcePosition {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

// Where a load failed; line and column are 0 when the parser did not give them.
struct LoadError {
  std::string message;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  bool unreadable = false;  // the file could not be opened or read at all
};

class XmlDocument {
 public:
  struct Node {
    std::uint32_t name = 0;  // index into the interned names
    NodeId firstChild = kNoNode;
    NodeId nextSibling = kNoNode;
    std::uint32_t childCount = 0;
    std::uint32_t textBegin = 0;  // text nodes and comments only: slice of the text arena
    std::uint32_t textLength = 0;
    std::uint32_t line = 0;  // elements and comments only: where the markup begins
    std::uint32_t column = 0;
    NodeKind kind = NodeKind::Element;
  };

  // The document element.
  NodeId root() const { return root_; }
  const Node& node(NodeId id) const { return nodes_[id]; }
  std::size_t nodeCount() const { return nodes_.size(); }
  // Node name as a DOM gives it: qualified element name, "#text", "#comment",
  // "#cdata-section", or a processing instruction's target.
  std::string_view name(NodeId id) const { return names_[nodes_[id].name]; }
  // Comments before and after the document element, in order; they are children of no node.
  const std::vector<NodeId>& prologComments() const { return prolog_; }
  const std::vector<NodeId>& epilogComments() const { return epilog_; }
  // Value of a text node or a comment (empty for other kinds).
  std::string_view text(NodeId id) const {
    return std::string_view(text_).substr(nodes_[id].textBegin, nodes_[id].textLength);
  }
  // True for a node whose only child is a text node.
  bool isTextElement(NodeId id) const {
    const Node& n = nodes_[id];
    return n.childCount == 1 && nodes_[n.firstChild].kind == NodeKind::Text;
  }
  // Text of a text element's one child.
  std::string_view elementText(NodeId id) const { return text(nodes_[id].firstChild); }

 private:
  friend class XmlDocumentBuilder;
  std::vector<Node> nodes_;
  std::vector<std::string> names_;
  std::string text_;
  NodeId root_ = kNoNode;
  std::vector<NodeId> prolog_;
  std::vector<NodeId> epilog_;
};

// Result of a load: the document, or why there is none.
struct LoadResult {
  std::unique_ptr<XmlDocument> document;
  std::optional<LoadError> error;
};

// Parses a file. External entities and DTDs are never loaded; internal entities may expand
// the document to ten times its size, or to 10 MB when that is more. A parse error's message
// ends with its line number and the first 40 characters of that line. Lines end at a LF, a
// CR LF or a lone CR, as XML reads them, here as in every position. With expected, only that
// very file is read (see OpenRegularFile).
LoadResult LoadXmlFile(const std::string& path, const FileIdentity* expected = nullptr);
// Parses a file whose bytes are kept in text (empty when it cannot be read); with expected,
// only that very file is read.
LoadResult LoadXmlFileKeepingText(const std::string& path, std::string& text, const FileIdentity* expected = nullptr);
// Parses a document held in memory (the name is used in messages only).
LoadResult LoadXmlMemory(std::string_view content, const std::string& name = "memory");

}  // namespace corvane
