// render --slurm up to the point of submitting: the batch script, and the
// one-line refusals that leave nothing behind. The job itself runs in
// cluster_process_test.cpp, on a cluster of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

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
  EXPECT_EQ(lines.front(), "#!/bin/bash");
  EXPECT_THAT(run.out, HasSubstr("\n#SBATCH --array=0-7\n"));
  EXPECT_THAT(run.out, HasSubstr("\n#SBATCH --partition=render\n#SBATCH --time=30\n"));
  EXPECT_THAT(run.out, HasSubstr("\nchunks=(1-6 7-12 13-18 19-24 25-30 31-36 37-42 43-48)\n"));
  EXPECT_THAT(run.out, HasSubstr("--output=" + (dir_ / "out.frames.png.task-%A_%a.log").string()));
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
  EXPECT_THAT(run.out, HasSubstr("\n#SBATCH --array=0-3\n"));
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

}  // namespace
}  // namespace qv::cli::test
