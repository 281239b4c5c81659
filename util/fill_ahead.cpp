#include "fill_ahead.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <system_error>

namespace corvane {

namespace {

// Linux's request to fault pages in writable without writing them (5.14 and later).
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;
#endif

// Sets up the pages of [from, to) of region; false where the kernel refuses.
bool Populate(const FillAhead::Region& region, std::size_t from, std::size_t to) {
  static const auto kPage = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(region.start) + from;
  const std::uintptr_t aligned = start & ~(kPage - 1);
  // NOLINTNEXTLINE(performance-no-int-to-ptr): madvise takes the page's address
  return ::madvise(reinterpret_cast<void*>(aligned), to - from + (start - aligned), kPopulateWrite) == 0;
}

}  // namespace

FillAhead::FillAhead(std::span<const Region> regions) {
  for (const Region& region : regions) progress_.push_back({region});
  // Where the system refuses another thread, the writer sets its pages up itself.
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
  }
}

FillAhead::~FillAhead() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  moved_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void FillAhead::reached(std::span<const std::size_t> written) {
  {
    const std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < progress_.size() && i < written.size(); ++i) progress_[i].written = written[i];
  }
  moved_.notify_one();
}

void FillAhead::run() {
  // A piece at a time, so that the writer's progress is read again between them.
  constexpr std::size_t kPiece = std::size_t{2} << 20;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    Progress* behind = nullptr;
    for (Progress& p : progress_) {
      if (p.ready < std::min(p.region.bytes, p.written + kAheadBytes)) behind = &p;
    }
    if (behind == nullptr) {
      moved_.wait(lock);
      continue;
    }
    const Region region = behind->region;
    const std::size_t from = behind->ready;
    const std::size_t to = std::min({region.bytes, behind->written + kAheadBytes, from + kPiece});
    behind->ready = to;
    lock.unlock();
    const bool done = Populate(region, from, to);
    lock.lock();
    if (!done) return;  // an older kernel: the writer faults its pages in itself
  }
}

}  // namespace corvane
