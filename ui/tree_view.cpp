#include "tree_view.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "shown_text.h"
#include "tree_model.h"

namespace corvane {

namespace {

// Paints a row: its indentation, the arrow of an item with children, then the label.
class BranchDelegate : public QStyledItemDelegate {
 public:
  explicit BranchDelegate(DocumentTreeView* view) : QStyledItemDelegate(view), view_(view) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int indent = view_->indentation();
    const int left = option.rect.left() + index.data(DocumentTreeModel::DepthRole).toInt() * indent;
    if (index.data(DocumentTreeModel::HasChildrenRole).toBool()) {
      QStyleOption branch;
      branch.initFrom(view_);
      branch.rect = QRect(left, option.rect.top(), indent, option.rect.height());
      branch.state = QStyle::State_Item | QStyle::State_Children;
      if (index.data(DocumentTreeModel::ExpandedRole).toBool()) branch.state |= QStyle::State_Open;
      view_->style()->drawPrimitive(QStyle::PE_IndicatorBranch, &branch, painter, view_);
    }
    QStyleOptionViewItem text = option;
    text.rect.setLeft(left + indent);
    text.rect.setWidth(std::max(text.rect.width(), option.fontMetrics.horizontalAdvance(index.data().toString()) + 8));
    QStyledItemDelegate::paint(painter, text, index);
  }

  // Rows are all alike in height; the width covers the deepest level and the longest label,
  // so that the view scrolls far enough to the right.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QSize size = QStyledItemDelegate::sizeHint(option, index);
    const auto& model = view_->documentModel();
    const int chars = static_cast<int>(std::min<std::size_t>(model.longestLabel(), kMaxShownChars + 1));
    const int width = static_cast<int>(
        std::min<std::uint64_t>((model.maxDepth() + 1ULL) * view_->indentation() +
                                    static_cast<std::uint64_t>(chars) * option.fontMetrics.averageCharWidth() + 16,
                                1 << 30));
    return {width, size.height()};
  }

 private:
  DocumentTreeView* view_;
};

}  // namespace

DocumentTreeView::DocumentTreeView(DocumentTreeModel* model, QWidget* parent) : QListView(parent), model_(model) {
  setModel(model);
  setUniformItemSizes(true);
  setItemDelegate(new BranchDelegate(this));
  setEditTriggers(NoEditTriggers);
  setSelectionMode(SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

int DocumentTreeView::arrowLeft(const QModelIndex& index) const {
  return visualRect(index).left() + index.data(DocumentTreeModel::DepthRole).toInt() * indentation_;
}

TreeItem DocumentTreeView::currentItem() const { return model_->itemOf(currentIndex()); }

bool DocumentTreeView::isExpanded(TreeItem item) const { return model_->isExpanded(item); }

void DocumentTreeView::expand(TreeItem item) { model_->setExpanded(item, true); }

void DocumentTreeView::collapse(TreeItem item) { model_->setExpanded(item, false); }

void DocumentTreeView::collapseAll() { model_->collapseAll(); }

void DocumentTreeView::selectItem(TreeItem item) {
  model_->expandAncestors(item);
  const QModelIndex index = model_->indexOf(item);
  if (!index.isValid()) return;
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  scrollTo(index, PositionAtCenter);
  // Rows scroll into sight vertically; the indentation of a deep item needs the same.
  const int left = arrowLeft(index);
  if (left < 0 || left >= viewport()->width() / 2) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + left - indentation_);
  }
}

void DocumentTreeView::toggle(const QModelIndex& index) {
  const TreeItem item = model_->itemOf(index);
  if (item != kNoItem) model_->setExpanded(item, !model_->isExpanded(item));
}

bool DocumentTreeView::onArrow(const QModelIndex& index, QPoint point) const {
  const int left = arrowLeft(index);
  return index.isValid() && index.data(DocumentTreeModel::HasChildrenRole).toBool() && point.x() >= left &&
         point.x() < left + indentation_;
}

void DocumentTreeView::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (onArrow(index, event->position().toPoint())) {
    toggle(index);
    return;
  }
  QListView::mousePressEvent(event);
}

void DocumentTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  // A double click on the arrow is two clicks on it; elsewhere it opens or closes the item.
  if (onArrow(index, event->position().toPoint())) {
    toggle(index);
    return;
  }
  if (index.isValid()) toggle(index);
  QListView::mouseDoubleClickEvent(event);
}

void DocumentTreeView::keyPressEvent(QKeyEvent* event) {
  const TreeItem item = currentItem();
  if (item == kNoItem) {
    QListView::keyPressEvent(event);
    return;
  }
  const bool open = model_->isExpanded(item) && model_->hasChildItems(item);
  switch (event->key()) {
    case Qt::Key_Right:
      if (!model_->hasChildItems(item)) break;
      if (open) {
        selectItem(item + 1);  // the first child
      } else {
        expand(item);
      }
      return;
    case Qt::Key_Left:
      if (open) {
        collapse(item);
      } else if (model_->parentOf(item) != kNoItem) {
        selectItem(model_->parentOf(item));
      }
      return;
    case Qt::Key_Plus: expand(item); return;
    case Qt::Key_Minus: collapse(item); return;
    default: break;
  }
  QListView::keyPressEvent(event);
}

}  // namespace corvane
