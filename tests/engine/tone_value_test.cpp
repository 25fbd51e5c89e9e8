#include <gtest/gtest.h>

#include "support.h"

namespace qv {
namespace {

Pixel8 Rgb8(int r, int g, int b) { return {255, std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)}; }
Pixel16 Rgb16(int r, int g, int b) { return {32768, std::uint16_t(r), std::uint16_t(g), std::uint16_t(b)}; }

TEST(ToneValue, IntegerExamples) {
  EXPECT_EQ(ToneValue8(kBaseLuminance, Rgb8(255, 255, 255)), 255);
  EXPECT_EQ(ToneValue8(kBaseLightness, Rgb8(255, 255, 255)), 255);
  EXPECT_EQ(ToneValue8(kBaseLuminance, Rgb8(255, 0, 0)), 76);
  EXPECT_EQ(ToneValue8(kBaseLightness, Rgb8(255, 0, 0)), 127);
  EXPECT_EQ(ToneValue8(kBaseLightness, Rgb8(200, 100, 50)), 125);
  EXPECT_EQ(ToneValue8(kBaseLuminance, Rgb8(200, 100, 50)), 124);
  const Pixel8 p{10, 20, 30, 40};
  EXPECT_EQ(ToneValue8(kBaseRed, p), 20);
  EXPECT_EQ(ToneValue8(kBaseGreen, p), 30);
  EXPECT_EQ(ToneValue8(kBaseBlue, p), 40);
  EXPECT_EQ(ToneValue8(kBaseAlpha, p), 10);
  EXPECT_EQ(ToneValue16(kBaseLuminance, Rgb16(32768, 32768, 32768)), 32768);
  EXPECT_EQ(ToneValue16(kBaseLuminance, Rgb16(32768, 0, 0)), 9798);
  EXPECT_EQ(ToneValue16(kBaseLightness, Rgb16(32768, 0, 1)), 16384);
  EXPECT_EQ(ToneValue16(kBaseAlpha, Pixel16{1234, 0, 0, 0}), 1234);
}

// The luminance weights sum to the channel maximum, so a grey is its own tone.
TEST(ToneValue, GreysAreTheirOwnLuminance) {
  for (int g = 0; g <= 255; ++g) ASSERT_EQ(ToneValue8(kBaseLuminance, Rgb8(g, g, g)), g);
  for (int g = 0; g <= 32768; ++g) ASSERT_EQ(ToneValue16(kBaseLuminance, Rgb16(g, g, g)), g);
}

TEST(ToneValue, FloatPassesValuesOutsideTheRange) {
  const PixelFloat red{1, 2.0f, 0, 0};
  EXPECT_FLOAT_EQ(ToneValueFloat(kBaseLuminance, red), 0.598f);
  EXPECT_EQ(ToneValueFloat(kBaseLightness, red), 1.0f);
  EXPECT_EQ(ToneValueFloat(kBaseGreen, PixelFloat{1, 0, -0.5f, 0}), -0.5f);
  EXPECT_EQ(ToneValueFloat(kBaseAlpha, PixelFloat{3.5f, 0, 0, 0}), 3.5f);
  // Products added left to right: the other grouping differs for this pixel.
  const PixelFloat p{1, 0.3f, 0.6f, 0.9f};
  EXPECT_EQ(ToneValueFloat(kBaseLuminance, p), (0.3f * 0.299f + 0.6f * 0.587f) + 0.9f * 0.114f);
}

TEST(ToneValue, UnknownBaseOnMeansLightness) {
  for (BaseOn b : {0, 7, -1, 1000}) {
    EXPECT_EQ(ToneValue8(b, Rgb8(200, 100, 50)), 125);
    EXPECT_EQ(ToneValue16(b, Rgb16(200, 100, 50)), 125);
    EXPECT_EQ(ToneValueFloat(b, PixelFloat{0, 0.2f, 0.9f, 0.4f}), (0.9f + 0.2f) * 0.5f);
  }
}

// Channels above 32768 are outside the host's range; their tone must still
// index the 32769-entry table.
TEST(ToneValue, SixteenBitToneNeverPassesTheLastTableIndex) {
  for (int i = 0; i < 20000; ++i) {
    auto c = [&] { return std::uint16_t(i == 0 ? 65535 : test::RandomInt(0, 65535)); };
    const Pixel16 p{c(), c(), c(), c()};
    for (BaseOn b = kBaseLightness; b <= kBaseAlpha; ++b) {
      const int t = ToneValue16(b, p);
      ASSERT_TRUE(t >= 0 && t <= 32768 && (i > 0 || t == 32768)) << b << " " << i;
    }
  }
}

}  // namespace
}  // namespace qv
