#include "text_blocks.h"

#include <algorithm>
#include <utility>

#include "vector_room.h"

namespace corvane {

TextBlocks::TextBlocks(TextBlocks&& other) noexcept { *this = std::move(other); }

TextBlocks& TextBlocks::operator=(TextBlocks&& other) noexcept {
  blocks_ = std::move(other.blocks_);
  other.blocks_.clear();
  free_ = std::exchange(other.free_, nullptr);
  freeSize_ = std::exchange(other.freeSize_, 0);
  firstBlockSize_ = std::exchange(other.firstBlockSize_, 0);
  lastBlockSize_ = std::exchange(other.lastBlockSize_, 0);
  return *this;
}

std::string_view TextBlocks::add(std::string_view text) {
  if (text.size() > freeSize_) startBlock(text.size());
  const std::string_view kept(free_, text.size());
  std::copy(text.begin(), text.end(), free_);
  free_ += text.size();
  freeSize_ -= text.size();
  return kept;
}

void TextBlocks::startBlock(std::size_t atLeast) {
  // Small at first, as most lists are, and larger block by block.
  constexpr std::size_t kFirstBlockBytes = 512;
  constexpr std::size_t kLargestBlockBytes = std::size_t{64} * 1024;
  const std::size_t grown = blocks_.empty() ? kFirstBlockBytes : std::min(kLargestBlockBytes, 2 * lastBlockSize_);
  const std::size_t size = std::max(grown, atLeast);
  blocks_.reserve(blocks_.size() + 1);
  blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
  if (blocks_.size() == 1) firstBlockSize_ = size;
  lastBlockSize_ = size;
  free_ = blocks_.back().get();
  freeSize_ = size;
}

void TextBlocks::clear() {
  if (blocks_.size() > 1) blocks_.resize(1);
  free_ = blocks_.empty() ? nullptr : blocks_.front().get();
  freeSize_ = blocks_.empty() ? 0 : firstBlockSize_;
  lastBlockSize_ = firstBlockSize_;
}

bool TextSet::insert(std::string_view text) {
  if (contains(text)) return false;
  // Room first: a failure to allocate leaves the set as it was.
  index_.reserve(texts_.size() + 1);
  MakeRoomForOne(texts_);
  texts_.push_back(blocks_.add(text));
  index_.insert(texts_.size() - 1, [this](std::size_t i) { return texts_[i]; });
  return true;
}

bool TextSet::contains(std::string_view text) const {
  return index_.find(text, [this](std::size_t i) { return texts_[i]; }) >= 0;
}

void TextSet::clear() {
  texts_.clear();
  blocks_.clear();
  index_.clear();
}

}  // namespace corvane
