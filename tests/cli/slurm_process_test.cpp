// render --slurm up to the point of submitting: the batch script, and the
// one-line refusals that leave nothing behind; and --wait against stand-ins
// for Slurm's clients that run the tasks here, for the cases a real cluster
// is slow or awkward to bring about. The job itself runs in
// cluster_process_test.cpp, on a cluster of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace fs = std::filesystem;

// Slurm's clients as small shell scripts, for a cluster of this machine:
// sbatch takes job 42 and runs nothing; the first squeue runs its tasks, one
// after another, as the node would (with QV_TEST_FAIL_AT=$TASK_FAIL_AT), and
// then shows only the tasks still pending. What the cluster does otherwise is
// set through files in the clients' folder (Set):
//   pending     "TASK|REASON" lines: tasks left pending with that reason...
//   start_at    ...until the squeue call of this number runs them
//   skip        task numbers stopped by the cluster before they ran
//   meanwhile   a shell script run as the tasks are (another run, say)
//   accounts    what sacct prints; without it, accounting is off
//   max_array   scontrol's MaxArraySize (default 1001)
//   cpus        the one node's CPUs for sinfo (default 4)
//   refuse      why sbatch refuses the job, if it does
// Like squeue, the stand-in shows only the states in $SQUEUE_STATES, when set.
class FakeCluster {
 public:
  FakeCluster() {
    Client("sbatch", R"sh(printf '%s\0' "$@" > "$RECORD/args"
cat > "$RECORD/script"
if [ -f "$RECORD/refuse" ]; then cat "$RECORD/refuse" >&2; exit 1; fi
for arg in "$@"; do
  case "$arg" in
    --array=0-*) echo "${arg#--array=0-}" > "$RECORD/last_task" ;;
    --output=*) printf '%s\n' "${arg#--output=}" > "$RECORD/log_pattern" ;;
  esac
done
rm -f "$RECORD/calls"
echo 42
)sh");
    Client("squeue", R"sh(calls=$(( $(cat "$RECORD/calls" 2> /dev/null || echo 0) + 1 ))
echo "$calls" > "$RECORD/calls"
log() { sed "s/%A/42/; s/%a/$1/; s/%%/%/g" "$RECORD/log_pattern"; }
run() {
  (cd / && SLURM_ARRAY_JOB_ID=42 SLURM_ARRAY_TASK_ID=$1 SLURM_CPUS_ON_NODE=1 QV_TEST_FAIL_AT="${TASK_FAIL_AT:-}" \
    bash "$RECORD/script" > "$(log "$1")" 2>&1) || true
}
if [ "$calls" = 1 ]; then
  [ ! -f "$RECORD/meanwhile" ] || sh "$RECORD/meanwhile"
  for task in $(seq 0 "$(cat "$RECORD/last_task")"); do
    if grep -qx "$task" "$RECORD/skip" 2> /dev/null; then
      echo "slurmstepd: error: *** JOB 42 ON node1 CANCELLED DUE TO TIME LIMIT ***" > "$(log "$task")"
    else
      grep -q "^$task|" "$RECORD/pending" 2> /dev/null || run "$task"
    fi
  done
fi
if [ -f "$RECORD/start_at" ] && [ "$calls" -ge "$(cat "$RECORD/start_at")" ] && [ -f "$RECORD/pending" ]; then
  cut -d'|' -f1 "$RECORD/pending" | while read -r task; do run "$task"; done
  rm "$RECORD/pending"
fi
[ -f "$RECORD/pending" ] || exit 0
case ",${SQUEUE_STATES:-PENDING}," in
  *,PENDING,* | *,PD,* | *,ALL,*) sed 's/^\([0-9]*\)|/42_\1|PENDING|/' "$RECORD/pending" ;;
esac
)sh");
    Client("sacct", R"sh(if [ -f "$RECORD/accounts" ]; then cat "$RECORD/accounts"; exit 0; fi
echo "sacct: error: Slurm accounting storage is disabled" >&2
exit 1
)sh");
    Client("scontrol", R"sh(echo "MaxArraySize            = $(cat "$RECORD/max_array" 2> /dev/null || echo 1001)")sh");
    Client("sinfo", R"sh(echo "node1 $(cat "$RECORD/cpus" 2> /dev/null || echo 4)")sh");
  }
  void Set(const std::string& name, const std::string& text) const { std::ofstream(folder_ / name) << text; }
  std::string Get(const std::string& name) const { return Contents(folder_ / name); }
  // The environment a test runs the tool in, with these clients on its PATH.
  std::vector<std::string> Environment(std::vector<std::string> more = {}) const {
    more.push_back("PATH=" + folder_.path().string() + ":/usr/bin:/bin");
    more.push_back("RECORD=" + folder_.path().string());
    return more;
  }

 private:
  void Client(const std::string& name, const std::string& body) const {
    std::ofstream(folder_ / name) << "#!/bin/sh\n" << body << '\n';
    fs::permissions(folder_ / name, fs::perms::owner_all);
  }

  TempDir folder_;
};

