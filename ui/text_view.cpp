#include "text_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace corvane {

namespace {

constexpr int kTabWidth = 8;
constexpr int kMargin = 4;

// Blanks up to the next multiple of kTabWidth for each tab; where the tabs stood is noted
// per line, in columns of the text as given.
QString ExpandTabs(const QString& text, std::unordered_map<int, std::vector<int>>& tabColumns) {
  tabColumns.clear();
  if (!text.contains(QLatin1Char('\t'))) return text;
  QString out;
  out.reserve(text.size());
  int line = 0;
  int givenColumn = 0;
  int shownColumn = 0;
  for (const QChar c : text) {
    if (c == QLatin1Char('\t')) {
      tabColumns[line].push_back(givenColumn);
      const int blanks = kTabWidth - shownColumn % kTabWidth;
      out.append(QString(blanks, QLatin1Char(' ')));
      shownColumn += blanks;
      ++givenColumn;
      continue;
    }
    out.append(c);
    if (c == QLatin1Char('\n')) {
      ++line;
      givenColumn = shownColumn = 0;
    } else {
      ++givenColumn;
      ++shownColumn;
    }
  }
  return out;
}

}  // namespace

PlainTextView::PlainTextView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setCursor(Qt::IBeamCursor);
  setPlainText({});
}

ViewText LayOutText(const QString& text) {
  // Lines end where the checker counts them: at a LF, a CR LF or a lone CR.
  // Most files have no CR, and looking for one is much cheaper than looking for a CR LF.
  QString lines = text;
  if (lines.contains(QLatin1Char('\r'))) {
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  }
  ViewText laidOut;
  laidOut.text = ExpandTabs(lines, laidOut.tabColumns);
  laidOut.lineStart.assign(1, 0);
  const QString& shown = laidOut.text;
  for (qsizetype i = shown.indexOf(QLatin1Char('\n')); i >= 0; i = shown.indexOf(QLatin1Char('\n'), i + 1)) {
    laidOut.lineStart.push_back(static_cast<int>(i) + 1);
  }
  laidOut.lineStart.push_back(static_cast<int>(shown.size()) + 1);
  return laidOut;
}

void PlainTextView::setViewText(ViewText laidOut) {
  pending_ = nullptr;
  text_ = std::move(laidOut.text);
  lineStart_ = std::move(laidOut.lineStart);
  tabColumns_ = std::move(laidOut.tabColumns);
  anchor_ = cursor_ = 0;
  markedLine_ = -1;
  verticalScrollBar()->setValue(0);
  relayout();
}

void PlainTextView::setViewTextLater(std::function<ViewText()> layOut) {
  if (isVisible()) {
    setViewText(layOut());
    return;
  }
  setPlainText({});
  pending_ = std::move(layOut);
}

void PlainTextView::layOutPending() {
  if (!pending_) return;
  const std::function<ViewText()> layOut = std::exchange(pending_, nullptr);
  setViewText(layOut());
}

void PlainTextView::showEvent(QShowEvent* event) {
  layOutPending();
  QAbstractScrollArea::showEvent(event);
}

int PlainTextView::lineLength(int line) const { return lineStart_[line + 1] - 1 - lineStart_[line]; }

int PlainTextView::rowsOf(int line) const { return std::max(1, (lineLength(line) + columns_ - 1) / columns_); }

int PlainTextView::gutterWidth() const {
  const int digits = static_cast<int>(QString::number(lineCount()).size());
  return fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits + 3 * kMargin;
}

void PlainTextView::relayout() {
  const int charWidth = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('M')));
  const int textWidth = viewport()->width() - gutterWidth() - kMargin;
  columns_ = std::max(1, textWidth / charWidth);
  rowBefore_.resize(static_cast<std::size_t>(lineCount()) + 1);
  rowBefore_[0] = 0;
  for (int line = 0; line < lineCount(); ++line) rowBefore_[line + 1] = rowBefore_[line] + rowsOf(line);
  const int rowsInSight = std::max(1, viewport()->height() / fontMetrics().lineSpacing());
  verticalScrollBar()->setRange(0, std::max(0, rowBefore_.back() - rowsInSight));
  verticalScrollBar()->setPageStep(rowsInSight);
  viewport()->update();
}

void PlainTextView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  relayout();
  // Rows rewrap at a new width; a marked place that falls out of sight comes back to the middle.
  if (markedLine_ >= 0) {
    const int row = cursorRow();
    const QScrollBar* bar = verticalScrollBar();
    if (row < bar->value() || row >= bar->value() + bar->pageStep()) centreRow(row);
  }
}

int PlainTextView::cursorRow() const {
  const int line = lineOf(cursor_);
  return rowBefore_[line] + (cursor_ - lineStart_[line]) / columns_;
}

void PlainTextView::centreRow(int row) { verticalScrollBar()->setValue(row - verticalScrollBar()->pageStep() / 2); }

