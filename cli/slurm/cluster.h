#pragma once

// What the tool asks a Slurm cluster, and how it reads the answers: the
// parsers take the clients' text, so that they can be tried on any.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv::cli {

// The job as sbatch --parsable names it: its number and, on a cluster of a
// federation or with --clusters, the cluster.
struct Job {
  std::string id;
  std::string cluster;

  // The options that make squeue and sacct ask the cluster that has the job.
  std::vector<std::string> Where() const;
};

// The job in what sbatch --parsable printed ("42" or "42;cluster");
// std::nullopt when its first line is no job number.
std::optional<Job> SubmittedJob(const std::string& out);

// The CPUs of the nodes sinfo lists ("NODE CPUS" each), each node counted
// once; 0 for none.
std::int64_t NodeCpus(const std::string& sinfo_out);
// The CPUs of the nodes that would run the job. Throws RunError when the
// cluster does not answer or has no nodes there.
std::int64_t ClusterCpus(const std::string& partition);

// MaxArraySize in what `scontrol show config` printed; std::nullopt when it
// is not there.
std::optional<std::int64_t> MaxArraySizeIn(const std::string& config);
// The most tasks a job array may have: the cluster's MaxArraySize (task
// numbers run from 0 to one less than it); std::nullopt when it does not say.
std::optional<std::int64_t> MaxArraySize();

// Task numbers as squeue or sacct write them after "JOB_": "3", or "[2-5,7%2]"
// for tasks not yet started one by one.
std::vector<std::size_t> TaskNumbers(std::string text);

struct Queued {
  std::string state;
  std::string reason;
};
using QueuedTasks = std::map<std::size_t, Queued>;

// The tasks of job `job_id` in what squeue printed ("ID|STATE|REASON" lines).
QueuedTasks QueuedIn(const std::string& squeue_out, const std::string& job_id);
// The tasks of `job` still queued or running, by number, with their state and
// reason; none once none is. std::nullopt when the cluster does not answer
// (*why says how).
std::optional<QueuedTasks> Queue(const std::string& squeue, const Job& job, std::string* why);

// Whether no waiting starts `task`: someone must act (scontrol release,
// scontrol update), or it never starts.
bool WaitsForSomeone(const Queued& task);

// How a task ended: whether it succeeded, and the state (and exit code) that say so.
using TaskEnd = std::pair<bool, std::string>;
using EndedTasks = std::map<std::size_t, TaskEnd>;

// The tasks of job `job_id` that have ended, in what sacct printed
// ("ID|STATE|EXITCODE" lines).
EndedTasks EndedIn(const std::string& sacct_out, const std::string& job_id);
// How the tasks of `job` that have ended ended, by number, as the cluster's
// accounts say; std::nullopt when it keeps none (or sacct is missing).
std::optional<EndedTasks> Accounts(const Job& job);

}  // namespace qv::cli