class SlurmSubmission : public ::testing::Test {
 protected:
  SlurmSubmission() {
    // A cluster whose controller never answers (nothing listens on port 1),
    // and says so at once.
    std::ofstream(cluster_ / "slurm.conf") << "ClusterName=silent\nSlurmctldHost=localhost(127.0.0.1)\n"
                                              "SlurmctldPort=1\nMessageTimeout=1\nAuthType=auth/none\n"
                                              "NodeName=localhost CPUs=1\nPartitionName=all Nodes=ALL\n";
    // Where Slurm's clients are not installed, stand-ins that fail as they do
    // against that cluster.
    for (const char* client : {"sinfo", "sbatch"}) {
      std::ofstream(cluster_ / client) << "#!/bin/sh\necho \"" << client << ": error: Unable to contact slurm "
                                       << "controller (connect failure)\" >&2\nexit 1\n";
      fs::permissions(cluster_ / client, fs::perms::owner_all);
    }
  }
  std::vector<std::string> Render(std::vector<std::string> more, const char* frames = "1-48") const {
    std::vector<std::string> args = {"render", (dir_ / "in.####.png").string(), "-o", (dir_ / "out.####.png").string(),
                                     "--frames", frames, "--slurm"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  // The environment of a run against that cluster: Slurm's own clients where
  // they are installed, the stand-ins elsewhere.
  std::vector<std::string> SilentCluster() const {
    const std::string conf = "SLURM_CONF=" + (cluster_ / "slurm.conf").string();
    if (std::system("command -v sinfo > /dev/null && command -v sbatch > /dev/null") == 0) return {conf};
    std::printf("Slurm's clients are not installed: stand-ins answer as they would\n");
    return {conf, "PATH=" + cluster_.path().string() + ":/usr/bin:/bin"};
  }

  TempDir dir_;
  TempDir cluster_;
};

TEST_F(SlurmSubmission, ADryRunPrintsTheArrayOfChunksAndWritesNothing) {
  const ToolRun run = RunTool(dir_.path(), Render({"--chunk", "6", "--dry-run", "--set", "Gamma=1@1,2.2@48", "--depth",
                                                   "16", "--strip-metadata", "--partition", "render",
                                                   "--sbatch-arg=--time=30"}));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_FALSE(lines.empty());
  // The submission as a shell command, the script as its here-document.
  EXPECT_EQ(lines.front(), "sbatch '--parsable' '--job-name=quorvandile' '--array=0-7' '--output=" +
                               (dir_ / "out.frames.png.task-%A_%a.log").string() +
                               "' '--partition=render' '--time=30' <<'END_OF_BATCH_SCRIPT'");
  EXPECT_EQ(lines.back(), "END_OF_BATCH_SCRIPT");
  EXPECT_THAT(run.out, HasSubstr("<<'END_OF_BATCH_SCRIPT'\n#!/bin/bash\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("#SBATCH")));
  EXPECT_THAT(run.out, HasSubstr("\nchunks=(1-6 7-12 13-18 19-24 25-30 31-36 37-42 43-48)\n"));
  // Each task: the same tool and plug-in, the look from the settings file,
  // its chunk, and the options given for how files are read and written.
  EXPECT_THAT(run.out, HasSubstr("--plugin '" QV_PLUGIN_FILE "'"));
  // The look in a settings file of the job's own.
  const std::string settings = (dir_ / "out.frames.png.settings-").string();
  EXPECT_THAT(run.out, ContainsRegex("--settings '" + settings + "[0-9a-f]{16}\\.json'"));
  EXPECT_THAT(run.out, HasSubstr("--frames \"${chunks[$SLURM_ARRAY_TASK_ID]}\" '--depth' '16' '--strip-metadata'\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("Gamma")));
  EXPECT_TRUE(dir_.Files().empty());

  // Without --chunk the cluster's CPUs decide, so a dry run needs one to ask.
  const ToolRun alone = RunTool(dir_.path(), Render({"--dry-run"}), SilentCluster());
  EXPECT_EQ(alone.status, 1);
  EXPECT_THAT(alone.err, StartsWith("quorvandile: --slurm: no Slurm cluster answers: "));
  EXPECT_EQ(Lines(alone.err).size(), 1u) << alone.err;
}

TEST_F(SlurmSubmission, SkippingExistingOutputsChunksOnlyTheMissingFrames) {
  for (int f = 4; f <= 6; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "out.%04d.png", f);
    WriteFile(dir_ / name, VariedImage<std::uint8_t>(3, 2, 3, 1), OIIO::TypeDesc::UINT8);
  }
  // A partial file is no output: frame 7 is still missing.
  WriteFile(dir_ / ".out.0007.partial-elsewhere-1.png", VariedImage<std::uint8_t>(3, 2, 3, 1), OIIO::TypeDesc::UINT8);
  const ToolRun run = RunTool(dir_.path(), Render({"--chunk", "2", "--dry-run", "--skip-existing"}, "1-10"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("\nchunks=(1-2 3 7-8 9-10)\n"));
  EXPECT_THAT(run.out, HasSubstr(" '--array=0-3' "));
  // The tasks render their chunks whole: which frames to keep was decided here.
  EXPECT_THAT(run.out, Not(HasSubstr("'--skip-existing'")));
  EXPECT_EQ(run.err, "quorvandile: frames 4-6: skipped, their output exists\n");
}

// How an option appears in a task's command line: as given, in the place of
// what it was, or nowhere (how it was given must not show).
enum Fate { kRepeated, kRewritten, kNever };
struct OptionFate {
  std::vector<std::string> given;
  Fate fate;
  std::string shown;  // kRepeated, kRewritten: in the task's command line; kNever: nowhere in the script
};

// Every option of render and of every command, as the test gives it and
// as it must reach the tasks.
std::map<std::string, OptionFate> EveryRenderOption(const TempDir& dir, const std::string& look,
                                                    const std::string& config) {
  const std::string settings = "\n  --settings '" + (dir / "out.frames.exr.settings-").string();
  return {
      {"--plugin", {{"--plugin", QV_PLUGIN_FILE}, kRewritten, "' --plugin '" QV_PLUGIN_FILE "' "}},
      {"--threads", {{"--threads", "3"}, kRewritten, " --threads \"${SLURM_CPUS_ON_NODE:-1}\" "}},
      {"--strict", {{"--strict"}, kNever, "--strict "}},
      {"--no-strict", {{"--no-strict"}, kRewritten, "\" --no-strict \\\n  render "}},
      {"--quiet", {{"-q"}, kNever, " -q"}},
      {"IN", {{}, kRewritten, " render '" + (dir / "in.####.png").string() + "' -o "}},
      {"--output", {{}, kRewritten, " -o '" + (dir / "out.####.exr").string() + "' \\\n"}},
      {"--set", {{"--set", "Gamma=2"}, kRewritten, settings}},
      {"--settings", {{"--settings", look}, kRewritten, settings}},
      {"--save-settings", {{"--save-settings", (dir / "saved.json").string()}, kNever, "saved.json"}},
      {"--frames", {{}, kRewritten, " --frames \"${chunks[$SLURM_ARRAY_TASK_ID]}\" "}},
      {"--depth", {{"--depth", "16"}, kRepeated, " '--depth' '16'"}},
      {"--alpha", {{"--alpha", "associated"}, kRepeated, " '--alpha' 'associated'"}},
      {"--part", {{"--part", "it's"}, kRepeated, " '--part' 'it'\\''s'"}},
      {"--channels", {{"--channels", "rgb"}, kRepeated, " '--channels' 'rgb'"}},
      {"--type", {{"--type", "half"}, kRepeated, " '--type' 'half'"}},
      {"--max-pixels", {{"--max-pixels", "1000000"}, kRepeated, " '--max-pixels' '1000000'"}},
      {"--max-memory", {{"--max-memory", "1G"}, kRepeated, " '--max-memory' '1073741824'"}},
      {"--jobs", {{"--jobs", "5"}, kRepeated, " '--jobs' '5'"}},
      {"--colorconfig", {{"--colorconfig", config}, kRepeated, " '--colorconfig' '" + config + "'"}},
      {"--working-space", {{"--working-space", "log"}, kRepeated, " '--working-space' 'log'"}},
      {"--input-space", {{"--input-space", "linear"}, kRepeated, " '--input-space' 'linear'"}},
      {"--output-space", {{"--output-space", "linear"}, kRepeated, " '--output-space' 'linear'"}},
      {"--strip-metadata", {{"--strip-metadata"}, kRepeated, " '--strip-metadata'"}},
      {"--skip-existing", {{"--skip-existing"}, kNever, "--skip-existing"}},
      {"--slurm", {{}, kNever, "--slurm"}},
      {"--chunk", {{"--chunk", "6"}, kNever, "--chunk"}},
      {"--partition", {{"--partition", "night"}, kNever, "night"}},
      {"--sbatch-arg", {{"--sbatch-arg=--time=30"}, kNever, "time"}},
      {"--wait", {{"--wait"}, kNever, "--wait"}},
      {"--dry-run", {{"--dry-run"}, kNever, "--dry-run"}},
  };
}

// Fails for each option render's help lists that `options` lacks and that
// does not stop a run before it renders anything.
void ExpectEveryHelpOptionTried(const TempDir& dir, const std::map<std::string, OptionFate>& options) {
  const std::set<std::string> stopping = {"--help", "--version"};
  const ToolRun help = RunTool(dir.path(), {"render", "--help"});
  ASSERT_EQ(help.status, 0) << help.err;
  for (const std::string& line : Lines(help.out)) {
    if (line.rfind("  -", 0) != 0) continue;
    std::string names = line.substr(2, line.find(' ', 2) - 2);  // "-o,--output"
    const std::string name = names.substr(names.rfind(',') + 1);
    EXPECT_TRUE(options.count(name) != 0 || stopping.count(name) != 0) << name << " is not tried here";
  }
}

// Every option of render and of every command, given at once: each reaches
// the tasks as given, rewritten, or not at all, as its kind needs. An option
// render's help lists and this test does not know fails it, so a new option
// cannot go untried.
TEST_F(SlurmSubmission, EveryOptionReachesTheTasksAsItShould) {
  std::ofstream(dir_ / "config.ocio") << "ocio_profile_version: 2\nroles:\n  default: linear\ncolorspaces:\n"
                                         "  - !<ColorSpace>\n    name: linear\n  - !<ColorSpace>\n    name: log\n";
  const std::string look = (dir_ / "look.json").string();
  ASSERT_EQ(RunTool(dir_.path(), Render({"--chunk", "6", "--dry-run", "--save-settings", look})).status, 0);
  const std::map<std::string, OptionFate> options = EveryRenderOption(dir_, look, (dir_ / "config.ocio").string());
  ExpectEveryHelpOptionTried(dir_, options);

  std::vector<std::string> args = Render({}, "1-12");
  args[3] = (dir_ / "out.####.exr").string();
  for (const auto& [name, expected] : options) args.insert(args.end(), expected.given.begin(), expected.given.end());
  const ToolRun run = RunTool(dir_.path(), args);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::size_t body = run.out.find("\n#!/bin/bash\n");
  ASSERT_NE(body, std::string::npos) << run.out;
  const std::string script = run.out.substr(body);
  const std::size_t task_line = script.find("\nstatus=0\n") + 10;
  const std::string task = script.substr(task_line, script.find(" || status=$?\n") - task_line);
  for (const auto& [name, expected] : options) {
    SCOPED_TRACE(name);
    if (expected.fate == kNever) {
      EXPECT_THAT(script, Not(HasSubstr(expected.shown)));
    } else {
      EXPECT_THAT(task, HasSubstr(expected.shown));
    }
    // What stands in the place of a value, the value itself aside (the plug-in's path), is not it.
    if (expected.fate != kRepeated && expected.given.size() == 2 &&
        expected.shown.find(expected.given[1]) == std::string::npos) {
      EXPECT_THAT(task, Not(HasSubstr("'" + expected.given[1] + "'")));
    }
  }
  // The frames to render are the chunks', not --frames as given.
  EXPECT_THAT(script, HasSubstr("\nchunks=(1-6 7-12)\n"));
  EXPECT_THAT(task, Not(HasSubstr("1-12")));
}

TEST_F(SlurmSubmission, RefusalsAreOneLineAndSubmitNothing) {
  struct Case {
    std::vector<std::string> more;
    std::vector<std::string> environment;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--chunk", "6"}, {"PATH=/nonexistent"}, 1,
       "quorvandile: --slurm: sbatch is not on the PATH: run on a machine that submits to the cluster "
       "(Debian: slurm-client)"},
      {{"--set", "Gamma=x"}, {"PATH=/nonexistent"}, 2, "quorvandile: --set \"Gamma=x\""},
      {{"--input-space", "ACEScg"}, {"PATH=/nonexistent"}, 2,
       "quorvandile: --input-space \"ACEScg\": the configuration has no such space"},
      {{"--sbatch-arg", "time"}, {}, 2, "quorvandile: --sbatch-arg \"time\": one of sbatch's options"},
      {{"--plugin", "Quorvandile.so"}, {}, 2,
       "quorvandile: --slurm: the plug-in \"Quorvandile.so\" is not an absolute"},
  };
  for (const Case& c : cases) {
    const ToolRun run = RunTool(dir_.path(), Render(c.more), c.environment);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_THAT(run.err, StartsWith(c.message));
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
  }
  const ToolRun relative = RunTool(dir_.path(), {"render", "in.####.png", "-o", "/tmp/out.####.png", "--frames", "1-2",
                                                 "--slurm"});
  EXPECT_EQ(relative.status, 2);
  EXPECT_EQ(relative.err, "quorvandile: --slurm: IN \"in.####.png\" is not an absolute path: every node must find it, "
                          "on storage they share\n");
  const ToolRun lone = RunTool(dir_.path(), {"render", "in.png", "-o", "out.png", "--wait"});
  EXPECT_EQ(lone.status, 2);
  EXPECT_THAT(lone.err, HasSubstr("--wait requires --slurm"));

  // A cluster that does not answer: the clients are there, the controller is not.
  const ToolRun silent = RunTool(dir_.path(), Render({"--chunk", "6"}), SilentCluster());
  EXPECT_EQ(silent.status, 1);
  EXPECT_THAT(silent.err, StartsWith("quorvandile: --slurm: no Slurm cluster answers: "));
  EXPECT_EQ(Lines(silent.err).size(), 1u) << silent.err;
  EXPECT_TRUE(dir_.Files().empty());
}

// Paths and options as a user may give them reach the cluster each as one
// word: sbatch gets them as its arguments, the script holds them quoted, and
// a control character that would end a line is refused.
TEST_F(SlurmSubmission, AwkwardPathsAndOptionsReachTheClusterWhole) {
  // sbatch and sinfo stand-ins that record what they get and accept the job.
  const TempDir clients;
  std::ofstream(clients / "sbatch") << "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$RECORD/args\"\n"
                                       "cat > \"$RECORD/script\"\necho 42\n";
  std::ofstream(clients / "sinfo") << "#!/bin/sh\necho node1 4\n";
  for (const char* client : {"sbatch", "sinfo"}) {
    std::filesystem::permissions(clients / client, std::filesystem::perms::owner_all);
  }
  const std::vector<std::string> environment = {"PATH=" + clients.path().string() + ":/usr/bin:/bin",
                                                "RECORD=" + clients.path().string()};

  const std::filesystem::path shot = dir_ / "it's a $HOME \"shot\" `id`";
  std::filesystem::create_directory(shot);
  std::vector<Image<std::uint8_t>> inputs;
  for (int f = 1; f <= 4; ++f) {
    inputs.push_back(VariedImage<std::uint8_t>(5, 3, 4, 40u + f));
    WriteFile(shot / ("in.000" + std::to_string(f) + ".png"), inputs.back(), OIIO::TypeDesc::UINT8);
  }
  const std::vector<std::string> render = {"render", (shot / "in.####.png").string(), "-o",
                                           (shot / "out.####.png").string(), "--frames", "1-4", "--slurm",
                                           "--chunk", "2", "--set", "Gamma=2"};
  std::vector<std::string> args = render;
  args.insert(args.end(), {"--partition", "night shift", "--sbatch-arg=--comment=a \"b\" 'c'"});
  const ToolRun run = RunTool(dir_.path(), args, environment);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("job 42: 2 tasks, frames 1-4, logs "));
  std::vector<std::string> sbatch_args;
  const std::string recorded = Contents(clients / "args");
  for (std::size_t at = 0, end; (end = recorded.find('\0', at)) != std::string::npos; at = end + 1) {
    sbatch_args.push_back(recorded.substr(at, end - at));
  }
  EXPECT_THAT(sbatch_args, ElementsAre("--parsable", "--job-name=quorvandile", "--array=0-1",
                                       "--output=" + (shot / "out.frames.png.task-%A_%a.log").string(),
                                       "--partition=night shift", "--comment=a \"b\" 'c'"));

  // The script as a node runs it, for its second task: frames 3 and 4 in
  // the awkward folder, with the look.
  const std::string script = Contents(clients / "script");
  EXPECT_THAT(script, StartsWith("#!/bin/bash\n"));
  EXPECT_THAT(script, Not(HasSubstr("#SBATCH")));
  const std::string task = "cd / && SLURM_ARRAY_TASK_ID=1 SLURM_CPUS_ON_NODE=1 bash '" +
                           (clients / "script").string() + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(task.c_str()), 0) << script;
  ToneParams params = DefaultToneParams();
  params.gamma = 2;
  for (int f = 1; f <= 4; ++f) {
    const std::filesystem::path out = shot / ("out.000" + std::to_string(f) + ".png");
    ASSERT_EQ(std::filesystem::exists(out), f >= 3) << out;
    if (f >= 3) {
      EXPECT_EQ(ReadFile<std::uint8_t>(out).samples, EngineRender(inputs[f - 1], params).samples);
    }
  }

  // A line break or another control character, anywhere the cluster gets it,
  // is refused before anything is submitted.
  const std::string broken = (dir_ / "a\ntouch pwned").string();
  std::vector<std::vector<std::string>> refused = {
      Render({"--chunk", "2"}), Render({"--chunk", "2"}), Render({"--chunk", "2", "--partition", "night\rshift"}),
      Render({"--chunk", "2", "--sbatch-arg=--comment=a\tb"}),
      Render({"--chunk", "2", "--colorconfig", broken + "/config.ocio"})};
  refused[0][1] = broken + "/in.####.png";
  refused[1][3] = broken + "/out.####.png";
  std::filesystem::remove(clients / "args");
  for (const std::vector<std::string>& refusal : refused) {
    const ToolRun bad = RunTool(dir_.path(), refusal, environment);
    EXPECT_EQ(bad.status, 2) << bad.err;
    EXPECT_THAT(bad.err, StartsWith("quorvandile: --slurm: "));
    EXPECT_THAT(bad.err, HasSubstr("holds a control character"));
    EXPECT_EQ(Lines(bad.err).size(), 1u) << bad.err;
  }
  EXPECT_FALSE(std::filesystem::exists(clients / "args"));  // nothing submitted
}


// Tasks followed with --wait, on a cluster of stand-ins that runs them here.
class SlurmFollow : public ::testing::Test {
 protected:
  SlurmFollow() {
    for (int f = 1; f <= 4; ++f) {
      inputs_.push_back(VariedImage<std::uint8_t>(5, 3, 4, 70u + f));
      WriteFile(dir_ / Name("in", f), inputs_.back(), OIIO::TypeDesc::UINT8);
    }
  }
  static std::string Name(const char* stem, int frame) {
    return std::string(stem) + ".000" + std::to_string(frame) + ".png";
  }
  // Frames 1-4 in two tasks, followed, with Gamma at `gamma`, and `more`.
  std::vector<std::string> Render(const std::string& gamma, std::vector<std::string> more = {}) const {
    std::vector<std::string> args = {"render", (dir_ / "in.####.png").string(), "-o", (dir_ / "out.####.png").string(),
                                     "--frames", "1-4", "--slurm", "--chunk", "2", "--wait", "-q",
                                     "--set", "Gamma=" + gamma};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  // Whether output frame `f` is input frame `f` graded with Gamma at `gamma`.
  bool Graded(int f, float gamma) const {
    ToneParams params = DefaultToneParams();
    params.gamma = gamma;
    return ReadFile<std::uint8_t>(dir_ / Name("out", f)).samples == EngineRender(inputs_[f - 1], params).samples;
  }
  // The names in the output's folder beginning with `prefix`.
  std::vector<std::string> FilesFrom(const std::string& prefix) const {
    std::vector<std::string> names;
    for (const std::string& name : dir_.Files()) {
      if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    return names;
  }

  TempDir dir_;
  FakeCluster cluster_;
  std::vector<Image<std::uint8_t>> inputs_;
};

// A task has succeeded when it says so, not when files appear: one that wrote
// its frames and then failed, or one the cluster stopped while another run
// wrote its frames, has failed, named by its frames.
TEST_F(SlurmFollow, ATaskHasSucceededWhenItsExitStatusSaysSo) {
  const ToolRun passed = RunTool(dir_.path(), Render("2"), cluster_.Environment());
  ASSERT_EQ(passed.status, 0) << passed.err;
  for (int f = 1; f <= 4; ++f) EXPECT_TRUE(Graded(f, 2)) << f;
  // Nothing of the job's own is left but the tasks' logs and the record of the look's frames.
  EXPECT_THAT(FilesFrom("out.frames"), ElementsAre("out.frames.png.rendered.json", "out.frames.png.task-42_0.log",
                                                   "out.frames.png.task-42_1.log"));

  // Every frame written, then the plug-in fails as the host lets it go.
  const std::vector<std::string> failing_plugin = {"--plugin", QV_FAILING_PLUGIN_FILE};
  std::vector<std::string> args = Render("3");
  args.insert(args.begin(), failing_plugin.begin(), failing_plugin.end());
  const ToolRun setdown = RunTool(dir_.path(), args, cluster_.Environment({"QV_TEST_FORWARD_TO=" QV_PLUGIN_FILE,
                                                                           "TASK_FAIL_AT=global_setdown"}));
  EXPECT_EQ(setdown.status, 1);
  EXPECT_THAT(setdown.err, StartsWith("quorvandile: job 42: 2 of 2 tasks failed, frames 1-4 (task 0: the plug-in "
                                      "failed in GLOBAL_SETDOWN"));
  EXPECT_THAT(setdown.err, HasSubstr("Cannot let go of the tone tables."));
  EXPECT_EQ(Lines(setdown.err).size(), 1u) << setdown.err;
  for (int f = 1; f <= 4; ++f) EXPECT_TRUE(Graded(f, 3)) << f;

  // Task 1 stopped by the cluster (accounting says so) while another run
  // wrote its frames.
  cluster_.Set("skip", "1\n");
  cluster_.Set("meanwhile", "cp " + (dir_ / Name("out", 1)).string() + " " + (dir_ / Name("out", 3)).string() +
                                "\ncp " + (dir_ / Name("out", 1)).string() + " " + (dir_ / Name("out", 4)).string() +
                                "\n");
  cluster_.Set("accounts", "42_0|COMPLETED|0:0\n42_1|TIMEOUT|0:0\n");
  const ToolRun stopped = RunTool(dir_.path(), Render("4"), cluster_.Environment());
  EXPECT_EQ(stopped.status, 1);
  EXPECT_THAT(stopped.err,
              StartsWith("quorvandile: job 42: 1 of 2 tasks failed, frames 3-4 (task 1: TIMEOUT: slurmstepd: error: "));
  EXPECT_TRUE(Graded(1, 4));
  EXPECT_TRUE(Graded(2, 4));
}

// After a failure, a resumed run keeps only the frames this look rendered:
// an earlier look's frames are rendered again, not kept beside the new ones.
TEST_F(SlurmFollow, AResumedRunKeepsOnlyTheFramesThisLookRendered) {
  const ToolRun earlier = RunTool(dir_.path(), Render("0.5"), cluster_.Environment());
  ASSERT_EQ(earlier.status, 0) << earlier.err;

  // Frame 3 unreadable: the task of frames 3-4 fails, and leaves them as they were.
  fs::rename(dir_ / Name("in", 3), dir_ / "whole.png");
  fs::copy_file(dir_ / "whole.png", dir_ / Name("in", 3));
  fs::resize_file(dir_ / Name("in", 3), 60);
  const ToolRun failed = RunTool(dir_.path(), Render("2"), cluster_.Environment());
  EXPECT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, StartsWith("quorvandile: job 42: 1 of 2 tasks failed, frames 3-4 (task 1: frame 3: "));
  EXPECT_THAT(failed.err, HasSubstr("; the same command with --skip-existing renders every frame this look has not\n"));
  EXPECT_TRUE(Graded(1, 2));
  EXPECT_TRUE(Graded(3, 0.5));

  fs::rename(dir_ / "whole.png", dir_ / Name("in", 3));
  std::vector<std::string> resume = Render("2", {"--skip-existing"});
  resume.erase(std::find(resume.begin(), resume.end(), "-q"));
  const ToolRun resumed = RunTool(dir_.path(), resume, cluster_.Environment());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_THAT(resumed.err, StartsWith("quorvandile: frames 1-2: skipped, this look rendered them\n"
                                      "quorvandile: frames 3-4: rendered again, not recorded as this look's\n"));
  EXPECT_THAT(resumed.out, HasSubstr("  task 0: frames 3-4\n"));
  for (int f = 1; f <= 4; ++f) EXPECT_TRUE(Graded(f, 2)) << f;

  const ToolRun finished = RunTool(dir_.path(), Render("2", {"--skip-existing"}), cluster_.Environment());
  EXPECT_EQ(finished.status, 0) << finished.err;
  EXPECT_EQ(finished.out, "");  // every frame is this look's: nothing to submit

  // Another look over the finished sequence: nothing there is that look's.
  const ToolRun again = RunTool(dir_.path(), Render("3", {"--skip-existing"}), cluster_.Environment());
  EXPECT_EQ(again.status, 0) << again.err;
  for (int f = 1; f <= 4; ++f) EXPECT_TRUE(Graded(f, 3)) << f;
}

// How many frames are in flight on a node, and the memory they may take,
// change no pixel: a resumed run with others keeps the frames already
// rendered.
TEST_F(SlurmFollow, AResumedRunWithOtherJobsRendersOnlyTheMissingFrames) {
  fs::rename(dir_ / Name("in", 3), dir_ / "whole.png");
  fs::copy_file(dir_ / "whole.png", dir_ / Name("in", 3));
  fs::resize_file(dir_ / Name("in", 3), 60);
  const ToolRun failed = RunTool(dir_.path(), Render("2", {"--jobs", "1", "--max-memory", "1G"}),
                                 cluster_.Environment());
  ASSERT_EQ(failed.status, 1);
  EXPECT_THAT(failed.err, StartsWith("quorvandile: job 42: 1 of 2 tasks failed, frames 3-4 (task 1: frame 3: "));
  const fs::file_time_type first = fs::last_write_time(dir_ / Name("out", 1));

  fs::rename(dir_ / "whole.png", dir_ / Name("in", 3));
  std::vector<std::string> resume = Render("2", {"--skip-existing", "--jobs", "2", "--max-memory", "2G"});
  resume.erase(std::find(resume.begin(), resume.end(), "-q"));
  const ToolRun resumed = RunTool(dir_.path(), resume, cluster_.Environment());
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_THAT(resumed.err, StartsWith("quorvandile: frames 1-2: skipped, this look rendered them\n"));
  EXPECT_THAT(resumed.out, StartsWith("job 42: 1 task, frames 3-4, "));
  EXPECT_THAT(cluster_.Get("script"), HasSubstr("\nchunks=(3-4)\n"));
  EXPECT_EQ(fs::last_write_time(dir_ / Name("out", 1)), first);
  for (int f = 1; f <= 4; ++f) EXPECT_TRUE(Graded(f, 2)) << f;
}

// Every submission's tasks read a settings file of their own, put in place
// whole: a later submission to the same output, or a refused one, leaves an
// earlier job's look as it was.
TEST_F(SlurmFollow, EachJobReadsALookFileOfItsOwn) {
  const auto settings_of = [&](const std::string& script) {
    const std::size_t at = script.find("--settings '") + 12;
    return script.substr(at, script.find('\'', at) - at);
  };
  std::vector<std::string> queued = Render("2");
  queued.erase(std::find(queued.begin(), queued.end(), "--wait"));
  ASSERT_EQ(RunTool(dir_.path(), queued, cluster_.Environment()).status, 0);
  const std::string first = settings_of(cluster_.Get("script"));
  const std::string first_look = Contents(first);
  EXPECT_THAT(first_look, HasSubstr("\"Gamma\": \"2\""));

  queued.back() = "Gamma=3";
  ASSERT_EQ(RunTool(dir_.path(), queued, cluster_.Environment()).status, 0);
  const std::string second = settings_of(cluster_.Get("script"));
  EXPECT_NE(second, first);
  EXPECT_THAT(Contents(second), HasSubstr("\"Gamma\": \"3\""));
  EXPECT_EQ(Contents(first), first_look);

  cluster_.Set("refuse", "sbatch: error: Batch job submission failed: Invalid account\n");
  const ToolRun refused = RunTool(dir_.path(), queued, cluster_.Environment());
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "quorvandile: --slurm: the cluster refused the job: sbatch: error: Batch job submission "
                         "failed: Invalid account\n");
  EXPECT_FALSE(fs::exists(settings_of(cluster_.Get("script"))));  // the refused job's own
  EXPECT_EQ(Contents(first), first_look);
  EXPECT_THAT(Contents(second), HasSubstr("\"Gamma\": \"3\""));
  EXPECT_EQ(FilesFrom(".out"), std::vector<std::string>{});  // no partial file left
}

// What the cluster's configuration and the user's settings change: squeue's
// variables hide nothing from --wait, a task that waits for someone stops it
// with the reason, the array fits MaxArraySize, and an OpenColorIO
// configuration reaches the tasks as a path every node finds.
TEST_F(SlurmFollow, TheClusterAsItIsConfigured) {
  // A task pending a while, which SQUEUE_STATES=RUNNING would hide.
  cluster_.Set("pending", "1|Priority\n");
  cluster_.Set("start_at", "3");
  const ToolRun hidden = RunTool(dir_.path(), Render("2"), cluster_.Environment({"SQUEUE_STATES=RUNNING"}));
  ASSERT_EQ(hidden.status, 0) << hidden.err;
  for (int f = 1; f <= 4; ++f) EXPECT_TRUE(Graded(f, 2)) << f;

  // Held: no amount of waiting starts it.
  cluster_.Set("start_at", "1000000");
  cluster_.Set("pending", "1|JobHeldUser\n");
  const ToolRun held = RunTool(dir_.path(), Render("3"), cluster_.Environment());
  EXPECT_EQ(held.status, 1);
  EXPECT_EQ(held.err, "quorvandile: job 42: 1 of 2 tasks cannot start, frames 3-4 (task 1: JobHeldUser), still "
                      "queued: scancel 42 ends them; the same command with --skip-existing renders every frame this "
                      "look has not\n");
  EXPECT_TRUE(Graded(1, 3));
  EXPECT_LT(std::stoi(cluster_.Get("calls")), 10);

  // No more tasks than MaxArraySize: by default the chunks grow to fit, and
  // a --chunk that makes too many is refused with one that fits.
  cluster_.Set("max_array", "4");
  cluster_.Set("cpus", "16");
  const std::vector<std::string> sequence = {"render", (dir_ / "in.####.png").string(), "-o",
                                             (dir_ / "out.####.png").string(), "--frames", "1-48", "--slurm",
                                             "--dry-run"};
  const ToolRun fitted = RunTool(dir_.path(), sequence, cluster_.Environment());
  ASSERT_EQ(fitted.status, 0) << fitted.err;
  EXPECT_THAT(fitted.out, HasSubstr(" '--array=0-3' "));
  EXPECT_THAT(fitted.out, HasSubstr("\nchunks=(1-12 13-24 25-36 37-48)\n"));
  std::vector<std::string> chunked = sequence;
  chunked.back() = "--chunk=6";
  const ToolRun too_many = RunTool(dir_.path(), chunked, cluster_.Environment());
  EXPECT_EQ(too_many.status, 2);
  EXPECT_EQ(too_many.err, "quorvandile: --chunk 6 makes 8 tasks, more than the cluster's MaxArraySize of 4 allows: "
                          "--chunk 12 makes 4\n");

  // A configuration a task would look for from wherever the cluster starts it.
  struct Config {
    std::vector<std::string> more;
    std::vector<std::string> environment;
    int status;
  };
  std::vector<std::string> dry = sequence;
  dry.insert(dry.end(), {"--chunk", "12"});
  // A configuration given as an absolute path must also load: it is checked
  // before anything is submitted.
  std::ofstream(dir_ / "config.ocio") << "ocio_profile_version: 2\nroles:\n  default: linear\n"
                                         "colorspaces:\n  - !<ColorSpace>\n    name: linear\n";
  for (const Config& config : std::vector<Config>{
           {{"--colorconfig", "studio/config.ocio"}, {}, 2},
           {{}, {"OCIO=studio/config.ocio"}, 2},
           {{"--colorconfig", (dir_ / "config.ocio").string()}, {"OCIO=studio/config.ocio"}, 0},
           {{"--colorconfig", (dir_ / "config.ocio").string()}, {}, 0}}) {
    std::vector<std::string> args = dry;
    args.insert(args.end(), config.more.begin(), config.more.end());
    const ToolRun run = RunTool(dir_.path(), args, cluster_.Environment(config.environment));
    EXPECT_EQ(run.status, config.status) << run.err;
    if (config.status != 0) {
      EXPECT_THAT(run.err, HasSubstr("\"studio/config.ocio\" is not an absolute path: every node must find it"));
    }
  }
}

}  // namespace
}  // namespace qv::cli::test
