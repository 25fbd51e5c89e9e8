// The float ramp's power function: C's special cases, correct rounding where
// the power is exactly a midpoint between two floats or very near one, its
// accuracy against the double-precision power rounded once to float, and
// every pass variant's vector form giving the plain function's bits. A
// sample; the verification program (bench/pow/verify_pow.cpp) runs every
// float against MPFR.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/pass_variant.h"
#include "engine/pow.h"

namespace qv {
namespace {

using detail::PowF;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The exponents 1 / Gamma of the slider's range and of the ends of the valid one.
const std::vector<float> kExponents = {1 / 0.01f, 1 / 0.37f, 1 / 0.5f, 1 / 1.6f, 1 / 2.2f,
                                       1 / 4.0f,  1 / 10.0f, 1 / 50.0f, 1.0f,   3.0f};

// C's rules for powf, case by case, written out rather than asked of a library.
TEST(Pow, SpecialCasesAreThoseOfC) {
  struct Case {
    float x, y, want;
  };
  const Case cases[] = {
      {kNaN, 0.0f, 1.0f},      {kNaN, -0.0f, 1.0f},    {1.0f, kNaN, 1.0f},       {-1.0f, kInf, 1.0f},
      {-1.0f, -kInf, 1.0f},    {0.5f, kInf, 0.0f},     {2.0f, kInf, kInf},       {0.5f, -kInf, kInf},
      {2.0f, -kInf, 0.0f},     {0.0f, 3.0f, 0.0f},     {-0.0f, 3.0f, -0.0f},     {-0.0f, 2.0f, 0.0f},
      {-0.0f, 0.5f, 0.0f},     {0.0f, -3.0f, kInf},    {-0.0f, -3.0f, -kInf},    {-0.0f, -2.0f, kInf},
      {-0.0f, -0.5f, kInf},    {kInf, 0.5f, kInf},     {kInf, -0.5f, 0.0f},      {-kInf, 3.0f, -kInf},
      {-kInf, 2.0f, kInf},     {-kInf, 0.5f, kInf},    {-kInf, -3.0f, -0.0f},    {-kInf, -0.5f, 0.0f},
      {-2.0f, 3.0f, -8.0f},    {-2.0f, 2.0f, 4.0f},    {-2.0f, -1.0f, -0.5f},    {-1.0f, 0x1p25f, 1.0f},
      {-1.0f, 3.0f, -1.0f},    {2.0f, 128.0f, kInf},   {2.0f, -150.0f, 0.0f},    {2.0f, -149.0f, 0x1p-149f},
      {4.0f, 0.5f, 2.0f},      {0x1p-149f, 1.0f, 0x1p-149f}, {0x1p-126f, 0.5f, 0x1p-63f}, {0.25f, -0.5f, 2.0f},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(SameBits(PowF(c.x, c.y), c.want)) << c.x << " ^ " << c.y << " = " << PowF(c.x, c.y);
  }
  for (const Case& c : {Case{-2.0f, 0.5f, kNaN}, Case{-1.0f, 0.5f, kNaN}, Case{kNaN, 1.0f, kNaN},
                        Case{2.0f, kNaN, kNaN}, Case{kNaN, kInf, kNaN}, Case{-0.3f, 1 / 2.2f, kNaN}}) {
    EXPECT_TRUE(std::isnan(PowF(c.x, c.y))) << c.x << " ^ " << c.y;
  }
}

// Powers that are exactly a midpoint between two floats (25 significant
// bits, or 2^-150 between 0 and the smallest subnormal) round to the even
// one; the fast evaluation cannot tell them from their neighbours, so they
// are the exact path's. The want is the exact value, a double, rounded once.
TEST(Pow, ExactMidpointsRoundToEven) {
  struct Case {
    float x, y;
    double exact;
  };
  const Case cases[] = {
      {4097.0f, 2.0f, 4097.0 * 4097.0},            // the square's own path
      {321.0f, 3.0f, 321.0 * 321.0 * 321.0},       // 33076161: ties down
      {323.0f, 3.0f, 323.0 * 323.0 * 323.0},       // 33698267: ties up
      {75.0f, 4.0f, 75.0 * 75 * 75 * 75},          // Gamma 0.25
      {961.0f * 0x1p-20f, 2.5f, 28629151.0 * 0x1p-50},  // 31^5 2^-50, Gamma 0.4
      {0x1p-15f, 10.0f, 0x1p-150},                 // halfway to the smallest subnormal: 0
      {0x1p-10f, 15.0f, 0x1p-150},
      {3.0f * 0x1p-20f, 5.0f, 243.0 * 0x1p-100},   // exact and representable: no tie
      {0x1p-100f, 1.5f, 0x1p-150},
  };
  for (const Case& c : cases) {
    const float want = static_cast<float>(c.exact);
    EXPECT_TRUE(SameBits(PowF(c.x, c.y), want)) << c.x << " ^ " << c.y << " = " << PowF(c.x, c.y) << ", want " << want;
    float got = 0;
    for (const PassVariant variant : kPassVariants) {
      if (!PassVariantAvailable(variant)) continue;
      const std::vector<float> x(37, c.x);  // whole vectors and a tail
      std::vector<float> out(x.size());
      PowRow(variant, x.data(), out.data(), static_cast<std::int32_t>(x.size()), c.y);
      got = out[5];
      EXPECT_TRUE(SameBits(got, want)) << PassVariantName(variant) << ": " << c.x << " ^ " << c.y << " = " << got;
    }
  }
}

// The exact path on its own, against the library's double pow where that
// decides the float (the float midpoint well beyond its error), for
// arguments the fast evaluation would not send there.
TEST(Pow, ExactPathRoundsAsTheDoublePowerDecides) {
  std::mt19937 rng(3);
  int compared = 0;
  for (const float y : kExponents) {
    for (int s = 0; s < 20000; ++s) {
      const float x = static_cast<float>(rng()) / 4294967296.0f * 1.25f + 0x1p-30f;
      const double p = std::pow(static_cast<double>(x), static_cast<double>(y));
      const float rounded = static_cast<float>(p);
      const double gap = std::fabs(static_cast<double>(std::nextafter(rounded, kInf)) - static_cast<double>(rounded));
      const double from_float = std::fabs(p - static_cast<double>(rounded));
      if (gap == 0 || std::fabs(from_float - gap / 2) < p * 0x1p-45) continue;
      ++compared;
      ASSERT_TRUE(SameBits(detail::PowExactPositive(x, y), rounded)) << x << " ^ " << y;
    }
  }
  EXPECT_GT(compared, 150000);
}

// Against the double-precision power rounded to float: the library's pow is
// within an ulp of a double, so where the two disagree the true power lies
// within about 2^-52 of a float midpoint, and either float is at most
// half an ulp plus that away. Such cases are rare and counted.
TEST(Pow, WithinHalfAnUlpOfTheTruePowerBarRareMidpoints) {
  std::mt19937 rng(7);
  int disagreements = 0, samples = 0;
  for (const float y : kExponents) {
    for (int s = 0; s < 200000; ++s) {
      std::uint32_t bits = rng() & 0x7FFFFFFFu;
      float x;
      std::memcpy(&x, &bits, sizeof x);
      if (!std::isfinite(x)) continue;
      const double exact = std::pow(static_cast<double>(x), static_cast<double>(y));
      const float got = PowF(x, y);
      ++samples;
      if (SameBits(got, static_cast<float>(exact))) continue;
      ++disagreements;
      // Within one ulp of the true power: between the two floats around it.
      const float below = std::nextafter(static_cast<float>(exact), 0.0f);
      const float above = std::nextafter(static_cast<float>(exact), kInf);
      ASSERT_TRUE(got >= below && got <= above) << x << " ^ " << y << ": " << got << " against " << exact;
    }
  }
  EXPECT_LE(disagreements, samples / 100000) << disagreements << " of " << samples;
}

// Every variant's vector form is the plain function, bit for bit, over
// ordinary tones, every kind of special value and random bit patterns.
TEST(Pow, EveryVariantGivesThePlainFunctionsBits) {
  std::mt19937 rng(11);
  std::vector<float> x(1 << 16);
  const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, kInf, -kInf, kNaN, -kNaN, 0x1p-149f, -0x1p-149f,
                            std::numeric_limits<float>::max(), 0.5f, -0.5f, 2.0f, 1.0000001f, 0.99999994f};
  for (std::size_t i = 0; i < x.size(); ++i) {
    const std::uint32_t r = rng();
    if (i % 4 == 0) {
      std::memcpy(&x[i], &r, sizeof r);  // any bits
    } else if (i % 4 == 1) {
      x[i] = specials[r % std::size(specials)];
    } else {
      x[i] = static_cast<float>(r) / 4294967296.0f * 1.5f - 0.25f;
    }
  }
  // The second half: only finite values above 0 (ones and subnormals
  // among them), as tones mostly are, which the vector forms take a shorter
  // way through.
  for (std::size_t i = x.size() / 2; i < x.size(); ++i) {
    const std::uint32_t r = rng();
    x[i] = r % 16 == 0 ? 1.0f : r % 16 == 1 ? 0x1p-140f * static_cast<float>(r % 1000 + 1)
                                            : static_cast<float>(r) / 4294967296.0f * 2.0f + 0x1p-20f;
  }
  std::vector<float> exponents = kExponents;
  for (float y : {0.0f, -0.0f, kNaN, kInf, -kInf, -2.0f, -0.5f, 0x1p24f, 7.0f}) exponents.push_back(y);
  std::vector<float> want(x.size()), got(x.size());
  for (const float y : exponents) {
    for (std::size_t i = 0; i < x.size(); ++i) want[i] = PowF(x[i], y);
    for (const PassVariant variant : kPassVariants) {
      if (!PassVariantAvailable(variant)) continue;
      // An odd count, so that every variant also finishes with the plain function.
      PowRow(variant, x.data(), got.data(), static_cast<std::int32_t>(x.size()) - 3, y);
      for (std::size_t i = 0; i + 3 < x.size(); ++i) {
        ASSERT_TRUE(SameBits(got[i], want[i]))
            << PassVariantName(variant) << ": " << x[i] << " ^ " << y << " = " << got[i] << ", plain " << want[i];
      }
    }
  }
}

// Every index of the tables, not left to chance: x = 2^k * m at both ends of
// each of the 128 slices of m that pick a reciprocal, and, at y = 1, powers
// on each of the 128 steps of 2^(j / 128). A vector form that reads a wrong
// entry, or puts one in the wrong lane, differs here.
TEST(Pow, EveryVariantReadsEveryTableEntryAsThePlainFunctionDoes) {
  std::vector<float> x;
  for (int k : {-140, -20, -1, 0, 5, 100}) {
    for (int i = 0; i < 128; ++i) {
      for (float edge : {0.0f, 0.9999f}) x.push_back(std::ldexp(1.0f + (static_cast<float>(i) + edge) / 128.0f, k));
    }
  }
  for (int j = 0; j < 128; ++j) x.push_back(std::exp2(static_cast<float>(j) / 128.0f + 0.25f / 256.0f));
  std::vector<float> got(x.size());
  for (const float y : {1.0f, 1 / 2.2f, 2.2f, 1.0f / 3.0f, -7.5f}) {
    for (const PassVariant variant : kPassVariants) {
      if (!PassVariantAvailable(variant)) continue;
      PowRow(variant, x.data(), got.data(), static_cast<std::int32_t>(x.size()), y);
      for (std::size_t n = 0; n < x.size(); ++n) {
        ASSERT_TRUE(SameBits(got[n], PowF(x[n], y)))
            << PassVariantName(variant) << ": " << x[n] << " ^ " << y << " = " << got[n] << ", plain " << PowF(x[n], y);
      }
    }
  }
}

}  // namespace
}  // namespace qv
