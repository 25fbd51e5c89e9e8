#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/frames.h"

namespace qv::cli {
namespace {

TEST(FrameRange, ParsesOneFrameOrARange) {
  EXPECT_EQ(ParseFrameRange("12"), (FrameRange{12, 12}));
  EXPECT_EQ(ParseFrameRange("1-240"), (FrameRange{1, 240}));
  EXPECT_EQ(ParseFrameRange("0-0"), (FrameRange{0, 0}));
  EXPECT_EQ(ParseFrameRange("1-240").Count(), 240);
}

TEST(FrameRange, TakesNegativeFrames) {
  EXPECT_EQ(ParseFrameRange("-5"), (FrameRange{-5, -5}));
  EXPECT_EQ(ParseFrameRange("-10-5"), (FrameRange{-10, 5}));
  EXPECT_EQ(ParseFrameRange("-10--1"), (FrameRange{-10, -1}));
  EXPECT_EQ(ParseFrameRange("-10--1").Count(), 10);
  EXPECT_EQ(ParseFrameRange("-2147483648-2147483647").Count(), 4294967296);
}

TEST(FrameRange, RejectsWhatIsNotOne) {
  for (const char* text : {"", "-", "a", "1-", "3-1", "1-2-3", "1.5", "1 - 2", "+3", "1-99999999999", "--5", "-1--",
                           "-", "-a", "1---2", "-1-+2", "-2147483649", "5--6"}) {
    EXPECT_THROW(ParseFrameRange(text), UsageError) << text;
  }
}

TEST(FrameRange, ErrorNamesTheOption) {
  try {
    ParseFrameRange("3-1");
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("--frames \"3-1\""), std::string::npos) << e.what();
  }
}

TEST(FrameRange, ErrorQuotesControlCharactersAsEscapes) {
  for (const auto& [text, quoted] : std::vector<std::pair<std::string, std::string>>{
           {"1\n2", "\"1\\n2\""}, {"shot.00\r", "\"shot.00\\r\""}, {std::string("7\0x", 3), "\"7\\x00x\""}}) {
    try {
      ParseFrameRange(text);
      ADD_FAILURE() << quoted;
    } catch (const UsageError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("--frames " + quoted + ": give one frame", 0), 0u) << message;
      EXPECT_THAT(message, ::testing::EndsWith("of whole numbers"));  // not cut at a NUL
      EXPECT_EQ(message.find_first_of("\n\r"), std::string::npos) << message;
    }
  }
}

TEST(Chunks, CutEachRunApartAndNeverJoinTwo) {
  EXPECT_EQ(Chunks({{1, 48}}, 6).size(), 8u);
  EXPECT_EQ(Chunks({{1, 10}}, 4), (std::vector<FrameRange>{{1, 4}, {5, 8}, {9, 10}}));
  // Frames missing between runs are not rendered by a chunk that spans them.
  EXPECT_EQ(Chunks({{1, 3}, {7, 7}, {9, 12}}, 3), (std::vector<FrameRange>{{1, 3}, {7, 7}, {9, 11}, {12, 12}}));
  EXPECT_EQ(Chunks({{5, 6}}, 1000), (std::vector<FrameRange>{{5, 6}}));
  EXPECT_EQ(Chunks({{2147483640, 2147483647}}, 5), (std::vector<FrameRange>{{2147483640, 2147483644},
                                                                            {2147483645, 2147483647}}));
}

TEST(Chunks, AnEvenSplitCoversEveryCpuAndAtLeastOneFrame) {
  EXPECT_EQ(EvenChunk(48, 2), 24);
  EXPECT_EQ(EvenChunk(49, 2), 25);
  EXPECT_EQ(EvenChunk(3, 64), 1);
  EXPECT_EQ(EvenChunk(0, 4), 1);
  EXPECT_EQ(EvenChunk(10, 0), 10);  // a cluster reporting no CPUs: one piece
}

TEST(FramePattern, NamesTheSequenceAsAWhole) {
  EXPECT_EQ(FramePattern("/shots/graded.####.exr").NameWith("frames"), "graded.frames.exr");
  EXPECT_EQ(FramePattern("a%04d/b.$F4.png").NameWith("x"), "b.x.png");
  EXPECT_EQ(FramePattern("/shots/still.png").NameWith("frames"), "still.png");
}

TEST(FramePattern, PadsTheFrameToTheRunOfHashes) {
  const FramePattern pattern("shots/shot.####.exr");
  EXPECT_TRUE(pattern.HasFrame());
  EXPECT_EQ(pattern.At(7), "shots/shot.0007.exr");
  EXPECT_EQ(pattern.At(240), "shots/shot.0240.exr");
  EXPECT_EQ(pattern.At(123456), "shots/shot.123456.exr");  // longer numbers are written whole
  EXPECT_EQ(FramePattern("f##.png").At(12), "f12.png");
}

