// Frame sequences: each frame at its own time, keyframed parameters, and a
// run that stops at a failing frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli_support.h"
#include "core/frames.h"

namespace qv::cli::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Sequence : public ::testing::Test {
 protected:
  // Frames first..last of in.####.png, each its own picture.
  void WriteFrames(int first, int last) {
    for (int f = first; f <= last; ++f) {
      inputs_.push_back(VariedImage<std::uint8_t>(13, 9, 4, 100u + f));
      WriteFile(dir_ / Name("in", f), inputs_.back(), OIIO::TypeDesc::UINT8);
    }
  }
  static std::string Name(const char* stem, int frame) {
    char name[64];
    std::snprintf(name, sizeof name, frame < 0 ? "%s.-%04d.png" : "%s.%04d.png", stem, frame < 0 ? -frame : frame);
    return name;
  }

  TempDir dir_;
  std::vector<Image<std::uint8_t>> inputs_;
};

TEST_F(Sequence, KeyframedGammaFollowsTheFrames) {
  WriteFrames(1, 3);
  const ToolRun run =
      RunTool(dir_.path(), {"render", "in.####.png", "-o", "out.####.png", "--frames", "1-3", "--set", "Gamma=1@1,2.2@3"});
  ASSERT_EQ(run.status, 0) << run.err;
  // Not a terminal: one plain line per frame, then the summary.
  EXPECT_THAT(Lines(run.err), ElementsAre("1/3 out.0001.png", "2/3 out.0002.png", "3/3 out.0003.png"));
  EXPECT_THAT(run.out, StartsWith("3 frames, 351 pixels, "));
  EXPECT_THAT(run.out, HasSubstr("frames/s"));

  const double gamma[] = {1.0, 1.0 + (2.2 - 1.0) * 0.5, 2.2};
  for (int f = 1; f <= 3; ++f) {
    ToneParams params = DefaultToneParams();
    params.gamma = gamma[f - 1];
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / Name("out", f)).samples,
              EngineRender(inputs_[static_cast<std::size_t>(f - 1)], params).samples)
        << "frame " << f;
  }
}

TEST_F(Sequence, AStillInputAnimatesIntoAFramePattern) {
  WriteFrames(7, 7);
  std::filesystem::rename(dir_ / Name("in", 7), dir_ / "still.png");
  const ToolRun run = RunTool(dir_.path(), {"render", "still.png", "-o", "anim.##.png", "--frames", "0-2", "--set",
                                            "Tones=Monotone@0,Pentone@2", "--set", "Midtones=#000000@0,#FF0000@2"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Image<std::uint8_t> first = ReadFile<std::uint8_t>(dir_ / "anim.00.png");
  const Image<std::uint8_t> last = ReadFile<std::uint8_t>(dir_ / "anim.02.png");
  EXPECT_NE(first.samples, last.samples);

  ToneParams params = DefaultToneParams();
  params.tones = kMonotone;  // popups hold until the next key
  params.midtones = Colour(128, 0, 0);  // 127.5 rounded
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "anim.01.png").samples, EngineRender(inputs_[0], params).samples);
  params.tones = kPentone;
  params.midtones = Colour(255, 0, 0);
  EXPECT_EQ(last.samples, EngineRender(inputs_[0], params).samples);
}

TEST_F(Sequence, AFailingFrameStopsTheRunAndKeepsTheFramesBefore) {
  WriteFrames(1, 3);
  std::filesystem::remove(dir_ / Name("in", 2));
  const ToolRun run = RunTool(dir_.path(), {"render", "in.####.png", "-o", "out.####.png", "--frames", "1-3"});
  EXPECT_EQ(run.status, 1);
  const auto lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 2u) << run.err;
  EXPECT_EQ(lines[0], "1/3 out.0001.png");
  EXPECT_EQ(lines[1], "quorvandile: frame 2: cannot read in.0002.png: no such file");
  EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"in.0001.png", "in.0003.png", "out.0001.png"}));
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "out.0001.png").samples,
            EngineRender(inputs_[0], DefaultToneParams()).samples);
}

