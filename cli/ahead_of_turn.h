// Work on a run's files done ahead of their turn on other threads, while the caller takes
// the results one after another in order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane::cli {

// Runs task(0), task(1), ... task(count - 1), each once, on up to `workers` threads of its
// own and on the caller's, which waits for the results in that order. The threads keep at
// most `window` tasks past the one the caller waits for, so that what the tasks produce and
// the caller has not taken yet stays bounded. With no workers every task runs in the
// caller's wait and no thread is started. A task must not throw; each writes only its own
// result, which the caller may read once wait returned.
class AheadOfTurn {
 public:
  AheadOfTurn(std::size_t count, unsigned workers, std::size_t window, std::function<void(std::size_t)> task);
  // Lets the tasks under way finish and begins no other.
  ~AheadOfTurn();
  AheadOfTurn(const AheadOfTurn&) = delete;
  AheadOfTurn& operator=(const AheadOfTurn&) = delete;

  // Returns once task(index) has run, running it on the caller's thread when no worker has
  // begun it. Called for 0, 1, 2, ... in turn.
  void wait(std::size_t index);

 private:
  void work();

  std::function<void(std::size_t)> task_;
  std::size_t count_;
  std::size_t window_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;    // the first task no thread has begun
  std::size_t turn_ = 0;    // the task the caller waits for, or waits for next
  std::vector<bool> done_;  // which tasks have run
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace corvane::cli
