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

// Asks the kernel to back the whole 2 MiB pages of [at, at + bytes) with huge pages where it
// can: a large array then takes one page fault per 2 MiB instead of one per 4 KiB. Only
// advice: where it is not taken, or for memory touched already, nothing changes.
inline void AdviseHugePages(const void* at, std::size_t bytes) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(at);
  const std::uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + bytes) & ~(kHugePage - 1);
  if (end > begin)
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // NOLINT(performance-no-int-to-ptr)
}

// Reserves room for n elements, backed by huge pages (AdviseHugePages). Room never touched
// stays unbacked either way.
template <typename Container>
void ReserveInHugePages(Container& c, std::size_t n) {
  c.reserve(n);
  AdviseHugePages(c.data(), c.capacity() * sizeof(*c.data()));
}

}  // namespace corvane