TEST_F(Sequence, FramesInFlightChangeNothingButTheTime) {
  WriteFrames(1, 8);
  // Frame 1 far larger than the others: with frames in flight, those after it
  // are finished first and wait for their turn to be put in place.
  inputs_[0] = VariedImage<std::uint8_t>(1600, 1200, 4, 101u);
  WriteFile(dir_ / Name("in", 1), inputs_[0], OIIO::TypeDesc::UINT8);
  const std::vector<std::string> look = {"--set", "Gamma=0.5@1,3@8", "--set", "Tones=Pentone", "-q"};
  std::vector<std::string> one = {"render", "in.####.png", "-o", "one.####.png", "--jobs", "1"};
  std::vector<std::string> many = {"render", "in.####.png", "-o", "many.####.png", "--jobs", "5"};
  one.insert(one.end(), look.begin(), look.end());
  many.insert(many.end(), look.begin(), look.end());
  ASSERT_EQ(RunTool(dir_.path(), one).status, 0);
  many.pop_back();  // not quiet: the frames as they are put in place
  const ToolRun in_flight = RunTool(dir_.path(), many);
  ASSERT_EQ(in_flight.status, 0) << in_flight.err;
  EXPECT_THAT(Lines(in_flight.err), ElementsAre("quorvandile: frames 1-8: the files of in.####.png on disk",
                                                "1/8 many.0001.png", "2/8 many.0002.png", "3/8 many.0003.png",
                                                "4/8 many.0004.png", "5/8 many.0005.png", "6/8 many.0006.png",
                                                "7/8 many.0007.png", "8/8 many.0008.png"));
  for (int f = 1; f <= 8; ++f) {
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / Name("many", f)).samples,
              ReadFile<std::uint8_t>(dir_ / Name("one", f)).samples)
        << f;
  }

  // A failing frame leaves exactly the frames before it, whichever finished first.
  std::filesystem::remove(dir_ / Name("in", 3));
  for (int f = 1; f <= 8; ++f) std::filesystem::remove(dir_ / Name("many", f));
  const ToolRun run = RunTool(dir_.path(), {"render", "in.####.png", "-o", "many.####.png", "--frames", "1-8",
                                            "--jobs", "4"});
  EXPECT_EQ(run.status, 1);
  const auto lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 3u) << run.err;
  EXPECT_EQ(lines[0], "1/8 many.0001.png");
  EXPECT_EQ(lines[1], "2/8 many.0002.png");
  EXPECT_EQ(lines[2], "quorvandile: frame 3: cannot read in.0003.png: no such file");
  for (int f = 1; f <= 8; ++f) EXPECT_EQ(std::filesystem::exists(dir_ / Name("many", f)), f < 3) << f;
  for (const std::string& name : dir_.Files()) EXPECT_EQ(name.find("partial"), std::string::npos) << name;

  // Damaged frames read at once, whose library prints its own complaint on
  // each reading thread: the failing frame's line is its own, and nothing
  // the library printed reaches standard error.
  for (int f = 1; f <= 8; ++f) std::filesystem::remove(dir_ / Name("many", f));
  WriteFrames(3, 3);
  for (const int frame : {3, 4, 5}) {
    const std::filesystem::path input = dir_ / Name("in", frame);
    std::filesystem::resize_file(input, std::filesystem::file_size(input) / 2);
  }
  const ToolRun damaged = RunTool(dir_.path(), {"render", "in.####.png", "-o", "many.####.png", "--frames", "1-8",
                                                "--jobs", "4", "-q"});
  EXPECT_EQ(damaged.status, 1);
  ASSERT_EQ(Lines(damaged.err).size(), 1u) << damaged.err;
  EXPECT_EQ(damaged.err.rfind("quorvandile: frame 3: cannot read in.0003.png: ", 0), 0u) << damaged.err;
  EXPECT_EQ(damaged.err.find("in.0004"), std::string::npos) << damaged.err;
  EXPECT_EQ(damaged.err.find("in.0005"), std::string::npos) << damaged.err;
}

