#include "worker_pool.h"

#include <algorithm>
#include <system_error>

namespace simhost::detail {

WorkerPool::~WorkerPool() {
  stop_ = true;
  for (Signal& wake : wakes_) wake.Raise();
  for (std::thread& t : threads_) t.join();
}

int WorkerPool::Run(int count, const std::function<void(int)>& job) {
  if (count < 1 || busy_.exchange(true, std::memory_order_acquire)) return 0;
  while (static_cast<int>(threads_.size()) < count) {
    wakes_.emplace_back();
    try {
      threads_.emplace_back(&WorkerPool::Work, this, static_cast<int>(threads_.size()), &wakes_.back());
    } catch (const std::system_error&) {
      wakes_.pop_back();
      break;  // the threads already there share the work
    }
  }
  const int n = std::min(count, static_cast<int>(threads_.size()));
  if (n > 0) {
    job_ = &job;
    running_.store(n, std::memory_order_relaxed);
    // Only the threads taking part are woken: a pool grown for a job of many
    // threads does not wake them all for every job of a few.
    for (int t = 0; t < n; ++t) wakes_[static_cast<std::size_t>(t)].Raise();
    finished_.Wait();
    job_ = nullptr;
  }
  busy_.store(false, std::memory_order_release);
  return n;
}

// `wake` is this thread's own: the deque is not read here, as Run may be
// adding to it.
void WorkerPool::Work(int index, Signal* wake) {
  for (;;) {
    wake->Wait();
    if (stop_) return;
    (*job_)(index);
    // The last thread of the job to finish lets Run return.
    if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) finished_.Raise();
  }
}

}  // namespace simhost::detail
