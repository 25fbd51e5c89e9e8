// Files handled as a pipeline needs: a write that fails never passes as
// success and never touches the target, a target the caller may not write is
// refused, a replaced one keeps its mode, partial files left by killed runs
// are cleaned up by the next run on the same target (and those of live ones
// never are), and a written frame is durable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The file extensions OpenImageIO as built here writes: most of its formats
// (WebP, JPEG 2000 and DPX among them) are options of its build.
std::set<std::string> WritableExtensions() {
  std::set<std::string> writers;
  std::istringstream outputs(OIIO::get_string_attribute("output_format_list"));
  for (std::string format; std::getline(outputs, format, ',');) writers.insert(format);
  std::set<std::string> extensions;
  std::istringstream formats(OIIO::get_string_attribute("extension_list"));  // "tiff:tif,tiff;jpeg:jpg,..."
  for (std::string entry; std::getline(formats, entry, ';');) {
    const std::size_t colon = entry.find(':');
    if (colon == std::string::npos || writers.count(entry.substr(0, colon)) == 0) continue;
    std::istringstream names(entry.substr(colon + 1));
    for (std::string extension; std::getline(names, extension, ',');) extensions.insert(extension);
  }
  return extensions;
}

class FileHandling : public ::testing::Test {
 protected:
  void SetUp() override {
    // Noise: no format compresses it below the limit below.
    WriteFile(dir_ / "in.png", VariedImage<std::uint8_t>(256, 256, 4, 5), OIIO::TypeDesc::UINT8);
  }

  // The name of a partial file of out.####.png being written, or "".
  std::string Writing() const {
    for (const std::string& name : dir_.Files()) {
      if (name.rfind(".out.", 0) == 0 && name.find(".partial-") != std::string::npos) return name;
    }
    return {};
  }

  TempDir dir_;
};

