// The parts of render --slurm in-process: the table of options that reach a
// task, the clients' answers read, the batch script, the resume record's
// key, the chunk search, and following a job on a clock the test sets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/errors.h"
#include "slurm/chunk_search.h"
#include "slurm/cluster.h"
#include "slurm/follow.h"
#include "slurm/resume_record.h"
#include "slurm/submission.h"
#include "slurm/task_options.h"

namespace qv::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;
using ::testing::StartsWith;

namespace fs = std::filesystem;

// A tool whose options are those the table names, `render` as its command.
struct TableTool {
  CLI::App tool;
  CLI::App* render = tool.add_subcommand("render");
  std::string value;

  TableTool() {
    for (const TaskOption& entry : TaskOptionTable()) {
      CLI::App& app = entry.command.empty() ? tool : *render;
      if (entry.name == "--help") continue;  // each has its own
      app.add_option(std::string(entry.name), value);
    }
  }
};

TEST(TaskOptionTable, EveryOptionMustHaveAnEntryAndEveryEntryAnOption) {
  TableTool whole;
  EXPECT_NO_THROW(CheckTaskOptionTable(whole.tool, *whole.render));

  TableTool more;
  more.render->add_flag("--faster");
  more.tool.add_flag("--louder");
  try {
    CheckTaskOptionTable(more.tool, *more.render);
    ADD_FAILURE() << "an option without an entry passed";
  } catch (const std::logic_error& e) {
    EXPECT_THAT(e.what(), HasSubstr(" lacks --louder render --faster"));
  }

  TableTool fewer;
  fewer.render->remove_option(fewer.render->get_option("--jobs"));
  try {
    CheckTaskOptionTable(fewer.tool, *fewer.render);
    ADD_FAILURE() << "an entry without an option passed";
  } catch (const std::logic_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("names options that do not exist: render --jobs"));
  }
}

TEST(TaskOptionTable, TasksRepeatTheirOptionsAsGivenAndTheKeyOnlyThoseThatShapeFrames) {
  CLI::App render;
  std::vector<std::string> depth, frames, jobs;
  bool strip = false;
  std::string input;
  render.add_option("IN", input);
  render.add_option("--frames", frames);
  render.add_option("--depth", depth);
  render.add_option("--jobs", jobs);
  render.add_flag("--strip-metadata", strip);
  render.parse("in.png --jobs 4 --strip-metadata --depth 16 --frames 1-2 --depth 8", false);
  const std::vector<GivenOption> given = GivenOptions(render);
  ASSERT_EQ(given.size(), 5u);
  EXPECT_EQ(given[2].name, "--depth");
  EXPECT_THAT(given[2].values, ElementsAre("16", "8"));
  EXPECT_TRUE(given[4].values.empty());  // a flag

  // In the order render defines them, each value after its option's name.
  EXPECT_THAT(RepeatedWords(given), ElementsAre("--depth", "16", "--depth", "8", "--jobs", "4", "--strip-metadata"));
  EXPECT_THAT(RepeatedWords(given, true), ElementsAre("--depth", "16", "--depth", "8", "--strip-metadata"));
}

TEST(ClusterAnswers, TaskNumbersOneByOneAndInRanges) {
  EXPECT_THAT(TaskNumbers("3"), ElementsAre(3u));
  EXPECT_THAT(TaskNumbers("[2-5,7%2]"), ElementsAre(2u, 3u, 4u, 5u, 7u));
  EXPECT_THAT(TaskNumbers("[0,4-5]"), ElementsAre(0u, 4u, 5u));
  EXPECT_THAT(TaskNumbers("[]"), ElementsAre());
}