// Under a memory limit (ulimit -v) that leaves room for some of the frames in
// flight but not all, the run either renders every frame or ends with one
// line: no thread left running aborts the process. Thread stacks of 256 MiB
// (ulimit -s) make the room a thread takes far larger than anything else.
TEST_F(Sequence, AMemoryLimitNeverAbortsTheRun) {
#ifdef QV_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory does not fit under an address-space limit";
#endif
  const Image<std::uint8_t> still = VariedImage<std::uint8_t>(64, 64, 4, 3);
  WriteFile(dir_ / "still.png", still, OIIO::TypeDesc::UINT8);
  const auto expected = EngineRender(still, DefaultToneParams()).samples;
  static constexpr rlim_t kStack = rlim_t{256} << 20;
  const auto render = [this](int jobs, rlim_t limit) {
    ProcessSetup setup;
    setup.max_stack = kStack;
    setup.max_address_space = limit;
    for (const std::string& name : dir_.Files()) {
      if (name != "still.png") std::filesystem::remove(dir_ / name);
    }
    return RunTool(dir_.path(), {"render", "still.png", "-o", "out.####.png", "--frames", "1-6", "--jobs",
                                 std::to_string(jobs), "--threads", "1", "-q"}, {}, setup);
  };
  // The least room, to 16 MiB, in which one frame at a time renders.
  rlim_t enough = rlim_t{64} << 30, too_little = rlim_t{64} << 20;
  ASSERT_EQ(render(1, enough).status, 0);
  while (enough - too_little > (rlim_t{16} << 20)) {
    const rlim_t middle = too_little + (enough - too_little) / 2;
    (render(1, middle).status == 0 ? enough : too_little) = middle;
  }
  // From no room for another thread to room for two.
  for (rlim_t limit = enough; limit <= enough + 2 * kStack; limit += kStack / 4) {
    SCOPED_TRACE("address space limit " + std::to_string(limit >> 20) + " MiB");
    const ToolRun run = render(3, limit);
    EXPECT_EQ(run.signal, 0) << run.err;
    if (run.status == 0) {
      for (int f = 1; f <= 6; ++f) {
        EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / Name("out", f)).samples, expected);
      }
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
      EXPECT_THAT(run.err, StartsWith("quorvandile: "));
      for (const std::string& name : dir_.Files()) EXPECT_EQ(name.find("partial"), std::string::npos) << name;
    }
  }
}

// Frames in flight share --max-memory: each waits for the memory its own
// header declares, whatever --jobs and whatever the first frame's size. A
// budget that holds one large frame with a small one beside it, no more,
// keeps a run of small and large frames in that much memory (above the
// tool's own on a small frame), and the frames waiting for memory do not
// hold up the frames they wait for.
TEST_F(Sequence, FramesInFlightShareOneMemoryBudget) {
#ifdef QV_SANITIZED
  GTEST_SKIP() << "the sanitizers' own memory hides the frames'";
#endif
  // Pairs of large frames in a row: whichever of a pair takes the memory
  // first, the run goes on.
  const std::vector<bool> large = {false, true, true, false, true, true, false, true, true};
  std::vector<Image<std::uint8_t>> frames;
  for (std::size_t f = 0; f < large.size(); ++f) {
    frames.push_back(large[f] ? VariedImage<std::uint8_t>(1600, 1200, 4, 7u + static_cast<unsigned>(f))
                              : VariedImage<std::uint8_t>(16, 9, 4, 1));
    WriteFile(dir_ / Name("in", static_cast<int>(f + 1)), frames.back(), OIIO::TypeDesc::UINT8);
  }
  const double large_kib = FrameMemoryKib(dir_.path(), Name("in", 2));
  const double small_kib = FrameMemoryKib(dir_.path(), Name("in", 1));
  const auto budget_kib = static_cast<long>(large_kib + small_kib + 1024);
  const ToolRun baseline = RunTool(dir_.path(), {"render", Name("in", 1), "-o", "small.png", "-q"});
  ASSERT_EQ(baseline.status, 0) << baseline.err;

  const ToolRun run = RunTool(dir_.path(), {"render", "in.####.png", "-o", "out.####.png", "--jobs", "4",
                                            "--max-memory", std::to_string(budget_kib) + "K", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_LE(run.peak_kib - baseline.peak_kib, budget_kib);
  for (std::size_t f = 0; f < large.size(); ++f) {
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / Name("out", static_cast<int>(f + 1))).samples,
              EngineRender(frames[f], DefaultToneParams()).samples)
        << "frame " << f + 1;
  }
}

