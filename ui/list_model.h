// The model behind the window's five list boxes: lines sorted alphabetically with ASCII
// letter case ignored, duplicates kept, each line with an optional tree item attached.
#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <string>
#include <vector>

#include "sinks.h"
#include "string_list.h"

namespace corvane {

class SortedListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  // Replaces the whole content with the list's lines.
  void setLines(const StringList& lines);
  // Replaces the whole content with message lines and their items.
  void setMessages(std::vector<Message> messages);
  // Removes every line.
  void clear();

  // The line at row, as written (line breaks included).
  const std::string& text(int row) const { return lines_[static_cast<std::size_t>(row)].text; }
  // The message at row, with its items.
  const Message& message(int row) const { return lines_[static_cast<std::size_t>(row)]; }
  // The tree item attached to row, or kNoItem.
  TreeItem item(int row) const { return lines_[static_cast<std::size_t>(row)].item; }
  // Every line in the order shown.
  std::vector<std::string> texts() const;
  // The row with the longest line, or -1 when there is none.
  int longestRow() const { return longestRow_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  void replace(std::vector<Message> lines);

  std::vector<Message> lines_;
  int longestRow_ = -1;
};

// Sizes every row of a list of a SortedListModel as wide as its longest line, so that no
// line is cut short and the list scrolls sideways far enough to read each one to its end.
// Rows stay uniform, so a list of many thousand lines is laid out at once.
class WholeLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace corvane