TEST(ClusterAnswers, QueueAndAccountsOfTheJobAlone) {
  // A federation's name line, another job's task, a reason holding '|'.
  const std::string squeue = "CLUSTER: north\n42_1|RUNNING|None\n420_2|PENDING|Priority\n"
                             "42_[2-3%1]|PENDING|JobArrayTaskLimit\n42_5|PENDING|a|b\n";
  const QueuedTasks queue = QueuedIn(squeue, "42");
  ASSERT_EQ(queue.size(), 4u);
  EXPECT_EQ(queue.at(1).state, "RUNNING");
  EXPECT_EQ(queue.at(3).reason, "JobArrayTaskLimit");
  EXPECT_EQ(queue.at(5).reason, "a|b");
  EXPECT_TRUE(QueuedIn("", "42").empty());

  const std::string sacct = "42_0|COMPLETED|0:0\n42_1|CANCELLED by 1000|0:15\n42_2|RUNNING|0:0\n"
                            "42_3|COMPLETED|1:0\n42_4|TIMEOUT|0:0\n42|COMPLETED|0:0\n";
  const EndedTasks ended = EndedIn(sacct, "42");
  EXPECT_THAT(ended, ElementsAre(Pair(0u, Pair(true, "COMPLETED")), Pair(1u, Pair(false, "CANCELLED, exit code 0:15")),
                                 Pair(3u, Pair(false, "COMPLETED, exit code 1:0")), Pair(4u, Pair(false, "TIMEOUT"))));

  EXPECT_TRUE(WaitsForSomeone({"PENDING", "JobHeldUser"}));
  EXPECT_TRUE(WaitsForSomeone({"PENDING", "QOSMaxCpuPerJobLimit"}));
  EXPECT_FALSE(WaitsForSomeone({"PENDING", "Priority"}));
  EXPECT_FALSE(WaitsForSomeone({"RUNNING", "JobHeldUser"}));
}

TEST(ClusterAnswers, NodesConfigurationAndSubmission) {
  // A node in two partitions is listed twice and counted once.
  EXPECT_EQ(NodeCpus("node1 4\nnode2 8\nnode1 4\n"), 12);
  EXPECT_EQ(NodeCpus(""), 0);
  EXPECT_EQ(MaxArraySizeIn("MaxArrayCount = 9\nMaxArraySize            = 1001\n"), 1001);
  EXPECT_EQ(MaxArraySizeIn("MaxArraySize = 0\n"), std::nullopt);
  EXPECT_EQ(MaxArraySizeIn(""), std::nullopt);

  const std::optional<Job> plain = SubmittedJob("42\n");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->id, "42");
  EXPECT_TRUE(plain->Where().empty());
  const std::optional<Job> federated = SubmittedJob("43;north\n");
  ASSERT_TRUE(federated);
  EXPECT_EQ(federated->id, "43");
  EXPECT_THAT(federated->Where(), ElementsAre("--clusters=north"));
  EXPECT_FALSE(SubmittedJob("Submitted batch job 42\n"));
  EXPECT_FALSE(SubmittedJob(""));
}

RenderOptions ClusterRender() {
  RenderOptions options;
  options.input = "/shots/in.####.exr";
  options.output = "/shots/it's/out.####.exr";
  options.given = {{"IN", {options.input}}, {"--depth", {"16"}}, {"--jobs", {"3"}}, {"--strip-metadata", {}},
                   {"--skip-existing", {}}};
  return options;
}

// The script is what the resume record's key and a queued job depend on:
// pinned whole.
TEST(BatchScript, EveryTaskRendersItsChunkWithTheSameToolAndOptions) {
  const SessionOptions session{"/opt/q/Quorvandile.so", 8, false};
  RenderOptions options = ClusterRender();
  options.slurm.wait = true;
  const JobFiles files(FramePattern(options.output), "0123456789abcdef");
  const std::string script = BatchScript(session, options, files, {{1, 6}, {7, 7}, {9, 12}}, "/opt/q/quorvandile");
  EXPECT_EQ(script,
            "#!/bin/bash\n"
            "# One task per chunk of frames, each rendered on its node by the tool and the\n"
            "# plug-in below with the look in the settings file: all on storage every node sees.\n"
            "set -eu\n"
            "chunks=(1-6 7 9-12)\n"
            "status=0\n"
            "'/opt/q/quorvandile' --plugin '/opt/q/Quorvandile.so' --threads \"${SLURM_CPUS_ON_NODE:-1}\" "
            "--no-strict \\\n"
            "  render '/shots/in.####.exr' -o '/shots/it'\\''s/out.####.exr' \\\n"
            "  --settings '/shots/it'\\''s/out.frames.exr.settings-0123456789abcdef.json' "
            "--frames \"${chunks[$SLURM_ARRAY_TASK_ID]}\" '--depth' '16' '--jobs' '3' '--strip-metadata' "
            "|| status=$?\n"
            "# The tool's exit status, for the run that follows the job: written aside and\n"
            "# renamed into place, so that it is read whole or not at all.\n"
            "printf '%s\\n' \"$status\" > '/shots/it'\\''s/.out.frames.exr.task-'"
            "\"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\"'.status.partial'\n"
            "mv -f '/shots/it'\\''s/.out.frames.exr.task-'\"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\""
            "'.status.partial' '/shots/it'\\''s/out.frames.exr.task-'\"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\""
            "'.status'\n"
            "exit \"$status\"\n");

  // Not followed: the task is the tool, and a strict session says nothing.
  options.slurm.wait = false;
  const std::string unfollowed = BatchScript({"/p.so", 1, true}, options, files, {{1, 2}}, "/t");
  EXPECT_THAT(unfollowed, HasSubstr("\nexec '/t' --plugin '/p.so' --threads \"${SLURM_CPUS_ON_NODE:-1}\" \\\n"));
  EXPECT_THAT(unfollowed, ::testing::EndsWith("'--strip-metadata'\n"));

  options.slurm.partition = "night shift";
  options.slurm.sbatch_args = {"--time=30"};
  const std::vector<std::string> args = SbatchArgs(options, files, {{1, 2}, {3, 4}});
  EXPECT_THAT(args, ElementsAre("--parsable", "--job-name=quorvandile", "--array=0-1",
                                "--output=/shots/it's/out.frames.exr.task-%A_%a.log", "--partition=night shift",
                                "--time=30"));
  EXPECT_EQ(Submission(args, "#!/bin/bash\n"),
            "sbatch '--parsable' '--job-name=quorvandile' '--array=0-1' "
            "'--output=/shots/it'\\''s/out.frames.exr.task-%A_%a.log' '--partition=night shift' '--time=30' "
            "<<'END_OF_BATCH_SCRIPT'\n#!/bin/bash\nEND_OF_BATCH_SCRIPT\n");
  // sbatch reads % in --output as its own.
  EXPECT_EQ(JobFiles(FramePattern("/a%b/out.%04d.exr"), "x").log_pattern, "/a%%b/out.frames.exr.task-%A_%a.log");
}

