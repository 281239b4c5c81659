// The order of a list by numeric keys, equal keys in the list's order: a radix sort, which
// orders hundreds of thousands of findings by position in a few passes over their keys.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace corvane {

// Positions of keys in ascending order of their keys; equal keys keep their order.
std::vector<std::uint32_t> StableKeyOrder(std::span<const std::uint64_t> keys);

}  // namespace corvane
