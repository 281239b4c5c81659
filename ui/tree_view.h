// The document tree view: the rows of a DocumentTreeModel, indented by depth, with the
// style's branch arrows. A click on an arrow, a double click, Left/Right and +/- open and
// close items, as in any tree view.
#pragma once

#include <QListView>

#include "sinks.h"

namespace corvane {

class DocumentTreeModel;

class DocumentTreeView : public QListView {
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

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Where a row's arrow and text begin.
  int arrowLeft(const QModelIndex& index) const;
  bool onArrow(const QModelIndex& index, QPoint point) const;
  void toggle(const QModelIndex& index);

  DocumentTreeModel* model_;
  int indentation_ = 20;
};

}  // namespace corvane
