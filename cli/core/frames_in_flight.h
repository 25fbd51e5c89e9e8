#pragma once

// A run's frames done on several threads at once and put in place one at a
// time, in frame order: a run that stops leaves exactly the frames before
// the one that stopped it, whichever frames finished first.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace qv::cli {

class FramesInFlight {
 public:
  // Puts a frame's finished work in place. Called in frame order, one frame
  // at a time, never after a failure. Throwing stops the run at its frame.
  using Commit = std::function<void()>;
  // The work of the run's frame `k` (counted from 0), on any of the run's
  // threads, at once with other frames': what commits it, once every frame
  // before it is committed. Throwing stops the run at frame k, once the
  // frames before it are committed; what it returns is dropped uncalled
  // when the run stops at an earlier frame.
  using Job = std::function<Commit(std::int64_t k)>;
  // Starts a thread running `body`; throws std::system_error where none can start.
  using ThreadStart = std::function<std::thread(std::function<void()> body)>;

  // What stopped a run: the first failure in frame order.
  struct Failure {
    std::exception_ptr error;
    std::optional<std::int64_t> frame;  // the frame (from 0) it stopped at; none: it escaped every frame
  };

  // `count` frames, taken in order by up to `jobs` threads, this one among
  // them. A thread that cannot start leaves its frames to the others.
  FramesInFlight(std::int64_t count, int jobs, ThreadStart start = StartThread);
  FramesInFlight(const FramesInFlight&) = delete;
  FramesInFlight& operator=(const FramesInFlight&) = delete;

  // Does `job` for every frame and commits each in frame order until one
  // fails; returns once every thread has ended, with the failure that
  // stopped the run, if any. Nothing is thrown from another thread: an
  // exception leaving one would end the process without a word.
  std::optional<Failure> Run(const Job& job);

  static std::thread StartThread(std::function<void()> body);

 private:
  void TakeFrames(const Job& job);
  void Stop(std::exception_ptr error, std::optional<std::int64_t> frame);  // with mutex_ held

  const std::int64_t count_;
  const int jobs_;
  const ThreadStart start_;
  std::mutex mutex_;
  std::condition_variable turn_;
  std::int64_t next_ = 0;       // the next frame to take
  std::int64_t committed_ = 0;  // frames put in place, or dropped after a failure
  std::optional<Failure> failure_;
};

}  // namespace qv::cli
