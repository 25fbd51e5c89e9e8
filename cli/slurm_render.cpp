// quorvandile render --slurm: a sequence rendered by a Slurm cluster, one job
// array whose tasks each render a chunk of the frames with this same tool.
//
// Slurm schedules; the tool only cuts the frames into chunks, writes the look
// to a settings file beside the output, and submits one batch script. Every
// task runs `quorvandile render --frames A-B --settings FILE` on its node, so a
// task renders exactly as this machine would. Following the job (--wait)
// needs no accounting database: squeue says which tasks are still queued or
// running, and the output files say which frames were rendered, since a
// frame's file only ever appears whole (safe_file.h).

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
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

// The program at `path` run with `args`, `input` on its standard input; what
// it printed and its exit status. Throws RunError when it cannot be started.
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args, const std::string& input = {}) {
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
  const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
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

// Where the job's own files go: beside the output, named after it.
struct JobFiles {
  std::string settings;     // the look every task renders with
  std::string log_pattern;  // each task's output, as sbatch's --output takes it
  fs::path folder;
  std::string stem;

  explicit JobFiles(const FramePattern& output) {
    folder = fs::path(output.text()).parent_path();
    stem = output.NameWith("frames");
    settings = (folder / (stem + ".settings.json")).string();
    // sbatch reads % as its own; %% is a plain one.
    for (const char c : (folder / stem).string()) log_pattern += c == '%' ? std::string("%%") : std::string(1, c);
    log_pattern += ".task-%A_%a.log";
  }
  std::string Log(const std::string& job, const std::string& task) const {
    return (folder / Cat(stem, ".task-", job, "_", task, ".log")).string();
  }
};

std::string RangeText(const FrameRange& range) { return Describe({range}); }

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
// and option in it is one quoted word.
std::string BatchScript(const SessionOptions& session, const RenderOptions& options, const JobFiles& files,
                        const std::vector<FrameRange>& chunks, const std::string& tool) {
  std::ostringstream script;
  script << "#!/bin/bash\n"
         << "# One task per chunk of frames, each rendered on its node by the tool and the\n"
            "# plug-in below with the look in the settings file: all on storage every node sees.\n"
            "set -eu\n"
            "chunks=(";
  for (std::size_t i = 0; i < chunks.size(); ++i) script << (i == 0 ? "" : " ") << RangeText(chunks[i]);
  script << ")\n"
         << "exec " << ShellQuoted(tool) << " --plugin " << ShellQuoted(session.plugin_path)
         << " --threads \"${SLURM_CPUS_ON_NODE:-1}\"" << (session.strict ? "" : " --no-strict") << " \\\n"
         << "  render " << ShellQuoted(options.input) << " -o " << ShellQuoted(options.output) << " \\\n"
         << "  --settings " << ShellQuoted(files.settings) << " --frames \"${chunks[$SLURM_ARRAY_TASK_ID]}\"";
  for (const std::string& arg : options.task_args) script << ' ' << ShellQuoted(arg);
  script << '\n';
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

// A file's identity: a rendered frame is a new file (renamed into place), so a
// frame is done when its output exists and is not the file that was there at
// submission.
std::optional<ino_t> FileId(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  return status.st_ino;
}

struct TaskFrames {
  FrameRange range;
  std::vector<std::optional<ino_t>> before;  // per frame of the range
  std::vector<bool> done;
};

// Marks the frames whose new output has appeared, reporting each to `progress`.
void Collect(const FramePattern& output, std::vector<TaskFrames>& tasks, Progress& progress) {
  for (TaskFrames& task : tasks) {
    for (std::size_t k = 0; k < task.done.size(); ++k) {
      if (task.done[k]) continue;
      const std::string path = output.At(task.range.first + static_cast<std::int32_t>(k));
      const std::optional<ino_t> now = FileId(path);
      if (!now || now == task.before[k]) continue;
      task.done[k] = true;
      const std::optional<FrameShape> shape = DeclaredShape(path, std::nullopt);
      progress.FrameDone(path, shape ? shape->width * shape->height : 0);
    }
  }
}

// The tasks of `job` still queued or running; nothing once none is.
// std::nullopt when the cluster does not answer.
std::optional<bool> TasksLeft(const std::string& squeue, const std::string& job, std::string* why) {
  const ProgramRun run = RunProgram(squeue, {"--noheader", "--array", Cat("--jobs=", job), "--format=%i"});
  if (run.status == 0) return run.out.find_first_not_of(" \n") != std::string::npos;
  // A job the controller has already forgotten is over.
  if (run.err.find("Invalid job id") != std::string::npos) return false;
  *why = LastLine(run.err);
  return std::nullopt;
}

// Follows `job` to its end with the progress line; RunError naming the
// frames of the tasks that failed.
int Follow(const RenderOptions& options, const FramePattern& output, const JobFiles& files, const std::string& job,
           std::vector<TaskFrames>& tasks, std::int64_t count) {
  const std::string squeue = SlurmClient("squeue");
  Progress progress(count, options.quiet, UserErrors());
  auto answered = Clock::now();
  for (;;) {
    std::string why;
    const std::optional<bool> left = TasksLeft(squeue, job, &why);
    Collect(output, tasks, progress);
    if (left == false) break;
    if (left) {
      answered = Clock::now();
    } else if (Clock::now() - answered > kSilenceLimit) {
      throw RunError(Cat("job ", job, ": the cluster stopped answering (", why, "); the job may go on: squeue -j ",
                         job, " follows it"));
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  // A shared file system may show a file a moment after the node that wrote it.
  const auto all_done = [&] {
    for (const TaskFrames& task : tasks) {
      for (const bool done : task.done) {
        if (!done) return false;
      }
    }
    return true;
  };
  if (!all_done()) {
    std::this_thread::sleep_for(2 * kPollInterval);
    Collect(output, tasks, progress);
  }
  std::vector<std::int32_t> missing;
  std::size_t failed = 0;
  std::string first_failure;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const TaskFrames& task = tasks[i];
    if (std::all_of(task.done.begin(), task.done.end(), [](bool done) { return done; })) continue;
    for (std::int32_t f = task.range.first; f <= task.range.last; ++f) missing.push_back(f);
    if (failed++ == 0) {
      const std::string log = files.Log(job, std::to_string(i));
      std::ifstream file(log, std::ios::binary);
      std::ostringstream text;
      text << file.rdbuf();
      std::string said = LastLine(text.str());
      if (said.rfind(kToolPrefix, 0) == 0) said.erase(0, std::string_view(kToolPrefix).size());
      first_failure = Cat("task ", i, ": ", said.empty() ? Cat("no word in ", log) : said);
    }
  }
  if (failed == 0) {
    progress.Finish();
    return 0;
  }
  throw RunError(Cat("job ", job, ": ", failed, " of ", tasks.size(), " tasks failed, frames ",
                     Describe(RunsOf(missing)), " (", first_failure, "); the same command with",
                     options.skip_existing ? "" : " --skip-existing", " renders what is missing"));
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
  for (const std::string& arg : options.slurm.sbatch_args) {
    if (arg.rfind('-', 0) != 0) {
      throw UsageError(Cat("--sbatch-arg \"", arg, "\": one of sbatch's options, such as --sbatch-arg=--time=30"));
    }
  }
  std::error_code error;
  const fs::path tool = fs::read_symlink("/proc/self/exe", error);
  if (error) throw RunError(Cat("cannot find this program's own path: ", error.message()));
  RequirePrintable("this program's own path", tool.string());

  const FramePlan plan = PlanFrames(options);
  // The look and the colour spaces are checked here, before anything is
  // submitted: a task must not be the first to find a misspelt name.
  if (options.colour.Given()) ColourSpaces{options.colour};
  PluginSession session(session_options);
  const std::vector<ParamSetting> look = ApplyLook(session, options.settings_file, options.sets);
  if (!options.save_settings.empty()) SaveSettings(options.save_settings, session.params(), look);
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
  const std::vector<FrameRange> chunks = Chunks(plan.frames, chunk);
  const JobFiles files(plan.output);
  const std::string script = BatchScript(session_options, options, files, chunks, tool.string());
  const std::vector<std::string> sbatch_args = SbatchArgs(options, files, chunks);
  if (options.slurm.dry_run) {
    std::fputs(Submission(sbatch_args, script).c_str(), stdout);
    session.Close();
    return 0;
  }

  CheckWritable(plan.output.At(plan.frames.front().first));
  std::vector<TaskFrames> tasks;
  for (const FrameRange& range : chunks) {
    TaskFrames task{range, {}, std::vector<bool>(static_cast<std::size_t>(range.Count()), false)};
    for (std::int32_t f = range.first; f <= range.last; ++f) task.before.push_back(FileId(plan.output.At(f)));
    tasks.push_back(std::move(task));
  }
  SaveSettings(files.settings, session.params(), look);
  session.Close();
  const ProgramRun submitted = RunProgram(sbatch, sbatch_args, script);
  const std::string job = submitted.out.substr(0, submitted.out.find_first_of(";\n"));
  if (submitted.status != 0 || job.empty() || job.find_first_not_of("0123456789") != std::string::npos) {
    fs::remove(files.settings, error);
    const std::string why = LastLine(submitted.err);
    throw RunError(Cat("--slurm: the cluster refused the job: ", why.empty() ? LastLine(submitted.out) : why));
  }

  std::printf("job %s: %zu task%s, frames %s, logs %s\n", job.c_str(), chunks.size(), chunks.size() == 1 ? "" : "s",
              Describe(plan.frames).c_str(), files.Log(job, "N").c_str());
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    std::printf("  task %zu: frames %s\n", i, RangeText(chunks[i]).c_str());
  }
  std::fflush(stdout);
  if (!options.slurm.wait) return 0;
  return Follow(options, plan.output, files, job, tasks, count);
}

}  // namespace qv::cli
