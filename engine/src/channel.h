#pragma once

// Storing a real number into an integer channel: below 0 (or NaN) gives 0,
// above the maximum (or +infinity) gives the maximum, anything else is
// truncated toward zero. One rule for the pixel conversions, the table entries
// and the blend weights, so that no value ever reaches an out-of-range
// float-to-integer conversion.

#include <cstdint>

namespace qv::detail {

template <std::uint32_t Max, class Real>
constexpr std::uint32_t ClampTruncate(Real value) {
  if (!(value >= Real(0))) return 0;
  if (value > Real(Max)) return Max;
  return static_cast<std::uint32_t>(value);
}

}  // namespace qv::detail
