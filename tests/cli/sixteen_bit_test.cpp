// The 16-bit conversions between files (0..65535) and the host (0..32768),
// checked over every value.
#include <gtest/gtest.h>

#include <cmath>

#include "core/sixteen_bit.h"

namespace qv::cli {
namespace {

TEST(SixteenBit, FileToHostIsTheNearestHostValueForEveryFileValue) {
  for (std::uint32_t v = 0; v <= 65535; ++v) {
    const double exact = v * 32768.0 / 65535.0;
    ASSERT_EQ(FileToHost16(static_cast<std::uint16_t>(v)), std::lround(exact)) << "file value " << v;
    ASSERT_LE(std::fabs(FileToHost16(static_cast<std::uint16_t>(v)) - exact), 0.5) << "file value " << v;
  }
}

TEST(SixteenBit, HostToFileIsTheNearestFileValueForEveryHostValue) {
  for (std::uint32_t h = 0; h <= 32768; ++h) {
    const double exact = h * 65535.0 / 32768.0;
    ASSERT_LE(std::fabs(HostToFile16(static_cast<std::uint16_t>(h)) - exact), 0.5) << "host value " << h;
  }
  // The one exact half (16384 -> 32767.5) rounds up.
  EXPECT_EQ(HostToFile16(16384), 32768);
}

TEST(SixteenBit, RangesMapEndToEnd) {
  EXPECT_EQ(FileToHost16(0), 0);
  EXPECT_EQ(FileToHost16(65535), 32768);
  EXPECT_EQ(HostToFile16(0), 0);
  EXPECT_EQ(HostToFile16(32768), 65535);
}

TEST(SixteenBit, HostValuesSurviveTheTripThroughAFile) {
  for (std::uint32_t h = 0; h <= 32768; ++h) {
    ASSERT_EQ(FileToHost16(HostToFile16(static_cast<std::uint16_t>(h))), h) << "host value " << h;
  }
}

TEST(SixteenBit, FileValuesComeBackAtMostOneStepOffAndInOrder) {
  std::uint16_t previous_host = 0, previous_file = 0;
  for (std::uint32_t v = 0; v <= 65535; ++v) {
    const std::uint16_t host = FileToHost16(static_cast<std::uint16_t>(v));
    const std::uint16_t back = HostToFile16(host);
    ASSERT_LE(std::abs(static_cast<int>(back) - static_cast<int>(v)), 1) << "file value " << v;
    ASSERT_GE(host, previous_host) << "file value " << v;
    ASSERT_GE(back, previous_file) << "file value " << v;
    previous_host = host;
    previous_file = back;
  }
}

TEST(SixteenBit, HostValuesAboveTheRangeCountAsFull) {
  EXPECT_EQ(HostToFile16(32769), 65535);
  EXPECT_EQ(HostToFile16(65535), 65535);
}

}  // namespace
}  // namespace qv::cli
