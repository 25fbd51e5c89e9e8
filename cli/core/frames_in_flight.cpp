#include "core/frames_in_flight.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

namespace qv::cli {

FramesInFlight::FramesInFlight(std::int64_t count, int jobs, ThreadStart start)
    : count_(count), jobs_(static_cast<int>(std::clamp<std::int64_t>(count, 1, std::max(jobs, 1)))),
      start_(std::move(start)) {}

std::thread FramesInFlight::StartThread(std::function<void()> body) { return std::thread(std::move(body)); }

void FramesInFlight::Stop(std::exception_ptr error, std::optional<std::int64_t> frame) {
  if (failure_) return;  // the first failure in frame order stopped the run
  failure_ = Failure{std::move(error), frame};
}

void FramesInFlight::TakeFrames(const Job& job) {
  for (;;) {
    std::int64_t k = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (failure_ || next_ == count_) return;
      k = next_++;
    }
    Commit commit;
    std::exception_ptr error;
    try {
      commit = job(k);
    } catch (...) {
      error = std::current_exception();  // said at the frame's turn: an earlier frame may fail yet
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // After a failure no frame is put in place, and none waits for its turn.
    turn_.wait(lock, [&] { return committed_ == k || failure_; });
    if (!failure_) {
      try {
        if (error) std::rethrow_exception(error);
        if (commit) commit();
      } catch (...) {
        Stop(std::current_exception(), k);
      }
    }
    ++committed_;
    turn_.notify_all();
  }
}

std::optional<FramesInFlight::Failure> FramesInFlight::Run(const Job& job) {
  const auto work = [&] {
    try {
      TakeFrames(job);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex_);
      Stop(std::current_exception(), std::nullopt);
      turn_.notify_all();
    }
  };
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<std::size_t>(jobs_));
  for (int j = 1; j < jobs_; ++j) {
    try {
      helpers.push_back(start_(work));
    } catch (const std::system_error&) {
      break;  // no thread to spare (a process or memory limit): the threads already there share the frames
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  return failure_;
}

}  // namespace qv::cli
