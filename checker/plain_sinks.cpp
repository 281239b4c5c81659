#include "plain_sinks.h"

#include <algorithm>

namespace corvane {

TreeItem PlainTree::addChild(TreeItem parent, const ItemLabel& label, NodeId node) {
  Item item{parent, node, parent == kNoItem ? 0 : items_[parent].depth + 1};
  if (node == kNoNode) {
    item.text = static_cast<std::int32_t>(texts_.size());
    texts_.push_back(label.str());
  }
  items_.push_back(item);
  return items_.size() - 1;
}

void PlainTree::setText(TreeItem item, std::string text) {
  items_[item].text = static_cast<std::int32_t>(texts_.size());
  texts_.push_back(std::move(text));
}

void PlainTree::expand(TreeItem item) { items_[item].expanded = true; }

void PlainTree::clear() {
  items_.clear();
  texts_.clear();
}

std::string PlainTree::label(TreeItem item, const XmlDocument* doc) const {
  const Item& it = items_[item];
  if (it.text >= 0) return texts_[static_cast<std::size_t>(it.text)];
  if (doc == nullptr || it.node == kNoNode) return {};
  const bool isTextElement = doc->isTextElement(it.node);
  return ItemLabel{doc->name(it.node), isTextElement ? doc->elementText(it.node) : std::string_view{},
                   isTextElement}
      .str();
}

std::size_t PlainTree::labelSize(TreeItem item, const XmlDocument* doc) const {
  const Item& it = items_[item];
  if (it.text >= 0) return texts_[static_cast<std::size_t>(it.text)].size();
  if (doc == nullptr || it.node == kNoNode) return 0;
  const std::size_t name = doc->name(it.node).size();
  return doc->isTextElement(it.node) ? name + 2 + doc->elementText(it.node).size() : name;
}

std::vector<std::string> PlainTree::labelPath(TreeItem item, const XmlDocument* doc) const {
  std::vector<std::string> path;
  for (TreeItem i = item; i != kNoItem; i = items_[i].parent) path.push_back(label(i, doc));
  std::reverse(path.begin(), path.end());
  return path;
}

std::vector<Message> PlainMessages::sorted() const {
  std::vector<Message> out = messages_;
  std::stable_sort(out.begin(), out.end(), MessageOrder);
  return out;
}

}  // namespace corvane
