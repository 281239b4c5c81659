// The two small interfaces through which the checker reports: a tree of labelled items and
// a list of message lines. The window implements them with widgets, the command-line
// program and the tests with plain data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xml_document.h"

namespace corvane {

using TreeItem = std::size_t;
inline constexpr TreeItem kNoItem = SIZE_MAX;

// What an item shows: a node name alone, or "name: text" for a text element. Sinks that
// never display most labels may keep the views (valid while the document lives) and
// format on demand.
struct ItemLabel {
  std::string_view name;
  std::string_view value;
  bool isTextElement = false;

  std::string str() const;
  // The length of str(), without making it.
  std::size_t size() const { return isTextElement ? name.size() + 2 + value.size() : name.size(); }
};

class TreeSink {
 public:
  virtual ~TreeSink() = default;
  // Appends an item under parent (kNoItem: a top-level item); node is the document node it
  // stands for, kNoNode for the file's own item.
  virtual TreeItem addChild(TreeItem parent, const ItemLabel& label, NodeId node) = 0;
  // Replaces an item's text.
  virtual void setText(TreeItem item, std::string_view text) = 0;
  // Expands an item one level.
  virtual void expand(TreeItem item) = 0;
  // Removes every item.
  virtual void clear() = 0;
  // Told before a walk about how many items the document's nodes make (one a node, but
  // none for the text of an element that holds a text alone).
  virtual void reserve(std::size_t /*items*/) {}
};

// One message line and the item it is about (kNoItem for none). The window attaches a line
// to item; source names the element that holds what is wrong when that is another one (the
// command line points there), kNoItem when it is item itself.
struct Message {
  std::string text;
  int code = 0;
  TreeItem item = kNoItem;
  TreeItem source = kNoItem;
};

// The item a message points at in the source: its source item, else its item. For a Message
// and a list's own lines alike.
template <typename Line>
TreeItem PointedItem(const Line& line) {
  return line.source != kNoItem ? line.source : line.item;
}

class MessageList {
 public:
  virtual ~MessageList() = default;
  // Adds a line; the list keeps its own order (see MessageOrder).
  virtual void add(Message message) = 0;
  // Removes every line.
  virtual void clear() = 0;
};

// The message list's order: ascending, ASCII letter case ignored.
bool MessageOrder(const Message& a, const Message& b);

// The positions of lines in the list's order, equal lines in their present order: what
// std::stable_sort with MessageOrder gives, without its cost on long lists of similar lines.
std::vector<std::size_t> MessageSortOrder(std::span<const std::string_view> lines);
// Puts messages in the list's order (MessageSortOrder).
void SortMessages(std::vector<Message>& messages);

}  // namespace corvane
