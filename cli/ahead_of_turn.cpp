#include "ahead_of_turn.h"

#include <system_error>
#include <utility>

namespace corvane::cli {

AheadOfTurn::AheadOfTurn(std::size_t count, unsigned workers, std::size_t window, std::function<void(std::size_t)> task)
    : task_(std::move(task)), count_(count), window_(window < 1 ? 1 : window), done_(count, false) {
  // A thread that cannot be started leaves its share to the others and to the caller.
  try {
    for (unsigned i = 0; i < workers && i < count; ++i) threads_.emplace_back([this] { work(); });
  } catch (const std::system_error&) {
  }
}

AheadOfTurn::~AheadOfTurn() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void AheadOfTurn::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || next_ >= count_ || next_ < turn_ + window_; });
    if (stopping_ || next_ >= count_) return;
    const std::size_t index = next_++;
    lock.unlock();
    task_(index);
    lock.lock();
    done_[index] = true;
    changed_.notify_all();
  }
}

void AheadOfTurn::wait(std::size_t index) {
  std::unique_lock<std::mutex> lock(mutex_);
  turn_ = index;
  if (next_ <= index) {
    next_ = index + 1;
    lock.unlock();
    // The window has moved on: the workers may begin the tasks after this one meanwhile.
    changed_.notify_all();
    task_(index);
    lock.lock();
    done_[index] = true;
    return;
  }
  changed_.notify_all();
  changed_.wait(lock, [&] { return done_[index]; });
}

}  // namespace corvane::cli
