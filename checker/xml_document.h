// A compact, read-only node tree of one XML document, built in one pass from libxml2's
// SAX2 interface. It keeps what the checker walks (elements, text, CDATA sections,
// comments, processing instructions) and drops whitespace-only text, as the console does
// when it reads a plug-in file.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
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
  // Children are counted up to this: whether a node has none, one or more is all that is asked.
  static constexpr std::uint8_t kManyChildren = 2;
  // Nodes are stored in document order, so a node's first child, if it has one, follows it.
  struct Node {
    Node() : name(0), kindBits(static_cast<std::uint32_t>(NodeKind::Element)), children(0) {}
    NodeKind kind() const { return static_cast<NodeKind>(kindBits); }

    std::uint32_t name : 27;     // index into the interned names
    std::uint32_t kindBits : 3;  // the NodeKind
    std::uint32_t children : 2;  // how many children, counted up to kManyChildren
    NodeId nextSibling = kNoNode;
    // An element's line and column, where its markup begins; the slice of the text arena of a
    // text node or a comment, whose own position lies in the arena just before its text.
    // Read through position() and text().
    std::uint32_t first = 0;
    std::uint32_t second = 0;
  };
  static_assert(sizeof(Node) == 16, "a node of a large document costs 16 bytes");
  // How many names a document may have: as many as a node's name can tell apart.
  static constexpr std::size_t kMaxNames = std::size_t{1} << 27;

  // The document element.
  NodeId root() const { return root_; }
  const Node& node(NodeId id) const { return at_.nodes[id]; }
  NodeId firstChild(NodeId id) const { return at_.nodes[id].children > 0 ? id + 1 : kNoNode; }
  std::size_t nodeCount() const { return nodes_.size(); }
  // Node name as a DOM gives it: qualified element name, "#text", "#comment",
  // "#cdata-section", or a processing instruction's target.
  std::string_view name(NodeId id) const { return at_.names[at_.nodes[id].name]; }
  // Comments before and after the document element, in order; they are children of no node.
  const std::vector<NodeId>& prologComments() const { return prolog_; }
  const std::vector<NodeId>& epilogComments() const { return epilog_; }
  // Comments inside the document element, in order.
  const std::vector<NodeId>& innerComments() const { return inner_; }
  // Value of a text node or a comment (empty for other kinds). Read through the arena's start
  // alone, which moves only when the arena grows: a load may be appending meanwhile.
  std::string_view text(NodeId id) const {
    const Node& n = at_.nodes[id];
    if (n.kind() != NodeKind::Text && n.kind() != NodeKind::Comment) return {};
    return {at_.text + n.first, n.second};
  }
  // Where an element or a comment begins; line 0 for other kinds.
  SourcePosition position(NodeId id) const;
  // How many elements hold a text node alone.
  std::size_t textElementCount() const { return textElements_; }
  // True for a node whose only child is a text node.
  bool isTextElement(NodeId id) const {
    const Node& n = at_.nodes[id];
    return n.children == 1 && at_.nodes[id + 1].kind() == NodeKind::Text;
  }
  // Text of a text element's one child.
  std::string_view elementText(NodeId id) const {
    const Node& n = at_.nodes[id + 1];
    return {at_.text + n.first, n.second};
  }
  // About how many bytes the document holds: its nodes and texts.
  std::size_t heldBytes() const {
    return nodes_.capacity() * sizeof(Node) + text_.capacity() + names_.capacity() * sizeof(std::string);
  }

 private:
  friend class XmlDocumentBuilder;
  // Where the storage below starts, read for every node, on a cache line of its own: a walk
  // beside the load reads it while the load moves the storage's ends on with every node,
  // and sharing their line would pass it from core to core each time. The load notes the
  // storage here whenever it moves, and walks read it only while it cannot move.
  struct alignas(64) Storage {
    const Node* nodes = nullptr;
    const std::string* names = nullptr;
    const char* text = nullptr;
  };
  void noteStorage() { at_ = {nodes_.data(), names_.data(), text_.data()}; }

  Storage at_;
  std::vector<Node> nodes_;
  std::vector<std::string> names_;
  std::string text_;
  NodeId root_ = kNoNode;
  std::size_t textElements_ = 0;
  std::vector<NodeId> prolog_;
  std::vector<NodeId> epilog_;
  std::vector<NodeId> inner_;
};

