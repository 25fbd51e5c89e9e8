#include <gtest/gtest.h>

#include <limits>

#include "reference.h"
#include "support.h"

namespace qv {
namespace {

using test::BaseParams;
using test::Colour;

bool SameColour(const PixelFloat& a, const PixelFloat& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// Identity levels: the levelled tone is the tone itself.
ToneMapper FloatMapper(ToneCount tones, ToneParams p = BaseParams()) {
  p.tones = tones;
  return test::MakeMapper(kDepthFloat, p);
}

TEST(FloatRamp, EndColoursOutsideTheRamp) {
  ToneParams p = BaseParams();
  p.shadows = Colour(10, 20, 30);
  p.highlights = Colour(240, 230, 220);
  for (ToneCount tones : {kDuotone, kTritone, kPentone}) {
    const ToneMapper m = FloatMapper(tones, p);
    EXPECT_TRUE(SameColour(m.Ramp(-0.2f), p.shadows)) << tones;
    EXPECT_TRUE(SameColour(m.Ramp(1.3f), p.highlights)) << tones;
  }
}

// A border tone takes the upper segment at position 0, so it gives the border
// colour exactly; the lower segment's end, (to - from) * 1 + from, misses it by
// a rounding step for these colours.
TEST(FloatRamp, BordersBelongToTheUpperSegment) {
  ToneParams p = BaseParams();
  p.shadows = Colour(3, 0, 0);
  p.midtones = Colour(1, 0, 0);
  EXPECT_EQ(FloatMapper(kTritone, p).Ramp(0.5f).red, p.midtones.red);
  p.shadows = p.midtones = Colour(1, 0, 0);
  p.darktones = p.brights = Colour(3, 0, 0);
  const ToneMapper pent = FloatMapper(kPentone, p);
  EXPECT_EQ(pent.Ramp(0.25f).red, p.darktones.red);
  EXPECT_EQ(pent.Ramp(0.5f).red, p.midtones.red);
  EXPECT_EQ(pent.Ramp(0.75f).red, p.brights.red);
}

TEST(FloatRamp, OpacityClampsToneExceptUnderMonotone) {
  ToneParams p = BaseParams();
  p.highlightsOpacity = 0.5;
  EXPECT_EQ(FloatMapper(kMonotone, p).Ramp(1.5f).alpha, 0.75f);
  for (ToneCount tones : {kDuotone, kTritone, kPentone}) EXPECT_EQ(FloatMapper(tones, p).Ramp(1.5f).alpha, 0.5f);
  for (ToneCount tones : {kMonotone, kDuotone, kTritone, kPentone}) EXPECT_EQ(FloatMapper(tones, p).Ramp(-1.0f).alpha, 0.0f);
  p.highlightsOpacity = 3;  // the opacity line runs past 1 and is clamped
  EXPECT_EQ(FloatMapper(kTritone, p).Ramp(0.5f).alpha, 1.0f);
}

TEST(FloatRamp, MatchesTheReference) {
  for (int round = 0; round < 100; ++round) {
    const ToneParams p = test::RandomParams();
    const test::Reference ref(p);
    const ToneMapper m = test::MakeMapper(kDepthFloat, p);
    for (int i = 0; i < 200; ++i) {
      const float t = static_cast<float>(test::RandomReal(-0.5, 1.5));
      ASSERT_TRUE(test::Same(m.Ramp(t), ref.RampFloat(t))) << round << " tone " << t;
    }
  }
}

// A negative tone under a fractional exponent, and a NaN tone, have no
// levelled tone: they take the Shadows colour, like the tables.
TEST(FloatRampFaults, ToneWithoutLevelledValueGivesShadows) {
  ToneParams p = BaseParams();
  p.gamma = 2.2;
  p.shadows = Colour(10, 20, 30);
  for (ToneCount tones : {kDuotone, kTritone, kPentone}) {
    const ToneMapper m = FloatMapper(tones, p);
    EXPECT_TRUE(SameColour(m.Ramp(-0.3f), p.shadows)) << tones;
    EXPECT_TRUE(SameColour(m.Ramp(std::numeric_limits<float>::quiet_NaN()), p.shadows)) << tones;
  }
}

// The ramp is callable whatever depth the mapper was built for.
TEST(FloatRampFaults, RampCallableAtIntegerDepths) {
  const ToneParams p = BaseParams();
  EXPECT_TRUE(test::Same(test::MakeMapper(kDepth8, p).Ramp(0.7f), FloatMapper(kTritone, p).Ramp(0.7f)));
  EXPECT_TRUE(test::Same(test::MakeMapper(99, p).Ramp(0.25f), FloatMapper(kTritone, p).Ramp(0.25f)));
}

}  // namespace
}  // namespace qv
