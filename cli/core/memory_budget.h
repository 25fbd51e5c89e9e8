#pragma once

// The memory the frames in flight share: each frame takes what its own
// header says it needs before its pixels are read, and gives it back once its
// file is written, so that frames of any size in any order stay within one
// total.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qv::cli {

class MemoryBudget {
 public:
  // `total` bytes; 0: no bound, nothing ever waits.
  explicit MemoryBudget(std::uint64_t total) : total_(total) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // Waits until `bytes` fit beside what is taken, and takes them. More than
  // the whole budget waits for all of it, so that such a frame runs alone.
  // Returns what was taken, to be given back.
  std::uint64_t Take(std::uint64_t bytes);
  void GiveBack(std::uint64_t bytes);

  std::uint64_t total() const { return total_; }

 private:
  const std::uint64_t total_;
  std::uint64_t taken_ = 0;
  std::mutex mutex_;
  std::condition_variable freed_;
};

// A frame's share of a budget, given back when it goes out of scope. A
// holder must never wait for another frame while holding it (for its turn
// to be put in place, say): the frame it waits for may be waiting for the
// share.
class BudgetShare {
 public:
  BudgetShare(MemoryBudget& budget, std::uint64_t bytes) : budget_(budget), bytes_(budget.Take(bytes)) {}
  ~BudgetShare() { budget_.GiveBack(bytes_); }
  BudgetShare(const BudgetShare&) = delete;
  BudgetShare& operator=(const BudgetShare&) = delete;

 private:
  MemoryBudget& budget_;
  std::uint64_t bytes_;
};

}  // namespace qv::cli