// Result of a load: the document, or why there is none.
struct LoadResult {
  std::unique_ptr<XmlDocument> document;
  std::optional<LoadError> error;
};

// Parses a file. External entities and DTDs are never loaded; internal entities may expand
// the document to ten times its size, or to 10 MB when that is more. A parse error's message
// ends with its line number and the first 40 characters of that line. Lines end at a LF, a
// CR LF or a lone CR, as XML reads them, here as in every position. With found, only the
// file a walk found is read (see OpenRegularFile).
LoadResult LoadXmlFile(const std::string& path, const FoundFile* found = nullptr);
// Parses a file whose bytes are kept in text (empty when it cannot be read); with found,
// only the file a walk found is read.
LoadResult LoadXmlFileKeepingText(const std::string& path, std::string& text, const FoundFile* found = nullptr);
// As LoadXmlFile, or with text as LoadXmlFileKeepingText, a file smaller than `below` bytes
// when it is opened; nothing for a larger one, which is left unread.
std::optional<LoadResult> LoadSmallXmlFile(const std::string& path, const FoundFile* found, std::uint64_t below,
                                           std::string* text = nullptr);
// Parses a document held in memory (the name is used in messages only).
LoadResult LoadXmlMemory(std::string_view content, const std::string& name = "memory");

// A file loaded as LoadXmlFile loads it, on a thread of its own, while the calling thread
// follows the document: the children of the document element are handed out as each is
// finished, so that a walk over them runs beside the parse.
class StreamedLoad {
 public:
  // Finished children of the document element, in document order.
  struct Part {
    const XmlDocument* document = nullptr;
    NodeId root = kNoNode;
    std::size_t expectedNodes = 0;  // how many nodes the whole document may have, generously
    std::vector<NodeId> children;
  };

  // Loads a file as LoadXmlFile does; with kept, as LoadXmlFileKeepingText does, the file's
  // bytes kept there (complete once the load has ended).
  StreamedLoad(const std::string& path, const std::optional<FoundFile>& found, std::string* kept = nullptr);
  ~StreamedLoad();
  StreamedLoad(const StreamedLoad&) = delete;
  StreamedLoad& operator=(const StreamedLoad&) = delete;

  // Waits for children not handed out yet and puts them in part, with the document and its
  // root once they exist; false, with no children, once the load has ended and every child
  // was handed out.
  bool next(Part& part);
  // Held while the nodes handed out are read: the load's storage does not move meanwhile.
  std::shared_lock<std::shared_mutex> reading() { return std::shared_lock(storage_); }
  // Waits for the load's end; its result, once.
  LoadResult result();

 private:
  friend class XmlDocumentBuilder;

  // Starts the load on its thread; name: the document's name in messages.
  template <typename Load>
  void run(const std::string& name, Load load);
  // The loading thread's side: the document element exists; children are finished (taken
  // from the vector); the load ended with its result.
  void start(const XmlDocument& document, NodeId root, std::size_t expectedNodes);
  void handOut(std::vector<NodeId>& children);
  void end(LoadResult result);

  std::shared_mutex storage_;  // taken alone by the load while the document's storage grows
  std::mutex mutex_;           // guards what follows
  std::condition_variable changed_;
  const XmlDocument* document_ = nullptr;
  NodeId root_ = kNoNode;
  std::size_t expectedNodes_ = 0;
  std::vector<NodeId> finished_;
  bool ended_ = false;
  // The document while it is built, and after a failed load, as the walk may still be reading it.
  std::unique_ptr<XmlDocument> built_;
  LoadResult result_;
  std::thread thread_;
};

}  // namespace corvane
