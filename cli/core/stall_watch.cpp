#include "core/stall_watch.h"

#include <system_error>
#include <utility>
#include <vector>

namespace qv::cli {

StallWatch::StallWatch(Clock::duration patience, Report report, Clock::duration look_every)
    : patience_(patience),
      look_every_(look_every > Clock::duration::zero() ? look_every : patience / 10),
      report_(std::move(report)) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread to spare (a process or memory limit): the work goes on unwatched.
  }
}

StallWatch::~StallWatch() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopping_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void StallWatch::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_.wait_for(lock, look_every_, [this] { return stop_; })) {
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<std::string, Clock::duration>> stalled;
    for (auto& [id, work] : work_) {
      if (!work.reported && now - work.since >= patience_) {
        work.reported = true;
        stalled.emplace_back(work.what, now - work.since);
      }
    }
    // Reported unlocked, so that work may end (or begin) while a report is
    // written to a stream that blocks.
    lock.unlock();
    for (const auto& [what, taken] : stalled) report_(what, taken);
    lock.lock();
  }
}

StallWatch::Watched::Watched(StallWatch& watch, std::string what) : watch_(watch) {
  const std::lock_guard<std::mutex> lock(watch_.mutex_);
  id_ = watch_.next_id_++;
  watch_.work_.emplace(id_, Work{std::move(what), Clock::now()});
}

StallWatch::Watched::~Watched() {
  const std::lock_guard<std::mutex> lock(watch_.mutex_);
  watch_.work_.erase(id_);
}

}  // namespace qv::cli
