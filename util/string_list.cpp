#include "string_list.h"

#include "d_util.h"

namespace corvane {

std::size_t StringList::add(std::string text, std::int64_t object) {
  entries_.push_back({std::move(text), object});
  try {
    indexLast();
  } catch (...) {
    removeLast();
    throw;
  }
  return entries_.size() - 1;
}

void StringList::addAll(std::vector<std::string> texts) {
  const std::size_t before = entries_.size();
  try {
    for (std::string& text : texts) add(std::move(text));
  } catch (...) {
    while (entries_.size() > before) removeLast();
    throw;
  }
}

void StringList::indexLast() {
  const std::size_t i = entries_.size() - 1;
  exact_.try_emplace(entries_[i].text, i);
  if (foldedBuilt_) indexEntry(i);
}

void StringList::removeLast() {
  const std::size_t i = entries_.size() - 1;
  if (const auto it = exact_.find(entries_[i].text); it != exact_.end() && it->second == i) exact_.erase(it);
  // Finding the entry's folded key would take an allocation; the folded index is made again
  // when it is next asked.
  folded_.clear();
  foldedBuilt_ = false;
  entries_.pop_back();
}

void StringList::clear() {
  entries_.clear();
  exact_.clear();
  folded_.clear();
  foldedBuilt_ = false;
}

std::int64_t StringList::indexOf(std::string_view text) const {
  const auto it = exact_.find(text);
  return it == exact_.end() ? -1 : static_cast<std::int64_t>(it->second);
}

std::int64_t StringList::indexOfText(std::string_view text) const {
  if (!foldedBuilt_) {
    for (std::size_t i = 0; i < entries_.size(); ++i) indexEntry(i);
    foldedBuilt_ = true;
  }
  const auto it = folded_.find(UpperCaseAscii(text));
  return it == folded_.end() ? -1 : static_cast<std::int64_t>(it->second);
}

void StringList::indexEntry(std::size_t i) const { folded_.try_emplace(UpperCaseAscii(entries_[i].text), i); }

void StringList::removeIf(const std::function<bool(const Entry&)>& drop) {
  // What goes and the index of what stays are settled before any entry moves.
  std::vector<bool> dropped(entries_.size());
  Index exact;
  for (std::size_t i = 0, next = 0; i < entries_.size(); ++i) {
    dropped[i] = drop(entries_[i]);
    if (!dropped[i]) exact.try_emplace(entries_[i].text, next++);
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (dropped[i]) continue;
    if (kept != i) entries_[kept] = std::move(entries_[i]);
    ++kept;
  }
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(kept), entries_.end());
  exact_.swap(exact);
  folded_.clear();
  foldedBuilt_ = false;
}

std::vector<std::string> StringList::lines() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.text);
  return out;
}

}  // namespace corvane
