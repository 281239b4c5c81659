#include "key_order.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace corvane {

std::vector<std::uint32_t> StableKeyOrder(std::span<const std::uint64_t> keys) {
  std::vector<std::uint32_t> order(keys.size());
  std::iota(order.begin(), order.end(), 0U);
  // Keys often come in order already: findings put in line order are asked for it again.
  if (std::is_sorted(keys.begin(), keys.end())) return order;
  // A short list is sorted directly: a radix pass clears more buckets than it has keys.
  constexpr std::size_t kShortList = 512;
  if (keys.size() < kShortList) {
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
    return order;
  }
  // Bits that are the same in every key order nothing: digits made only of them are skipped.
  std::uint64_t varying = 0;
  for (const std::uint64_t key : keys) varying |= key ^ keys.front();
  constexpr int kDigitBits = 11;
  constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
  std::vector<std::uint32_t> sorted(keys.size());
  for (int shift = 0; shift < 64 && (varying >> shift) != 0; shift += kDigitBits) {
    if (((varying >> shift) & (kBuckets - 1)) == 0) continue;
    const auto digit = [&](std::uint32_t i) { return (keys[i] >> shift) & (kBuckets - 1); };
    std::array<std::size_t, kBuckets> next{};
    for (const std::uint32_t i : order) ++next[digit(i)];
    std::exclusive_scan(next.begin(), next.end(), next.begin(), std::size_t{0});
    for (const std::uint32_t i : order) sorted[next[digit(i)]++] = i;
    order.swap(sorted);
  }
  return order;
}

}  // namespace corvane
