#pragma once

// Following a submitted job (--wait): squeue says which tasks are still
// queued or running, and a task has succeeded when its own exit status says
// so: sacct's, where the cluster keeps accounts, else the status file the
// task writes once the tool is done. New output files only show progress; a
// file can be another run's, or a task can fail after writing its frames.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "core/frames.h"
#include "slurm/cluster.h"
#include "slurm/resume_record.h"
#include "slurm/submission.h"

namespace qv::cli {

// How often --wait asks the cluster, and for how long it keeps asking one
// that does not answer before it gives up following (the job goes on).
inline constexpr auto kPollInterval = std::chrono::seconds(1);
inline constexpr auto kSilenceLimit = std::chrono::minutes(5);
// How long a task that has left the queue may take to show its exit status:
// a shared file system may show a node's new file this late (attribute
// caching), and accounting may record the task late.
inline constexpr auto kStatusGrace = std::chrono::minutes(2);

// The time as following a job sees it and the waits between its questions:
// the steady clock's, or a clock a test sets.
class FollowClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~FollowClock() = default;
  virtual TimePoint Now() = 0;
  virtual void Sleep(std::chrono::steady_clock::duration span) = 0;
};

FollowClock& SteadyClock();

// How a task has ended, as far as is known yet.
enum class End { kNotYet, kSucceeded, kFailed, kCannotStart };

struct Task {
  FrameRange range;
  std::vector<std::optional<Stamp>> before;  // per frame of the range, at submission
  std::vector<bool> seen;                    // its new file reported
  End end = End::kNotYet;
  std::string why;  // a failed task's state or exit status, a waiting one's reason
};

// A task per chunk, each with its frames' files as they are before it runs.
std::vector<Task> TasksOf(const std::vector<FrameRange>& chunks, const FramePattern& output);

// The job followed, where its frames go, and whom to tell of each new frame.
struct Following {
  const RenderOptions& options;
  const FramePattern& output;
  const JobFiles& files;
  const Job& job;
  std::function<void(const std::string& path)> frame_done;
  FollowClock& clock;
};

// Follows the job to its end, telling of each new frame. Once it has ended,
// each task's frames count as rendered when the task says it succeeded; they
// are recorded, with `rendered` (what this look rendered before), as this
// look's. Throws RunError naming the frames of the tasks that failed or
// cannot start, or when the cluster stops answering.
void Follow(const Following& job, std::vector<Task>& tasks, Record rendered);

}  // namespace qv::cli
