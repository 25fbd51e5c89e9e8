// Frame sequences: each frame at its own time, keyframed parameters, and a
// run that stops at a failing frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_support.h"

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
    std::snprintf(name, sizeof name, "%s.%04d.png", stem, frame);
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

TEST_F(Sequence, QuietRunsSayNothing) {
  WriteFrames(1, 2);
  const ToolRun run = RunTool(dir_.path(), {"render", "in.####.png", "-o", "out.####.png", "--frames", "1-2", "-q"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out.0002.png"));
}

}  // namespace
}  // namespace qv::cli::test
