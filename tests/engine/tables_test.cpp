#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "reference.h"
#include "support.h"

namespace qv {
namespace {

using test::BaseParams;
using test::Colour;
using test::MakeMapper;
using test::Same;

ToneParams BlackToWhite(ToneCount tones) {
  ToneParams p = BaseParams();
  p.tones = tones;
  return p;
}

bool SameColour(Pixel8 a, Pixel8 b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

TEST(Tables, SizedForTheirDepthOnly) {
  const ToneParams p = BaseParams();
  const ToneMapper m8 = MakeMapper(kDepth8, p), m16 = MakeMapper(kDepth16, p), mf = MakeMapper(kDepthFloat, p);
  EXPECT_EQ(m8.table8().size(), 256u);
  EXPECT_EQ(m16.table16().size(), 32769u);
  EXPECT_TRUE(m8.table16().empty() && m16.table8().empty() && mf.table8().empty() && mf.table16().empty());
}

TEST(Tables, IdentityDuotoneIsTheIndex) {
  const ToneMapper m8 = MakeMapper(kDepth8, BlackToWhite(kDuotone)), m16 = MakeMapper(kDepth16, BlackToWhite(kDuotone));
  for (int i = 0; i <= 255; ++i) ASSERT_TRUE(Same(m8.table8()[i], Pixel8{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)})) << i;
  for (int i = 0; i <= 32768; ++i) {
    const auto v = std::uint16_t(i);
    ASSERT_TRUE(Same(m16.table16()[i], Pixel16{v, v, v, v})) << i;
  }
}

TEST(Tables, TritoneAndPentoneEntries) {
  ToneParams p = BaseParams();
  const ToneMapper tri = MakeMapper(kDepth8, p);
  EXPECT_TRUE(Same(tri.table8()[0], Pixel8{0, 0, 0, 0}));
  EXPECT_TRUE(Same(tri.table8()[64], Pixel8{64, 64, 50, 35}));
  EXPECT_TRUE(Same(tri.table8()[127], Pixel8{127, 127, 100, 70}));
  EXPECT_TRUE(Same(tri.table8()[128], Pixel8{128, 128, 101, 71}));
  EXPECT_TRUE(Same(tri.table8()[255], Pixel8{255, 255, 255, 255}));
  p.tones = kPentone;
  const ToneMapper pent = MakeMapper(kDepth8, p);
  EXPECT_TRUE(Same(pent.table8()[64], Pixel8{64, 64, 50, 10}));
  EXPECT_TRUE(Same(pent.table8()[128], Pixel8{128, 129, 101, 70}));
  EXPECT_TRUE(Same(pent.table8()[192], Pixel8{192, 193, 171, 122}));
}

TEST(Levels, GammaEqualPointsAndReversedOutput) {
  ToneParams p = BlackToWhite(kDuotone);
  p.gamma = 2;  // the square root of 64/255 is 0.50098
  EXPECT_TRUE(SameColour(MakeMapper(kDepth8, p).table8()[64], Pixel8{0, 128, 128, 128}));

  p = BlackToWhite(kDuotone);
  p.shadows = Colour(10, 20, 30);
  p.inputBlack = p.inputWhite = 0.5;
  const ToneMapper split = MakeMapper(kDepth8, p);
  EXPECT_EQ(split.settings().params.inputWhite, 0.5 + 0.000001);
  for (int i = 0; i <= 255; ++i) {
    ASSERT_TRUE(SameColour(split.table8()[i], i < 128 ? Pixel8{0, 10, 20, 30} : Pixel8{0, 255, 255, 255})) << i;
  }

  p = BlackToWhite(kTritone);
  p.outputBlack = 1;
  p.outputWhite = 0;
  const ToneMapper reversed = MakeMapper(kDepth8, p);
  EXPECT_TRUE(Same(reversed.table8()[0], Pixel8{0, 255, 255, 255}));
  EXPECT_TRUE(Same(reversed.table8()[255], Pixel8{255, 0, 0, 0}));
}

TEST(Tables, MatchTheReferenceForRandomSettings) {
  for (int round = 0; round < 40; ++round) {
    ToneParams p = test::RandomParams();
    p.baseOn = kBaseRed;  // the entry for tone i is the toned pixel whose red is i
    p.blend = 0;
    const test::Reference ref(p);
    const ToneMapper m8 = MakeMapper(kDepth8, p), m16 = MakeMapper(kDepth16, p);
    for (int i = 0; i <= 255; ++i) ASSERT_TRUE(Same(m8.table8()[i], ref.ToneInteger(Pixel8{255, std::uint8_t(i), 0, 0}))) << i;
    for (int i = 0; i <= 32768; i += 7) {
      ASSERT_TRUE(Same(m16.table16()[i], ref.ToneInteger(Pixel16{32768, std::uint16_t(i), 0, 0}))) << i;
    }
  }
}

// Settings the host's sliders never give, non-finite ones included, still give
// entries within the channel range, with no undefined conversion on the way.
TEST(TablesFaults, EveryEntryInRangeForWildSettings) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double wild[] = {std::nan(""), inf, -inf, -100, -1, 0, 1e-300, 0.5, 1, 100, 1e300};
  auto pick = [&] { return wild[test::RandomInt(0, std::size(wild) - 1)]; };
  for (int round = 0; round < 200; ++round) {
    ToneParams p = test::RandomParams();
    p.inputBlack = pick(), p.inputWhite = pick(), p.gamma = pick(), p.outputBlack = pick();
    p.outputWhite = pick(), p.highlightsOpacity = pick(), p.shadowsOpacity = pick();
    const ToneMapper m = MakeMapper(kDepth16, p);
    for (const Pixel16& e : m.table16()) {
      ASSERT_TRUE(e.alpha <= 32768 && e.red <= 32768 && e.green <= 32768 && e.blue <= 32768) << round;
    }
  }
}

// A negative black point under a fractional exponent, or black and white
// points whose powers are equal: no real levels curve. Every entry and every
// float tone takes the Shadows colour; the opacity is unaffected.
TEST(TablesFaults, NoLevelsCurveMeansShadows) {
  ToneParams negative = BaseParams();
  negative.inputBlack = -0.5;
  negative.gamma = 2.2;
  ToneParams equalPowers = BaseParams();
  equalPowers.inputBlack = 1e-5;
  equalPowers.inputWhite = 2e-5;
  equalPowers.gamma = 0.01;  // both powers underflow to 0
  for (ToneParams p : {negative, equalPowers}) {
    for (ToneCount tones : {kDuotone, kTritone, kPentone}) {
      p.tones = tones;
      p.shadows = Colour(7, 8, 9);
      const ToneMapper m8 = MakeMapper(kDepth8, p), mf = MakeMapper(kDepthFloat, p);
      for (int i = 0; i <= 255; ++i) ASSERT_TRUE(Same(m8.table8()[i], Pixel8{std::uint8_t(i), 7, 8, 9})) << i;
      for (float tone : {-1.0f, 0.0f, 0.3f, 1.0f, 2.0f}) {
        const PixelFloat r = mf.Ramp(tone);
        ASSERT_TRUE(r.red == p.shadows.red && r.green == p.shadows.green && r.blue == p.shadows.blue) << tone;
      }
    }
  }
}

TEST(TablesFaults, NonFiniteOpacityAndColours) {
  ToneParams p = BlackToWhite(kDuotone);
  p.highlightsOpacity = std::numeric_limits<double>::infinity();
  p.shadows.red = std::numeric_limits<float>::quiet_NaN();
  p.highlights.green = std::numeric_limits<float>::infinity();
  const ToneMapper m = MakeMapper(kDepth8, p);
  EXPECT_EQ(m.table8()[0].alpha, 0);  // 0 * infinity is NaN, stored as 0
  EXPECT_EQ(m.table8()[1].alpha, 255);
  EXPECT_EQ(m.table8()[0].red, 0);
  EXPECT_EQ(m.table8()[200].green, 255);
}

// A tone count the host never sends: the usual opacity and a black colour, at
// every depth.
TEST(TablesFaults, UnknownToneCountIsBlack) {
  const ToneMapper m8 = MakeMapper(kDepth8, BlackToWhite(9)), mf = MakeMapper(kDepthFloat, BlackToWhite(9));
  for (int i = 0; i <= 255; ++i) ASSERT_TRUE(Same(m8.table8()[i], Pixel8{std::uint8_t(i), 0, 0, 0}));
  EXPECT_TRUE(Same(mf.Ramp(0.5f), PixelFloat{0.5f, 0, 0, 0}));
}

}  // namespace
}  // namespace qv
