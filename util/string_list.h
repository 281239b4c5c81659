// An ordered list of texts, each with an optional number attached, that accepts duplicates.
// A hash index beside the order makes lookups constant-time while answering exactly what a
// linear search from the front would.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "text_index.h"

namespace corvane {

class StringList {
 public:
  struct Entry {
    std::string text;
    std::int64_t object = 0;
  };

  // Appends an entry; returns its index. Like every change below, one that fails to allocate
  // leaves the list as it was.
  std::size_t add(std::string text, std::int64_t object = 0);
  // Appends an entry for each text: all of them, or none.
  void addAll(std::vector<std::string> texts);
  // Empties the list.
  void clear();
  // Number of entries.
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const Entry& operator[](std::size_t i) const { return entries_[i]; }
  const std::vector<Entry>& entries() const { return entries_; }

  // Index of the first entry equal to text (case-sensitive), or -1.
  std::int64_t indexOf(std::string_view text) const;
  bool contains(std::string_view text) const { return indexOf(text) >= 0; }
  // Index of the first entry equal to text with ASCII letters folded, or -1.
  std::int64_t indexOfText(std::string_view text) const;
  bool containsText(std::string_view text) const { return indexOfText(text) >= 0; }

  // Deletes every entry for which drop answers true, keeping the order of the rest.
  void removeIf(const std::function<bool(const Entry&)>& drop);
  // The texts alone, in order.
  std::vector<std::string> lines() const;

 private:
  // Makes room for count entries in all, in the list and its indexes.
  void reserve(std::size_t count);
  // Appends an entry for which room was made.
  void append(std::string text, std::int64_t object) noexcept;
  std::string_view textAt(std::size_t i) const { return entries_[i].text; }
  // Indexes every entry again, after entries moved.
  void reindex();

  std::vector<Entry> entries_;
  TextIndex exact_{TextIndex::Match::Exact};
  // Built on the first folded lookup, kept up to date afterwards.
  mutable TextIndex folded_{TextIndex::Match::Folded};
  mutable bool foldedBuilt_ = false;
};

}  // namespace corvane
