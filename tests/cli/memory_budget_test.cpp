// The memory the frames in flight share.
#include "core/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

namespace qv::cli {
namespace {

using namespace std::chrono_literals;

// Whether a thread taking `bytes` from `budget` has its share within
// `patience`; then `release` lets it through, and it is joined.
bool TakenWithin(MemoryBudget& budget, std::uint64_t bytes, std::chrono::milliseconds patience,
                 const std::function<void()>& release = [] {}) {
  std::atomic<bool> taken{false};
  std::thread taker([&] {
    const BudgetShare share(budget, bytes);
    taken = true;
  });
  const auto until = std::chrono::steady_clock::now() + patience;
  while (!taken && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  const bool in_time = taken;
  release();
  taker.join();
  return in_time;
}

// Long enough for a thread to start on a loaded machine; short enough for a test.
constexpr std::chrono::milliseconds kStarts = 10s;
constexpr std::chrono::milliseconds kAWhile = 300ms;

TEST(MemoryBudget, AFrameWaitsUntilItsShareIsFree) {
  MemoryBudget budget(100);
  std::optional<BudgetShare> first(std::in_place, budget, 60);
  EXPECT_FALSE(TakenWithin(budget, 50, kAWhile, [&] { first.reset(); }));
  // What fits beside a share does not wait.
  const BudgetShare held(budget, 60);
  EXPECT_TRUE(TakenWithin(budget, 40, kStarts));
}

TEST(MemoryBudget, MoreThanTheWholeBudgetRunsAlone) {
  MemoryBudget budget(100);
  std::optional<BudgetShare> small(std::in_place, budget, 1);
  EXPECT_FALSE(TakenWithin(budget, 1000, kAWhile, [&] { small.reset(); }));
  // It took the whole budget, and gave the whole of it back.
  EXPECT_TRUE(TakenWithin(budget, 100, kStarts));
}

TEST(MemoryBudget, NoBudgetNeverWaits) {
  MemoryBudget budget(0);
  const BudgetShare huge(budget, std::uint64_t{1} << 62);
  const BudgetShare more(budget, std::uint64_t{1} << 62);
  EXPECT_TRUE(TakenWithin(budget, 1, kStarts));
}

}  // namespace
}  // namespace qv::cli