TEST_F(Sequence, SkippingExistingOutputsRendersOnlyTheMissingFrames) {
  WriteFrames(1, 4);
  const std::vector<std::string> render = {"render", "in.####.png", "-o", "out.####.png", "--frames", "1-4",
                                           "--skip-existing"};
  ASSERT_EQ(RunTool(dir_.path(), render).status, 0);
  // Frame 2 gone, frame 3 left as a partial file by a run that was killed:
  // both are rendered again; frames 1 and 4 are not touched.
  std::filesystem::remove(dir_ / Name("out", 2));
  std::filesystem::rename(dir_ / Name("out", 3), dir_ / ".out.0003.partial-elsewhere-1.png");
  std::filesystem::resize_file(dir_ / ".out.0003.partial-elsewhere-1.png", 10);
  std::ofstream(dir_ / Name("out", 4), std::ios::trunc) << "kept";
  const ToolRun run = RunTool(dir_.path(), render);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(Lines(run.err), ElementsAre("quorvandile: frames 1, 4: skipped, their output exists",
                                          "1/2 out.0002.png", "2/2 out.0003.png"));
  for (int f = 2; f <= 3; ++f) {
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / Name("out", f)).samples,
              EngineRender(inputs_[static_cast<std::size_t>(f - 1)], DefaultToneParams()).samples);
  }
  EXPECT_EQ(Contents(dir_ / Name("out", 4)), "kept");

  const ToolRun again = RunTool(dir_.path(), render);
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.err, "quorvandile: frames 1-4: skipped, their output exists\n");
  EXPECT_EQ(again.out, "");
}

