// The model behind the window's five list boxes: lines sorted alphabetically with ASCII
// letter case ignored, duplicates kept, each line with an optional tree item attached.
#pragma once

#include <QAbstractListModel>
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
  // The tree item attached to row, or kNoItem.
  TreeItem item(int row) const { return lines_[static_cast<std::size_t>(row)].item; }
  // Every line in the order shown.
  std::vector<std::string> texts() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  void replace(std::vector<Message> lines);

  std::vector<Message> lines_;
};

}  // namespace corvane
