#include "ahead_of_turn.h"

#include <system_error>
#include <utility>

namespace corvane::cli {

AheadOfTurn::AheadOfTurn(std::size_t count, unsigned workers, std::size_t window, std::size_t budget, Task task)
    : task_(std::move(task)),
      count_(count),
      window_(window < 1 ? 1 : window),
      budget_(budget),
      done_(count, false),
      held_(count, 0) {
  // A thread that cannot be started leaves its share to the others and to the caller.
  try {
    for (unsigned i = 1; i <= workers && i <= count; ++i) threads_.emplace_back([this, i] { work(i); });
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

bool AheadOfTurn::mayBegin() const { return next_ < turn_ + window_ || heldAhead_ < budget_; }

void AheadOfTurn::runNext(std::unique_lock<std::mutex>& lock, unsigned thread) {
  const std::size_t index = next_++;
  lock.unlock();
  const std::size_t held = task_(index, thread);
  lock.lock();
  done_[index] = true;
  // It counts until the caller takes it.
  held_[index] = held;
  heldAhead_ += held;
  changed_.notify_all();
}

void AheadOfTurn::work(unsigned thread) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || next_ >= count_ || mayBegin(); });
    if (stopping_ || next_ >= count_) return;
    runNext(lock, thread);
  }
}

void AheadOfTurn::wait(std::size_t index) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The result before this one is taken: it no longer counts against the budget.
  if (index > 0) heldAhead_ -= held_[index - 1];
  turn_ = index;
  // The window has moved on: the workers may begin the tasks after this one.
  changed_.notify_all();
  // Rather than sleep while a worker makes the result, the caller makes the next one: small
  // tasks then seldom put a thread to sleep or wake one.
  while (!done_[index]) {
    if (next_ == index || (next_ < count_ && mayBegin())) {
      runNext(lock, 0);
    } else {
      changed_.wait(lock);
    }
  }
}

}  // namespace corvane::cli
