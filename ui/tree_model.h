// The model behind the document tree view. The checker fills a plain tree while it walks;
// the finished tree is handed over whole, so the view never sees a half-built tree, and
// labels of document nodes are read from the document only when the view asks for them.
#pragma once

#include <QAbstractItemModel>
#include <memory>
#include <vector>

#include "plain_sinks.h"
#include "xml_document.h"

namespace corvane {

class DocumentTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  using QAbstractItemModel::QAbstractItemModel;

  // Shows a walked tree; the document stays alive for the labels.
  void publish(PlainTree tree, std::unique_ptr<XmlDocument> document);
  // Removes every item.
  void clear();

  // The item's text as the checker made it.
  std::string label(TreeItem item) const { return tree_.label(item, document_.get()); }
  // The view's index of an item (invalid for kNoItem).
  QModelIndex indexOf(TreeItem item) const;
  // The item behind an index (kNoItem for an invalid one).
  TreeItem itemOf(const QModelIndex& index) const;
  std::size_t size() const { return tree_.items().size(); }
  // Whether the walk expanded the item.
  bool expandedByWalk(TreeItem item) const { return tree_.items()[item].expanded; }
  // Whether every item with children was expanded by the walk.
  bool everyParentExpanded() const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  // Children of each item in order: children_[childStart_[i] .. childStart_[i + 1]), the
  // top-level items under the extra last slot. rowOf_ is each item's place among its siblings.
  void indexChildren();
  std::size_t slotOf(const QModelIndex& parent) const;

  PlainTree tree_;
  std::unique_ptr<XmlDocument> document_;
  std::vector<std::uint32_t> childStart_;
  std::vector<std::uint32_t> children_;
  std::vector<std::uint32_t> rowOf_;
};

}  // namespace corvane
