#pragma once

// 16-bit files count 0 to 65535; the host's 16-bit pixels count 0 to 32768.
// Both directions round to the nearest step, so a host value survives the trip
// through a file unchanged, and a file value comes back at most one step off.

#include <cstdint>

namespace qv::cli {

inline constexpr std::uint32_t kFileMax16 = 65535;
inline constexpr std::uint32_t kHostMax16 = 32768;

// round(v * 32768 / 65535). The exact quotient never lies halfway between two
// integers (the doubled numerator is even, the doubled divisor odd), so there
// is no tie to break.
constexpr std::uint16_t FileToHost16(std::uint16_t v) {
  return static_cast<std::uint16_t>((std::uint64_t{v} * 2 * kHostMax16 + kFileMax16) / (2 * kFileMax16));
}

// round(h * 65535 / 32768), halves rounded up (only h = 16384 has one).
// Values above the host's range count as 32768.
constexpr std::uint16_t HostToFile16(std::uint16_t h) {
  const std::uint32_t clamped = h > kHostMax16 ? kHostMax16 : h;
  return static_cast<std::uint16_t>((clamped * kFileMax16 + kHostMax16 / 2) / kHostMax16);
}

}  // namespace qv::cli
