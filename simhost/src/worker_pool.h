// Threads that live as long as the host, as a real host keeps its render
// threads between calls: iterate_generic hands its work to them instead of
// starting threads for every call, so a measured frame is the effect's time
// and not the operating system's.
#ifndef SIMHOST_SRC_WORKER_POOL_H
#define SIMHOST_SRC_WORKER_POOL_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace simhost::detail {

// One thread's wake-up: Raise() lets one Wait() through. (Not
// std::binary_semaphore: with MinGW-w64's GCC 12 library, renders under Wine
// waited on it for ever.)
class Signal {
 public:
  void Raise() {
    {
      std::lock_guard lock(mu_);
      raised_ = true;
    }
    cv_.notify_one();
  }
  void Wait() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [this] { return raised_; });
    raised_ = false;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool raised_ = false;
};

class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs job(t) for t = 0 to n - 1, each on its own pool thread, where n is
  // `count` or as many threads as the system would start, and returns n once
  // every job has returned. Returns 0, running nothing, when no thread could
  // be started or when the pool is already running a job (a call from a job,
  // or from another thread at the same moment): the caller then runs the work
  // its own way.
  int Run(int count, const std::function<void(int)>& job);

 private:
  void Work(int index, Signal* wake);

  // A job is handed over and its end reported through a signal per thread,
  // with no lock the threads would queue for: each thread waits on its own.
  std::atomic<bool> busy_{false};
  std::deque<Signal> wakes_;  // thread t waits on wakes_[t]
  Signal finished_;
  std::vector<std::thread> threads_;
  const std::function<void(int)>* job_ = nullptr;  // written before the wakes, read after them
  std::atomic<int> running_{0};                    // threads of the current job not yet done
  bool stop_ = false;                              // written before the last wakes
};

}  // namespace simhost::detail

#endif  // SIMHOST_SRC_WORKER_POOL_H