TEST_F(FileHandling, AFailedWriteFailsTheRunAndLeavesTheTargetInEveryFormat) {
  // SIGXFSZ at its default, as a shell leaves it under `ulimit -f`.
  ProcessSetup limited;
  limited.max_file_bytes = 8192;
  const std::set<std::string> writable = WritableExtensions();
  for (const char* always : {"png", "tif", "exr", "jpg"}) ASSERT_EQ(writable.count(always), 1u) << always;
  for (const char* extension : {"png", "tif", "exr", "jpg", "bmp", "tga", "ppm", "hdr", "dpx", "webp", "jp2", "sgi"}) {
    if (writable.count(extension) == 0) {
      std::printf("OpenImageIO as built here writes no .%s file: not tried\n", extension);
      continue;
    }
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
  const auto writing = [this] { return !Writing().empty(); };
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

// A partial file as the tool names it, of the target `stem` + ".png".
std::string PartialName(const std::string& stem, const std::string& token) {
  return "." + stem + ".partial-" + token + ".png";
}

// An open-file-description lock of `type` on the whole of `file`, as the
// tool's writer takes one: held while the descriptor returned is open; -1
// when it is refused.
int Locked(const fs::path& file, int flags, short type) {
  const int fd = open(file.c_str(), flags | O_CLOEXEC, 0666);
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  if (fd >= 0 && fcntl(fd, F_OFD_SETLK, &lock) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

TEST_F(FileHandling, APartialFileNobodyHoldsIsRemovedAndAHeldOneKeptWhateverTheProcessIds) {
  if (geteuid() != 0) GTEST_SKIP() << "a PID namespace of its own needs root";
  // Every run the first process of a PID namespace of its own, as in a
  // container: the same process id each time, and none the test can see.
  ProcessSetup container;
  container.run_through = {"unshare", "--pid", "--fork", "--kill-child"};
  std::string left;  // the partial file of the run killed outright, as by the OOM killer
  container.while_running = [&](pid_t tool) {
    for (int tries = 0; tries < 20000 && (left = Writing()).empty(); ++tries) usleep(500);
    kill(tool, SIGKILL);  // unshare, whose death kills the tool
  };
  RunTool(dir_.path(), {"render", "in.png", "-o", "out.####.png", "--frames", "1-60", "--jobs", "1", "-q"}, {},
          container);
  ASSERT_FALSE(left.empty());
  int probe = -1;  // a read lock is granted once the killed tool is gone
  for (int tries = 0; tries < 2000 && (probe = Locked(dir_ / left, O_RDONLY, F_RDLCK)) < 0; ++tries) usleep(1000);
  ASSERT_GE(probe, 0);
  close(probe);
  const std::string stem = left.substr(1, left.find(".partial-") - 1);  // out.NNNN
  const std::string frame = stem.substr(4);

  // Named as the tool names them: one whose writer (this process, in
  // another namespace) lives, and an unheld one of another target.
  const std::string held = PartialName(stem, "0123456789abcdef");
  const std::string other_target = PartialName("other", "0123456789abcdef");
  std::ofstream(dir_ / other_target) << "partial";
  const int writer = Locked(dir_ / held, O_WRONLY | O_CREAT, F_WRLCK);
  ASSERT_GE(writer, 0);
  // Named by host and process id, as by an earlier version, whose writer
  // holds no lock: this process lives, though not in the tool's namespace.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string by_id = "." + stem + ".partial-" + host + "-" + std::to_string(getpid()) + ".png";
  std::ofstream(dir_ / by_id) << "partial";
  container.while_running = nullptr;
  const ToolRun run = RunTool(dir_.path(), {"render", "in.png", "-o", "out.####.png", "--frames", frame, "-q"}, {},
                              container);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(dir_ / left));
  EXPECT_TRUE(fs::exists(dir_ / held));
  EXPECT_TRUE(fs::exists(dir_ / by_id));
  EXPECT_TRUE(fs::exists(dir_ / other_target));
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / (stem + ".png")).samples,
            EngineRender(ReadFile<std::uint8_t>(dir_ / "in.png"), DefaultToneParams()).samples);
  close(writer);
}

TEST_F(FileHandling, ALongOutputNameGetsAPartialFileWithinTheNameLimit) {
  // Names of 250 bytes. In a partial file's name (at most 255 bytes), the
  // stem keeps 225 bytes beside ".partial-", the 16-digit token and ".png":
  // that would end inside the first three-byte character, so it ends before.
  const std::string kept(224, 'o');
  std::string stem = kept;
  for (int i = 0; i < 5; ++i) stem += "\xe2\x82\xac";
  stem += "oo";
  constexpr int kFrames = 30;
  std::string seen;
  ProcessSetup setup;
  setup.while_running = [&](pid_t) {
    for (int tries = 0; tries < 20000 && seen.empty(); ++tries) {
      for (const std::string& name : dir_.Files()) {
        if (name.find(".partial-") != std::string::npos) seen = name;
      }
      usleep(100);
    }
  };
  const ToolRun run = RunTool(dir_.path(),
                              {"render", "in.png", "-o", stem + ".####.png", "--frames",
                               "1-" + std::to_string(kFrames), "--jobs", "1", "-q"},
                              {}, setup);
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ((stem + ".0001.png").size(), 250u);
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / (stem + ".0030.png")).width, 256);
  EXPECT_EQ(dir_.Files().size(), 1u + kFrames);
  ASSERT_FALSE(seen.empty());
  EXPECT_LE(seen.size(), 255u);
  EXPECT_EQ(seen.substr(0, seen.find(".partial-")), "." + kept);
}

