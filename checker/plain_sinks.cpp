#include "plain_sinks.h"

#include <algorithm>

#include "vector_room.h"

namespace corvane {

TreeItem PlainTree::addChild(TreeItem parent, const ItemLabel& label, NodeId node) {
  Item item;
  item.parent = parent;
  item.node = node;
  item.depthAndFlags =
      (parent == kNoItem ? 0 : items_[parent].depth() + 1) | (label.isTextElement ? Item::kTextElement : 0);
  MakeRoomForOne(items_);
  if (node == kNoNode) item.text = keepText(label.str());
  items_.push_back(item);
  longestLabel_ = std::max(longestLabel_, label.size());
  return items_.size() - 1;
}

void PlainTree::setText(TreeItem item, std::string_view text) {
  items_[item].text = keepText(text);
  longestLabel_ = std::max(longestLabel_, text.size());
}

std::int32_t PlainTree::keepText(std::string_view text) {
  MakeRoomForOne(texts_);
  texts_.push_back(textBlocks_.add(text));
  return static_cast<std::int32_t>(texts_.size() - 1);
}

void PlainTree::expand(TreeItem item) { items_[item].depthAndFlags |= Item::kExpanded; }

void PlainTree::clear() {
  items_.clear();
  texts_.clear();
  textBlocks_.clear();
  longestLabel_ = 0;
}

std::string PlainTree::label(TreeItem item, const XmlDocument* doc) const {
  const Item& it = items_[item];
  if (it.text >= 0) return std::string(texts_[static_cast<std::size_t>(it.text)]);
  if (doc == nullptr || it.node == kNoNode) return {};
  const bool textElement = it.textElement();
  return ItemLabel{doc->name(it.node), textElement ? doc->elementText(it.node) : std::string_view{}, textElement}.str();
}

std::vector<std::string> PlainTree::labelPath(TreeItem item, const XmlDocument* doc) const {
  std::vector<std::string> path;
  for (TreeItem i = item; i != kNoItem; i = items_[i].parent) path.push_back(label(i, doc));
  std::reverse(path.begin(), path.end());
  return path;
}

SourcePosition PlainTree::positionAt(TreeItem at, const XmlDocument* doc) const {
  if (doc == nullptr || at >= items_.size() || items_[at].node == kNoNode) return {};
  return doc->position(items_[at].node);
}

void PlainMessages::add(Message message) {
  // Everything that may fail to allocate comes first, so a failure leaves the list as it was.
  MakeRoomForOne(texts_);
  MakeRoomForOne(tags_);
  texts_.push_back(blocks_.add(message.text));
  tags_.push_back({message.code, message.item, message.source});
}

void PlainMessages::clear() {
  texts_.clear();
  tags_.clear();
  blocks_.clear();
}

std::vector<Message> PlainMessages::lines() const {
  std::vector<Message> out;
  out.reserve(texts_.size());
  for (std::size_t i = 0; i < texts_.size(); ++i) out.push_back(line(i));
  return out;
}

std::vector<Message> PlainMessages::sorted() const {
  const std::vector<ListedMessage> lines = listed();
  std::vector<Message> out;
  out.reserve(lines.size());
  // The texts are read out of order: each is asked for a few lines ahead.
  constexpr std::size_t kTextAhead = 8;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i + kTextAhead < lines.size()) __builtin_prefetch(lines[i + kTextAhead].text.data());
    out.push_back({std::string(lines[i].text), lines[i].code, lines[i].item, lines[i].source});
  }
  return out;
}

std::vector<ListedMessage> PlainMessages::listed() const {
  const std::vector<std::size_t> order = MessageSortOrder(texts_);
  std::vector<ListedMessage> out(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) out[i] = listedLine(order[i]);
  return out;
}

std::vector<ListedMessage> PlainMessages::added() const {
  std::vector<ListedMessage> out(texts_.size());
  for (std::size_t i = 0; i < texts_.size(); ++i) out[i] = listedLine(i);
  return out;
}

TextBlocks PlainMessages::takeTexts() {
  TextBlocks taken = std::move(blocks_);
  texts_.clear();
  tags_.clear();
  return taken;
}

}  // namespace corvane
