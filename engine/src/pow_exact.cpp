// The power function's exact path: x^y correctly rounded to float for the
// arguments whose fast evaluation (engine/pow.h) lies too near a midpoint
// between two floats to be rounded with certainty. About one argument in
// 2^17 comes here, so it is written for clarity, in double-double arithmetic
// (pairs hi + lo, |lo| <= ulp(hi) / 2) built from plain double operations:
// error-free sums, and products by Dekker's splitting, as no fused
// multiply-add is used anywhere. Compiled once, for the baseline processor;
// every variant's vector form calls it through the scalar PowF.
//
// The evaluation: x = 2^e * m, z = m * c_i - 1 (exact, |z| < 2^-7.9) as in
// the fast path;
//   log2 m = L_i + ln(1 + z) / ln 2, ln(1 + z) by its series to z^14
//     (the first term left out is below 2^-116);
//   t = y * e + y * log2 m (y * e is exact: 24 and 9 significant bits);
//   t = (n + j / 128) + g, |g| <= 2^-8 + |lo(t)|; 2^t = 2^n * T_j * e^(g ln 2),
//     e^u by its series to u^10 (the first term left out is below 2^-118).
// The leading terms of each series are summed in pairs, the small tail in
// doubles. The pairs' operations each err by at most a few 2^-106 of their
// result, so log2 m comes out within about 2^-103 (absolute), t within about
// |y| * 2^-103 + |t| * 2^-105, and the power within about
// (|y| + |t| / 4 + 4) * 2^-103 (relative). kPowExactError allows four
// times that, with |t| <= 160 (the fast path sends nothing beyond).
//
// The rounding: the float f nearest the value, and the midpoint between f
// and its neighbour on the value's side. Outside the error bound of the
// midpoint the side is certain. Within it, x^y is either exactly that
// midpoint, which ExactPower decides with integers (and the tie goes to the
// even float), or so near it that the value's side is taken; no argument has
// been found that comes that near (bench/pow/verify_pow.cpp).
#include <cstdint>

#include "engine/pow.h"

