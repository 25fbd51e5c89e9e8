#include "byte_source.h"

#include <array>
#include <cstdint>
#include <limits>

namespace qv::fuzz {
namespace {

template <class Real>
using Limits = std::numeric_limits<Real>;

// Values that have broken numeric code before: non-numbers, extremes, signed
// zeros, and the edges of the host's slider ranges (gamma 0.01 to 50, levels
// -100 to 100, the 0.000001 nudges).
template <class Real>
constexpr std::array<Real, 32> kAwkward = {
    Limits<Real>::quiet_NaN(),
    -Limits<Real>::quiet_NaN(),
    Limits<Real>::infinity(),
    -Limits<Real>::infinity(),
    Real(0),
    -Real(0),
    Limits<Real>::max(),
    Limits<Real>::lowest(),
    Limits<Real>::min(),
    Limits<Real>::denorm_min(),
    -Limits<Real>::denorm_min(),
    Limits<Real>::epsilon(),
    Real(1) + Limits<Real>::epsilon(),
    Real(1) - Limits<Real>::epsilon() / 2,
    Real(1),
    Real(-1),
    Real(0.5),
    Real(0.25),
    Real(0.75),
    Real(0.000001),
    Real(0.01),
    Real(0.009999),
    Real(50),
    Real(50.0001),
    Real(100),
    Real(-100),
    Real(1e30),
    Real(-1e30),
    Real(2147483648.0),
    Real(-2147483649.0),
    Real(65536),
    Real(32768.5),
};

constexpr std::array<std::int32_t, 12> kAwkwardInts = {0,
                                                       -1,
                                                       1,
                                                       2,
                                                       7,
                                                       255,
                                                       256,
                                                       32768,
                                                       32769,
                                                       65535,
                                                       std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max()};

template <class Real>
Real Pick(ByteSource& in, Real lo, Real hi) {
  const std::uint8_t selector = in.Byte();
  if (selector < 16) {  // raw bits: any value at all, NaN payloads included
    return in.Raw<Real>();
  }
  if (selector < 64) {
    return kAwkward<Real>[in.Byte() % kAwkward<Real>.size()];
  }
  const Real unit = static_cast<Real>(in.Raw<std::uint16_t>()) / Real(65535);
  return lo + (hi - lo) * unit;
}

}  // namespace

std::int32_t ByteSource::Int(std::int32_t lo, std::int32_t hi) {
  const std::uint8_t selector = Byte();
  if (selector < 16) return Raw<std::int32_t>();
  if (selector < 48) return kAwkwardInts[Byte() % kAwkwardInts.size()];
  return static_cast<std::int32_t>(Range(lo, hi));
}

double ByteSource::Double(double lo, double hi) { return Pick<double>(*this, lo, hi); }

float ByteSource::Float(float lo, float hi) { return Pick<float>(*this, lo, hi); }

}  // namespace qv::fuzz
