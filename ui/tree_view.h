// The document tree view: the rows of a DocumentTreeModel, indented by depth, with the
// style's branch arrows. A click on an arrow, a double click, Left/Right and +/- open and
// close items, as in any tree view.
//
// Rows are all alike in height, so where a row lies is arithmetic: nothing is laid out per
// row, and a new document of hundreds of thousands of rows is shown in constant time.
#pragma once

#include <QAbstractItemView>

#include <utility>

#include "sinks.h"

namespace corvane {

class DocumentTreeModel;

class DocumentTreeView : public QAbstractItemView {
  Q_OBJECT

 public:
  explicit DocumentTreeView(DocumentTreeModel* model, QWidget* parent = nullptr);

  // Pixels of indentation per level.
  int indentation() const { return indentation_; }
  void setIndentation(int pixels) { indentation_ = pixels; }
  DocumentTreeModel& documentModel() const { return *model_; }

  // Selects the item as the current one, opening its ancestors, and scrolls it into sight.
  void selectItem(TreeItem item);
  // The item of the current row, or kNoItem.
  TreeItem currentItem() const;
  bool isExpanded(TreeItem item) const;
  void expand(TreeItem item);
  void collapse(TreeItem item);
  void collapseAll();

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex& index) const override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void updateGeometries() override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Where a row's arrow and text begin.
  int arrowLeft(const QModelIndex& index) const;
  bool onArrow(const QModelIndex& index, QPoint point) const;
  void toggle(const QModelIndex& index);
  // Rows' height and the width that holds the widest of them, from the delegate.
  QSize rowSize() const;
  // The rows of the viewport's pixel rows [top, bottom], clamped to the rows there are.
  std::pair<int, int> rowsBetween(int top, int bottom) const;

  DocumentTreeModel* model_;
  int indentation_ = 20;
  mutable QSize rowSize_;  // empty until asked for after a change of the rows
};

}  // namespace corvane