TEST(FramePattern, TakesTheWaysPipelinesWriteTheNumber) {
  EXPECT_EQ(FramePattern("f.#.exr").At(12), "f.0012.exr");  // a lone '#' pads to 4, as oiiotool reads it
  EXPECT_EQ(FramePattern("f.@@@.exr").At(12), "f.012.exr");
  EXPECT_EQ(FramePattern("f.@.exr").At(12), "f.12.exr");
  EXPECT_EQ(FramePattern("f.%04d.exr").At(12), "f.0012.exr");
  EXPECT_EQ(FramePattern("f.%4d.exr").At(12), "f.0012.exr");
  EXPECT_EQ(FramePattern("f.%d.exr").At(12), "f.12.exr");
  EXPECT_EQ(FramePattern("f.$F4.exr").At(12), "f.0012.exr");
  EXPECT_EQ(FramePattern("f.$F.exr").At(12), "f.12.exr");
  // Not frame numbers: a '%' without 'd', a '$' without 'F'.
  EXPECT_FALSE(FramePattern("50%.png").HasFrame());
  EXPECT_FALSE(FramePattern("$HIP.png").HasFrame());
  // The last in the file name counts.
  EXPECT_EQ(FramePattern("v%02d_$F3.png").At(7), "v%02d_007.png");
}

TEST(FramePattern, FindsTheFrameOfAFileNameAsAtWritesIt) {
  for (const char* text : {"dir/f.#.exr", "f.@@.exr", "f.%d.exr", "f.$F6.exr", "#.png"}) {
    const FramePattern pattern(text);
    for (std::int32_t frame : {0, 7, 12, 9999, 123456, 2147483647}) {
      const std::string path = pattern.At(frame);
      EXPECT_EQ(pattern.FrameOf(path.substr(path.find_last_of('/') + 1)), frame) << text << " " << path;
    }
  }
  const FramePattern pattern("f.####.exr");
  EXPECT_EQ(pattern.FrameOf("f.0012.exr"), 12);
  for (const char* other : {"f.012.exr", "f.00012.exr", "g.0012.exr", "f.0012.png", "f.00a2.exr", "f..exr",
                            "f.-012.exr", "f.99999999999.exr"}) {
    EXPECT_EQ(pattern.FrameOf(other), std::nullopt) << other;
  }
  EXPECT_EQ(FramePattern("f.%d.exr").FrameOf("f.012.exr"), std::nullopt);  // unpadded frames have no zeros before
}

TEST(FramePattern, NegativeFramesHaveAMinusSignBeforeThePadding) {
  for (const char* text : {"f.#.exr", "f.@@.exr", "f.%d.exr", "f-$F3.exr"}) {
    const FramePattern pattern(text);
    for (std::int32_t frame : {-1, -12, -9999, -123456, -2147483647 - 1}) {
      EXPECT_EQ(pattern.FrameOf(pattern.At(frame)), frame) << text << " " << pattern.At(frame);
    }
  }
  const FramePattern pattern("f.####.exr");
  EXPECT_EQ(pattern.At(-12), "f.-0012.exr");
  EXPECT_EQ(pattern.FrameOf("f.-0012.exr"), -12);
  EXPECT_EQ(pattern.FrameOf("f.-12345.exr"), -12345);
  // Not how At() writes a frame: short or over-padded digits, a sign without digits, frame 0 with a sign.
  for (const char* other : {"f.-012.exr", "f.-00012.exr", "f.-.exr", "f.--0012.exr", "f.-0000.exr", "f.0-012.exr"}) {
    EXPECT_EQ(pattern.FrameOf(other), std::nullopt) << other;
  }
}

TEST(FramePattern, AFileTakenAsItIsHasNoFrame) {
  for (const char* name : {"icon@2x.png", "shot#1.png", "dir/50%d.png", "$F.png"}) {
    EXPECT_TRUE(FramePattern(name).HasFrame()) << name;  // what makes the difference
    const FramePattern file = FramePattern::File(name);
    EXPECT_FALSE(file.HasFrame()) << name;
    EXPECT_EQ(file.At(-3), name);
    EXPECT_EQ(file.At(7), name);
    EXPECT_EQ(file.FrameOf("icon02x.png"), std::nullopt);
  }
  EXPECT_EQ(FramePattern::File("dir/shot#1.png").NameWith("frames"), "shot#1.png");
}

TEST(FrameRuns, GroupConsecutiveFrames) {
  const FrameRuns runs = RunsOf({5, 1, 2, 3, 3, 9, 10, 12});
  EXPECT_EQ(runs, (FrameRuns{{1, 3}, {5, 5}, {9, 10}, {12, 12}}));
  EXPECT_EQ(CountOf(runs), 7);
  EXPECT_EQ(Describe(runs), "1-3, 5, 9-10, 12");
  EXPECT_TRUE(RunsOf({}).empty());
}

TEST(FramePattern, OnlyTheLastRunInTheFileNameCounts) {
  EXPECT_EQ(FramePattern("take#2/shot.##.png").At(5), "take#2/shot.05.png");
  EXPECT_EQ(FramePattern("a##_b###.png").At(5), "a##_b005.png");
  const FramePattern directory_only("take#2/shot.png");
  EXPECT_FALSE(directory_only.HasFrame());
  EXPECT_EQ(directory_only.At(5), "take#2/shot.png");
}

TEST(FramePattern, APathWithoutHashesIsTheSameForEveryFrame) {
  const FramePattern still("still.png");
  EXPECT_FALSE(still.HasFrame());
  EXPECT_EQ(still.At(0), "still.png");
  EXPECT_EQ(still.At(99), "still.png");
}

}  // namespace
}  // namespace qv::cli
