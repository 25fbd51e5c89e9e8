// Threads that live as long as the host, as a real host keeps its render
// threads between calls: iterate_generic hands its work to them instead of
// starting threads for every call, so a measured frame is the effect's time
// and not the operating system's.
#ifndef SIMHOST_SRC_WORKER_POOL_H
#define SIMHOST_SRC_WORKER_POOL_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace simhost::detail {

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
  void Work(int index, std::uint64_t seen);

  std::mutex mu_;
  std::deque<std::condition_variable> wakes_;  // thread t waits on wakes_[t]
  std::condition_variable finished_;
  std::vector<std::thread> threads_;
  const std::function<void(int)>* job_ = nullptr;
  int taking_part_ = 0;  // threads 0 to taking_part_ - 1 run the current job
  int running_ = 0;      // of those, the ones not yet done
  std::uint64_t generation_ = 0;
  bool busy_ = false;
  bool stop_ = false;
};

}  // namespace simhost::detail

#endif  // SIMHOST_SRC_WORKER_POOL_H
