#pragma once

// Pixel layouts shared with the host, the float pixel colours are held in, and
// the conversions between them.

#include <cstdint>
#include <limits>

namespace qv {

// The effect's exact rounding rules assume IEEE 754 arithmetic: NaN and the
// infinities are values here, and overflowing float conversions give infinity.
static_assert(std::numeric_limits<float>::is_iec559);
static_assert(std::numeric_limits<double>::is_iec559);

// Channel format of a frame. The host may hand over a value outside the three
// known ones; such frames are left untouched.
using PixelDepth = std::int32_t;
inline constexpr PixelDepth kDepth8 = 0;
inline constexpr PixelDepth kDepth16 = 1;
inline constexpr PixelDepth kDepthFloat = 2;

// Channel order in memory is alpha, red, green, blue for every depth.
struct Pixel8 {
  std::uint8_t alpha, red, green, blue;
};

// 16-bit channels run from 0 to 32768, not 65535.
struct Pixel16 {
  std::uint16_t alpha, red, green, blue;
};

// Float channels are nominally 0 to 1 and never clamped.
struct PixelFloat {
  float alpha = 0, red = 0, green = 0, blue = 0;
};

inline constexpr std::uint32_t kMax8 = 255;
inline constexpr std::uint32_t kMax16 = 32768;

// Each channel divided by 255 in single precision.
PixelFloat FromPixel8(Pixel8 pixel);

// Each channel times 255 (or 32768) in single precision, clamped to the channel
// range and truncated toward zero, with no rounding term. NaN gives 0 and the
// infinities clamp like any other value.
Pixel8 ToPixel8(PixelFloat pixel);
Pixel16 ToPixel16(PixelFloat pixel);

// Right and bottom are exclusive; the host's rectangle layout.
struct PixelRect {
  std::int32_t left, top, right, bottom;

  constexpr bool Empty() const { return !(left < right && top < bottom); }
};

}  // namespace qv
