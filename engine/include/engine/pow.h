#pragma once

// The float ramp's power function: x^y for a float tone x and the frame's
// single exponent y, correctly rounded to float (to nearest, ties to even),
// so that its bits are those of the exact power whatever method computes it:
// this plain function, each vector form (engine/src/simd_rows.h) and any
// processor or build. Ours rather than the C library's powf, whose results
// differ between libraries and between the builds one library picks by
// processor. It is done the way correctly rounded libraries do it: a fast
// evaluation in double whose error is bounded, a test that the bound cannot
// carry the value across a midpoint between two floats, and, for the rare
// arguments that fail the test, an exact path (PowExactPositive,
// engine/src/pow_exact.cpp). Plain IEEE double arithmetic throughout (no
// fused multiply-add, no library call), in the effect's own floating-point
// state.
//
// The fast evaluation, for a finite x > 0, with tables and coefficients from
// engine/tools/generate_pow_tables.cpp (engine/pow_tables.inc):
//   x = 2^e * m, m in [1, 2); i = the top 7 fraction bits of m;
//   z = m * c_i - 1, exact (m and c_i have 24 significant bits), |z| <~ 2^-8;
//   log2 x = e + L_i + z * B(z), B the degree-4 polynomial of the b_k
//   (b_0 + b_1 z) + z^2 ((b_2 + b_3 z) + b_4 z^2);
//   t = y * ((e + L_i) + z * B(z)), held to -152 to 130;
//   t = n + j / 128 + g, |g| <= 2^-8 (a rounding shift, exact);
//   x^y = 2^t = s + (s * g) * D(g), s = 2^n * T_j, D the degree-3
//   polynomial of the d_k, (d_0 + d_1 g) + g^2 (d_2 + d_3 g).
// Its error: the log series is cut below 2^-50 (absolute, in log2 x) and the
// exp series below 2^-49 (relative); the table values are the nearest
// doubles (L_i, below 1, within 2^-53 absolute); the dozen roundings of the
// log part leave t within (3 |y| + 3 |t|) * 2^-53 + |y| * 2^-50 of
// y log2 x, and 2^t then within that times ln 2 relative, plus 2^-49 and
// 4 * 2^-53 from the exp part. Where t is not held, |t| <= 152.
// roundingSlack is four times that bound, in units of the last place of
// the double result p: about 1,400 at y = 1/2.2 and 4,400 at y = 100 (at
// most 2^-41.5 and 2^-39.9 relative). The
// test (PowNearMidpoint) looks at the 29 bits of p below a float's last
// place (for a result below 2^-126, those of p + 2^-126, which puts the
// subnormal floats' last place at the same bit): the rounding is certain
// unless they lie within the slack of the pattern of a midpoint. About one
// argument in 2^17 fails it at y = 1/2.2. The square (Gamma 0.5) is x * x,
// exact in double, so it is always correctly rounded, exact midpoints
// included, and needs no test.
//
// Special cases are those of C's powf; a NaN result is the default quiet NaN.
//
// The SIMD variant files, each compiled for its own instruction set, use these
// too. So that no copy compiled with one variant's instructions can stand in
// for another file's, everything here has internal linkage (each file keeps
// its own copy) and calls the compiler's built-ins rather than the standard
// library's inline functions, which a build that does not inline them emits
// once per file under one shared name.

#include <cstdint>

#include "engine/pass_variant.h"

namespace qv::detail {

#include "engine/pow_tables.inc"

// The exponent's facts, worked out once for many calls.
struct PowExponent {
  double y;
  bool zero, nan, infinite, negative;
  bool integer;  // a whole number (finite)
  bool odd;      // an odd whole number
  bool square;   // 2: x * x in double is exact, and rounds once to float
  bool ordinary;  // finite, not 0 and not 2: x^y for x > 0 is PowPositive's, rounded
  std::uint32_t oddSign;         // a float's sign bit where y is odd, else 0: the sign x^y keeps
  std::uint32_t fractionalSign;  // the sign bit where y is no whole number: a negative x gives NaN
  std::uint64_t roundingSlack;  // PowPositive's error bound, in its result's last places
  std::uint64_t roundingSlackRegisters;  // the same of the vector form with tables in registers

