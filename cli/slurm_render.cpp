// quorvandile render --slurm: a sequence rendered by a Slurm cluster, one job
// array whose tasks each render a chunk of the frames with this same tool.
//
// Slurm schedules; the tool only cuts the frames into chunks, writes the look
// to a settings file of the job's own beside the output, and submits one batch
// script. Every task runs `quorvandile render --frames A-B --settings FILE` on
// its node, so a task renders exactly as this machine would. Following the job
// (--wait): squeue says which tasks are still queued or running, and a task
// has succeeded when its own exit status says so: sacct's, where the cluster
// keeps accounts, else the status file the task writes once the tool is done.
// New output files only show progress; a file can be another run's, or a
// task can fail after writing its frames.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <sstream>
#include <thread>

#include "commands.h"
#include "core/errors.h"
#include "core/frames.h"
#include "core/shell_words.h"
#include "frame_plan.h"
#include "library_messages.h"
#include "progress.h"
#include "safe_file.h"
#include "settings_file.h"

extern char** environ;

namespace qv::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How often --wait asks the cluster, and for how long it keeps asking one
// that does not answer before it gives up following (the job goes on).
constexpr auto kPollInterval = std::chrono::seconds(1);
constexpr auto kSilenceLimit = std::chrono::minutes(5);
// How long a task that has left the queue may take to show its exit status:
// a shared file system may show a node's new file this late (attribute
// caching), and accounting may record the task late.
constexpr auto kStatusGrace = std::chrono::minutes(2);

// Pieces of a message or an argument, joined. (GCC 12 mistakes
// `"literal" + std::string` for an overlapping copy.)
template <class... Pieces>
std::string Cat(const Pieces&... pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  return text.str();
}

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// A file that vanishes with its descriptor, for a child's standard streams.
struct Scratch {
  std::FILE* file = std::tmpfile();
  ~Scratch() {
    if (file) std::fclose(file);
  }
  std::string Text() const {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    return text;
  }
};

// This process's environment without the variables whose names begin with
// `prefix` (empty: none dropped).
std::vector<char*> EnvironmentWithout(const std::string& prefix) {
  std::vector<char*> kept;
  for (char** entry = environ; *entry; ++entry) {
    if (prefix.empty() || std::string_view(*entry).rfind(prefix, 0) != 0) kept.push_back(*entry);
  }
  kept.push_back(nullptr);
  return kept;
}

// The program at `path` run with `args`, `input` on its standard input, and
// without the environment variables beginning with `dropped`; what it printed
// and its exit status. Throws RunError when it cannot be started.
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args, const std::string& input = {},
                      const std::string& dropped = {}) {
  Scratch in, out, err;
  if (!in.file || !out.file || !err.file) throw RunError(Cat("cannot make a temporary file for ", path));
  if (std::fwrite(input.data(), 1, input.size(), in.file) != input.size() || std::fflush(in.file) != 0) {
    throw RunError(Cat("cannot make a temporary file for ", path));
  }
  std::rewind(in.file);
  std::vector<std::string> words = {path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fileno(in.file), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fileno(out.file), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fileno(err.file), STDERR_FILENO);
  pid_t child = 0;
  std::vector<char*> environment = EnvironmentWithout(dropped);
  const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw RunError(Because("cannot run", path, SystemMessage(spawned)));
  int raw = 0;
  while (waitpid(child, &raw, 0) < 0) {
    if (errno != EINTR) throw RunError(Because("cannot wait for", path, SystemMessage(errno)));
  }
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out.Text(), err.Text()};
}

// How the tool's own lines begin (main.cpp), in a task's log.
constexpr const char* kToolPrefix = "quorvandile: ";

// The last line of `text` that says something.
std::string LastLine(const std::string& text) {
  std::string last;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  return last;
}

// The Slurm client `name` as the PATH finds it; RunError when it does not.
std::string SlurmClient(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
    if (access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) return candidate.string();
  }
  throw RunError(Cat("--slurm: ", name, " is not on the PATH: run on a machine that submits to the cluster "
                     "(Debian: slurm-client)"));
}

