// render --slurm up to the point of submitting: the batch script, and the
// one-line refusals that leave nothing behind. The job itself runs in
// cluster_process_test.cpp, on a cluster of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class SlurmSubmission : public ::testing::Test {
 protected:
  SlurmSubmission() {
    // A cluster whose controller never answers (nothing listens on port 1),
    // and says so at once.
    std::ofstream(cluster_ / "slurm.conf") << "ClusterName=silent\nSlurmctldHost=localhost(127.0.0.1)\n"
                                              "SlurmctldPort=1\nMessageTimeout=1\nAuthType=auth/none\n"
                                              "NodeName=localhost CPUs=1\nPartitionName=all Nodes=ALL\n";
  }
  std::vector<std::string> Render(std::vector<std::string> more, const char* frames = "1-48") const {
    std::vector<std::string> args = {"render", (dir_ / "in.####.png").string(), "-o", (dir_ / "out.####.png").string(),
                                     "--frames", frames, "--slurm"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string SilentCluster() const { return "SLURM_CONF=" + (cluster_ / "slurm.conf").string(); }

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
  EXPECT_THAT(run.out, HasSubstr("--settings '" + (dir_ / "out.frames.png.settings.json").string() + "'"));
  EXPECT_THAT(run.out, HasSubstr("--frames \"${chunks[$SLURM_ARRAY_TASK_ID]}\" '--depth' '16' '--strip-metadata'\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("Gamma")));
  EXPECT_TRUE(dir_.Files().empty());

  // Without --chunk the cluster's CPUs decide, so a dry run needs one to ask.
  const ToolRun alone = RunTool(dir_.path(), Render({"--dry-run"}), {SilentCluster()});
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
  EXPECT_THAT(run.out, HasSubstr(" '--skip-existing'\n"));
  EXPECT_EQ(run.err, "quorvandile: frames 4-6: skipped, their output exists\n");
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
  if (std::filesystem::exists("/usr/bin/sinfo")) {
    const ToolRun silent = RunTool(dir_.path(), Render({"--chunk", "6"}), {SilentCluster()});
    EXPECT_EQ(silent.status, 1);
    EXPECT_THAT(silent.err, StartsWith("quorvandile: --slurm: no Slurm cluster answers: "));
    EXPECT_EQ(Lines(silent.err).size(), 1u) << silent.err;
  }
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

}  // namespace
}  // namespace qv::cli::test
