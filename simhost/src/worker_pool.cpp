#include "worker_pool.h"

#include <algorithm>
#include <system_error>

namespace simhost::detail {

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  for (std::condition_variable& wake : wakes_) wake.notify_one();
  for (std::thread& t : threads_) t.join();
}

int WorkerPool::Run(int count, const std::function<void(int)>& job) {
  std::unique_lock lock(mu_);
  if (busy_ || count < 1) return 0;
  while (static_cast<int>(threads_.size()) < count) {
    wakes_.emplace_back();
    try {
      threads_.emplace_back(&WorkerPool::Work, this, static_cast<int>(threads_.size()), generation_);
    } catch (const std::system_error&) {
      wakes_.pop_back();
      break;  // the threads already there share the work
    }
  }
  const int n = std::min(count, static_cast<int>(threads_.size()));
  if (n == 0) return 0;
  busy_ = true;
  job_ = &job;
  taking_part_ = running_ = n;
  ++generation_;
  // Only the threads taking part are woken: a pool grown for a job of many
  // threads does not wake them all for every job of a few.
  for (int t = 0; t < n; ++t) wakes_[static_cast<std::size_t>(t)].notify_one();
  finished_.wait(lock, [this] { return running_ == 0; });
  job_ = nullptr;
  busy_ = false;
  return n;
}

// `seen` is the generation when the thread was made: a thread started for a
// job must still take that job, however late it first gets the lock.
void WorkerPool::Work(int index, std::uint64_t seen) {
  std::unique_lock lock(mu_);
  for (;;) {
    wakes_[static_cast<std::size_t>(index)].wait(
        lock, [&] { return stop_ || (generation_ != seen && index < taking_part_); });
    if (stop_) return;
    seen = generation_;
    const std::function<void(int)>* job = job_;
    lock.unlock();
    (*job)(index);
    lock.lock();
    if (--running_ == 0) finished_.notify_all();
  }
}

}  // namespace simhost::detail