namespace qv::detail {
namespace {

#include "pow_exact_tables.inc"

struct Pair {
  double hi, lo;
};

Pair TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// |a| >= |b| (or a = 0).
Pair FastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// hi + lo = a, each with at most 26 significant bits.
Pair Split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return {hi, a - hi};
}

Pair TwoProduct(double a, double b) {
  const double p = a * b;
  const Pair x = Split(a), y = Split(b);
  return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

Pair Add(Pair a, Pair b) {
  Pair s = TwoSum(a.hi, b.hi);
  const Pair t = TwoSum(a.lo, b.lo);
  s = FastTwoSum(s.hi, s.lo + t.hi);
  return FastTwoSum(s.hi, s.lo + t.lo);
}

Pair Multiply(Pair a, Pair b) {
  const Pair p = TwoProduct(a.hi, b.hi);
  return FastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Pair Multiply(Pair a, double b) {
  const Pair p = TwoProduct(a.hi, b);
  return FastTwoSum(p.hi, p.lo + a.lo * b);
}

Pair PairOf(const double (&pair)[2]) { return {pair[0], pair[1]}; }

double TwoTo(std::int64_t n) {  // a normal double's range
  return __builtin_bit_cast(double, static_cast<std::uint64_t>(n + 1023) << 52);
}

// The relative error bound of PowPair's value for the exponent y.
double ExactError(double y) { return (__builtin_fabs(y) + 64) * 0x1p-100; }

// log2 ax for a finite ax > 0 (a float's value), as e + the pair.
Pair Log2Mantissa(double ax, std::int64_t& e) {
  const auto bits = __builtin_bit_cast(std::uint64_t, ax);
  e = static_cast<std::int64_t>(bits >> 52) - 1023;
  const std::uint64_t i = (bits >> 45) & 127;
  const double m = __builtin_bit_cast(double, (bits & kPowFractionBits) | kPowExponentBits);
  const double z = m * static_cast<double>(kPowReciprocal[i]) - 1.0;
  double tail = kPowExactLogSeries[14][0];
  for (int k = 13; k >= 9; --k) tail = tail * z + kPowExactLogSeries[k][0];
  Pair series{tail, 0.0};
  for (int k = 8; k >= 1; --k) series = Add(Multiply(series, z), PairOf(kPowExactLogSeries[k]));
  const Pair ln1pz = Multiply(series, z);
  return Add(PairOf(kPowExactLogReciprocal[i]), Multiply(ln1pz, PairOf(kPowExactInverseLn2[0])));
}

// 2^t for a pair t with -160 <= t <= 130.
Pair Exp2(Pair t) {
  const double k = (t.hi * 128 + 0x1.8p52) - 0x1.8p52;  // t.hi * 128 to the nearest integer
  const auto whole = static_cast<std::int64_t>(k);
  const std::int64_t j = whole & 127, n = (whole - j) / 128;
  const Pair g = TwoSum(t.hi - k / 128, t.lo);  // the difference is exact
  const Pair u = Multiply(g, PairOf(kPowExactLn2[0]));
  double tail = kPowExactExpSeries[10][0];
  for (int i = 9; i >= 6; --i) tail = tail * u.hi + kPowExactExpSeries[i][0];
  Pair series{tail, 0.0};
  for (int i = 5; i >= 0; --i) series = Add(Multiply(series, u), PairOf(kPowExactExpSeries[i]));
  const Pair v = Multiply(series, PairOf(kPowExactExp2[j]));
  const double scale = TwoTo(n);
  return {v.hi * scale, v.lo * scale};
}

std::uint64_t SquareRootOf(std::uint64_t a) {  // the whole one, a < 2^26
  std::uint64_t low = 0, high = 1 << 13;
  while (low < high) {
    const std::uint64_t mid = (low + high + 1) / 2;
    if (mid * mid <= a) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return low;
}

// Whether ax^y is exactly `target` (a float midpoint, 2^-150 to 2^128).
// With ax = X 2^a and y = Y / 2^k (X and Y odd), x^y is a dyadic number only
// when X = W^(2^k) for a whole W (k and Y coprime), and is then W^Y 2^(aY/2^k)
// where 2^k divides a (or W = 1 and 2^k divides aY). Odd W >= 3 with
// W^(2^k) < 2^24 needs k <= 3, and W^Y below 2^26 needs 0 < Y < 17; a power
// of two (W = 1) in the target's range needs |aY / 2^k| <= 150.
bool ExactPower(double ax, double y, double target) {
  if (!(__builtin_fabs(y) <= 256)) return false;
  const auto bits = __builtin_bit_cast(std::uint64_t, ax);
  std::uint64_t odd = (bits & kPowFractionBits) | (std::uint64_t{1} << 52);
  std::int64_t a = static_cast<std::int64_t>(bits >> 52) - 1075;
  while ((odd & 1) == 0) {
    odd >>= 1;
    ++a;
  }
  int k = 0;
  double scaled = y;
  while (scaled != __builtin_trunc(scaled) && k < 8) {
    scaled *= 2;
    ++k;
  }
  if (scaled != __builtin_trunc(scaled)) return false;
  const auto whole = static_cast<std::int64_t>(scaled);
  for (int r = 0; r < k; ++r) {
    const std::uint64_t s = SquareRootOf(odd);
    if (s * s != odd) return false;
    odd = s;
  }
  if ((a * whole) % (std::int64_t{1} << k) != 0) return false;
  const std::int64_t exponent = a * whole / (std::int64_t{1} << k);
  std::uint64_t power = 1;
  if (odd != 1) {
    if (whole <= 0 || whole >= 17) return false;
    for (std::int64_t i = 0; i < whole; ++i) {
      power *= odd;
      if (power >= (std::uint64_t{1} << 26)) return false;
    }
  }
  if (exponent < -200 || exponent > 200) return false;
  return static_cast<double>(power) * TwoTo(exponent / 2) * TwoTo(exponent - exponent / 2) == target;
}

}  // namespace

float PowExactPositive(float x, double y) {
  const double ax = x;
  std::int64_t e = 0;
  const Pair log2m = Log2Mantissa(ax, e);
  const Pair t = Add(Multiply(log2m, y), Pair{y * static_cast<double>(e), 0.0});
  if (t.hi < -160) return 0.0f;
  if (t.hi > 130) return __builtin_inff();
  const Pair v = Exp2(t);
  // The float f nearest v.hi (the largest float for what rounds to infinity),
  // and v's distance d from it.
  constexpr float kLargest = 0x1.fffffep127f;
  float f = static_cast<float>(v.hi);
  if (f > kLargest) f = kLargest;
  const double d = (v.hi - static_cast<double>(f)) + v.lo;
  if (d == 0) return f;
  const auto f_bits = __builtin_bit_cast(std::uint32_t, f);
  const float neighbour = __builtin_bit_cast(float, d > 0 ? f_bits + 1 : f_bits - 1);
  const double neighbour_d = neighbour > kLargest ? 0x1p128 : static_cast<double>(neighbour);
  const double half_gap = __builtin_fabs(neighbour_d - static_cast<double>(f)) / 2;
  const double beyond = __builtin_fabs(d) - half_gap;  // > 0: past the midpoint
  const double error = ExactError(y) * v.hi;
  if (beyond < -error) return f;
  if (beyond > error) return neighbour;
  const double midpoint = static_cast<double>(f) + (d > 0 ? half_gap : -half_gap);
  if (ExactPower(ax, y, midpoint)) return (f_bits & 1) == 0 ? f : neighbour;
  return beyond < 0 ? f : neighbour;
}

}  // namespace qv::detail
