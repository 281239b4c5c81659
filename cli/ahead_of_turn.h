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
// own and on the caller's, which waits for the results in that order. Each task is told the
// thread it runs on: 0 for the caller's, 1 to `workers` for the others, so that it may use
// what that thread alone uses (tasks on one thread run one after another). A task returns how many
// bytes its result holds. The threads begin a task up to `window` tasks past the one the
// caller waits for, and further on while the results done and not taken hold less than
// `budget` bytes: what the caller has not taken yet stays bounded, and small results let the
// threads run far ahead, rarely waiting for the caller or waking it. With no workers every
// task runs in the caller's wait and no thread is started. A task must not throw; each
// writes only its own result, which the caller may read once wait returned.
class AheadOfTurn {
 public:
  using Task = std::function<std::size_t(std::size_t index, unsigned thread)>;
  AheadOfTurn(std::size_t count, unsigned workers, std::size_t window, std::size_t budget, Task task);
  // Lets the tasks under way finish and begins no other.
  ~AheadOfTurn();
  AheadOfTurn(const AheadOfTurn&) = delete;
  AheadOfTurn& operator=(const AheadOfTurn&) = delete;

  // Returns once task(index) has run, running it on the caller's thread when no worker has
  // begun it, and while a worker runs it, running those after it that may begin. Called for
  // 0, 1, 2, ... in turn.
  void wait(std::size_t index);

 private:
  void work(unsigned thread);
  // Runs task next_ on this thread; lock is held before and after.
  void runNext(std::unique_lock<std::mutex>& lock, unsigned thread);

  // Whether a worker may begin task next_; under the lock.
  bool mayBegin() const;

  Task task_;
  std::size_t count_;
  std::size_t window_;
  std::size_t budget_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;           // the first task no thread has begun
  std::size_t turn_ = 0;           // the task the caller waits for, or waits for next
  std::vector<bool> done_;         // which tasks have run
  std::vector<std::size_t> held_;  // the bytes each task's result holds, once it ran
  std::size_t heldAhead_ = 0;      // those of the tasks done and not taken yet
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace corvane::cli
