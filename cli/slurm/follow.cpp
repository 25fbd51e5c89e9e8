#include "slurm/follow.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include "core/errors.h"
#include "slurm/programs.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

class Steady : public FollowClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void Sleep(std::chrono::steady_clock::duration span) override { std::this_thread::sleep_for(span); }
};

// Tells of the frames whose new output has appeared.
void Collect(const Following& job, std::vector<Task>& tasks) {
  for (Task& task : tasks) {
    for (std::size_t k = 0; k < task.seen.size(); ++k) {
      if (task.seen[k]) continue;
      const std::string path = job.output.At(task.range.first + static_cast<std::int32_t>(k));
      const std::optional<Stamp> now = StampOf(path);
      if (!now || now == task.before[k]) continue;
      task.seen[k] = true;
      job.frame_done(path);
    }
  }
}

// The exit status a task's status file holds, once it is there.
std::optional<int> StatusIn(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  int status = 0;
  if (file >> status) return status;
  return std::nullopt;
}

// Follows the queue until no task of the job is in it, or every task left
// waits for someone: following it further would wait for ever.
void WatchQueue(const Following& job, std::vector<Task>& tasks) {
  const std::string squeue = SlurmClient("squeue");
  auto answered = job.clock.Now();
  for (;;) {
    std::string why;
    const std::optional<QueuedTasks> queue = Queue(squeue, job.job, &why);
    Collect(job, tasks);
    if (queue) {
      answered = job.clock.Now();
      if (queue->empty()) return;
      if (std::all_of(queue->begin(), queue->end(), [](const auto& entry) { return WaitsForSomeone(entry.second); })) {
        for (const auto& [n, queued] : *queue) {
          if (n >= tasks.size()) continue;
          tasks[n].end = End::kCannotStart;
          tasks[n].why = queued.reason;
        }
        return;
      }
    } else if (job.clock.Now() - answered > kSilenceLimit) {
      const std::string& id = job.job.id;
      throw RunError(Cat("job ", id, ": the cluster stopped answering (", why, "); the job may go on: squeue -j ", id,
                         " follows it"));
    }
    job.clock.Sleep(kPollInterval);
  }
}

// Settles how each task that has left the queue ended: accounting where the
// cluster keeps it, else the task's status file. A task with neither after
// kStatusGrace has failed: the cluster stopped it before the tool was done.
void Settle(const Following& job, std::vector<Task>& tasks) {
  const auto deadline = job.clock.Now() + kStatusGrace;
  bool accounted = true;
  for (;;) {
    std::optional<EndedTasks> accounts;
    if (accounted) accounts = Accounts(job.job);
    accounted = accounts.has_value();
    bool open = false;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      Task& task = tasks[i];
      if (task.end != End::kNotYet) continue;
      std::optional<TaskEnd> ended;
      if (accounts && accounts->count(i) != 0) {
        ended = accounts->at(i);
      } else if (const std::optional<int> status = StatusIn(job.files.Status(job.job.id, i))) {
        ended = {*status == 0, Cat("exit status ", *status)};
      }
      if (!ended) {
        open = true;
      } else {
        task.end = ended->first ? End::kSucceeded : End::kFailed;
        task.why = ended->second;
      }
    }
    if (!open) break;
    if (job.clock.Now() > deadline) {
      for (Task& task : tasks) {
        if (task.end != End::kNotYet) continue;
        task.end = End::kFailed;
        task.why = "ended without an exit status (stopped by the cluster?)";
      }
      break;
    }
    job.clock.Sleep(kPollInterval);
    Collect(job, tasks);
  }
  Collect(job, tasks);
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    std::error_code ignored;
    fs::remove(job.files.Status(job.job.id, i), ignored);
  }
}

