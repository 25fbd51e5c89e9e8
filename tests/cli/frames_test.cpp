#include <gtest/gtest.h>

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

TEST(FrameRange, RejectsWhatIsNotOne) {
  for (const char* text : {"", "-", "a", "1-", "-5", "3-1", "1-2-3", "1.5", "1 - 2", "+3", "1-99999999999"}) {
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

TEST(FramePattern, PadsTheFrameToTheRunOfHashes) {
  const FramePattern pattern("shots/shot.####.exr");
  EXPECT_TRUE(pattern.HasFrame());
  EXPECT_EQ(pattern.At(7), "shots/shot.0007.exr");
  EXPECT_EQ(pattern.At(240), "shots/shot.0240.exr");
  EXPECT_EQ(pattern.At(123456), "shots/shot.123456.exr");  // longer numbers are written whole
  EXPECT_EQ(FramePattern("f#.png").At(12), "f12.png");
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
