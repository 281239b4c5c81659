#include "sinks.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "d_util.h"
#include "folded_words.h"
#include "key_order.h"

namespace corvane {

std::string ItemLabel::str() const {
  if (!isTextElement) return std::string(name);
  std::string out;
  out.reserve(size());
  out.append(name).append(": ").append(value);
  return out;
}

bool MessageOrder(const Message& a, const Message& b) { return CompareText(a.text, b.text) < 0; }

namespace {

// Message lists are long and their lines share long beginnings ("Msg 001: Schema -
// Attribute not found: ..."); a comparison sort reads those again in every comparison.
// SortMessages sorts by bytes from the front instead (a radix sort): the lines of a range
// agree on their first pos bytes and are split by the byte at pos, from one key buffer
// into the other. Eight folded bytes of each line are kept in its key as one number, so
// that most steps read no line text, and runs that every line of a range shares are
// skipped in one pass. Every split is stable, so equal lines keep their order.

constexpr std::size_t kHeadBytes = 8;
constexpr std::size_t kNoHead = SIZE_MAX;
// Ranges this small are sorted by insertion.
constexpr std::size_t kSmallRange = 16;
// Texts are read in an order the memory does not follow: each is asked for this many keys ahead.
constexpr std::ptrdiff_t kLookAhead = 16;

// The first byte in memory as the highest byte, so that numbers compare as the bytes do.
std::uint64_t FirstByteHighest(std::uint64_t x) {
  if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
  return x;
}

// FoldChar, here where it is called for every byte of a comparison.
unsigned FoldedByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'a' && byte <= 'z' ? byte - ('a' - 'A') : byte;
}

// How many of the first n bytes of a and b are equal with letter case ignored; both have
// at least readable >= n bytes, which lets the last few be compared as a word too.
std::size_t FoldedMatch(const char* a, const char* b, std::size_t n, std::size_t readable) {
  std::size_t i = 0;
  for (; i < n && i + kHeadBytes <= readable; i += kHeadBytes) {
    const std::uint64_t x = LoadWord(a + i);
    const std::uint64_t y = LoadWord(b + i);
    if (x == y) continue;
    const std::uint64_t diff = FirstByteHighest(FoldWord(x) ^ FoldWord(y));
    if (diff != 0) return std::min(n, i + static_cast<std::size_t>(std::countl_zero(diff)) / 8);
  }
  while (i < n && FoldedByte(a[i]) == FoldedByte(b[i])) ++i;
  return std::min(i, n);
}

struct SortKey {
  std::uint64_t head;  // folded bytes from the range's head position on, zeros after the end
  const char* text;
  std::size_t size;
  std::size_t index;  // place in the input
};

std::uint64_t FoldedHead(const SortKey& key, std::size_t at) {
  if (at + kHeadBytes <= key.size) return FirstByteHighest(FoldWord(LoadWord(key.text + at)));
  std::uint64_t head = 0;
  for (std::size_t i = at; i < at + kHeadBytes; ++i) head = (head << 8) | (i < key.size ? FoldedByte(key.text[i]) : 0);
  return head;
}

// CompareText(a, b) < 0 for lines that agree on their first pos bytes.
bool LessFrom(const SortKey& a, const SortKey& b, std::size_t pos) {
  const std::size_t n = std::min(a.size, b.size) - pos;
  const std::size_t same = FoldedMatch(a.text + pos, b.text + pos, n, n);
  if (same < n) return FoldedByte(a.text[pos + same]) < FoldedByte(b.text[pos + same]);
  return a.size < b.size;
}

// Lines whose keys are at [begin, end) of one of the two key buffers.
struct SortRange {
  std::size_t begin;
  std::size_t end;
  std::size_t pos;     // the lines agree on their first pos bytes
  std::size_t headAt;  // where the keys' heads start; kNoHead: not read yet
  bool inSpare;        // in the spare buffer rather than the result
};

class RadixSorter {
 public:
  explicit RadixSorter(std::span<const std::string_view> lines) : keys_(lines.size()), spare_(lines.size()) {
    for (std::size_t i = 0; i < lines.size(); ++i) keys_[i] = {0, lines[i].data(), lines[i].size(), i};
  }

  // The input positions in the list's order.
  std::vector<std::size_t> order() {
    std::vector<SortRange> todo{{0, keys_.size(), 0, kNoHead, false}};
    while (!todo.empty()) {
      const SortRange range = todo.back();
      todo.pop_back();
      if (range.end - range.begin <= kSmallRange) {
        insertionSort(range);
      } else {
        split(range, todo);
      }
    }
    std::vector<std::size_t> positions(keys_.size());
    for (std::size_t i = 0; i < keys_.size(); ++i) positions[i] = keys_[i].index;
    return positions;
  }

 private:
  SortKey* buffer(bool spare) { return spare ? spare_.data() : keys_.data(); }

  // Keys in their final places: into the result buffer if they are not there.
  void finish(const SortRange& range) {
    if (range.inSpare) std::copy(spare_.data() + range.begin, spare_.data() + range.end, keys_.data() + range.begin);
  }

