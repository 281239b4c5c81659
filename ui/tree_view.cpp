#include "tree_view.h"

#include <QCursor>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <limits>

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

DocumentTreeView::DocumentTreeView(DocumentTreeModel* model, QWidget* parent)
    : QAbstractItemView(parent), model_(model) {
  setModel(model);
  setItemDelegate(new BranchDelegate(this));
  setEditTriggers(NoEditTriggers);
  setSelectionMode(SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollMode(ScrollPerPixel);
  setHorizontalScrollMode(ScrollPerPixel);
  // Opening and closing items add and remove rows: the scroll range follows.
  connect(model, &QAbstractItemModel::rowsInserted, this, &DocumentTreeView::scheduleDelayedItemsLayout);
  connect(model, &QAbstractItemModel::rowsRemoved, this, &DocumentTreeView::scheduleDelayedItemsLayout);
}

QSize DocumentTreeView::rowSize() const {
  if (rowSize_.isEmpty() && model_->rowCount() > 0) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    rowSize_ = itemDelegate()->sizeHint(option, model_->index(0)).expandedTo(QSize(1, 1));
  }
  return rowSize_;
}

std::pair<int, int> DocumentTreeView::rowsBetween(int top, int bottom) const {
  const qint64 height = std::max(rowSize().height(), 1);
  const qint64 first = (qint64{top} + verticalOffset()) / height;
  const qint64 last = (qint64{bottom} + verticalOffset()) / height;
  return {static_cast<int>(std::max<qint64>(first, 0)),
          static_cast<int>(std::min<qint64>(last, model_->rowCount() - 1))};
}

QRect DocumentTreeView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != model_) return {};
  const QSize row = rowSize();
  const qint64 top = qint64{index.row()} * row.height() - verticalOffset();
  if (top < std::numeric_limits<int>::min() || top > std::numeric_limits<int>::max()) return {};
  return {-horizontalOffset(), static_cast<int>(top), std::max(row.width(), viewport()->width()), row.height()};
}

void DocumentTreeView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  // A model change since the last layout may have moved the scroll range.
  executeDelayedItemsLayout();
  const int height = rowSize().height();
  const qint64 top = qint64{index.row()} * height;
  const int area = viewport()->height();
  QScrollBar* bar = verticalScrollBar();
  qint64 value = bar->value();
  switch (hint) {
    case PositionAtTop: value = top; break;
    case PositionAtBottom: value = top + height - area; break;
    case PositionAtCenter: value = top - (area - height) / 2; break;
    case EnsureVisible:
      if (top < value) {
        value = top;
      } else if (top + height > value + area) {
        value = top + height - area;
      }
      break;
  }
  bar->setValue(static_cast<int>(std::clamp<qint64>(value, bar->minimum(), bar->maximum())));
}

QModelIndex DocumentTreeView::indexAt(const QPoint& point) const {
  if (point.y() < 0 || model_->rowCount() == 0) return {};
  const qint64 row = (qint64{point.y()} + verticalOffset()) / std::max(rowSize().height(), 1);
  return row < model_->rowCount() ? model_->index(static_cast<int>(row)) : QModelIndex();
}

QModelIndex DocumentTreeView::moveCursor(CursorAction action, Qt::KeyboardModifiers /*modifiers*/) {
  const int rows = model_->rowCount();
  if (rows == 0) return {};
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return model_->index(0);
  const int page = std::max(1, viewport()->height() / std::max(rowSize().height(), 1));
  qint64 row = current.row();
  switch (action) {
    case MoveUp:
    case MovePrevious: row -= 1; break;
    case MoveDown:
    case MoveNext: row += 1; break;
    case MovePageUp: row -= page; break;
    case MovePageDown: row += page; break;
    case MoveHome: row = 0; break;
    case MoveEnd: row = rows - 1; break;
    case MoveLeft:
    case MoveRight: break;
  }
  return model_->index(static_cast<int>(std::clamp<qint64>(row, 0, rows - 1)));
}

int DocumentTreeView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int DocumentTreeView::verticalOffset() const { return verticalScrollBar()->value(); }

bool DocumentTreeView::isIndexHidden(const QModelIndex& /*index*/) const { return false; }

void DocumentTreeView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  const QRect area = rect.normalized();
  const auto [first, last] = rowsBetween(area.top(), area.bottom());
  QItemSelection selection;
  if (area.top() + verticalOffset() >= 0 && first <= last) selection.select(model_->index(first), model_->index(last));
  selectionModel()->select(selection, command);
}

QRegion DocumentTreeView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  for (const QItemSelectionRange& range : selection) {
    if (!range.isValid()) continue;
    region += visualRect(model_->index(range.top())).united(visualRect(model_->index(range.bottom())));
  }
  return region;
}

void DocumentTreeView::updateGeometries() {
  rowSize_ = QSize();
  const QSize row = rowSize();
  const QSize area = viewport()->size();
  const qint64 height = qint64{model_->rowCount()} * row.height();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setSingleStep(std::max(row.height(), 1));
  vertical->setPageStep(area.height());
  vertical->setRange(0,
                     static_cast<int>(std::clamp<qint64>(height - area.height(), 0, std::numeric_limits<int>::max())));
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setSingleStep(indentation_);
  horizontal->setPageStep(area.width());
  horizontal->setRange(0, std::max(row.width() - area.width(), 0));
  QAbstractItemView::updateGeometries();
}

void DocumentTreeView::paintEvent(QPaintEvent* event) {
  if (model_->rowCount() == 0) return;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QStyle::State state = option.state;
  const QModelIndex current = currentIndex();
  const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
  const QModelIndex hover =
      viewport()->underMouse() ? indexAt(viewport()->mapFromGlobal(QCursor::pos())) : QModelIndex();
  QPainter painter(viewport());
  const auto [first, last] = rowsBetween(event->rect().top(), event->rect().bottom());
  for (int row = first; row <= last; ++row) {
    const QModelIndex index = model_->index(row);
    option.rect = visualRect(index);
    option.state = state;
    option.state.setFlag(QStyle::State_Selected, selectionModel()->isSelected(index));
    option.state.setFlag(QStyle::State_HasFocus, focus && index == current);
    option.state.setFlag(QStyle::State_MouseOver, index == hover);
    if (isEnabled()) option.palette.setCurrentColorGroup(QPalette::Normal);
    itemDelegate()->paint(&painter, option, index);
  }
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
  QAbstractItemView::mousePressEvent(event);
}

void DocumentTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  // A double click on the arrow is two clicks on it; elsewhere it opens or closes the item.
  if (onArrow(index, event->position().toPoint())) {
    toggle(index);
    return;
  }
  if (index.isValid()) toggle(index);
  QAbstractItemView::mouseDoubleClickEvent(event);
}

void DocumentTreeView::keyPressEvent(QKeyEvent* event) {
  const TreeItem item = currentItem();
  if (item == kNoItem) {
    QAbstractItemView::keyPressEvent(event);
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
  QAbstractItemView::keyPressEvent(event);
}

}  // namespace corvane