  // Finite and not a whole number: a negative x has no real power.
  bool Fractional() const { return !integer && !nan && !infinite; }
};

namespace {

inline PowExponent MakePowExponent(float y) {
  PowExponent e{};
  e.y = y;
  e.zero = y == 0.0f;
  e.nan = __builtin_isnan(y);
  e.infinite = __builtin_isinf(y);
  e.negative = y < 0.0f;
  e.integer = __builtin_isfinite(y) && y == __builtin_truncf(y);
  // Every float from 2^24 on is even.
  e.odd = e.integer && __builtin_fabsf(y) < 0x1p24f && (static_cast<std::int64_t>(y) & 1) != 0;
  e.square = y == 2.0f;
  e.ordinary = __builtin_isfinite(y) && !e.zero && !e.square;
  e.oddSign = e.odd ? 0x80000000u : 0u;
  e.fractionalSign = e.Fractional() ? 0x80000000u : 0u;
  const double ay = __builtin_fabs(static_cast<double>(y));
  // 2^53 (ln 2 ((11 |y| + 456) 2^-53) + 2^-49 + 2^-51), four times over;
  // L_i to 48 bits adds |y| 2^-48 to t (engine/src/simd_rows.h).
  const auto slack = [](double units) {
    const double s = 4 * (0.6931471805599453 * units + 20) + 2;
    return s < 0x1p40 ? static_cast<std::uint64_t>(s) : std::uint64_t{1} << 40;
  };
  e.roundingSlack = slack(11 * ay + 456);
  e.roundingSlackRegisters = slack(43 * ay + 456);
  return e;
}

constexpr std::uint32_t kPowNaNBits = 0x7FC00000u;  // the default quiet NaN of a float
constexpr double kPowOverflow = 130.0;    // 2^t from 129 on rounds to a float infinity
constexpr double kPowUnderflow = -152.0;  // 2^t up to -151 rounds to 0
constexpr double kPowShift = 0x1.8p45;    // t + kPowShift rounds t to a multiple of 1/128
constexpr std::uint64_t kPowExponentBits = 0x3FF0000000000000u;
constexpr std::uint64_t kPowFractionBits = 0x000FFFFFFFFFFFFFu;

// The c_i as doubles: read without a conversion.
struct alignas(64) PowReciprocalDoubles {
  double c[128];
};
constexpr PowReciprocalDoubles kPowReciprocalDoubles = [] {
  PowReciprocalDoubles table{};
  for (int i = 0; i < 128; ++i) table.c[i] = kPowReciprocal[i];
  return table;
}();

// 2^(y log2 x) in double for x = 2^e * m, m in [1, 2) with i its top 7
// fraction bits.
inline double PowOfSplit(double e, std::uint32_t i, double m, double y) {
  const double z = m * kPowReciprocalDoubles.c[i] - 1.0;
  // The polynomials by Estrin's scheme: their terms in pairs, side by side,
  // shorten the chain of dependent operations that bounds the speed.
  const double z2 = z * z;
  const double b = (kPowLogPoly[0] + kPowLogPoly[1] * z) +
                   z2 * ((kPowLogPoly[2] + kPowLogPoly[3] * z) + kPowLogPoly[4] * z2);
  // e + L_i while the polynomial runs.
  double t = y * ((e + kPowLogReciprocal[i]) + z * b);
  // Held where 2^t is sure to round to 0 or to overflow a float (a NaN t,
  // from a NaN x, to the lower end): a branch seldom taken, rather than two
  // compiled as branches taken by turns.
  if (__builtin_expect(!(t >= kPowUnderflow && t <= kPowOverflow), 0)) {
    t = t > kPowOverflow ? kPowOverflow : kPowUnderflow;
  }
  const double shifted = t + kPowShift;
  const std::uint64_t k = __builtin_bit_cast(std::uint64_t, shifted) - __builtin_bit_cast(std::uint64_t, kPowShift);
  const double g = t - (shifted - kPowShift);
  const std::uint64_t j = k & 127;
  const double s = __builtin_bit_cast(double, __builtin_bit_cast(std::uint64_t, kPowExp2[j]) + ((k - j) << 45));
  const double d = (kPowExpPoly[0] + kPowExpPoly[1] * g) + (g * g) * (kPowExpPoly[2] + kPowExpPoly[3] * g);
  return s + (s * g) * d;
}

// 2^(y log2 ax) in double for a finite ax > 0 (any other ax gives some value).
inline double PowPositive(double ax, double y) {
  const auto bits = __builtin_bit_cast(std::uint64_t, ax);
  const double e = static_cast<double>(static_cast<std::int64_t>(bits >> 52) - 1023);
  const double m = __builtin_bit_cast(double, (bits & kPowFractionBits) | kPowExponentBits);
  return PowOfSplit(e, static_cast<std::uint32_t>(bits >> 45) & 127, m, y);
}

// The same for a normal float ax, split in its own bits (the same e, i and
// m): fewer instructions than by way of the double.
constexpr std::uint32_t kPowFloatFractionBits = 0x007FFFFFu;
constexpr std::uint32_t kPowFloatOneBits = 0x3F800000u;
inline double PowPositiveNormal(std::uint32_t magnitude, double y) {
  const double e = static_cast<double>(static_cast<std::int32_t>(magnitude >> 23) - 127);
  const float m = __builtin_bit_cast(float, (magnitude & kPowFloatFractionBits) | kPowFloatOneBits);
  return PowOfSplit(e, (magnitude >> 16) & 127, m, y);
}

// Whether PowPositive's result p, with its error bound, may lie on either
// side of a midpoint between two floats.
constexpr std::uint64_t kPowBelowFloat = (std::uint64_t{1} << 29) - 1;  // a double's bits below a float's
constexpr std::uint64_t kPowMidpoint = std::uint64_t{1} << 28;
inline bool PowNearMidpoint(double p, std::uint64_t slack) {
  const double w = p < 0x1p-126 ? p + 0x1p-126 : p;
  const std::uint64_t below = __builtin_bit_cast(std::uint64_t, w) & kPowBelowFloat;
  return below + slack - kPowMidpoint <= 2 * slack;  // modulo 2^64: |below - midpoint| <= slack
}

}  // namespace

// x^y correctly rounded to float for a float x > 0 and a y (a float's value)
// with 0 < |y| and both finite: the exact path, for the arguments
// PowNearMidpoint refuses. Compiled once (engine/src/pow_exact.cpp).
float PowExactPositive(float x, double y);

namespace {

// x^y with the special cases of C's powf, each case overriding the ones
// before it (the vector forms do the same in the same order); any x and y.
inline float PowOfAny(float x, const PowExponent& y) {
  constexpr double kInf = __builtin_inf();
  constexpr double kNaN = __builtin_nan("");
  const double xd = x;
  const double ax = __builtin_fabs(xd);
  double r;
  if (y.zero) {
    r = 1.0;  // even for a NaN x
  } else if (y.nan) {
    r = x == 1.0f ? 1.0 : kNaN;
  } else if (y.infinite) {
    r = (ax < 1.0) == y.negative ? kInf : 0.0;
    if (ax == 1.0) r = 1.0;
    if (__builtin_isnan(xd)) r = kNaN;
  } else {
    if (y.square) {
      r = ax * ax;
    } else {
      r = PowPositive(ax, y.y);
      const bool positive = ax > 0.0 && ax < kInf;
      if (positive && PowNearMidpoint(r, y.roundingSlack)) r = PowExactPositive(static_cast<float>(ax), y.y);
    }
    if (ax == 1.0) r = 1.0;
    if (!y.integer && xd < 0.0) r = kNaN;  // no real power (an infinite x is decided next)
    if (ax == kInf) r = y.negative ? 0.0 : kInf;
    if (ax == 0.0) r = y.negative ? kInf : 0.0;
    if (y.odd && __builtin_signbit(xd)) r = -r;
    if (__builtin_isnan(xd)) r = kNaN;
  }
  return static_cast<float>(r);
}

// x^y. Tones are mostly normal floats, and exponents ordinary: one test
// sends every other case (a zero, subnormal, infinite or NaN x) to the rules
// above, and the sign rules of a negative x are applied to the bits without
// a branch, so that the common cases run without one that the data could
// mispredict.
inline float PowF(float x, const PowExponent& y) {
  const auto bits = __builtin_bit_cast(std::uint32_t, x);
  const std::uint32_t magnitude = bits & 0x7FFFFFFFu;
  // |x| normal and finite: from the least normal float up to the largest.
  if (__builtin_expect(magnitude - 0x00800000u < 0x7F000000u && y.ordinary, 1)) {
    const float ax = __builtin_bit_cast(float, magnitude);
    const double r = PowPositiveNormal(magnitude, y.y);
    const float power =
        __builtin_expect(!PowNearMidpoint(r, y.roundingSlack), 1) ? static_cast<float>(r) : PowExactPositive(ax, y.y);
    const std::uint32_t sign = bits & ~magnitude;
    const std::uint32_t signed_power = __builtin_bit_cast(std::uint32_t, power) | (sign & y.oddSign);
    // A negative x has no real power of a fractional exponent. Chosen by a
    // mask, all ones where so: a choice by condition is compiled to a branch
    // on x's sign, which tones of both signs mispredict.
    const std::uint32_t no_power = 0u - ((sign & y.fractionalSign) >> 31);
    return __builtin_bit_cast(float, (signed_power & ~no_power) | (kPowNaNBits & no_power));
  }
  return PowOfAny(x, y);
}

inline float PowF(float x, float y) { return PowF(x, MakePowExponent(y)); }

}  // namespace
}  // namespace qv::detail

namespace qv {

// x[i]^y into out[i] for n values, with the vector form of a pass variant
// (the plain function for the scalar variant, and for a variant this build or
// processor does not have). Every variant gives PowF's bits.
void PowRow(PassVariant variant, const float* x, float* out, std::int32_t n, float y);

}  // namespace qv
