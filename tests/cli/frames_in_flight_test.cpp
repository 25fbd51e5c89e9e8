// Frames done at once on several threads are put in place in frame order, and
// a run that fails leaves exactly the frames before the failing one.
#include "core/frames_in_flight.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace qv::cli {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAreArray;

// The frames 0 to count - 1, in order.
std::vector<std::int64_t> FirstFrames(std::int64_t count) {
  std::vector<std::int64_t> frames(static_cast<std::size_t>(count));
  std::iota(frames.begin(), frames.end(), 0);
  return frames;
}

// What a run did: the frames committed, in the order they were, and whether
// two commits ever overlapped.
struct Ledger {
  std::vector<std::int64_t> committed;
  std::atomic<int> committing{0};
  std::atomic<bool> overlapped{false};

  FramesInFlight::Commit CommitOf(std::int64_t k) {
    return [this, k] {
      if (committing.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(50us);
      committed.push_back(k);
      committing.fetch_sub(1);
    };
  }
};

std::string Message(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(FramesInFlight, FramesFinishedInReverseOrderAreCommittedInFrameOrder) {
  // Every frame in flight at once, each finishing only after the frame after
  // it has: the last finishes first, the first last.
  constexpr std::int64_t kCount = 12;
  std::mutex mutex;
  std::condition_variable finished_one;
  std::vector<std::int64_t> finished;
  Ledger ledger;
  FramesInFlight frames(kCount, static_cast<int>(kCount));
  const auto failure = frames.Run([&](std::int64_t k) {
    std::unique_lock<std::mutex> lock(mutex);
    finished_one.wait(lock, [&] { return static_cast<std::int64_t>(finished.size()) == kCount - 1 - k; });
    finished.push_back(k);
    finished_one.notify_all();
    return ledger.CommitOf(k);
  });
  EXPECT_FALSE(failure);
  std::vector<std::int64_t> reversed = FirstFrames(kCount);
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_THAT(finished, ElementsAreArray(reversed));
  EXPECT_THAT(ledger.committed, ElementsAreArray(FirstFrames(kCount)));
}

TEST(FramesInFlight, TheSameFramesInTheSameOrderForAnyNumberOfJobs) {
  // Each frame's bytes depend on its number alone; its work takes a random
  // time, so that frames finish in another order at every count of jobs.
  constexpr std::int64_t kCount = 90;
  const auto bytes_of = [](std::int64_t k) {
    std::mt19937 bytes(static_cast<std::uint32_t>(k) + 1);
    return std::vector<std::uint8_t>{static_cast<std::uint8_t>(bytes()), static_cast<std::uint8_t>(bytes()),
                                     static_cast<std::uint8_t>(k)};
  };
  std::vector<std::uint8_t> expected;
  for (std::int64_t k = 0; k < kCount; ++k) {
    const std::vector<std::uint8_t> frame = bytes_of(k);
    expected.insert(expected.end(), frame.begin(), frame.end());
  }
  for (int jobs = 1; jobs <= 64; ++jobs) {
    std::vector<std::uint8_t> file;
    std::atomic<int> committing{0};
    bool overlapped = false;
    std::mutex random_mutex;
    std::mt19937 random(static_cast<std::uint32_t>(jobs));
    FramesInFlight frames(kCount, jobs);
    const auto failure = frames.Run([&](std::int64_t k) -> FramesInFlight::Commit {
      std::chrono::microseconds pause{};
      {
        const std::lock_guard<std::mutex> lock(random_mutex);
        pause = std::chrono::microseconds(random() % 300);
      }
      std::this_thread::sleep_for(pause);
      auto frame = std::make_shared<std::vector<std::uint8_t>>(bytes_of(k));
      return [&, frame] {
        if (committing.fetch_add(1) != 0) overlapped = true;
        file.insert(file.end(), frame->begin(), frame->end());
        committing.fetch_sub(1);
      };
    });
    EXPECT_FALSE(failure) << jobs << " jobs";
    EXPECT_FALSE(overlapped) << jobs << " jobs";
    EXPECT_EQ(file, expected) << jobs << " jobs";
  }
}

// A frame's finished work, which counts itself dropped unless committed.
class Staged {
 public:
  Staged(std::int64_t k, Ledger& ledger, std::atomic<int>& staged, std::atomic<int>& dropped)
      : k_(k), ledger_(ledger), dropped_(dropped) {
    ++staged;
  }
  ~Staged() {
    if (!committed_) ++dropped_;
  }
  void Commit() {
    ledger_.CommitOf(k_)();
    committed_ = true;
  }

 private:
  std::int64_t k_;
  Ledger& ledger_;
  std::atomic<int>& dropped_;
  bool committed_ = false;
};

TEST(FramesInFlight, AFailureAtAFrameLeavesTheFramesBeforeItAndNothingAfter) {
  constexpr std::int64_t kCount = 30;
  for (const int jobs : {1, 2, 4, 8, 30}) {
    for (const bool in_commit : {false, true}) {
      SCOPED_TRACE(std::to_string(jobs) + " jobs, failing in its " + (in_commit ? "commit" : "work"));
      // Frames 5 and 9 fail. With enough threads, frame 9's work fails
      // first: the run still stops at 5, the first failure in frame order.
      const bool nine_first = !in_commit && jobs > 5;
      Ledger ledger;
      std::atomic<int> started{0}, staged{0}, dropped{0};
      std::atomic<bool> nine_failed{false};
      const auto fail = [&](std::int64_t k) {
        if (k == 9) nine_failed = true;
        throw std::runtime_error("frame " + std::to_string(k) + " failed");
      };
      FramesInFlight frames(kCount, jobs);
      const auto failure = frames.Run([&](std::int64_t k) -> FramesInFlight::Commit {
        ++started;
        while (k == 5 && nine_first && !nine_failed) std::this_thread::sleep_for(100us);
        if ((k == 5 || k == 9) && !in_commit) fail(k);
        auto frame = std::make_shared<Staged>(k, ledger, staged, dropped);
        return [&, frame, k] {
          if (k == 5 || k == 9) fail(k);
          frame->Commit();
        };
      });
      ASSERT_TRUE(failure);
      EXPECT_EQ(failure->frame, 5);
      EXPECT_EQ(Message(failure->error), "frame 5 failed");
      EXPECT_THAT(ledger.committed, ElementsAreArray(FirstFrames(5)));
      EXPECT_FALSE(ledger.overlapped);
      // Whatever was staged after the failing frame is dropped uncommitted,
      // and no frame starts once the run has stopped: besides the frames
      // committed, at most one frame per thread was in flight.
      EXPECT_EQ(dropped, staged - 5);
      EXPECT_LE(started, 5 + jobs);
      if (nine_first) {
        EXPECT_TRUE(nine_failed);  // the later frame's failure came first, and did not decide
      }
    }
  }
}

TEST(FramesInFlight, AThreadThatCannotStartLeavesItsFramesToTheOthers) {
  for (const int spare : {0, 1, 2}) {
    SCOPED_TRACE(std::to_string(spare) + " threads to spare");
    int starts = 0;
    std::mutex mutex;
    std::vector<std::thread::id> workers;
    FramesInFlight frames(40, 8, [&](std::function<void()> body) {
      if (starts++ >= spare) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return FramesInFlight::StartThread(std::move(body));
    });
    Ledger ledger;
    const auto failure = frames.Run([&](std::int64_t k) -> FramesInFlight::Commit {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        if (std::find(workers.begin(), workers.end(), std::this_thread::get_id()) == workers.end()) {
          workers.push_back(std::this_thread::get_id());
        }
      }
      std::this_thread::sleep_for(200us);
      return ledger.CommitOf(k);
    });
    EXPECT_FALSE(failure);
    EXPECT_THAT(ledger.committed, ElementsAreArray(FirstFrames(40)));
    EXPECT_LE(workers.size(), static_cast<std::size_t>(spare) + 1);
    EXPECT_EQ(starts, spare + 1);  // no more tried once one could not start
  }
}

}  // namespace
}  // namespace qv::cli
