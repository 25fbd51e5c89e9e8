#include "memory_budget.h"

#include <algorithm>

namespace qv::cli {

std::uint64_t MemoryBudget::Take(std::uint64_t bytes) {
  if (total_ == 0) return 0;
  const std::uint64_t share = std::min(bytes, total_);
  std::unique_lock<std::mutex> lock(mutex_);
  freed_.wait(lock, [&] { return share <= total_ - taken_; });
  taken_ += share;
  return share;
}

void MemoryBudget::GiveBack(std::uint64_t bytes) {
  if (bytes == 0) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    taken_ -= bytes;
  }
  freed_.notify_all();
}

}  // namespace qv::cli
