// Work that hangs is named once; work that ends in time never is.
#include "core/stall_watch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qv::cli {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What a watch reported, as its thread reports it.
class Reports {
 public:
  StallWatch::Report Sink() {
    return [this](const std::string& what, StallWatch::Clock::duration taken) {
      const std::lock_guard<std::mutex> lock(mutex_);
      names_.push_back(what);
      taken_.push_back(taken);
    };
  }
  std::vector<std::string> Names() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }
  std::vector<StallWatch::Clock::duration> Taken() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return taken_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> names_;
  std::vector<StallWatch::Clock::duration> taken_;
};

// Waits up to `patience` for `reports` to hold `count` names.
bool WaitForReports(Reports& reports, std::size_t count, std::chrono::milliseconds patience) {
  const auto until = std::chrono::steady_clock::now() + patience;
  while (reports.Names().size() < count && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  return reports.Names().size() >= count;
}

TEST(StallWatch, WorkThatOutlastsItsPatienceIsNamedOnceAndOnlyIt) {
  Reports reports;
  {
    StallWatch watch(100ms, reports.Sink(), 5ms);
    const StallWatch::Watched stuck(watch, "reading stuck.png");
    for (int i = 0; i < 20; ++i) {
      const StallWatch::Watched quick(watch, "reading quick.png");  // ends long before its patience
      std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(WaitForReports(reports, 1, 10s));
    std::this_thread::sleep_for(300ms);  // three times the patience more, to show it is said once
  }
  EXPECT_THAT(reports.Names(), ElementsAre("reading stuck.png"));
  ASSERT_EQ(reports.Taken().size(), 1u);
  EXPECT_GE(reports.Taken()[0], 100ms);
}

TEST(StallWatch, EachStalledPieceOfWorkIsNamedAndEndedWorkIsForgotten) {
  Reports reports;
  StallWatch watch(50ms, reports.Sink(), 5ms);
  std::optional<StallWatch::Watched> first(std::in_place, watch, "writing a.exr");
  const StallWatch::Watched second(watch, "writing b.exr");
  ASSERT_TRUE(WaitForReports(reports, 2, 10s));
  first.reset();
  const StallWatch::Watched third(watch, "writing a.exr");  // the same words again: new work, watched anew
  ASSERT_TRUE(WaitForReports(reports, 3, 10s));
  EXPECT_THAT(reports.Names(), ::testing::UnorderedElementsAre("writing a.exr", "writing b.exr", "writing a.exr"));
}

TEST(StallWatch, NothingIsReportedOfWorkThatEndsInTimeAndTheWatchStopsAtOnce) {
  Reports reports;
  const auto start = std::chrono::steady_clock::now();
  {
    StallWatch watch(1h, reports.Sink());  // looks every six minutes: its end must not wait for that
    const StallWatch::Watched work(watch, "reading a.png");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_THAT(reports.Names(), IsEmpty());
}

}  // namespace
}  // namespace qv::cli
