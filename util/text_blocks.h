// Texts kept one after the other in large blocks rather than in a string each: a check of a
// large file keeps hundreds of thousands of short texts, which would otherwise cost an
// allocation each to make and another to free.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "text_index.h"

namespace corvane {

class TextBlocks {
 public:
  TextBlocks() = default;
  // The texts move along and stay where they are; other is left empty.
  TextBlocks(TextBlocks&& other) noexcept;
  TextBlocks& operator=(TextBlocks&& other) noexcept;
  TextBlocks(const TextBlocks&) = delete;
  TextBlocks& operator=(const TextBlocks&) = delete;
  ~TextBlocks() = default;

  // A copy of text that stays where it is until clear(). Throws when the room cannot be had;
  // the blocks are then unchanged.
  std::string_view add(std::string_view text);
  // Forgets every text. The first block serves again: a run of small checks allocates it once.
  void clear();

 private:
  // Starts a block with room for at least atLeast bytes.
  void startBlock(std::size_t atLeast);

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;  // the unused end of the last block
  std::size_t freeSize_ = 0;
  std::size_t firstBlockSize_ = 0;
  std::size_t lastBlockSize_ = 0;
};

// A set of texts, each kept once in blocks, found through a hash index.
class TextSet {
 public:
  // Adds text unless it is in the set; whether it was added.
  bool insert(std::string_view text);
  bool contains(std::string_view text) const;
  std::size_t size() const { return texts_.size(); }
  void clear();

 private:
  std::vector<std::string_view> texts_;  // into blocks_
  TextBlocks blocks_;
  TextIndex index_;
};

}  // namespace corvane
