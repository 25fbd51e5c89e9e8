#include "slurm/cluster.h"

#include <OpenImageIO/strutil.h>

#include <set>
#include <sstream>

#include "core/errors.h"
#include "slurm/programs.h"

namespace qv::cli {
namespace {

namespace Strutil = OIIO::Strutil;

// The fields of each line of `text` that begins "JOB_" for job `job_id`
// ("ID|A|B", the last field taking the rest of the line), the task numbers
// after "JOB_" read.
template <class Take>
void ForEachTaskLine(const std::string& text, const std::string& job_id, Take take) {
  const std::string prefix = job_id + "_";
  for (OIIO::string_view line : Strutil::splitsv(text, "\n")) {
    const std::vector<OIIO::string_view> fields = Strutil::splitsv(line, "|", 3);
    if (fields.empty() || !Strutil::starts_with(fields[0], prefix)) continue;  // a cluster's name line
    const std::string second(fields.size() > 1 ? fields[1] : OIIO::string_view());
    const std::string third(fields.size() > 2 ? fields[2] : OIIO::string_view());
    for (const std::size_t n : TaskNumbers(std::string(fields[0].substr(prefix.size())))) take(n, second, third);
  }
}

}  // namespace

std::vector<std::string> Job::Where() const {
  return cluster.empty() ? std::vector<std::string>{} : std::vector<std::string>{Cat("--clusters=", cluster)};
}

std::optional<Job> SubmittedJob(const std::string& out) {
  const std::string answer = out.substr(0, out.find('\n'));
  const std::size_t semicolon = answer.find(';');
  const Job job{answer.substr(0, semicolon), semicolon == std::string::npos ? "" : answer.substr(semicolon + 1)};
  if (job.id.empty() || job.id.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return job;
}

std::int64_t NodeCpus(const std::string& sinfo_out) {
  std::map<std::string, std::int64_t> nodes;
  std::istringstream lines(sinfo_out);
  for (std::string name; lines >> name;) lines >> nodes[name];
  std::int64_t cpus = 0;
  for (const auto& [name, count] : nodes) cpus += count;
  return nodes.empty() ? 0 : cpus;
}

std::int64_t ClusterCpus(const std::string& partition) {
  std::vector<std::string> args = {"--noheader", "--Node", "--format=%N %c"};
  if (!partition.empty()) args.push_back(Cat("--partition=", partition));
  const ProgramRun run = RunProgram(SlurmClient("sinfo"), args);
  if (run.status != 0) throw RunError(Cat("--slurm: no Slurm cluster answers: ", LastLine(run.err)));
  std::istringstream names(run.out);
  if (std::string name; !(names >> name)) {
    throw RunError(partition.empty() ? std::string("--slurm: the cluster reports no nodes")
                                     : Cat("--slurm: partition \"", partition, "\" has no nodes"));
  }
  return NodeCpus(run.out);
}

std::optional<std::int64_t> MaxArraySizeIn(const std::string& config) {
  std::istringstream lines(config);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string name, equals;
    std::int64_t value = 0;
    if (words >> name >> equals >> value && name == "MaxArraySize" && equals == "=" && value > 0) return value;
  }
  return std::nullopt;
}

std::optional<std::int64_t> MaxArraySize() {
  try {
    const ProgramRun run = RunProgram(SlurmClient("scontrol"), {"show", "config"});
    if (run.status == 0) return MaxArraySizeIn(run.out);
  } catch (const RunError&) {
    // No scontrol: sbatch is the judge.
  }
  return std::nullopt;
}

std::vector<std::size_t> TaskNumbers(std::string text) {
  std::vector<std::size_t> numbers;
  if (!text.empty() && text.front() == '[') text = text.substr(1, text.find_first_of("%]") - 1);
  for (OIIO::string_view part : Strutil::splitsv(text, ",")) {
    std::size_t first = 0, last = 0;
    char dash = 0;
    std::istringstream range{std::string(part)};
    if (!(range >> first)) continue;
    last = range >> dash >> last && dash == '-' ? last : first;
    for (std::size_t n = first; n <= last; ++n) numbers.push_back(n);
  }
  return numbers;
}

QueuedTasks QueuedIn(const std::string& squeue_out, const std::string& job_id) {
  QueuedTasks queue;
  ForEachTaskLine(squeue_out, job_id, [&](std::size_t n, const std::string& state, const std::string& reason) {
    queue[n] = {state, reason};
  });
  return queue;
}

// The user's SQUEUE_* variables (states, users, partitions to show) are for
// the user's own squeue: the follower must see every task.
std::optional<QueuedTasks> Queue(const std::string& squeue, const Job& job, std::string* why) {
  std::vector<std::string> args = {"--noheader", "--array", Cat("--jobs=", job.id), "--format=%i|%T|%r"};
  const std::vector<std::string> where = job.Where();
  args.insert(args.end(), where.begin(), where.end());
  const ProgramRun run = RunProgram(squeue, args, {}, "SQUEUE_");
  if (run.status == 0) return QueuedIn(run.out, job.id);
  // A job the controller has already forgotten is over.
  if (run.err.find("Invalid job id") != std::string::npos) return QueuedTasks{};
  *why = LastLine(run.err);
  return std::nullopt;
}

// Pending reasons that no waiting ends: the task is held, asks more than a
// limit allows any one job, or cannot run where it was sent.
bool WaitsForSomeone(const Queued& task) {
  static const std::set<std::string> kReasons = {
      "PartitionDown",  "PartitionInactive", "PartitionTimeLimit", "PartitionNodeLimit", "PartitionConfig",
      "DependencyNeverSatisfied", "InvalidAccount", "InvalidQOS", "BadConstraints", "AccountNotAllowed",
      "QOSNotAllowed"};
  if (task.state != "PENDING") return false;
  return kReasons.count(task.reason) != 0 || task.reason.find("PerJob") != std::string::npos ||
         task.reason.find("Held") != std::string::npos || task.reason.find("held") != std::string::npos;
}

// A task accounting has not yet recorded as ended is not there.
EndedTasks EndedIn(const std::string& sacct_out, const std::string& job_id) {
  static const std::set<std::string> kEnded = {"COMPLETED", "FAILED",   "CANCELLED", "TIMEOUT", "NODE_FAIL",
                                               "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE", "PREEMPTED", "REVOKED"};
  EndedTasks ended;
  ForEachTaskLine(sacct_out, job_id, [&](std::size_t n, std::string state, const std::string& code) {
    state = state.substr(0, state.find(' '));  // "CANCELLED by 1000"
    if (kEnded.count(state) == 0) return;
    const bool succeeded = state == "COMPLETED" && code == "0:0";
    ended[n] = {succeeded, code == "0:0" ? state : Cat(state, ", exit code ", code)};
  });
  return ended;
}

std::optional<EndedTasks> Accounts(const Job& job) {
  std::string sacct;
  try {
    sacct = SlurmClient("sacct");
  } catch (const RunError&) {
    return std::nullopt;
  }
  std::vector<std::string> args = {"--noheader", "--parsable2", "--allocations", Cat("--jobs=", job.id),
                                   "--format=JobID,State,ExitCode"};
  const std::vector<std::string> where = job.Where();
  args.insert(args.end(), where.begin(), where.end());
  const ProgramRun run = RunProgram(sacct, args, {}, "SACCT_");
  if (run.status != 0) return std::nullopt;
  return EndedIn(run.out, job.id);
}

}  // namespace qv::cli