// What a failed task said last: the tool's own line in its log, else how it
// ended.
std::string FailureOf(const JobFiles& files, const Job& job, std::size_t task, const std::string& why) {
  const std::string log = files.Log(job.id, std::to_string(task));
  std::ifstream file(log, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  const std::string said = LastLine(text.str());
  if (said.rfind(kToolPrefix, 0) == 0) return said.substr(std::string_view(kToolPrefix).size());
  if (!why.empty()) return said.empty() ? why : Cat(why, ": ", said);
  return said.empty() ? Cat("no word in ", log) : said;
}

// The line that names the frames of the tasks that failed and of those that
// cannot start.
std::string FailureMessage(const Following& job, const std::vector<Task>& tasks) {
  std::vector<std::int32_t> failed, waiting;
  std::string first_failure, first_wait;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const Task& task = tasks[i];
    for (std::int32_t f = task.range.first; f <= task.range.last; ++f) {
      if (task.end == End::kFailed) failed.push_back(f);
      if (task.end == End::kCannotStart) waiting.push_back(f);
    }
    if (task.end == End::kFailed && first_failure.empty()) {
      first_failure = Cat("task ", i, ": ", FailureOf(job.files, job.job, i, task.why));
    }
    if (task.end == End::kCannotStart && first_wait.empty()) first_wait = Cat("task ", i, ": ", task.why);
  }
  const auto tasks_ending = [&](End end) {
    return std::count_if(tasks.begin(), tasks.end(), [end](const Task& task) { return task.end == end; });
  };
  std::string message = Cat("job ", job.job.id, ": ");
  if (!failed.empty()) {
    message += Cat(tasks_ending(End::kFailed), " of ", tasks.size(), " tasks failed, frames ",
                   Describe(RunsOf(failed)), " (", first_failure, ")");
  }
  if (!waiting.empty()) {
    message += Cat(failed.empty() ? "" : "; ", tasks_ending(End::kCannotStart), " of ", tasks.size(),
                   " tasks cannot start, frames ", Describe(RunsOf(waiting)), " (", first_wait,
                   "), still queued: scancel ", job.job.id, " ends them");
  }
  return Cat(message, "; the same command", job.options.skip_existing ? "" : Cat(" with ", kSkipExisting),
             " renders every frame this look has not");
}

}  // namespace

FollowClock& SteadyClock() {
  static Steady clock;
  return clock;
}

std::vector<Task> TasksOf(const std::vector<FrameRange>& chunks, const FramePattern& output) {
  std::vector<Task> tasks;
  for (const FrameRange& range : chunks) {
    Task task;
    task.range = range;
    task.seen.assign(static_cast<std::size_t>(range.Count()), false);
    for (std::int32_t f = range.first; f <= range.last; ++f) task.before.push_back(StampOf(output.At(f)));
    tasks.push_back(std::move(task));
  }
  return tasks;
}

void Follow(const Following& job, std::vector<Task>& tasks, Record rendered) {
  WatchQueue(job, tasks);
  Settle(job, tasks);
  bool all_succeeded = true;
  for (const Task& task : tasks) {
    all_succeeded = all_succeeded && task.end == End::kSucceeded;
    if (task.end != End::kSucceeded) continue;
    for (std::int32_t f = task.range.first; f <= task.range.last; ++f) {
      const std::string path = job.output.At(f);
      if (!task.seen[static_cast<std::size_t>(f - task.range.first)]) job.frame_done(path);
      if (const std::optional<Stamp> stamp = StampOf(path)) rendered.frames[f] = *stamp;
    }
  }
  const bool waiting =
      std::any_of(tasks.begin(), tasks.end(), [](const Task& t) { return t.end == End::kCannotStart; });
  std::error_code ignored;
  if (!waiting) fs::remove(job.files.settings, ignored);  // no task of the job reads it any more
  try {
    WriteRecord(job.files.record, rendered);
  } catch (const RunError&) {
    // The earlier record stays: it never keeps a frame whose file has changed since.
  }
  if (!all_succeeded) throw RunError(FailureMessage(job, tasks));
}

}  // namespace qv::cli