  void insertionSort(const SortRange& range) {
    // With heads read, they order the lines unless they are equal: a line that ends
    // within them has zeros there, below any byte of a longer line or equal to its zeros.
    const bool heads = range.headAt != kNoHead;
    const std::size_t afterHeads = heads ? range.headAt + kHeadBytes : range.pos;
    const auto less = [heads, afterHeads](const SortKey& a, const SortKey& b) {
      if (heads && a.head != b.head) return a.head < b.head;
      if (a.size < afterHeads || b.size < afterHeads) return a.size < b.size;
      return LessFrom(a, b, afterHeads);
    };
    SortKey* const keys = buffer(range.inSpare);
    for (std::size_t i = range.begin + 1; i < range.end; ++i) {
      const SortKey key = keys[i];
      std::size_t j = i;
      for (; j > range.begin && less(key, keys[j - 1]); --j) keys[j] = keys[j - 1];
      keys[j] = key;
    }
    finish(range);
  }

  // How many bytes from pos on every line of [first, last) shares.
  static std::size_t SharedLength(const SortKey* first, const SortKey* last, std::size_t pos) {
    std::size_t shared = first->size - pos;
    for (const SortKey* k = first + 1; k != last && shared > 0; ++k) {
      if (last - k > kLookAhead) __builtin_prefetch(k[kLookAhead].text + pos);
      const std::size_t readable = std::min(first->size, k->size) - pos;
      shared = FoldedMatch(first->text + pos, k->text + pos, std::min(shared, readable), readable);
    }
    return shared;
  }

  // Splits a range into the other buffer by the first byte position where its lines
  // differ; pushes the parts that still need sorting.
  void split(SortRange range, std::vector<SortRange>& todo) {
    SortKey* const first = buffer(range.inSpare) + range.begin;
    SortKey* const last = buffer(range.inSpare) + range.end;
    bool longRun = false;  // a whole window of heads was shared: skip the rest of the run in one pass
    for (;;) {
      std::uint64_t diff = 0;
      std::size_t shortest = first->size;
      if (range.headAt == kNoHead || range.pos >= range.headAt + kHeadBytes) {
        if (longRun) range.pos += SharedLength(first, last, range.pos);
        range.headAt = range.pos;
        const std::uint64_t firstHead = first->head = FoldedHead(*first, range.headAt);
        for (SortKey* k = first + 1; k != last; ++k) {
          if (last - k > kLookAhead) __builtin_prefetch(k[kLookAhead].text + range.headAt);
          k->head = FoldedHead(*k, range.headAt);
          diff |= k->head ^ firstHead;
          shortest = std::min(shortest, k->size);
        }
      } else {
        for (const SortKey* k = first + 1; k != last; ++k) {
          diff |= k->head ^ first->head;
          shortest = std::min(shortest, k->size);
        }
      }
      const std::size_t sameHead = diff == 0 ? kHeadBytes : static_cast<std::size_t>(std::countl_zero(diff)) / 8;
      range.pos = std::max(range.pos, std::min(range.headAt + sameHead, shortest));
      if (range.pos < range.headAt + kHeadBytes) break;
      longRun = true;
    }

    // Bucket 0: lines that end at pos; then one bucket per byte value.
    const std::size_t pos = range.pos;
    const int shift = static_cast<int>(8 * (kHeadBytes - 1 - (pos - range.headAt)));
    const auto bucket = [pos, shift](const SortKey& k) {
      return k.size == pos ? 0 : 1 + static_cast<std::size_t>((k.head >> shift) & 0xFF);
    };
    std::size_t count[257] = {};
    std::size_t lowest = 256;
    std::size_t highest = 0;
    for (const SortKey* k = first; k != last; ++k) {
      const std::size_t b = bucket(*k);
      ++count[b];
      lowest = std::min(lowest, b);
      highest = std::max(highest, b);
    }
    if (count[0] == range.end - range.begin) {  // all lines equal
      finish(range);
      return;
    }

    std::size_t next[257];
    std::size_t sum = range.begin;
    for (std::size_t b = lowest; b <= highest; ++b) {
      next[b] = sum;
      sum += count[b];
    }
    SortKey* const out = buffer(!range.inSpare);
    for (const SortKey* k = first; k != last; ++k) out[next[bucket(*k)]++] = *k;

    std::size_t begin = range.begin;
    for (std::size_t b = lowest; b <= highest; ++b) {
      const SortRange part{begin, begin + count[b], pos + 1, range.headAt, !range.inSpare};
      if (b == 0 || count[b] == 1) {
        finish(part);  // equal lines, or one line
      } else if (count[b] > 1) {
        todo.push_back(part);
      }
      begin += count[b];
    }
  }

  std::vector<SortKey> keys_;
  std::vector<SortKey> spare_;
};

}  // namespace

std::vector<std::size_t> MessageSortOrder(std::span<const std::string_view> lines) {
  return RadixSorter(lines).order();
}

void SortMessages(std::vector<Message>& messages) {
  std::vector<std::string_view> lines(messages.size());
  for (std::size_t i = 0; i < messages.size(); ++i) lines[i] = messages[i].text;
  std::vector<std::size_t> order = MessageSortOrder(lines);
  ApplyOrder(messages, order);
}

}  // namespace corvane
