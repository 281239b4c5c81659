// Fresh memory costs its writer a page fault and the clearing of a page on first touch. While
// one thread fills large arrays, FillAhead has the kernel set up their next pages on a thread
// of its own (MADV_POPULATE_WRITE, Linux 5.14 and later), so that the writer finds them ready.
// Where the kernel cannot, it does nothing. It never reads or changes what the arrays hold.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace corvane {

class FillAhead {
 public:
  // Pages are set up this far beyond what the writer has reached.
  static constexpr std::size_t kAheadBytes = std::size_t{2} << 20;

  struct Region {
    const void* start;
    std::size_t bytes;
  };
  explicit FillAhead(std::span<const Region> regions);
  ~FillAhead();
  FillAhead(const FillAhead&) = delete;
  FillAhead& operator=(const FillAhead&) = delete;

  // The writer has filled the first written[i] bytes of region i.
  void reached(std::span<const std::size_t> written);

 private:
  struct Progress {
    Region region;
    std::size_t written = 0;
    std::size_t ready = 0;  // bytes set up from the region's start
  };
  void run();

  std::mutex mutex_;
  std::condition_variable moved_;
  std::vector<Progress> progress_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace corvane