// The frame is durable once the run says so: after the rename, the directory
// that holds the new name is synced. A directory the tool may write but not
// read, which it cannot open to sync, still gets its frame.
TEST_F(FileHandling, TheDirectoryIsSyncedAfterTheRenameWhereItCanBe) {
  ProcessSetup traced;
  traced.run_through = {"strace", "-f", "-qq", "-o", (dir_ / "trace").string(), "-e",
                        "trace=rename,renameat,renameat2,openat,fsync,fdatasync"};
  std::vector<std::string> environment;
#ifdef QV_SANITIZED
  // The leak checker cannot run under a tracer; every other run checks leaks.
  const char* asan = std::getenv("ASAN_OPTIONS");
  environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0");
#endif
  const ToolRun run = RunTool(dir_.path(), {"render", "in.png", "-o", "out.png", "-q"}, environment, traced);
  ASSERT_EQ(run.status, 0) << run.err;
  bool renamed = false;
  std::string directory_fd;
  bool synced = false;
  for (const std::string& line : Lines(Contents(dir_ / "trace"))) {
    if (line.find("rename") != std::string::npos && line.find("\"out.png\"") != std::string::npos) renamed = true;
    if (renamed && line.find("openat(AT_FDCWD, \".\", O_RDONLY|O_CLOEXEC|O_DIRECTORY") != std::string::npos) {
      directory_fd = line.substr(line.rfind("= ") + 2);
    }
    if (!directory_fd.empty() && line.find("fsync(" + directory_fd + ")") != std::string::npos &&
        line.size() >= 3 && line.compare(line.size() - 3, 3, "= 0") == 0) {
      synced = true;
    }
  }
  EXPECT_TRUE(renamed);
  EXPECT_TRUE(synced) << Contents(dir_ / "trace");

  if (geteuid() != 0) GTEST_SKIP() << "a directory unreadable to the tool needs another user";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ProcessSetup unreadable;
  unreadable.user = std::make_pair(nobody->pw_uid, nobody->pw_gid);
  fs::permissions(dir_.path(), fs::perms::all);
  fs::create_directory(dir_ / "wx");
  fs::permissions(dir_ / "wx", fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_write |
                                   fs::perms::group_exec | fs::perms::others_write | fs::perms::others_exec);
  const ToolRun blind = RunTool(dir_ / "wx", {"render", "../in.png", "-o", "out.png", "-q"}, {}, unreadable);
  EXPECT_EQ(blind.status, 0) << blind.err;
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "wx" / "out.png").width, 256);
}

TEST_F(FileHandling, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  fs::create_symlink("in.png", dir_ / "link.png");
  fs::create_hard_link(dir_ / "in.png", dir_ / "hard.png");
  for (int f = 1; f <= 3; ++f) {
    const std::string frame = "f.000" + std::to_string(f) + ".png";
    WriteFile(dir_ / frame, VariedImage<std::uint8_t>(8, 8, 4, 10u + static_cast<unsigned>(f)), OIIO::TypeDesc::UINT8);
  }
  // Only the last frame's output is one of the inputs, by another name.
  fs::create_hard_link(dir_ / "f.0003.png", dir_ / "g.0003.png");
  const std::string absolute = (dir_ / "in.png").string();
  const std::vector<std::vector<std::string>> refused = {
      {"render", "in.png", "-o", "in.png"},
      {"render", "in.png", "-o", "./in.png"},
      {"render", "in.png", "-o", absolute},
      {"render", absolute, "-o", "in.png"},
      {"render", "in.png", "-o", "link.png"},
      {"render", "link.png", "-o", "in.png"},
      {"render", "in.png", "-o", "hard.png"},
      {"render", "in.png", "-o", "hard.png", "--skip-existing"},
      {"render", "f.####.png", "-o", "f.####.png"},
      {"render", "f.####.png", "-o", "f.%04d.png", "--frames", "2-3"},
      {"render", "f.####.png", "-o", "g.####.png", "--jobs", "1"},
      {"render", "f.0002.png", "-o", "f.####.png", "--frames", "1-3"},
      {"demo", "in.png", "-o", "hard.png"},
  };
  std::map<std::string, std::string> before;
  for (const std::string& name : dir_.Files()) before[name] = Contents(dir_ / name);
  for (const std::vector<std::string>& args : refused) {
    SCOPED_TRACE(args[1] + " -o " + args[3]);
    std::vector<std::string> quiet = args;
    quiet.push_back("-q");  // no note of the frames on disk
    const ToolRun run = RunTool(dir_.path(), quiet);
    EXPECT_EQ(run.status, 2) << run.err;
    ASSERT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr("is the input"));
    std::map<std::string, std::string> after;
    for (const std::string& name : dir_.Files()) after[name] = Contents(dir_ / name);
    EXPECT_EQ(after, before);  // not one frame written, not one input touched
  }
  // The same inputs into files of their own render.
  EXPECT_EQ(RunTool(dir_.path(), {"render", "link.png", "-o", "out.png", "-q"}).status, 0);
  EXPECT_EQ(RunTool(dir_.path(), {"render", "f.####.png", "-o", "h.####.png", "-q"}).status, 0);
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
