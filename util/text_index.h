// A hash index over texts kept elsewhere, found by their position there: one flat array of
// slots probed in turn, each holding part of a text's hash and its position. A lookup that
// misses touches no text, and an insert allocates nothing once room was made for it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "folded_words.h"

namespace corvane {

class TextIndex {
 public:
  // Exact: texts equal byte for byte. Folded: equal with ASCII letters in either case.
  enum class Match : std::uint8_t { Exact, Folded };

  explicit TextIndex(Match match = Match::Exact) : match_(match) {}

  // Position of the first indexed text equal to text, or -1. textAt(i) gives the text at i.
  template <typename TextAt>
  std::int64_t find(std::string_view text, const TextAt& textAt) const {
    if (slots_.empty()) return -1;
    const std::uint32_t hash = Hash(text);
    for (std::size_t s = hash & mask(); slots_[s].position != 0; s = (s + 1) & mask()) {
      const Slot& slot = slots_[s];
      if (slot.hash == hash && equal(textAt(slot.position - 1), text)) return slot.position - 1;
    }
    return -1;
  }

  // Makes room for count texts in all, so that inserting them cannot fail. Throws when the
  // room cannot be had; the index is then unchanged.
  void reserve(std::size_t count) {
    if (count >= kMaxPositions) throw std::length_error("too many texts to index");
    if (2 * count <= slots_.size()) return;
    std::size_t size = slots_.empty() ? kMinSlots : slots_.size();
    while (size < 2 * count) size *= 2;
    std::vector<Slot> grown(size);
    std::swap(slots_, grown);
    for (const Slot& slot : grown) {
      if (slot.position != 0) slots_[freeSlot(slot.hash)] = slot;
    }
  }

  // Indexes the text at position unless an equal one is indexed already. Room for it was
  // made with reserve.
  template <typename TextAt>
  void insert(std::size_t position, const TextAt& textAt) noexcept {
    const std::string_view text = textAt(position);
    const std::uint32_t hash = Hash(text);
    std::size_t s = hash & mask();
    for (; slots_[s].position != 0; s = (s + 1) & mask()) {
      const Slot& slot = slots_[s];
      if (slot.hash == hash && equal(textAt(slot.position - 1), text)) return;
    }
    slots_[s] = {hash, static_cast<std::uint32_t>(position + 1)};
  }

  // Forgets every text; the room made stays.
  void clear() noexcept { std::fill(slots_.begin(), slots_.end(), Slot{}); }

 private:
  struct Slot {
    std::uint32_t hash = 0;      // the text's hash, which also picks its first slot
    std::uint32_t position = 0;  // the text's position + 1; 0 for an empty slot
  };
  static constexpr std::size_t kMinSlots = 16;
  static constexpr std::size_t kMaxPositions = UINT32_MAX / 2;

  // Eight bytes at a time (for Folded the letters in upper case), each word mixed in by a
  // multiply: texts here are names and keys, a few words long.
  std::uint32_t Hash(std::string_view text) const {
    const auto word = [this](std::uint64_t w) { return match_ == Match::Folded ? FoldWord(w) : w; };
    constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ULL;
    std::uint64_t hash = text.size() * kMix;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) hash = (hash ^ word(LoadWord(text.data() + i))) * kMix;
    if (i < text.size()) hash = (hash ^ word(LoadPartialWord(text.data() + i, text.size() - i))) * kMix;
    hash ^= hash >> 29;
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
  }

  bool equal(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    if (match_ == Match::Exact) return a == b;
    std::size_t i = 0;
    for (; i + 8 <= a.size(); i += 8) {
      if (FoldWord(LoadWord(a.data() + i)) != FoldWord(LoadWord(b.data() + i))) return false;
    }
    return i == a.size() || FoldWord(LoadPartialWord(a.data() + i, a.size() - i)) ==
                                FoldWord(LoadPartialWord(b.data() + i, b.size() - i));
  }

  std::size_t mask() const { return slots_.size() - 1; }

  std::size_t freeSlot(std::uint32_t hash) const noexcept {
    std::size_t s = hash & mask();
    while (slots_[s].position != 0) s = (s + 1) & mask();
    return s;
  }

  Match match_;
  std::vector<Slot> slots_;
};

}  // namespace corvane
