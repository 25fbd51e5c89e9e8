// What the image libraries print while a thread reads or writes a file is
// held for that thread's window alone, and bounded; everything else reaches
// standard error. Each case runs in a child process, whose standard streams
// the routing takes over for good.
#include "library_messages.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

// Runs `body` in a child process whose standard error is the file `err`;
// true when it exited with status 0.
template <class Body>
bool InChild(const std::filesystem::path& err, Body body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(126);
    CollectLibraryMessages();
    body();
    std::fflush(nullptr);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Two threads meeting, `times` over.
class Meeting {
 public:
  void Arrive(int times) {
    ++arrived_;
    while (arrived_.load() < 2 * times) std::this_thread::yield();
  }

 private:
  std::atomic<int> arrived_{0};
};

TEST(LibraryMessages, AWindowHoldsItsOwnThreadsTextBoundedAndTheRestReachesStandardError) {
  TempDir dir;
  constexpr int kLines = 2000;  // far more than a window keeps
  Meeting together;
  const auto frame = [&dir, &together](const std::string& name) {
    LibraryMessages window;
    together.Arrive(1);  // both windows open while both threads print
    for (int i = 0; i < kLines; ++i) {
      std::fprintf(stderr, "%s: line %d\n", name.c_str(), i);
      if (i % 2 == 0) std::cerr << name << ": through std::cerr\n";
    }
    together.Arrive(2);
    std::ofstream(dir / name) << window.Stop();
  };
  ASSERT_TRUE(InChild(dir / "err", [&] {
    std::fputs("before any window\n", stderr);
    std::thread a(frame, "a");
    std::thread b(frame, "b");
    a.join();
    b.join();
    std::cerr << "after them" << std::endl;
  }));
  EXPECT_EQ(Contents(dir / "err"), "before any window\nafter them\n");
  for (const std::string& name : {std::string("a"), std::string("b")}) {
    SCOPED_TRACE(name);
    const std::string held = Contents(dir / name);
    EXPECT_LE(held.size(), kHeldMessageBytes);
    EXPECT_GT(held.size(), kHeldMessageBytes / 2);
    for (const std::string& line : Lines(held.substr(0, held.rfind('\n')))) {
      EXPECT_EQ(line.rfind(name + ": ", 0), 0u) << line;
    }
    EXPECT_EQ(held.rfind(name + ": line 0\n", 0), 0u);  // the first, which words a failure, is kept
  }
}

TEST(LibraryMessages, AnAbortLetsThroughWhatItsThreadsWindowHeld) {
  TempDir dir;
  EXPECT_FALSE(InChild(dir / "err", [] {
    LibraryMessages window;
    std::fputs("the library's last words\n", stderr);
    std::abort();
  }));
  EXPECT_EQ(Contents(dir / "err"), "the library's last words\n");
}

}  // namespace
}  // namespace qv::cli::test
