// Tree and message list kept as plain data, for the command-line program and the tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sinks.h"
#include "text_blocks.h"
#include "vector_room.h"
#include "xml_document.h"

namespace corvane {

// An item's index in half the room: a tree has fewer than 2^32 items.
class CompactItem {
 public:
  CompactItem(TreeItem item) : index_(item == kNoItem ? kNone : static_cast<std::uint32_t>(item)) {}  // NOLINT
  operator TreeItem() const { return index_ == kNone ? kNoItem : index_; }                            // NOLINT

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  std::uint32_t index_;
};

// Items are added depth-first, so their order is the tree's pre-order. Labels of document
// nodes are not stored: they are made again from the document when asked for.
class PlainTree : public TreeSink {
 public:
  struct Item {
    static constexpr std::uint32_t kTextElement = 1U << 30;  // added as a text element: labelled "name: text"
    static constexpr std::uint32_t kExpanded = 1U << 31;
    static constexpr std::uint32_t kDepth = kTextElement - 1;  // the parser nests elements far less deeply

    std::uint32_t depth() const { return depthAndFlags & kDepth; }
    bool textElement() const { return (depthAndFlags & kTextElement) != 0; }
    bool expanded() const { return (depthAndFlags & kExpanded) != 0; }

    CompactItem parent = kNoItem;
    NodeId node = kNoNode;
    std::int32_t text = -1;  // index into texts_ when the label is stored or was replaced
    // One word, made whole before it is stored: bit fields would be merged into the new
    // item's memory, and reading fresh memory before writing it costs a second page fault.
    std::uint32_t depthAndFlags = 0;
  };
  static_assert(sizeof(Item) == 16, "an item of a large document costs 16 bytes");

  TreeItem addChild(TreeItem parent, const ItemLabel& label, NodeId node) override;
  void setText(TreeItem item, std::string_view text) override;
  void expand(TreeItem item) override;
  void clear() override;
  void reserve(std::size_t items) override { ReserveInHugePages(items_, items + 2); }

  const std::vector<Item>& items() const { return items_; }
  // The item's label; document node labels are read from doc.
  std::string label(TreeItem item, const XmlDocument* doc) const;
  // The length of the longest label the tree was given.
  std::size_t longestLabel() const { return longestLabel_; }
  // Labels from the top-level item down to item.
  std::vector<std::string> labelPath(TreeItem item, const XmlDocument* doc) const;
  // Where a message points in the source: the element that holds what is wrong (the
  // message's source item, else its item); line 0 when it points nowhere.
  SourcePosition positionOf(const Message& message, const XmlDocument* doc) const {
    return positionAt(PointedItem(message), doc);
  }
  // Where the element of item `at` starts; line 0 when it stands for none.
  SourcePosition positionAt(TreeItem at, const XmlDocument* doc) const;

 private:
  // Keeps a label's text; its index in texts_.
  std::int32_t keepText(std::string_view text);

  std::vector<Item> items_;
  std::vector<std::string_view> texts_;  // into textBlocks_
  TextBlocks textBlocks_;
  std::size_t longestLabel_ = 0;
};

// A line of a PlainMessages list, its text where the list keeps it.
struct ListedMessage {
  std::string_view text;
  int code = 0;
  TreeItem item = kNoItem;
  TreeItem source = kNoItem;
};

// Texts are kept in blocks (TextBlocks): a check of a large file may add hundreds of
// thousands of lines.
class PlainMessages : public MessageList {
 public:
  void add(Message message) override;
  void clear() override;
  bool empty() const { return texts_.empty(); }
  // The lines in the order they were added.
  std::vector<Message> lines() const;
  // The lines in the list's order: ascending, letter case ignored, equal lines in the
  // order they were added.
  std::vector<Message> sorted() const;
  // The same lines, their texts left where the list keeps them: in the blocks that takeTexts
  // hands over, or until the list is cleared.
  std::vector<ListedMessage> listed() const;
  // The lines as listed() has them, in the order they were added.
  std::vector<ListedMessage> added() const;
  // Hands over the blocks that hold the lines' texts; the list is left empty.
  TextBlocks takeTexts();

 private:
  // A message's code and items, in half the room.
  struct Tag {
    std::int32_t code;
    CompactItem item;
    CompactItem source;
  };

  Message line(std::size_t i) const { return {std::string(texts_[i]), tags_[i].code, tags_[i].item, tags_[i].source}; }
  ListedMessage listedLine(std::size_t i) const { return {texts_[i], tags_[i].code, tags_[i].item, tags_[i].source}; }

  std::vector<std::string_view> texts_;  // into blocks_
  std::vector<Tag> tags_;
  TextBlocks blocks_;
};

}  // namespace corvane
