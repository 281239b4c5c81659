// A read-only view of a file's text that stays fast for files of many megabytes: lines are
// indexed once, wrapped at the view's width in a fixed-pitch font (so a row's width is a
// count of characters), and only the rows in sight are painted. Line numbers stand in a margin, so a parse error's
// "Line: N" is easy to find. Text can be selected with the mouse or Ctrl+A and copied with Ctrl+C.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <functional>
#include <unordered_map>
#include <vector>

namespace corvane {

// A text laid out for the view: line ends made line feeds, tabs expanded, and where each line
// starts and its tabs stood.
struct ViewText {
  QString text;
  std::vector<int> lineStart;  // offset of each line, and one past the end
  std::unordered_map<int, std::vector<int>> tabColumns;
};
// Lays a text out for the view; it needs no widget, so it may run on any thread.
ViewText LayOutText(const QString& text);

class PlainTextView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit PlainTextView(QWidget* parent = nullptr);

  // Replaces the text; tabs show as blanks up to the next multiple of eight columns.
  void setPlainText(const QString& text) { setViewText(LayOutText(text)); }
  // Replaces the text with one laid out already.
  void setViewText(ViewText laidOut);
  // Replaces the text with the one layOut gives, laid out once the view is first shown or
  // asked for its text or a place in it: a large file checked while the view is hidden
  // costs nothing here.
  void setViewTextLater(std::function<ViewText()> layOut);
  // The text as shown.
  const QString& toPlainText() {
    layOutPending();
    return text_;
  }
  // The selected text.
  QString selectedText() const;
  void selectAll();
  void copy() const;
  // Scrolls so that a line (counted from 1) is the first one in sight.
  void scrollToLine(int line);
  // Brings a place of the text (line and column of the text as given, tabs counting one
  // column; both from 1) to the middle of the view, marks its line and puts the cursor there.
  void showPosition(int line, int column);
  // The marked line (from 1), or 0.
  int markedLine() const { return markedLine_ + 1; }
  // The cursor's line and column in the text as shown (both from 1).
  QPoint cursorPosition() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Lays out the text setViewTextLater gave, if it waits.
  void layOutPending();
  int lineCount() const { return static_cast<int>(lineStart_.size()) - 1; }
  int lineLength(int line) const;
  // Visual rows a line takes at the current width.
  int rowsOf(int line) const;
  void relayout();
  int gutterWidth() const;
  // The text offset under a point of the viewport.
  int offsetAt(QPoint point) const;
  // The visual row of the cursor, and scrolling a row to the middle of the view.
  int cursorRow() const;
  void centreRow(int row);
  // The line (from 0) that holds a text offset.
  int lineOf(int offset) const;
  // The column as shown of a column of the text as given (both from 0).
  int shownColumn(int line, int column) const;

  std::function<ViewText()> pending_;  // the text to lay out when it is first needed
  QString text_;
  std::vector<int> lineStart_;  // offset of each line, and one past the end
  std::vector<int> rowBefore_;  // visual rows before each line, and the total
  int columns_ = 1;             // characters per row
  int anchor_ = 0;              // selection: from anchor_ to cursor_
  int cursor_ = 0;
  int markedLine_ = -1;  // from 0
  // Where the tabs of each line that had any stood, in columns of the text as given, so
  // that a position in the file can be found in the text as shown.
  std::unordered_map<int, std::vector<int>> tabColumns_;
};

}  // namespace corvane
