#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

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
      const float t = i % 4 == 0 ? test::RandomFloatChannel() : static_cast<float>(test::RandomReal(-0.5, 1.5));
      ASSERT_TRUE(test::SameValue(m.Ramp(t), ref.RampFloat(t))) << round << " tone " << t;
    }
  }
}

// Below and above the ramp the end colour is taken as it is, a signed zero
// included; the segment's formula at its end, (to - from) * 0 + from, would
// turn -0 into +0. A fuzzed case with such an end colour found the reference
// computing the formula there.
TEST(FloatRamp, EndColoursKeepTheSignOfAZero) {
  ToneParams p = BaseParams();
  p.shadows = {1.0f, -0.0f, 0.25f, -0.0f};
  p.highlights = {1.0f, -0.0f, -0.0f, 0.5f};
  p.midtones = p.darktones = p.brights = Colour(128, 100, 70);
  for (ToneCount tones : {kDuotone, kTritone, kPentone}) {
    p.tones = tones;
    const test::Reference ref(p);
    const ToneMapper m = FloatMapper(tones, p);
    for (const float tone : {-0.2f, 1.3f}) {
      const PixelFloat end = tone < 0 ? p.shadows : p.highlights;
      EXPECT_TRUE(test::SameValue(m.Ramp(tone), ref.RampFloat(tone))) << tones << " tone " << tone;
      for (const float channel : {ref.RampFloat(tone).red, ref.RampFloat(tone).green, ref.RampFloat(tone).blue}) {
        EXPECT_TRUE(channel != 0 || std::signbit(channel)) << tones << " tone " << tone;
      }
      EXPECT_EQ(std::signbit(ref.RampFloat(tone).blue), std::signbit(end.blue)) << tones << " tone " << tone;
    }
  }
}

TEST(FloatRamp, AMonotoneColourKeepsTheSignOfAZero) {
  ToneParams p = BaseParams();
  p.tones = kMonotone;
  p.midtones = {1.0f, -0.0f, 0.25f, -0.0f};
  const test::Reference ref(p);
  const ToneMapper m = FloatMapper(kMonotone, p);
  for (const float tone : {-0.2f, 0.0f, 0.5f, 1.3f}) {
    EXPECT_TRUE(test::SameValue(m.Ramp(tone), ref.RampFloat(tone))) << "tone " << tone;
    EXPECT_TRUE(std::signbit(ref.RampFloat(tone).red) && std::signbit(ref.RampFloat(tone).blue)) << "tone " << tone;
  }
}

// The colour of a levelled tone that is not a number. The ramp's tests send it
// above the ramp, to Highlights; only where no real curve exists (levels
// that are not finite, a negative tone under a fractional exponent) is the
// colour ours to choose, and it is Shadows, as in the tables. Checked through
// the ramp and through the pass, on a row long enough for every pass variant.
struct UnlevelledCase {
  const char* what;
  ToneParams params;
  PixelFloat pixel;  // alpha, red, green, blue
  bool shadows;      // else highlights
};

TEST(FloatRampFaults, ALevelledToneThatIsNotANumberIsAboveTheRampUnlessNoCurveExists) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  ToneParams defaults = BaseParams();
  defaults.shadows = Colour(10, 20, 30);
  ToneParams flat = defaults;  // Duotone on Red, Output Black = Output White: the scale is 0
  flat.tones = kDuotone;
  flat.baseOn = kBaseRed;
  flat.outputBlack = flat.outputWhite = 0.5;
  ToneParams gamma = defaults;
  gamma.gamma = 2.2;
  ToneParams no_curve = gamma;  // a negative black point under exponent 1/2.2
  no_curve.inputBlack = -0.2;
  const UnlevelledCase cases[] = {
      {"a NaN pixel, default settings", defaults, {1, kNaN, kNaN, kNaN}, false},
      {"an infinite tone times a zero scale", flat, {1, kInf, 0.5f, 0.5f}, false},
      {"a NaN pixel under gamma 2.2", gamma, {1, kNaN, kNaN, kNaN}, false},
      {"a negative tone under gamma 2.2", gamma, {1, -0.3f, -0.3f, -0.3f}, true},
      {"levels without a real curve", no_curve, {1, 0.4f, 0.4f, 0.4f}, true},
      {"a NaN pixel with levels without a real curve", no_curve, {1, kNaN, kNaN, kNaN}, true},
  };
  for (const UnlevelledCase& c : cases) {
    for (ToneCount tones : {kDuotone, kTritone, kPentone}) {
      SCOPED_TRACE(std::string(c.what) + ", tones " + std::to_string(tones));
      ToneParams p = c.params;
      p.tones = tones;
      const PixelFloat& want = c.shadows ? p.shadows : p.highlights;
      const ToneMapper m = test::MakeMapper(kDepthFloat, p);
      const float tone = p.baseOn == kBaseRed ? c.pixel.red : (c.pixel.red + c.pixel.red) * 0.5f;
      EXPECT_TRUE(SameColour(m.Ramp(tone), want));
      test::Image<PixelFloat> in(37, 1, 0, c.pixel), out(37, 1, 0, PixelFloat{});
      m.Process(in.View(kDepthFloat), out.View(kDepthFloat), PixelRect{0, 0, 37, 1});
      for (std::int32_t x = 0; x < 37; ++x) ASSERT_TRUE(SameColour(out.At(x, 0), want)) << "x " << x;
    }
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
