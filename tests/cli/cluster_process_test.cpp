// render --slurm --wait through a real Slurm cluster: run under
// slurm-cluster.sh, which starts a one-node cluster for this program and
// points SLURM_CONF at it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class Cluster : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(std::getenv("SLURM_CONF"), nullptr)
        << "no test cluster: run this program under tests/cli/slurm-cluster.sh";
  }

  void WriteFrames(int first, int last) {
    for (int f = first; f <= last; ++f) {
      WriteFile(dir_ / Name("in", f), VariedImage<std::uint8_t>(96, 64, 4, 500u + f), OIIO::TypeDesc::UINT8);
    }
  }
  static std::string Name(const char* stem, int frame) {
    char name[64];
    std::snprintf(name, sizeof name, "%s.%04d.png", stem, frame);
    return name;
  }
  // render IN -o STEM.####.png over `frames`, with a keyframed look, and `more`.
  ToolRun Render(const char* stem, const char* frames, std::vector<std::string> more) const {
    std::vector<std::string> args = {"render", (dir_ / "in.####.png").string(), "-o",
                                     (dir_ / (std::string(stem) + ".####.png")).string(), "--frames", frames,
                                     "--set", "Gamma=0.6@1,2.4@48", "--set", "Tones=Tritone", "--set",
                                     "Blend with Original=10@1,60@30"};
    args.insert(args.end(), more.begin(), more.end());
    const auto start = std::chrono::steady_clock::now();
    ToolRun run = RunTool(dir_.path(), args);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool cluster = std::find(more.begin(), more.end(), "--slurm") != more.end();
    std::printf("frames %s into %s, %s: %.2f s\n", frames, stem, cluster ? "on the cluster" : "on this machine",
                seconds);
    return run;
  }
  void ExpectSameFrames(const char* stem, int first, int last) const {
    for (int f = first; f <= last; ++f) {
      const std::string cluster = Contents(dir_ / Name(stem, f));
      EXPECT_FALSE(cluster.empty()) << f;
      EXPECT_EQ(cluster, Contents(dir_ / Name("one", f))) << "frame " << f;
    }
  }

  TempDir dir_;
};

TEST_F(Cluster, ASequenceInChunksIsByteForByteTheOneMachineRender) {
  WriteFrames(1, 48);
  const ToolRun one = Render("one", "1-48", {"-q"});
  ASSERT_EQ(one.status, 0) << one.err;
  const ToolRun run = Render("farm", "1-48", {"--slurm", "--chunk", "6", "--wait"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 10u) << run.out;
  EXPECT_THAT(lines[0], HasSubstr(": 8 tasks, frames 1-48, logs "));
  EXPECT_EQ(lines[1], "  task 0: frames 1-6");
  EXPECT_EQ(lines[8], "  task 7: frames 43-48");
  EXPECT_THAT(lines[9], StartsWith("48 frames, 294912 pixels, "));
  EXPECT_EQ(Lines(run.err).size(), 48u) << run.err;  // a progress line a frame
  ExpectSameFrames("farm", 1, 48);
}

TEST_F(Cluster, AFailedTaskIsNamedAndSkippingExistingFinishesTheSequence) {
  WriteFrames(1, 12);
  ASSERT_EQ(Render("one", "1-12", {"-q"}).status, 0);
  // Frame 6 unreadable, whoever reads it (root included): cut short.
  std::filesystem::rename(dir_ / Name("in", 6), dir_ / "whole.png");
  std::filesystem::copy_file(dir_ / "whole.png", dir_ / Name("in", 6));
  std::filesystem::resize_file(dir_ / Name("in", 6), 60);

  const ToolRun failed = Render("farm", "1-12", {"--slurm", "--chunk", "4", "--wait", "-q"});
  EXPECT_EQ(failed.status, 1);
  const std::vector<std::string> said = Lines(failed.err);
  ASSERT_EQ(said.size(), 1u) << failed.err;
  EXPECT_THAT(said[0], HasSubstr(": 1 of 3 tasks failed, frames 5-8 (task 1: frame 6: "));
  EXPECT_THAT(said[0], HasSubstr("in.0006.png"));
  EXPECT_THAT(said[0], HasSubstr("the same command with --skip-existing renders every frame this look has not"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / Name("farm", 4)));
  EXPECT_TRUE(std::filesystem::exists(dir_ / Name("farm", 9)));
  EXPECT_FALSE(std::filesystem::exists(dir_ / Name("farm", 6)));

  std::filesystem::rename(dir_ / "whole.png", dir_ / Name("in", 6));
  const ToolRun resumed = Render("farm", "1-12", {"--slurm", "--chunk", "4", "--wait", "--skip-existing"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  // Frame 5 is there, but from a task that failed: rendered again.
  EXPECT_THAT(resumed.err, StartsWith("quorvandile: frames 1-4, 9-12: skipped, this look rendered them\n"
                                      "quorvandile: frames 5: rendered again, not recorded as this look's\n"));
  EXPECT_THAT(resumed.out, HasSubstr("  task 0: frames 5-8\n"));
  ExpectSameFrames("farm", 1, 12);
  for (const std::string& name : dir_.Files()) EXPECT_EQ(name.find("partial"), std::string::npos) << name;
}

}  // namespace
}  // namespace qv::cli::test