// A resumed run keeps a frame only under the same key: what names files or
// changes pixels is in it, and nothing else.
TEST(ResumeRecord, TheKeyHoldsWhatShapesFramesAndNothingElse) {
  const SessionOptions session{"/opt/q/Quorvandile.so", 8, true};
  const RenderOptions options = ClusterRender();
  const std::string key = LookKey(session, options, "{look}\n");
  EXPECT_EQ(key, "in /shots/in.####.exr\nplugin /opt/q/Quorvandile.so\noptions '--depth' '16' '--strip-metadata'\n"
                 "{look}\n");

  RenderOptions other_jobs = options;
  other_jobs.given[2].values = {"7"};
  other_jobs.given.push_back({"--max-memory", {"1073741824"}});
  other_jobs.given.push_back({"--max-pixels", {"100"}});
  EXPECT_EQ(LookKey({"/opt/q/Quorvandile.so", 2, true}, other_jobs, "{look}\n"), key);

  RenderOptions other_depth = options;
  other_depth.given[1].values = {"8"};
  EXPECT_NE(LookKey(session, other_depth, "{look}\n"), key);
  EXPECT_NE(LookKey({"/opt/q/Quorvandile.so", 8, false}, options, "{look}\n"), key);
  EXPECT_NE(LookKey(session, options, "{other look}\n"), key);
}

TEST(ChunkSearch, TheFewestFramesATaskThatKeepWithinTheLimit) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::int32_t> frames;
    for (std::int32_t f = 1; f <= 200; ++f) {
      if (random() % 4 != 0) frames.push_back(f);
    }
    const FrameRuns runs = RunsOf(frames);
    const std::int64_t chunk = 1 + static_cast<std::int64_t>(random() % 20);
    const std::int64_t most = 1 + static_cast<std::int64_t>(random() % 80);
    std::optional<std::int64_t> expected;
    for (std::int64_t size = chunk; size <= CountOf(runs) && !expected; ++size) {
      if (static_cast<std::int64_t>(Chunks(runs, size).size()) <= most) expected = size;
    }
    EXPECT_EQ(FittingChunk(runs, chunk, most), expected) << "chunk " << chunk << ", most " << most;
  }
  EXPECT_EQ(FittingChunk(RunsOf({1, 2, 3, 4, 5, 6}), 2, 3), 2);
  EXPECT_EQ(FittingChunk(RunsOf({1, 2, 3, 4, 5, 6}), 2, 2), 3);
  EXPECT_EQ(FittingChunk(RunsOf({1, 2, 3, 4, 5}), 1, 1), 5);  // one task for every frame
  EXPECT_EQ(FittingChunk(RunsOf({1, 3, 5}), 1, 2), std::nullopt);  // three runs cannot make two chunks
}

// Time as the follower sees it: each sleep passes at once.
class SetClock : public FollowClock {
 public:
  TimePoint Now() override { return now_; }
  void Sleep(std::chrono::steady_clock::duration span) override { now_ += span; }
  std::chrono::steady_clock::duration Passed() const { return now_ - TimePoint(); }

