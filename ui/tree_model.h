// The model behind the document tree view: the tree the checker made, shown as the list of
// its rows in sight (an item's row follows its parent's, and a collapsed item hides its
// descendants). The checker fills a plain tree while it walks; the finished tree is handed
// over whole, so the view never sees a half-built tree, and labels of document nodes are
// read from the document only when the view asks for them. Items are in document order
// with their depth, so a subtree is one run of items: expanding and collapsing are plain
// array work, without recursion and without per-item bookkeeping in the view, however
// large or deep the document is.
#pragma once

#include <QAbstractListModel>
#include <memory>
#include <vector>

#include "plain_sinks.h"
#include "xml_document.h"

namespace corvane {

class DocumentTreeModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // Extra data roles for the view.
  enum Role { DepthRole = Qt::UserRole, HasChildrenRole, ExpandedRole };

  using QAbstractListModel::QAbstractListModel;

  // Shows a walked tree, expanded where the walk expanded it; the document stays alive
  // for the labels.
  void publish(PlainTree tree, std::unique_ptr<XmlDocument> document);
  // Removes every item.
  void clear();

  std::size_t size() const { return tree_.items().size(); }
  // The item's text as the checker made it.
  std::string label(TreeItem item) const { return tree_.label(item, document_.get()); }
  TreeItem parentOf(TreeItem item) const { return tree_.items()[item].parent; }
  // Where a message about this tree points in the document's text.
  SourcePosition positionOf(const Message& message) const { return tree_.positionOf(message, document_.get()); }
  std::uint32_t depthOf(TreeItem item) const { return tree_.items()[item].depth(); }
  bool hasChildItems(TreeItem item) const { return subtreeEnd_[item] > item + 1; }
  bool isExpanded(TreeItem item) const { return expanded_[item] != 0; }
  // The index of the item's row; invalid while a collapsed ancestor hides it.
  QModelIndex indexOf(TreeItem item) const;
  // The item shown in a row (kNoItem for an invalid index).
  TreeItem itemOf(const QModelIndex& index) const;
  // The deepest level and the longest label, for the view's width.
  std::uint32_t maxDepth() const { return maxDepth_; }
  std::size_t longestLabel() const { return tree_.longestLabel(); }

  // Expands or collapses one item (its descendants keep their own state).
  void setExpanded(TreeItem item, bool expanded);
  // Expands every collapsed ancestor of the item, so that it has a row.
  void expandAncestors(TreeItem item);
  // Collapses every item.
  void collapseAll();

  int rowCount(const QModelIndex& parent = {}) const override;
  // The view asks for every row's index whenever it lays its rows out: made at once, without
  // the checks through rowCount and columnCount that the list model makes.
  QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  // Rows in sight of the items in [first, end), appended to rows.
  void collectRows(TreeItem first, TreeItem end, std::vector<std::uint32_t>& rows) const;
  // Row numbers of the items shown from row `from` on.
  void renumberRows(std::size_t from);
  // The rows, each item's subtree and the deepest level, from the items and expanded_.
  void rebuildRows();

  PlainTree tree_;
  std::unique_ptr<XmlDocument> document_;
  std::vector<std::uint32_t> subtreeEnd_;  // one past the item's last descendant
  std::vector<std::uint8_t> expanded_;
  std::vector<std::uint32_t> rows_;  // the item shown in each row
  std::vector<std::int32_t> rowOf_;  // each item's row, -1 while hidden
  std::uint32_t maxDepth_ = 0;
};

}  // namespace corvane