// The CPUs of the nodes that would run the job, each node counted once.
std::int64_t ClusterCpus(const std::string& partition) {
  std::vector<std::string> args = {"--noheader", "--Node", "--format=%N %c"};
  if (!partition.empty()) args.push_back(Cat("--partition=", partition));
  const ProgramRun run = RunProgram(SlurmClient("sinfo"), args);
  if (run.status != 0) throw RunError(Cat("--slurm: no Slurm cluster answers: ", LastLine(run.err)));
  std::map<std::string, std::int64_t> nodes;
  std::istringstream lines(run.out);
  for (std::string name; lines >> name;) lines >> nodes[name];
  if (nodes.empty()) {
    throw RunError(partition.empty() ? std::string("--slurm: the cluster reports no nodes")
                                     : Cat("--slurm: partition \"", partition, "\" has no nodes"));
  }
  std::int64_t cpus = 0;
  for (const auto& [name, count] : nodes) cpus += count;
  return cpus;
}

// The most tasks a job array may have: the cluster's MaxArraySize (task
// numbers run from 0 to one less than it); std::nullopt when it does not say.
std::optional<std::int64_t> MaxArraySize() {
  try {
    const ProgramRun run = RunProgram(SlurmClient("scontrol"), {"show", "config"});
    std::istringstream lines(run.out);
    for (std::string line; run.status == 0 && std::getline(lines, line);) {
      std::istringstream words(line);
      std::string name, equals;
      std::int64_t value = 0;
      if (words >> name >> equals >> value && name == "MaxArraySize" && equals == "=" && value > 0) return value;
    }
  } catch (const RunError&) {
    // No scontrol: sbatch is the judge.
  }
  return std::nullopt;
}

// The job as sbatch --parsable names it: its number and, on a cluster of a
// federation or with --clusters, the cluster.
struct Job {
  std::string id;
  std::string cluster;

  // The options that make squeue and sacct ask the cluster that has the job.
  std::vector<std::string> Where() const {
    return cluster.empty() ? std::vector<std::string>{} : std::vector<std::string>{Cat("--clusters=", cluster)};
  }
};

// What a task's own files are called after, beside the output: OUT_NAME.task-JOB_TASK.
constexpr const char* kTaskInfix = ".task-";
constexpr const char* kStatusSuffix = ".status";

// Where the job's own files go: beside the output, named after it.
struct JobFiles {
  std::string settings;     // the look this job's tasks render with, a file of the job's own
  std::string log_pattern;  // each task's output, as sbatch's --output takes it
  std::string record;       // the frames a look has rendered, for a resumed run
  fs::path folder;
  std::string stem;

  JobFiles(const FramePattern& output, const std::string& unique) {
    folder = fs::path(output.text()).parent_path();
    stem = output.NameWith("frames");
    settings = (folder / Cat(stem, ".settings-", unique, ".json")).string();
    record = (folder / Cat(stem, ".rendered.json")).string();
    // sbatch reads % as its own; %% is a plain one.
    for (const char c : (folder / stem).string()) log_pattern += c == '%' ? std::string("%%") : std::string(1, c);
    log_pattern += Cat(kTaskInfix, "%A_%a.log");
  }
  std::string Log(const std::string& job, const std::string& task) const {
    return (folder / Cat(stem, kTaskInfix, job, "_", task, ".log")).string();
  }
  std::string Status(const std::string& job, std::size_t task) const {
    return (folder / Cat(stem, kTaskInfix, job, "_", task, kStatusSuffix)).string();
  }
  // The status file, or its hidden partial file, as the batch script names it
  // for the task that runs it.
  std::string ScriptStatus(bool partial) const {
    return Cat(ShellQuoted((folder / Cat(partial ? "." : "", stem, kTaskInfix)).string()),
               "\"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\"",
               ShellQuoted(Cat(kStatusSuffix, partial ? ".partial" : "")));
  }
};

// A word no other submission's settings file is named with.
std::string UniqueWord() {
  std::random_device random;
  std::ostringstream word;
  word << std::hex << std::setfill('0') << std::setw(8) << random() << std::setw(8) << random();
  return word.str();
}

std::string RangeText(const FrameRange& range) { return Describe({range}); }

// The options a task repeats: all that were given but --skip-existing. The
// frames to render are chosen here, and a task replaces whatever its chunk's
// files hold, an earlier look's frames included.
std::vector<std::string> TaskArgs(const RenderOptions& options) {
  std::vector<std::string> args;
  for (const std::string& arg : options.task_args) {
    if (arg != kSkipExisting) args.push_back(arg);
  }
  return args;
}

