// Files handled as a pipeline needs: a write that fails never passes as
// success and never touches the target, a target the caller may not write is
// refused, a replaced one keeps its mode, and partial files left by killed
// runs are cleaned up by the next run on the same target.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// The id of a process that has ended.
pid_t EndedProcess() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

class FileHandling : public ::testing::Test {
 protected:
  void SetUp() override {
    // Noise: no format compresses it below the limit below.
    WriteFile(dir_ / "in.png", VariedImage<std::uint8_t>(256, 256, 4, 5), OIIO::TypeDesc::UINT8);
  }

  TempDir dir_;
};

TEST_F(FileHandling, AFailedWriteFailsTheRunAndLeavesTheTargetInEveryFormat) {
  // SIGXFSZ at its default, as a shell leaves it under `ulimit -f`.
  ProcessSetup limited;
  limited.max_file_bytes = 8192;
  for (const char* extension : {"png", "tif", "exr", "jpg", "bmp", "tga", "ppm", "hdr", "dpx", "webp", "jp2", "sgi"}) {
    SCOPED_TRACE(extension);
    const std::string target = std::string("out.") + extension;
    std::ofstream(dir_ / target) << "the previous render";
    const std::vector<std::string> before = dir_.Files();
    const ToolRun run = RunTool(dir_.path(), {"render", "in.png", "-o", target, "-q"}, {}, limited);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.err, StartsWith("quorvandile: cannot write " + target + ": "));
    EXPECT_EQ(Contents(dir_ / target), "the previous render");
    EXPECT_EQ(dir_.Files(), before);  // no partial file either

    // Without the limit the same render succeeds: the limit failed it.
    EXPECT_EQ(RunTool(dir_.path(), {"render", "in.png", "-o", target, "-q"}).status, 0);
    fs::remove(dir_ / target);
  }
  // Where the writer takes our checked output, the cause is the system's.
  const ToolRun run = RunTool(dir_.path(), {"render", "in.png", "-o", "out.png"}, {}, limited);
  EXPECT_THAT(run.err, HasSubstr("cannot write out.png: File too large"));
}

TEST_F(FileHandling, ATargetTheCallerMayNotWriteIsRefusedAndAReplacedOneKeepsItsMode) {
  std::ofstream(dir_ / "locked.png") << "not ours to replace";
  std::ofstream(dir_ / "shared.png") << "ours to replace";
  ProcessSetup setup;
  if (geteuid() == 0) {
    // Root may write any file, as `cp` may: run as another user, to whom
    // locked.png belongs to someone else.
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    setup.user = std::make_pair(nobody->pw_uid, nobody->pw_gid);
    fs::permissions(dir_.path(), fs::perms::all);
    ASSERT_EQ(chown((dir_ / "shared.png").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    fs::permissions(dir_ / "locked.png", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  } else {
    fs::permissions(dir_ / "locked.png", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  const ToolRun refused = RunTool(dir_.path(), {"render", "in.png", "-o", "locked.png"}, {}, setup);
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_EQ(refused.err,
            "quorvandile: cannot write locked.png: the file exists and is not writable (Permission denied)\n");
  EXPECT_EQ(Contents(dir_ / "locked.png"), "not ours to replace");

  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(dir_ / "shared.png", mode);
  const ToolRun replaced = RunTool(dir_.path(), {"render", "in.png", "-o", "shared.png", "-q"}, {}, setup);
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(fs::status(dir_ / "shared.png").permissions(), mode);
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "shared.png").width, 256);
}

TEST_F(FileHandling, SighupIgnoredAtStartStaysIgnoredAndOtherwiseRemovesThePartialFile) {
  constexpr int kFrames = 60;  // enough to be still rendering when the signal comes
  const auto writing = [this] {
    for (const std::string& name : dir_.Files()) {
      if (name.rfind(".out.", 0) == 0 && name.find(".partial-") != std::string::npos) return true;
    }
    return false;
  };
  for (const bool nohup : {true, false}) {
    SCOPED_TRACE(nohup ? "started with SIGHUP ignored" : "SIGHUP at its default");
    for (const std::string& name : dir_.Files()) {
      if (name != "in.png") fs::remove(dir_ / name);
    }
    ProcessSetup setup;
    if (nohup) setup.ignored_signals = {SIGHUP};
    bool sent = false;
    setup.while_running = [&](pid_t tool) {
      // Once a frame is being written, so that there is a partial file to remove.
      for (int tries = 0; tries < 20000 && !writing(); ++tries) usleep(500);
      sent = kill(tool, SIGHUP) == 0;
    };
    const ToolRun run = RunTool(dir_.path(),
                                {"render", "in.png", "-o", "out.####.png", "--frames",
                                 "1-" + std::to_string(kFrames), "--jobs", "1", "-q"},
                                {}, setup);
    ASSERT_TRUE(sent);
    EXPECT_FALSE(writing());
    if (nohup) {
      EXPECT_EQ(run.status, 0) << "signal " << run.signal << ": " << run.err;
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(dir_.Files().size(), 1u + kFrames);
      EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "out.0060.png").samples,
                EngineRender(ReadFile<std::uint8_t>(dir_ / "in.png"), DefaultToneParams()).samples);
    } else {
      EXPECT_EQ(run.signal, SIGHUP) << run.status << ": " << run.err;
      EXPECT_LT(dir_.Files().size(), 1u + kFrames);  // it stopped
    }
  }
}

TEST_F(FileHandling, PartialFilesOfEndedRunsOnTheTargetAreRemoved) {
  const std::string host = HostName();
  const std::string dead = std::to_string(EndedProcess());
  const std::string stale = ".out.partial-" + host + "-" + dead + ".png";
  const std::string running = ".out.partial-" + host + "-" + std::to_string(getpid()) + ".png";
  const std::string elsewhere = ".out.partial-" + host + "x-" + dead + ".png";  // another host: unknown
  const std::string other_target = ".other.partial-" + host + "-" + dead + ".png";
  for (const std::string& name : {stale, running, elsewhere, other_target}) std::ofstream(dir_ / name) << "partial";

  const ToolRun run = RunTool(dir_.path(), {"render", "in.png", "-o", "out.png", "-q"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / stale));
  EXPECT_TRUE(fs::exists(dir_ / running));
  EXPECT_TRUE(fs::exists(dir_ / elsewhere));
  EXPECT_TRUE(fs::exists(dir_ / other_target));
}

TEST_F(FileHandling, ATargetThatIsNotARegularFileIsRefusedAndLeftAsItIs) {
  // A named pipe stands for /dev/null and the other devices: replaced by a
  // file, it harms nothing beyond the test.
  ASSERT_EQ(mkfifo((dir_ / "pipe.png").c_str(), 0600), 0);
  fs::create_symlink("pipe.png", dir_ / "link.png");
  for (const char* target : {"pipe.png", "link.png"}) {
    SCOPED_TRACE(target);
    const ToolRun run = RunTool(dir_.path(), {"render", "in.png", "-o", target});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(std::string("cannot write ") + target + ": it is not a regular file"));
    EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.png"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.png"));
    EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"in.png", "link.png", "pipe.png"}));
  }
}

}  // namespace
}  // namespace qv::cli::test
