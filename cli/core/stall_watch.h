#pragma once

// Work that has gone on far longer than it should, named once. A frame read
// or written that hangs (a file system that stopped answering, a library
// caught in a loop) looks, in a job's log, like a slow one until someone
// kills it; a watch says which file it was stuck on and for how long, so
// that a stuck node can be told from a slow one. It only reports: it never
// stops or interrupts anything.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace qv::cli {

class StallWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // Called on the watch's own thread, once for each piece of work that has
  // gone on `patience` without ending: what it is, and how long it has taken.
  using Report = std::function<void(const std::string& what, Clock::duration taken)>;

  // Looks every `look_every` (a tenth of `patience` by default). Where no
  // thread can be started for it, nothing is watched and the work goes on.
  StallWatch(Clock::duration patience, Report report, Clock::duration look_every = {});
  ~StallWatch();
  StallWatch(const StallWatch&) = delete;
  StallWatch& operator=(const StallWatch&) = delete;

  // A piece of work, watched from construction to destruction.
  class Watched {
   public:
    Watched(StallWatch& watch, std::string what);
    ~Watched();
    Watched(const Watched&) = delete;
    Watched& operator=(const Watched&) = delete;

   private:
    StallWatch& watch_;
    std::uint64_t id_;
  };

 private:
  struct Work {
    std::string what;
    Clock::time_point since;
    bool reported = false;
  };
  void Run();

  const Clock::duration patience_;
  const Clock::duration look_every_;
  const Report report_;
  std::mutex mutex_;
  std::condition_variable stopping_;
  bool stop_ = false;
  std::uint64_t next_id_ = 0;
  std::map<std::uint64_t, Work> work_;
  std::thread thread_;  // last, so that it starts once everything it reads is made
};

}  // namespace qv::cli