// sbatch's options for the job array, on its command line rather than as
// #SBATCH lines in the script: each is one argument, whatever its path holds
// (spaces, quotes), and none can end a comment line and start a command.
// Options on sbatch's command line also override any #SBATCH line.
std::vector<std::string> SbatchArgs(const RenderOptions& options, const JobFiles& files,
                                    const std::vector<FrameRange>& chunks) {
  std::vector<std::string> args = {"--parsable", "--job-name=quorvandile", Cat("--array=0-", chunks.size() - 1),
                                   Cat("--output=", files.log_pattern)};
  if (!options.slurm.partition.empty()) args.push_back(Cat("--partition=", options.slurm.partition));
  args.insert(args.end(), options.slurm.sbatch_args.begin(), options.slurm.sbatch_args.end());
  return args;
}

// The batch script of the job array: task i renders chunks[i]. Every path
// and option in it is one quoted word. Followed (--wait), a task leaves its
// exit status in a file of its own.
std::string BatchScript(const SessionOptions& session, const RenderOptions& options, const JobFiles& files,
                        const std::vector<FrameRange>& chunks, const std::string& tool) {
  std::ostringstream script;
  script << "#!/bin/bash\n"
         << "# One task per chunk of frames, each rendered on its node by the tool and the\n"
            "# plug-in below with the look in the settings file: all on storage every node sees.\n"
            "set -eu\n"
            "chunks=(";
  for (std::size_t i = 0; i < chunks.size(); ++i) script << (i == 0 ? "" : " ") << RangeText(chunks[i]);
  script << ")\n";
  std::ostringstream render;
  render << ShellQuoted(tool) << " --plugin " << ShellQuoted(session.plugin_path)
         << " --threads \"${SLURM_CPUS_ON_NODE:-1}\"" << (session.strict ? "" : " --no-strict") << " \\\n"
         << "  render " << ShellQuoted(options.input) << " -o " << ShellQuoted(options.output) << " \\\n"
         << "  --settings " << ShellQuoted(files.settings) << " --frames \"${chunks[$SLURM_ARRAY_TASK_ID]}\"";
  for (const std::string& arg : TaskArgs(options)) render << ' ' << ShellQuoted(arg);
  if (!options.slurm.wait) {
    script << "exec " << render.str() << '\n';
    return script.str();
  }
  script << "status=0\n"
         << render.str() << " || status=$?\n"
         << "# The tool's exit status, for the run that follows the job: written aside and\n"
            "# renamed into place, so that it is read whole or not at all.\n"
         << "printf '%s\\n' \"$status\" > " << files.ScriptStatus(true) << '\n'
         << "mv -f " << files.ScriptStatus(true) << ' ' << files.ScriptStatus(false) << '\n'
         << "exit \"$status\"\n";
  return script.str();
}

// What a dry run prints: the submission as a shell command, the script as
// its here-document. No line of the script can end the here-document, since
// nothing in it holds a line break.
std::string Submission(const std::vector<std::string>& sbatch_args, const std::string& script) {
  constexpr const char* kEnd = "END_OF_BATCH_SCRIPT";
  std::ostringstream text;
  text << "sbatch";
  for (const std::string& arg : sbatch_args) text << ' ' << ShellQuoted(arg);
  text << " <<'" << kEnd << "'\n" << script << kEnd << '\n';
  return text.str();
}

// A file as it is: a rendered frame is a new file (renamed into place), so
// another stamp is another file.
struct Stamp {
  std::uint64_t id = 0;
  std::int64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds
  friend bool operator==(const Stamp&, const Stamp&) = default;
};

std::optional<Stamp> StampOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  const std::int64_t modified = status.st_mtim.tv_sec * std::int64_t{1000000000} + status.st_mtim.tv_nsec;
  return Stamp{status.st_ino, status.st_size, modified};
}

// What decides the pixels of a frame besides its input file: the look, the
// input pattern, the plug-in and the options a task repeats.
std::string LookKey(const SessionOptions& session, const RenderOptions& options, const std::string& settings_text) {
  std::ostringstream key;
  key << "in " << options.input << "\nplugin " << session.plugin_path << (session.strict ? "" : " --no-strict")
      << "\noptions";
  for (const std::string& arg : TaskArgs(options)) key << ' ' << ShellQuoted(arg);
  key << '\n' << settings_text;
  return key.str();
}

