#include "string_list.h"

#include "d_util.h"

namespace corvane {

std::size_t StringList::add(std::string text, std::int64_t object) {
  const std::size_t i = entries_.size();
  entries_.push_back({std::move(text), object});
  exact_.try_emplace(entries_.back().text, i);
  if (foldedBuilt_) indexEntry(i);
  return i;
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
  std::erase_if(entries_, drop);
  rebuildIndexes();
}

void StringList::rebuildIndexes() {
  exact_.clear();
  folded_.clear();
  foldedBuilt_ = false;
  for (std::size_t i = 0; i < entries_.size(); ++i) exact_.try_emplace(entries_[i].text, i);
}

std::vector<std::string> StringList::lines() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.text);
  return out;
}

}  // namespace corvane
