#include "list_model.h"

#include <algorithm>

#include "shown_text.h"

namespace corvane {

void SortedListModel::setLines(const StringList& lines) {
  std::vector<Message> entries;
  entries.reserve(lines.size());
  for (const StringList::Entry& e : lines.entries()) entries.push_back({e.text, 0, kNoItem});
  replace(std::move(entries));
}

void SortedListModel::setMessages(std::vector<Message> messages) { replace(std::move(messages)); }

void SortedListModel::clear() { replace({}); }

void SortedListModel::replace(std::vector<Message> lines) {
  SortMessages(lines);
  beginResetModel();
  lines_ = std::move(lines);
  longestRow_ = -1;
  std::size_t longest = 0;
  for (std::size_t row = 0; row < lines_.size(); ++row) {
    if (longestRow_ >= 0 && lines_[row].text.size() <= longest) continue;
    longest = lines_[row].text.size();
    longestRow_ = static_cast<int>(row);
  }
  endResetModel();
}

std::vector<std::string> SortedListModel::texts() const {
  std::vector<std::string> out;
  out.reserve(lines_.size());
  for (const Message& m : lines_) out.push_back(m.text);
  return out;
}

int SortedListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant SortedListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const std::string& line = text(index.row());
  // A line keeps one row, cut short when long; the tool tip shows a line that is cut or
  // that has line breaks (a parse error's) as written.
  if (role == Qt::DisplayRole) return ShownText(line);
  const bool cut = line.size() > static_cast<std::size_t>(kMaxShownChars);
  if (role == Qt::ToolTipRole && (cut || line.find('\n') != std::string::npos)) return QString::fromStdString(line);
  return {};
}

}  // namespace corvane

namespace corvane {

QSize WholeLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const auto* model = qobject_cast<const SortedListModel*>(index.model());
  if (model == nullptr || model->longestRow() < 0) return QStyledItemDelegate::sizeHint(option, index);
  // Bytes are not pixels: the longest line in bytes may not be the widest one, so the
  // average character width of the longest sets a floor.
  const QModelIndex longest = model->index(model->longestRow());
  const QSize size = QStyledItemDelegate::sizeHint(option, longest);
  const auto shown = std::min<std::size_t>(model->text(longest.row()).size(), kMaxShownChars + 1);
  const int average = static_cast<int>(shown) * option.fontMetrics.averageCharWidth();
  return {std::max(size.width(), average + 8), size.height()};
}

}  // namespace corvane
