// Room made ahead: so that an update of two containers changes both or neither, and so that
// a large container is filled with few page faults.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

// Makes room for one more element, growing as push_back would: the push_back after it cannot
// fail to allocate.
template <typename T>
void MakeRoomForOne(std::vector<T>& v) {
  if (v.size() == v.capacity()) v.reserve(std::max<std::size_t>(16, 2 * v.capacity()));
}

// Reserves room for n elements. The kernel backs the whole 2 MiB pages of the room with huge
// pages where it can: a document's large arrays then take one page fault per 2 MiB instead of
// one per 4 KiB. Room never touched stays unbacked either way.
template <typename Container>
void ReserveInHugePages(Container& c, std::size_t n) {
  c.reserve(n);
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(c.data());
  const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + c.capacity() * sizeof(*c.data())) & ~(kHugePage - 1);
  // Only advice: where it is not taken, the room is backed page by page as before.
  if (end > begin)
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace corvane
