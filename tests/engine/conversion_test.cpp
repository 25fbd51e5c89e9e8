#include <gtest/gtest.h>

#include <limits>

#include "support.h"

namespace qv {
namespace {

using test::Same;

// A true division, correctly rounded (a multiplication by 1/255 differs for
// some bytes), and every byte comes back unchanged.
TEST(Conversion, BytesRoundTrip) {
  for (int v = 0; v <= 255; ++v) {
    const Pixel8 p{std::uint8_t(v), std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v)};
    ASSERT_EQ(FromPixel8(p).blue, static_cast<float>(v / 255.0)) << v;
    ASSERT_TRUE(Same(ToPixel8(FromPixel8(p)), p)) << v;
  }
}

TEST(Conversion, MidtonesDefault) {
  const PixelFloat f = FromPixel8({255, 128, 100, 70});
  EXPECT_EQ(f.alpha, 1.0f);
  EXPECT_NEAR(f.red, 0.50196f, 1e-5);
  EXPECT_NEAR(f.green, 0.39216f, 1e-5);
  EXPECT_NEAR(f.blue, 0.27451f, 1e-5);
  EXPECT_TRUE(Same(ToPixel8(f), Pixel8{255, 128, 100, 70}));
  EXPECT_TRUE(Same(ToPixel16(f), Pixel16{32768, 16448, 12850, 8995}));
}

TEST(Conversion, ClampsAndTruncates) {
  EXPECT_TRUE(Same(ToPixel8({1.5f, -0.1f, 0.999f, 0.0f}), Pixel8{255, 0, 254, 0}));
  EXPECT_TRUE(Same(ToPixel16({1.5f, -0.1f, 0.99999f, 1.0f}), Pixel16{32768, 0, 32767, 32768}));
}

TEST(ConversionFaults, NonFiniteChannelsAreDefined) {
  constexpr float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(Same(ToPixel8({nan, inf, -inf, -nan}), Pixel8{0, 255, 0, 0}));
  EXPECT_TRUE(Same(ToPixel16({nan, inf, -inf, 3e38f}), Pixel16{0, 32768, 0, 32768}));
}

}  // namespace
}  // namespace qv
