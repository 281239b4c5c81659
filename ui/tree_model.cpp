#include "tree_model.h"

namespace corvane {

namespace {

// Long texts are cut for display; the row shows one line either way.
constexpr qsizetype kMaxShownLabel = 500;

}  // namespace

void DocumentTreeModel::publish(PlainTree tree, std::unique_ptr<XmlDocument> document) {
  beginResetModel();
  tree_ = std::move(tree);
  document_ = std::move(document);
  indexChildren();
  endResetModel();
}

void DocumentTreeModel::clear() { publish(PlainTree{}, nullptr); }

void DocumentTreeModel::indexChildren() {
  const auto& items = tree_.items();
  const std::size_t n = items.size();
  const std::size_t topSlot = n;  // parent kNoItem
  childStart_.assign(n + 2, 0);
  for (const PlainTree::Item& item : items) ++childStart_[(item.parent == kNoItem ? topSlot : item.parent) + 1];
  for (std::size_t i = 1; i < childStart_.size(); ++i) childStart_[i] += childStart_[i - 1];
  children_.assign(n, 0);
  rowOf_.assign(n, 0);
  std::vector<std::uint32_t> next(childStart_.begin(), childStart_.end() - 1);
  // Items were added in pre-order, so siblings arrive in their order.
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t slot = items[i].parent == kNoItem ? topSlot : items[i].parent;
    rowOf_[i] = next[slot] - childStart_[slot];
    children_[next[slot]++] = static_cast<std::uint32_t>(i);
  }
}

bool DocumentTreeModel::everyParentExpanded() const {
  for (const PlainTree::Item& item : tree_.items()) {
    if (item.parent != kNoItem && !tree_.items()[item.parent].expanded) return false;
  }
  return true;
}

std::size_t DocumentTreeModel::slotOf(const QModelIndex& parent) const {
  return parent.isValid() ? static_cast<std::size_t>(parent.internalId()) : tree_.items().size();
}

QModelIndex DocumentTreeModel::indexOf(TreeItem item) const {
  if (item == kNoItem || item >= tree_.items().size()) return {};
  return createIndex(static_cast<int>(rowOf_[item]), 0, static_cast<quintptr>(item));
}

TreeItem DocumentTreeModel::itemOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<TreeItem>(index.internalId()) : kNoItem;
}

QModelIndex DocumentTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0 || row >= rowCount(parent)) return {};
  const std::size_t slot = slotOf(parent);
  return createIndex(row, 0, static_cast<quintptr>(children_[childStart_[slot] + static_cast<std::size_t>(row)]));
}

QModelIndex DocumentTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  return indexOf(tree_.items()[itemOf(child)].parent);
}

int DocumentTreeModel::rowCount(const QModelIndex& parent) const {
  if (childStart_.empty() || parent.column() > 0) return 0;
  const std::size_t slot = slotOf(parent);
  return static_cast<int>(childStart_[slot + 1] - childStart_[slot]);
}

int DocumentTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant DocumentTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  const std::string text = label(itemOf(index));
  QString shown = QString::fromStdString(text.substr(0, kMaxShownLabel * 4));
  if (shown.size() > kMaxShownLabel) shown = shown.left(kMaxShownLabel) + QStringLiteral("…");
  return shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
}

}  // namespace corvane