 private:
  TimePoint now_;
};

// Job 42 of frames 1-4 in two tasks, followed with clients that are shell
// scripts in a folder of their own, the only one on the PATH.
class FollowOnASetClock : public ::testing::Test {
 protected:
  FollowOnASetClock() {
    fs::create_directories(dir_);
    const char* path = std::getenv("PATH");
    path_ = path ? path : "";
    setenv("PATH", dir_.c_str(), 1);
  }
  ~FollowOnASetClock() override {
    setenv("PATH", path_.c_str(), 1);
    fs::remove_all(dir_);
  }
  void Client(const std::string& name, const std::string& body) const {
    std::ofstream(dir_ / name) << "#!/bin/sh\n" << body << '\n';
    fs::permissions(dir_ / name, fs::perms::owner_all);
  }
  // Follows the job; what it threw, or "" when it ended well.
  std::string Followed() {
    const FramePattern output((dir_ / "out.####.png").string());
    const JobFiles files(output, "x");
    const Job job{"42", ""};
    std::vector<Task> tasks = TasksOf({{1, 2}, {3, 4}}, output);
    try {
      Follow({options_, output, files, job, [this](const std::string& path) { done_.push_back(path); }, clock_},
             tasks, Record{"key", {}});
    } catch (const RunError& e) {
      return e.what();
    }
    return "";
  }

  fs::path dir_ = fs::temp_directory_path() / ("slurm_test." + std::to_string(getpid()));
  std::string path_;
  RenderOptions options_;
  SetClock clock_;
  std::vector<std::string> done_;
};

TEST_F(FollowOnASetClock, AClusterSilentForFiveMinutesIsLeftToItsJob) {
  // Two answers a second apart, then none.
  Client("squeue", "read calls 2> /dev/null < \"$0.calls\" || calls=0\necho $((calls + 1)) > \"$0.calls\"\n"
                   "[ \"$calls\" -lt 2 ] || { echo 'squeue: error: Socket timed out' >&2; exit 1; }\n"
                   "echo '42_1|RUNNING|None'");
  EXPECT_EQ(Followed(), "job 42: the cluster stopped answering (squeue: error: Socket timed out); the job may go "
                        "on: squeue -j 42 follows it");
  EXPECT_GT(clock_.Passed(), std::chrono::minutes(5) + std::chrono::seconds(1));
  EXPECT_LE(clock_.Passed(), std::chrono::minutes(5) + std::chrono::seconds(3));
}

TEST_F(FollowOnASetClock, ATaskWithoutAnExitStatusTwoMinutesOnHasFailed) {
  // Both tasks have left the queue; no accounts (no sacct), and only the
  // first task has written its status and its frames.
  Client("squeue", "exit 0");
  std::ofstream(dir_ / "out.frames.png.task-42_0.status") << "0\n";
  std::ofstream(dir_ / "out.0001.png") << "1";
  std::ofstream(dir_ / "out.0002.png") << "2";
  EXPECT_EQ(Followed(), "job 42: 1 of 2 tasks failed, frames 3-4 (task 1: ended without an exit status (stopped by "
                        "the cluster?)); the same command with --skip-existing renders every frame this look has "
                        "not");
  EXPECT_GT(clock_.Passed(), std::chrono::minutes(2));
  EXPECT_LE(clock_.Passed(), std::chrono::minutes(2) + std::chrono::seconds(2));
  EXPECT_THAT(done_, ElementsAre((dir_ / "out.0001.png").string(), (dir_ / "out.0002.png").string()));
  const std::optional<Record> record = ReadRecord((dir_ / "out.frames.png.rendered.json").string());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->look, "key");
  EXPECT_EQ(record->frames.size(), 2u);
  EXPECT_FALSE(fs::exists(dir_ / "out.frames.png.task-42_0.status"));
}

TEST_F(FollowOnASetClock, AccountsSettleTasksWithoutWaiting) {
  Client("squeue", "exit 0");
  Client("sacct", "echo '42_0|COMPLETED|0:0'; echo '42_1|OUT_OF_MEMORY|0:125'");
  const std::string failed = Followed();
  EXPECT_THAT(failed, StartsWith("job 42: 1 of 2 tasks failed, frames 3-4 (task 1: OUT_OF_MEMORY, exit code 0:125"));
  EXPECT_EQ(clock_.Passed(), std::chrono::steady_clock::duration::zero());
}

}  // namespace
}  // namespace qv::cli