TEST_F(Sequence, QuietRunsSayNothing) {
  WriteFrames(1, 2);
  const ToolRun run = RunTool(dir_.path(), {"render", "in.####.png", "-o", "out.####.png", "--frames", "1-2", "-q"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out.0002.png"));
}

TEST_F(Sequence, PatternsAsPipelinesWriteThem) {
  WriteFrames(1, 3);
  std::vector<std::vector<std::uint8_t>> expected;
  for (int f = 1; f <= 3; ++f) expected.push_back(EngineRender(inputs_[f - 1], DefaultToneParams()).samples);
  // The same frames through each way of writing the number, in and out.
  const std::vector<std::pair<std::string, std::string>> patterns = {
      {"in.#.png", "a.%04d.png"}, {"in.%04d.png", "b.$F4.png"}, {"in.$F4.png", "c.@@@@.png"},
      {"in.@@@@.png", "d.%d.png"}, {"in.####.png", "e.$F.png"}};
  for (const auto& [in, out] : patterns) {
    SCOPED_TRACE(in + " -> " + out);
    const ToolRun run = RunTool(dir_.path(), {"render", in, "-o", out, "--frames", "1-3", "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
    const FramePattern written(out);
    for (int f = 1; f <= 3; ++f) EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / written.At(f)).samples, expected[f - 1]);
  }
  EXPECT_TRUE(std::filesystem::exists(dir_ / "a.0002.png"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "d.2.png"));
}

TEST_F(Sequence, WithoutFramesThePatternTakesTheFilesOnDisk) {
  WriteFrames(1, 5);
  std::filesystem::remove(dir_ / Name("in", 4));
  std::filesystem::copy_file(dir_ / Name("in", 1), dir_ / "in.00001.png");  // not how frame 1 is written
  const ToolRun run = RunTool(dir_.path(), {"render", "in.####.png", "-o", "out.####.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.err).front(), "quorvandile: frames 1-3, 5: the files of in.####.png on disk");
  EXPECT_THAT(run.out, StartsWith("4 frames, "));
  for (int f : {1, 2, 3, 5}) EXPECT_TRUE(std::filesystem::exists(dir_ / Name("out", f))) << f;
  EXPECT_FALSE(std::filesystem::exists(dir_ / Name("out", 4)));

  const ToolRun none = RunTool(dir_.path(), {"render", "nothing.####.png", "-o", "out.####.png"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "quorvandile: no files match the input pattern \"nothing.####.png\"\n");
}

TEST_F(Sequence, OneFrameOfAPatternIntoOneFile) {
  WriteFrames(1, 3);
  const ToolRun run = RunTool(dir_.path(), {"render", "in.#.png", "--frames", "2", "-o", "one.png", "-q"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "one.png").samples,
            EngineRender(inputs_[1], DefaultToneParams()).samples);
  // Three frames on disk do not go into one file.
  const ToolRun many = RunTool(dir_.path(), {"render", "in.#.png", "-o", "one.png"});
  EXPECT_EQ(many.status, 2);
  EXPECT_THAT(many.err, HasSubstr("the input pattern matches 3 frames, but the output \"one.png\" names one file"));
}

TEST_F(Sequence, NegativeFramesAreFramesLikeAnyOther) {
  WriteFrames(-2, 1);
  const ToolRun run = RunTool(dir_.path(), {"render", "in.####.png", "-o", "out.####.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.err).front(), "quorvandile: frames -2-1: the files of in.####.png on disk");
  for (int f = -2; f <= 1; ++f) {
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / Name("out", f)).samples,
              EngineRender(inputs_[static_cast<std::size_t>(f + 2)], DefaultToneParams()).samples)
        << "frame " << f;
  }
  // Chosen with --frames, either way CLI11 takes an option's value.
  for (const std::vector<std::string>& frames : {std::vector<std::string>{"--frames", "-2--1"},
                                                 std::vector<std::string>{"--frames=-2--1"}}) {
    std::vector<std::string> args = {"render", "in.####.png", "-o", "again.####.png", "-q"};
    args.insert(args.end(), frames.begin(), frames.end());
    const ToolRun chosen = RunTool(dir_.path(), args);
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(Contents(dir_ / Name("again", -1)), Contents(dir_ / Name("out", -1)));
    EXPECT_FALSE(std::filesystem::exists(dir_ / Name("again", 0)));
    std::filesystem::remove(dir_ / Name("again", -2));
    std::filesystem::remove(dir_ / Name("again", -1));
  }
}

TEST_F(Sequence, AnExistingFileIsThatFileWhateverItsNameHolds) {
  WriteFrames(1, 1);
  std::filesystem::rename(dir_ / Name("in", 1), dir_ / "icon@2x.png");
  std::filesystem::copy_file(dir_ / "icon@2x.png", dir_ / "shot#1.png");
  const std::vector<std::uint8_t> expected = EngineRender(inputs_[0], DefaultToneParams()).samples;
  for (const char* name : {"icon@2x.png", "shot#1.png"}) {
    SCOPED_TRACE(name);
    const ToolRun run = RunTool(dir_.path(), {"render", name, "-o", "out.png", "-q"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "out.png").samples, expected);
    // An output that exists is that file too, and is replaced.
    const ToolRun over = RunTool(dir_.path(), {"render", "out.png", "-o", name, "-q"});
    ASSERT_EQ(over.status, 0) << over.err;
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / name).samples,
              EngineRender(ReadFile<std::uint8_t>(dir_ / "out.png"), DefaultToneParams()).samples);
  }
  // A pattern that names no file is still a pattern.
  WriteFrames(2, 2);
  std::filesystem::rename(dir_ / Name("in", 2), dir_ / "icon2x.png");
  const ToolRun pattern = RunTool(dir_.path(), {"render", "icon@x.png", "-o", "seq.@.png", "-q"});
  ASSERT_EQ(pattern.status, 0) << pattern.err;
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "seq.2.png").samples,
            EngineRender(inputs_[1], DefaultToneParams()).samples);
}

}  // namespace
}  // namespace qv::cli::test