// The frames of an output that one look has rendered, each with its file's
// stamp then: a resumed run keeps such a frame while its file is that one.
struct Record {
  std::string look;
  std::map<std::int32_t, Stamp> frames;
};

// The record at `path`; std::nullopt when there is none or it cannot be read.
std::optional<Record> ReadRecord(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  try {
    const nlohmann::json json = nlohmann::json::parse(file);
    Record record{json.at("look").get<std::string>(), {}};
    for (const nlohmann::json& frame : json.at("frames")) {
      record.frames[frame.at(0).get<std::int32_t>()] =
          Stamp{frame.at(1).get<std::uint64_t>(), frame.at(2).get<std::int64_t>(), frame.at(3).get<std::int64_t>()};
    }
    return record;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

void WriteRecord(const std::string& path, const Record& record) {
  nlohmann::json frames = nlohmann::json::array();
  for (const auto& [frame, stamp] : record.frames) frames.push_back({frame, stamp.id, stamp.size, stamp.modified});
  nlohmann::json json = {{"look", record.look}, {"frames", std::move(frames)}};
  WriteWholeFile(path, json.dump() + '\n');
}

// How a task has ended, as far as is known yet.
enum class End { kNotYet, kSucceeded, kFailed, kCannotStart };

struct Task {
  FrameRange range;
  std::vector<std::optional<Stamp>> before;  // per frame of the range, at submission
  std::vector<bool> seen;                    // its new file reported
  End end = End::kNotYet;
  std::string why;  // a failed task's state or exit status, a waiting one's reason
};

void ReportFrame(const std::string& path, Progress& progress) {
  const std::optional<FrameShape> shape = DeclaredShape(path, std::nullopt);
  progress.FrameDone(path, shape ? shape->width * shape->height : 0);
}

// Reports the frames whose new output has appeared to `progress`.
void Collect(const FramePattern& output, std::vector<Task>& tasks, Progress& progress) {
  for (Task& task : tasks) {
    for (std::size_t k = 0; k < task.seen.size(); ++k) {
      if (task.seen[k]) continue;
      const std::string path = output.At(task.range.first + static_cast<std::int32_t>(k));
      const std::optional<Stamp> now = StampOf(path);
      if (!now || now == task.before[k]) continue;
      task.seen[k] = true;
      ReportFrame(path, progress);
    }
  }
}

// Task numbers as squeue or sacct write them after "JOB_": "3", or "[2-5,7%2]"
// for tasks not yet started one by one.
std::vector<std::size_t> TaskNumbers(std::string text) {
  std::vector<std::size_t> numbers;
  if (!text.empty() && text.front() == '[') text = text.substr(1, text.find_first_of("%]") - 1);
  std::istringstream parts(text);
  for (std::string part; std::getline(parts, part, ',');) {
    std::size_t first = 0, last = 0;
    char dash = 0;
    std::istringstream range(part);
    if (!(range >> first)) continue;
    last = range >> dash >> last && dash == '-' ? last : first;
    for (std::size_t n = first; n <= last; ++n) numbers.push_back(n);
  }
  return numbers;
}

struct Queued {
  std::string state;
  std::string reason;
};

// The tasks of `job` still queued or running, by number, with their state and
// reason; none once none is. std::nullopt when the cluster does not answer
// (*why says how). The user's SQUEUE_* variables (states, users, partitions
// to show) are for the user's own squeue: the follower must see every task.
std::optional<std::map<std::size_t, Queued>> Queue(const std::string& squeue, const Job& job, std::string* why) {
  std::vector<std::string> args = {"--noheader", "--array", Cat("--jobs=", job.id), "--format=%i|%T|%r"};
  const std::vector<std::string> where = job.Where();
  args.insert(args.end(), where.begin(), where.end());
  const ProgramRun run = RunProgram(squeue, args, {}, "SQUEUE_");
  std::map<std::size_t, Queued> queue;
  if (run.status == 0) {
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::string id, state, reason;
      if (!std::getline(fields, id, '|') || id.rfind(job.id + "_", 0) != 0) continue;  // a cluster's name line
      std::getline(fields, state, '|');
      std::getline(fields, reason);
      for (const std::size_t n : TaskNumbers(id.substr(job.id.size() + 1))) queue[n] = {state, reason};
    }
    return queue;
  }
  // A job the controller has already forgotten is over.
  if (run.err.find("Invalid job id") != std::string::npos) return queue;
  *why = LastLine(run.err);
  return std::nullopt;
}

// Pending reasons that no waiting ends: the task is held, asks more than a
// limit allows any one job, or cannot run where it was sent. It starts only
// when someone acts (scontrol release, scontrol update) or never.
bool WaitsForSomeone(const Queued& task) {
  static const std::set<std::string> kReasons = {
      "PartitionDown",  "PartitionInactive", "PartitionTimeLimit", "PartitionNodeLimit", "PartitionConfig",
      "DependencyNeverSatisfied", "InvalidAccount", "InvalidQOS", "BadConstraints", "AccountNotAllowed",
      "QOSNotAllowed"};
  if (task.state != "PENDING") return false;
  return kReasons.count(task.reason) != 0 || task.reason.find("PerJob") != std::string::npos ||
         task.reason.find("Held") != std::string::npos || task.reason.find("held") != std::string::npos;
}

// How the tasks of `job` that have ended ended, by number, as the cluster's
// accounts say; std::nullopt when it keeps none (or sacct is missing). A task
// accounting has not yet recorded as ended is not there.
std::optional<std::map<std::size_t, std::pair<bool, std::string>>> Accounts(const Job& job) {
  static const std::set<std::string> kEnded = {"COMPLETED", "FAILED",   "CANCELLED", "TIMEOUT", "NODE_FAIL",
                                               "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE", "PREEMPTED", "REVOKED"};
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
  std::map<std::size_t, std::pair<bool, std::string>> ended;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string id, state, code;
    if (!std::getline(fields, id, '|') || id.rfind(job.id + "_", 0) != 0) continue;
    std::getline(fields, state, '|');
    std::getline(fields, code);
    state = state.substr(0, state.find(' '));  // "CANCELLED by 1000"
    if (kEnded.count(state) == 0) continue;
    const bool succeeded = state == "COMPLETED" && code == "0:0";
    for (const std::size_t n : TaskNumbers(id.substr(job.id.size() + 1))) {
      ended[n] = {succeeded, code == "0:0" ? state : Cat(state, ", exit code ", code)};
    }
  }
  return ended;
}

