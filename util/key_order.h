// The order of a list by numeric keys, equal keys in the list's order: a radix sort, which
// orders hundreds of thousands of findings by position in a few passes over their keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace corvane {

// Positions of keys in ascending order of their keys; equal keys keep their order.
std::vector<std::uint32_t> StableKeyOrder(std::span<const std::uint64_t> keys);

// Puts items in the order given (order[i]: the position of the item to come i-th), moving
// each item once, along the cycles of the order, without a second list. The order is used
// up: order[i] == i marks a place done.
template <typename Item, typename Index>
void ApplyOrder(std::vector<Item>& items, std::vector<Index>& order) {
  for (std::size_t start = 0; start < order.size(); ++start) {
    if (order[start] == start) continue;
    Item first = std::move(items[start]);
    std::size_t to = start;
    for (std::size_t from = order[to]; from != start; from = order[to]) {
      items[to] = std::move(items[from]);
      order[to] = static_cast<Index>(to);
      to = from;
    }
    items[to] = std::move(first);
    order[to] = static_cast<Index>(to);
  }
}

}  // namespace corvane
