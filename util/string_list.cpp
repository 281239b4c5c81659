#include "string_list.h"

#include <algorithm>

namespace corvane {

void StringList::reserve(std::size_t count) {
  if (count > entries_.capacity()) entries_.reserve(std::max(count, 2 * entries_.capacity()));
  exact_.reserve(count);
  if (foldedBuilt_) folded_.reserve(count);
}

void StringList::append(std::string text, std::int64_t object) noexcept {
  const auto at = [this](std::size_t i) { return textAt(i); };
  entries_.push_back({std::move(text), object});
  exact_.insert(entries_.size() - 1, at);
  if (foldedBuilt_) folded_.insert(entries_.size() - 1, at);
}

std::size_t StringList::add(std::string text, std::int64_t object) {
  reserve(entries_.size() + 1);
  append(std::move(text), object);
  return entries_.size() - 1;
}

void StringList::addAll(std::vector<std::string> texts) {
  reserve(entries_.size() + texts.size());
  for (std::string& text : texts) append(std::move(text), 0);
}

void StringList::clear() {
  entries_.clear();
  exact_.clear();
  folded_.clear();
  foldedBuilt_ = false;
}

std::int64_t StringList::indexOf(std::string_view text) const {
  return exact_.find(text, [this](std::size_t i) { return textAt(i); });
}

std::int64_t StringList::indexOfText(std::string_view text) const {
  const auto at = [this](std::size_t i) { return textAt(i); };
  if (!foldedBuilt_) {
    folded_.clear();
    folded_.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) folded_.insert(i, at);
    foldedBuilt_ = true;
  }
  return folded_.find(text, at);
}

void StringList::reindex() {
  const auto at = [this](std::size_t i) { return textAt(i); };
  exact_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i) exact_.insert(i, at);
  folded_.clear();
  foldedBuilt_ = false;
}

void StringList::removeIf(const std::function<bool(const Entry&)>& drop) {
  // What goes is settled before any entry moves; fewer entries need no more room.
  std::vector<bool> dropped(entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) dropped[i] = drop(entries_[i]);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (dropped[i]) continue;
    if (kept != i) entries_[kept] = std::move(entries_[i]);
    ++kept;
  }
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(kept), entries_.end());
  reindex();
}

std::vector<std::string> StringList::lines() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.text);
  return out;
}

}  // namespace corvane
