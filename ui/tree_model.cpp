#include "tree_model.h"

#include "shown_text.h"

#include <algorithm>

namespace corvane {

namespace {

// Long texts are cut for display; the row shows one line either way.

}  // namespace

void DocumentTreeModel::publish(PlainTree tree, std::unique_ptr<XmlDocument> document) {
  beginResetModel();
  tree_ = std::move(tree);
  document_ = std::move(document);
  const auto& items = tree_.items();
  expanded_.resize(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) expanded_[i] = items[i].expanded() ? 1 : 0;
  rebuildRows();
  endResetModel();
}

void DocumentTreeModel::clear() { publish(PlainTree{}, nullptr); }

void DocumentTreeModel::collectRows(TreeItem first, TreeItem end, std::vector<std::uint32_t>& rows) const {
  for (TreeItem i = first; i < end;) {
    rows.push_back(static_cast<std::uint32_t>(i));
    i = expanded_[i] ? i + 1 : subtreeEnd_[i];
  }
}

void DocumentTreeModel::renumberRows(std::size_t from) {
  for (std::size_t row = from; row < rows_.size(); ++row) rowOf_[rows_[row]] = static_cast<std::int32_t>(row);
}

void DocumentTreeModel::rebuildRows() {
  // One pass in pre-order: an item's subtree ends where the next item at its depth or above
  // begins, and an item has a row unless it lies in the subtree of a collapsed one.
  const auto& items = tree_.items();
  const std::size_t n = items.size();
  subtreeEnd_.resize(n);
  rowOf_.resize(n);
  rows_.clear();
  maxDepth_ = 0;
  constexpr std::uint32_t kShown = UINT32_MAX;
  std::uint32_t collapsedDepth = kShown;  // the depth of the collapsed item whose subtree is passed
  std::vector<std::uint32_t> open;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t depth = items[i].depth();
    while (!open.empty() && items[open.back()].depth() >= depth) {
      subtreeEnd_[open.back()] = static_cast<std::uint32_t>(i);
      open.pop_back();
    }
    open.push_back(static_cast<std::uint32_t>(i));
    maxDepth_ = std::max(maxDepth_, depth);
    if (collapsedDepth != kShown && depth > collapsedDepth) {
      rowOf_[i] = -1;
      continue;
    }
    collapsedDepth = expanded_[i] != 0 ? kShown : depth;
    rowOf_[i] = static_cast<std::int32_t>(rows_.size());
    rows_.push_back(static_cast<std::uint32_t>(i));
  }
  for (const std::uint32_t i : open) subtreeEnd_[i] = static_cast<std::uint32_t>(n);
}

QModelIndex DocumentTreeModel::indexOf(TreeItem item) const {
  if (item >= size() || rowOf_[item] < 0) return {};
  return index(static_cast<int>(rowOf_[item]));
}

TreeItem DocumentTreeModel::itemOf(const QModelIndex& index) const {
  return index.isValid() && index.row() < rowCount() ? rows_[static_cast<std::size_t>(index.row())] : kNoItem;
}

void DocumentTreeModel::setExpanded(TreeItem item, bool expanded) {
  if (item >= size() || isExpanded(item) == expanded) return;
  expanded_[item] = expanded ? 1 : 0;
  if (rowOf_[item] < 0 || !hasChildItems(item)) return;
  const auto first = static_cast<std::size_t>(rowOf_[item]) + 1;
  if (expanded) {
    std::vector<std::uint32_t> shown;
    collectRows(item + 1, subtreeEnd_[item], shown);
    beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + shown.size() - 1));
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(first), shown.begin(), shown.end());
    renumberRows(first);
    endInsertRows();
    return;
  }
  // Rows show items in document order, so the descendants in sight are one run.
  const auto end = std::lower_bound(rows_.begin() + static_cast<std::ptrdiff_t>(first), rows_.end(), subtreeEnd_[item]);
  const auto last = static_cast<std::size_t>(end - rows_.begin());
  beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last - 1));
  for (std::size_t row = first; row < last; ++row) rowOf_[rows_[row]] = -1;
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(first), rows_.begin() + static_cast<std::ptrdiff_t>(last));
  renumberRows(first);
  endRemoveRows();
}

void DocumentTreeModel::expandAncestors(TreeItem item) {
  bool changed = false;
  for (TreeItem up = parentOf(item); up != kNoItem; up = parentOf(up)) {
    changed = changed || !isExpanded(up);
    expanded_[up] = 1;
  }
  if (!changed) return;
  // However many levels open at once, the rows are laid out again in one pass.
  beginResetModel();
  rebuildRows();
  endResetModel();
}

void DocumentTreeModel::collapseAll() {
  beginResetModel();
  std::fill(expanded_.begin(), expanded_.end(), 0);
  rebuildRows();
  endResetModel();
}

int DocumentTreeModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QModelIndex DocumentTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size() || column != 0 || parent.isValid()) return {};
  return createIndex(row, 0);
}

QVariant DocumentTreeModel::data(const QModelIndex& index, int role) const {
  const TreeItem item = itemOf(index);
  if (item == kNoItem) return {};
  switch (role) {
    case Qt::DisplayRole: return ShownText(label(item));
    case DepthRole: return depthOf(item);
    case HasChildrenRole: return hasChildItems(item);
    case ExpandedRole: return isExpanded(item);
    default: return {};
  }
}

}  // namespace corvane
