#include "fill_ahead.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstddef>
#include <vector>

using namespace corvane;

// Setting pages up ahead never changes what a writer puts there, however far apart the two
// are, and ends when asked, also half-way.
TEST(FillAhead, LeavesWhatTheWriterWritesAsItIs) {
  constexpr std::size_t kBytes = std::size_t{48} << 20;
  std::vector<unsigned char> data;
  data.reserve(kBytes);
  const FillAhead::Region region[] = {{data.data(), kBytes}};
  {
    FillAhead ahead(region);
    for (std::size_t i = 0; i < kBytes; ++i) {
      data.push_back(static_cast<unsigned char>(i * 7));
      if (i % (std::size_t{1} << 20) == 0) {
        const std::size_t written[] = {i};
        ahead.reached(written);
      }
    }
  }
  for (std::size_t i = 0; i < kBytes; i += 4093) ASSERT_EQ(data[i], static_cast<unsigned char>(i * 7)) << i;
  FillAhead stoppedEarly(region);
}

// Memory the kernel will not set up (here, memory that may only be read) stops the helper,
// and nothing else.
TEST(FillAhead, StopsWhereTheKernelRefuses) {
  constexpr std::size_t kBytes = std::size_t{8} << 20;
  void* readOnly = ::mmap(nullptr, kBytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(readOnly, MAP_FAILED);
  const FillAhead::Region region[] = {{readOnly, kBytes}};
  {
    FillAhead ahead(region);
    const std::size_t written[] = {kBytes / 2};
    ahead.reached(written);
  }
  EXPECT_EQ(static_cast<const unsigned char*>(readOnly)[kBytes - 1], 0);
  ::munmap(readOnly, kBytes);
}