void PlainTextView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QFontMetrics metrics = fontMetrics();
  const int rowHeight = metrics.lineSpacing();
  const int charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
  const int gutter = gutterWidth();
  const int textLeft = gutter + kMargin;
  const int firstRow = verticalScrollBar()->value();
  const int selectionBegin = std::min(anchor_, cursor_);
  const int selectionEnd = std::max(anchor_, cursor_);
  painter.fillRect(QRect(0, 0, gutter, viewport()->height()), palette().alternateBase());

  int line =
      static_cast<int>(std::upper_bound(rowBefore_.begin(), rowBefore_.end(), firstRow) - rowBefore_.begin()) - 1;
  int y = 0;
  QColor mark = palette().highlight().color();
  mark.setAlpha(60);
  for (; line >= 0 && line < lineCount() && y < viewport()->height(); ++line) {
    const int rows = rowsOf(line);
    for (int row = std::max(0, firstRow - rowBefore_[line]); row < rows && y < viewport()->height(); ++row) {
      const int begin = lineStart_[line] + row * columns_;
      const int length = std::min(columns_, lineLength(line) - row * columns_);
      if (line == markedLine_) painter.fillRect(QRect(gutter, y, viewport()->width() - gutter, rowHeight), mark);
      if (line == markedLine_ && anchor_ == cursor_ && cursor_ >= begin && cursor_ <= begin + length) {
        painter.fillRect(QRect(textLeft + (cursor_ - begin) * charWidth - 1, y, 2, rowHeight), palette().text());
      }
      const int from = std::max(begin, selectionBegin);
      const int to = std::min(begin + length + (row == rows - 1 ? 1 : 0), selectionEnd);
      if (from < to) {
        const QRect selected(textLeft + (from - begin) * charWidth, y, (to - from) * charWidth, rowHeight);
        painter.fillRect(selected, palette().highlight());
      }
      painter.setPen(palette().text().color());
      painter.drawText(textLeft, y + metrics.ascent(), text_.mid(begin, std::max(0, length)));
      if (row == 0) {
        painter.setPen(palette().placeholderText().color());
        painter.drawText(QRect(0, y, gutter - 2 * kMargin, rowHeight), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(line + 1));
      }
      y += rowHeight;
    }
  }
}

int PlainTextView::offsetAt(QPoint point) const {
  const int rowHeight = fontMetrics().lineSpacing();
  const int charWidth = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('M')));
  const int row =
      std::clamp(verticalScrollBar()->value() + point.y() / rowHeight, 0, std::max(0, rowBefore_.back() - 1));
  const int line =
      static_cast<int>(std::upper_bound(rowBefore_.begin(), rowBefore_.end(), row) - rowBefore_.begin()) - 1;
  if (line >= lineCount()) return static_cast<int>(text_.size());
  const int x = point.x() - gutterWidth() - kMargin;
  const int column = std::max(0, (x + charWidth / 2) / charWidth);
  const int inLine = (row - rowBefore_[line]) * columns_ + std::min(column, columns_);
  return lineStart_[line] + std::min(inLine, lineLength(line));
}

void PlainTextView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  cursor_ = offsetAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
  viewport()->update();
}

void PlainTextView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  cursor_ = offsetAt(event->position().toPoint());
  viewport()->update();
}

QString PlainTextView::selectedText() const {
  const int begin = std::min(anchor_, cursor_);
  return text_.mid(begin, std::max(anchor_, cursor_) - begin);
}

void PlainTextView::selectAll() {
  layOutPending();
  anchor_ = 0;
  cursor_ = static_cast<int>(text_.size());
  viewport()->update();
}

void PlainTextView::copy() const {
  if (anchor_ != cursor_) QApplication::clipboard()->setText(selectedText());
}

void PlainTextView::scrollToLine(int line) {
  layOutPending();
  const int index = std::clamp(line - 1, 0, std::max(0, lineCount() - 1));
  verticalScrollBar()->setValue(rowBefore_[index]);
}

int PlainTextView::lineOf(int offset) const {
  return static_cast<int>(std::upper_bound(lineStart_.begin(), lineStart_.end(), offset) - lineStart_.begin()) - 1;
}

int PlainTextView::shownColumn(int line, int column) const {
  const auto tabs = tabColumns_.find(line);
  if (tabs == tabColumns_.end()) return column;
  int shown = 0;
  int given = 0;
  for (const int tab : tabs->second) {
    if (tab >= column) break;
    shown += tab - given;
    shown += kTabWidth - shown % kTabWidth;
    given = tab + 1;
  }
  return shown + column - given;
}

void PlainTextView::showPosition(int line, int column) {
  layOutPending();
  const int index = std::clamp(line - 1, 0, std::max(0, lineCount() - 1));
  const int inLine = std::clamp(shownColumn(index, std::max(0, column - 1)), 0, std::max(0, lineLength(index)));
  markedLine_ = index;
  anchor_ = cursor_ = lineStart_[index] + inLine;
  centreRow(cursorRow());
  viewport()->update();
}

QPoint PlainTextView::cursorPosition() const {
  const int line = lineOf(cursor_);
  return {cursor_ - lineStart_[line] + 1, line + 1};
}

void PlainTextView::keyPressEvent(QKeyEvent* event) {
  QScrollBar* bar = verticalScrollBar();
  if (event->matches(QKeySequence::Copy)) {
    copy();
  } else if (event->matches(QKeySequence::SelectAll)) {
    selectAll();
  } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
    bar->setValue(0);
  } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
    bar->setValue(bar->maximum());
  } else if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down || event->key() == Qt::Key_PageUp ||
             event->key() == Qt::Key_PageDown) {
    const int step = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down ? 1 : bar->pageStep();
    const bool forward = event->key() == Qt::Key_Down || event->key() == Qt::Key_PageDown;
    bar->setValue(bar->value() + (forward ? step : -step));
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void PlainTextView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(tr("&Copy"), QKeySequence::Copy, this, &PlainTextView::copy)->setEnabled(anchor_ != cursor_);
  menu.addAction(tr("Select &All"), QKeySequence::SelectAll, this, &PlainTextView::selectAll);
  menu.exec(event->globalPos());
}

}  // namespace corvane