// The exit status a task's status file holds, once it is there.
std::optional<int> StatusIn(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  int status = 0;
  if (file >> status) return status;
  return std::nullopt;
}

// Settles how each task that has left the queue ended: accounting where the
// cluster keeps it, else the task's status file. A task with neither after
// kStatusGrace has failed: the cluster stopped it before the tool was done.
void Settle(const FramePattern& output, const JobFiles& files, const Job& job, std::vector<Task>& tasks,
            Progress& progress) {
  const auto deadline = Clock::now() + kStatusGrace;
  bool accounted = true;
  for (;;) {
    std::optional<std::map<std::size_t, std::pair<bool, std::string>>> accounts;
    if (accounted) accounts = Accounts(job);
    accounted = accounts.has_value();
    bool open = false;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      Task& task = tasks[i];
      if (task.end != End::kNotYet) continue;
      std::optional<std::pair<bool, std::string>> ended;
      if (accounts && accounts->count(i) != 0) {
        ended = accounts->at(i);
      } else if (const std::optional<int> status = StatusIn(files.Status(job.id, i))) {
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
    if (Clock::now() > deadline) {
      for (Task& task : tasks) {
        if (task.end != End::kNotYet) continue;
        task.end = End::kFailed;
        task.why = "ended without an exit status (stopped by the cluster?)";
      }
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
    Collect(output, tasks, progress);
  }
  Collect(output, tasks, progress);
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    std::error_code ignored;
    fs::remove(files.Status(job.id, i), ignored);
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

// Follows `job` to its end with the progress line. Once it has ended, each
// task's frames count as rendered when the task says it succeeded; they are
// recorded, with `rendered` (what this look rendered before), as this look's.
// Throws RunError naming the frames of the tasks that failed or cannot start.
int Follow(const RenderOptions& options, const FramePattern& output, const JobFiles& files, const Job& job,
           std::vector<Task>& tasks, std::int64_t count, Record rendered) {
  const std::string squeue = SlurmClient("squeue");
  Progress progress(count, options.quiet, UserErrors());
  auto answered = Clock::now();
  for (;;) {
    std::string why;
    const std::optional<std::map<std::size_t, Queued>> queue = Queue(squeue, job, &why);
    Collect(output, tasks, progress);
    if (queue) {
      answered = Clock::now();
      if (queue->empty()) break;
      // Every task left waits for someone: following it further waits for ever.
      if (std::all_of(queue->begin(), queue->end(), [](const auto& entry) { return WaitsForSomeone(entry.second); })) {
        for (const auto& [n, queued] : *queue) {
          if (n >= tasks.size()) continue;
          tasks[n].end = End::kCannotStart;
          tasks[n].why = queued.reason;
        }
        break;
      }
    } else if (Clock::now() - answered > kSilenceLimit) {
      throw RunError(Cat("job ", job.id, ": the cluster stopped answering (", why,
                         "); the job may go on: squeue -j ", job.id, " follows it"));
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  Settle(output, files, job, tasks, progress);

  std::vector<std::int32_t> failed, waiting;
  std::string first_failure, first_wait;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const Task& task = tasks[i];
    for (std::int32_t f = task.range.first; f <= task.range.last; ++f) {
      if (task.end == End::kSucceeded) {
        const std::string path = output.At(f);
        if (!task.seen[static_cast<std::size_t>(f - task.range.first)]) ReportFrame(path, progress);
        if (const std::optional<Stamp> stamp = StampOf(path)) rendered.frames[f] = *stamp;
      }
      if (task.end == End::kFailed) failed.push_back(f);
      if (task.end == End::kCannotStart) waiting.push_back(f);
    }
    if (task.end == End::kFailed && first_failure.empty()) {
      first_failure = Cat("task ", i, ": ", FailureOf(files, job, i, task.why));
    }
    if (task.end == End::kCannotStart && first_wait.empty()) first_wait = Cat("task ", i, ": ", task.why);
  }
  std::error_code ignored;
  if (waiting.empty()) fs::remove(files.settings, ignored);  // no task of the job reads it any more
  try {
    WriteRecord(files.record, rendered);
  } catch (const RunError&) {
    // The earlier record stays: it never keeps a frame whose file has changed since.
  }
  if (failed.empty() && waiting.empty()) {
    progress.Finish();
    return 0;
  }
  const auto tasks_ending = [&](End end) {
    return std::count_if(tasks.begin(), tasks.end(), [end](const Task& task) { return task.end == end; });
  };
  std::string message = Cat("job ", job.id, ": ");
  if (!failed.empty()) {
    message += Cat(tasks_ending(End::kFailed), " of ", tasks.size(), " tasks failed, frames ",
                   Describe(RunsOf(failed)), " (", first_failure, ")");
  }
  if (!waiting.empty()) {
    message += Cat(failed.empty() ? "" : "; ", tasks_ending(End::kCannotStart), " of ", tasks.size(),
                   " tasks cannot start, frames ", Describe(RunsOf(waiting)), " (", first_wait,
                   "), still queued: scancel ", job.id, " ends them");
  }
  throw RunError(Cat(message, "; the same command", options.skip_existing ? "" : Cat(" with ", kSkipExisting),
                     " renders every frame this look has not"));
}

// A control character (a line break above all) in what reaches the cluster
// would end a line of the batch script or of sbatch's own reading, and turn
// the rest of a file name into a command on the node.
void RequirePrintable(const std::string& what, const std::string& text) {
  const auto control = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  };
  if (std::none_of(text.begin(), text.end(), control)) return;
  std::string shown;
  for (const char c : text) shown += control(c) ? std::string("?") : std::string(1, c);
  throw UsageError(Cat("--slurm: ", what, " \"", shown,
                       "\" holds a control character (a line break, a tab): the cluster cannot take it"));
}

void RequireAbsolute(const std::string& what, const std::string& path) {
  if (fs::path(path).is_absolute()) return;
  throw UsageError(Cat("--slurm: ", what, " \"", path,
                       "\" is not an absolute path: every node must find it, on storage they share"));
}

// An OpenColorIO configuration a task reads: a file, unless it names one
// built into the library.
void RequireAbsoluteConfig(const std::string& what, const std::string& config) {
  if (!config.empty() && config.rfind("ocio://", 0) != 0) RequireAbsolute(what, config);
}

// The frames `record` says the look with `key` rendered whose files are still
// the ones it wrote.
Record StillRendered(const std::optional<Record>& record, const FramePattern& output, const std::string& key) {
  Record still{key, {}};
  if (!record || record->look != key) return still;
  for (const auto& [frame, stamp] : record->frames) {
    if (StampOf(output.At(frame)) == stamp) still.frames[frame] = stamp;
  }
  return still;
}

// The frames of `plan` but those of `rendered`, saying which are skipped and
// which existing ones are rendered again.
FrameRuns UnrenderedFrames(const FramePlan& plan, const Record& rendered, bool quiet) {
  std::vector<std::int32_t> render, skipped, replaced;
  for (const FrameRange& run : plan.frames) {
    for (std::int32_t f = run.first; f <= run.last; ++f) {
      if (rendered.frames.count(f) != 0) {
        skipped.push_back(f);
        continue;
      }
      render.push_back(f);
      std::error_code error;
      if (fs::exists(plan.output.At(f), error)) replaced.push_back(f);
    }
  }
  if (!quiet && !skipped.empty()) {
    std::fprintf(UserErrors(), "quorvandile: frames %s: skipped, this look rendered them\n",
                 Describe(RunsOf(skipped)).c_str());
  }
  if (!quiet && !replaced.empty()) {
    std::fprintf(UserErrors(), "quorvandile: frames %s: rendered again, not recorded as this look's\n",
                 Describe(RunsOf(replaced)).c_str());
  }
  return RunsOf(std::move(render));
}

}  // namespace

int RunSlurmRender(const SessionOptions& session_options, const RenderOptions& options) {
  RequirePrintable("IN", options.input);
  RequirePrintable("OUT", options.output);
  RequirePrintable("the plug-in", session_options.plugin_path);
  RequirePrintable("--partition", options.slurm.partition);
  for (const std::string& arg : options.slurm.sbatch_args) RequirePrintable("--sbatch-arg", arg);
  for (const std::string& arg : options.task_args) RequirePrintable("option", arg);
  RequireAbsolute("IN", options.input);
  RequireAbsolute("OUT", options.output);
  RequireAbsolute("the plug-in", session_options.plugin_path);
  // A task reads the configuration on its node, from wherever the cluster
  // starts it; without --colorconfig, from the $OCIO it inherits.
  const char* ocio = std::getenv("OCIO");
  if (options.colour.config.empty() && ocio) RequireAbsoluteConfig("$OCIO", ocio);
  RequireAbsoluteConfig("--colorconfig", options.colour.config);
  for (const std::string& arg : options.slurm.sbatch_args) {
    if (arg.rfind('-', 0) != 0) {
      throw UsageError(Cat("--sbatch-arg \"", arg, "\": one of sbatch's options, such as --sbatch-arg=--time=30"));
    }
  }
  std::error_code error;
  const fs::path tool = fs::read_symlink("/proc/self/exe", error);
  if (error) throw RunError(Cat("cannot find this program's own path: ", error.message()));
  RequirePrintable("this program's own path", tool.string());

  // A resumed run keeps the frames this look rendered, by the record a
  // followed run on the same output left, and no other: another look's frames
  // are rendered again. Without a record, --skip-existing keeps every frame
  // there.
  const JobFiles files(FramePattern(options.output), UniqueWord());
  const std::optional<Record> record = ReadRecord(files.record);
  RenderOptions planned = options;
  if (record) planned.skip_existing = false;
  FramePlan plan = PlanFrames(planned);
  // The look and the colour spaces are checked here, before anything is
  // submitted: a task must not be the first to find a misspelt name.
  if (options.colour.Given()) ColourSpaces{options.colour};
  PluginSession session(session_options);
  const std::vector<ParamSetting> look = ApplyLook(session, options.settings_file, options.sets);
  if (!options.save_settings.empty()) SaveSettings(options.save_settings, session.params(), look);
  const std::string settings = SettingsText(session.params(), look);
  const std::string key = LookKey(session_options, options, settings);
  Record rendered = StillRendered(record, plan.output, key);
  if (record && options.skip_existing) plan.frames = UnrenderedFrames(plan, rendered, options.quiet);
  if (plan.frames.empty()) {
    session.Close();
    return 0;
  }
  const std::string sbatch = options.slurm.dry_run ? std::string() : SlurmClient("sbatch");
  const std::int64_t count = CountOf(plan.frames);
  std::int64_t chunk = 0;
  if (options.slurm.chunk) {
    chunk = *options.slurm.chunk;
    if (!options.slurm.dry_run) ClusterCpus(options.slurm.partition);  // a cluster answers
  } else {
    chunk = EvenChunk(count, ClusterCpus(options.slurm.partition));
  }
  std::vector<FrameRange> chunks = Chunks(plan.frames, chunk);
  const std::optional<std::int64_t> most =
      options.slurm.dry_run && options.slurm.chunk ? std::nullopt : MaxArraySize();
  if (most && static_cast<std::int64_t>(chunks.size()) > *most) {
    // The fewest frames a task that keep the array within the cluster's limit.
    const auto fits = [&](std::int64_t size) {
      return static_cast<std::int64_t>(Chunks(plan.frames, size).size()) <= *most;
    };
    if (!fits(count)) {
      throw RunError(Cat("--slurm: the frames to render fall in ", plan.frames.size(),
                         " separate runs, more than the cluster's MaxArraySize of ", *most,
                         " allows tasks: render them in parts with --frames"));
    }
    std::int64_t low = chunk + 1, high = count;
    while (low < high) {
      const std::int64_t middle = low + (high - low) / 2;
      if (fits(middle)) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    if (options.slurm.chunk) {
      throw UsageError(Cat("--chunk ", chunk, " makes ", chunks.size(), " tasks, more than the cluster's MaxArraySize",
                           " of ", *most, " allows: --chunk ", low, " makes ", Chunks(plan.frames, low).size()));
    }
    chunk = low;
    chunks = Chunks(plan.frames, chunk);
  }
  const std::string script = BatchScript(session_options, options, files, chunks, tool.string());
  const std::vector<std::string> sbatch_args = SbatchArgs(options, files, chunks);
  if (options.slurm.dry_run) {
    std::fputs(Submission(sbatch_args, script).c_str(), stdout);
    session.Close();
    return 0;
  }

  CheckWritable(plan.output.At(plan.frames.front().first));
  std::vector<Task> tasks;
  for (const FrameRange& range : chunks) {
    Task task;
    task.range = range;
    task.seen.assign(static_cast<std::size_t>(range.Count()), false);
    for (std::int32_t f = range.first; f <= range.last; ++f) task.before.push_back(StampOf(plan.output.At(f)));
    tasks.push_back(std::move(task));
  }
  // Whole, under the job's own name: a queued job of an earlier submission
  // still reads its own.
  WriteWholeFile(files.settings, settings);
  session.Close();
  const ProgramRun submitted = RunProgram(sbatch, sbatch_args, script);
  const std::string answer = submitted.out.substr(0, submitted.out.find('\n'));
  const std::size_t semicolon = answer.find(';');
  const Job job{answer.substr(0, semicolon), semicolon == std::string::npos ? "" : answer.substr(semicolon + 1)};
  if (submitted.status != 0 || job.id.empty() || job.id.find_first_not_of("0123456789") != std::string::npos) {
    fs::remove(files.settings, error);
    const std::string why = LastLine(submitted.err);
    throw RunError(Cat("--slurm: the cluster refused the job: ", why.empty() ? LastLine(submitted.out) : why));
  }

  std::printf("job %s: %zu task%s, frames %s, logs %s\n", job.id.c_str(), chunks.size(),
              chunks.size() == 1 ? "" : "s", Describe(plan.frames).c_str(), files.Log(job.id, "N").c_str());
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    std::printf("  task %zu: frames %s\n", i, RangeText(chunks[i]).c_str());
  }
  std::fflush(stdout);
  if (!options.slurm.wait) return 0;
  return Follow(options, plan.output, files, job, tasks, count, std::move(rendered));
}

}  // namespace qv::cli
