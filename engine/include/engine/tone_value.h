#pragma once

// The tone of a pixel: the one number, chosen by Base On, that the levels curve
// and the colour ramp turn into a colour and an opacity.
//
// Each Base On has a compile-time form (ToneValue8Of<B> and friends) for the
// pixel passes, and VisitBaseOn is the one place that turns a run-time Base On
// into that compile-time choice.

#include <cstdint>
#include <type_traits>

#include "engine/pixel.h"
#include "engine/tone_params.h"

namespace qv {

template <BaseOn B>
using BaseOnTag = std::integral_constant<BaseOn, B>;

// Calls fn(BaseOnTag<B>{}) for the Base On selected by `base`. Values outside
// 2 to 6 select Lightness.
template <class Fn>
constexpr decltype(auto) VisitBaseOn(BaseOn base, Fn&& fn) {
  switch (base) {
    case kBaseLuminance: return fn(BaseOnTag<kBaseLuminance>{});
    case kBaseRed: return fn(BaseOnTag<kBaseRed>{});
    case kBaseGreen: return fn(BaseOnTag<kBaseGreen>{});
    case kBaseBlue: return fn(BaseOnTag<kBaseBlue>{});
    case kBaseAlpha: return fn(BaseOnTag<kBaseAlpha>{});
    default: return fn(BaseOnTag<kBaseLightness>{});
  }
}

namespace detail {

// max and min as `a < b ? b : a`, so that the float forms are defined (if not
// meaningful) for NaN channels too.
template <class T>
constexpr T Max3(T a, T b, T c) {
  const T m = a < b ? b : a;
  return m < c ? c : m;
}

template <class T>
constexpr T Min3(T a, T b, T c) {
  const T m = b < a ? b : a;
  return c < m ? c : m;
}

// 16-bit channels above 32768 are outside the host's range; their tone is held
// at the last table index so that it can always index the 16-bit table.
constexpr std::int32_t ClampTone16(std::uint32_t tone) {
  return static_cast<std::int32_t>(tone > kMax16 ? kMax16 : tone);
}

}  // namespace detail

// The Base On modes whose tone is one channel as it stands.
constexpr bool ReadsOneChannel(BaseOn base) {
  return base == kBaseRed || base == kBaseGreen || base == kBaseBlue || base == kBaseAlpha;
}

// That channel, from anything with alpha, red, green and blue members: a
// pixel, or a step's channel planes in the SIMD passes.
template <BaseOn B, class Channels>
constexpr auto ChannelOf(const Channels& c) {
  static_assert(ReadsOneChannel(B));
  if constexpr (B == kBaseRed) {
    return c.red;
  } else if constexpr (B == kBaseGreen) {
    return c.green;
  } else if constexpr (B == kBaseBlue) {
    return c.blue;
  } else {
    return c.alpha;
  }
}

// 0 to 255.
template <BaseOn B>
constexpr std::int32_t ToneValue8Of(Pixel8 p) {
  const std::int32_t r = p.red, g = p.green, b = p.blue;
  if constexpr (B == kBaseLuminance) {
    return (76 * r + 150 * g + 29 * b) / 255;
  } else if constexpr (ReadsOneChannel(B)) {
    return ChannelOf<B>(p);
  } else {
    return (detail::Max3(r, g, b) + detail::Min3(r, g, b)) >> 1;
  }
}

// 0 to 32768 for every input, out-of-range channels included. The luminance
// sum cannot wrap: 32768 * 65535 fits in 32 unsigned bits.
template <BaseOn B>
constexpr std::int32_t ToneValue16Of(Pixel16 p) {
  const std::uint32_t r = p.red, g = p.green, b = p.blue;
  if constexpr (B == kBaseLuminance) {
    return detail::ClampTone16((9798u * r + 19235u * g + 3735u * b) >> 15);
  } else if constexpr (ReadsOneChannel(B)) {
    return detail::ClampTone16(ChannelOf<B>(p));
  } else {
    return detail::ClampTone16((detail::Max3(r, g, b) + detail::Min3(r, g, b)) >> 1);
  }
}

// Any float; single precision throughout, luminance products added left to
// right.
template <BaseOn B>
constexpr float ToneValueFloatOf(const PixelFloat& p) {
  if constexpr (B == kBaseLuminance) {
    return p.red * 0.299f + p.green * 0.587f + p.blue * 0.114f;
  } else if constexpr (ReadsOneChannel(B)) {
    return ChannelOf<B>(p);
  } else {
    return (detail::Max3(p.red, p.green, p.blue) + detail::Min3(p.red, p.green, p.blue)) * 0.5f;
  }
}

inline std::int32_t ToneValue8(BaseOn base, Pixel8 pixel) {
  return VisitBaseOn(base, [&](auto tag) { return ToneValue8Of<decltype(tag)::value>(pixel); });
}

inline std::int32_t ToneValue16(BaseOn base, Pixel16 pixel) {
  return VisitBaseOn(base, [&](auto tag) { return ToneValue16Of<decltype(tag)::value>(pixel); });
}

inline float ToneValueFloat(BaseOn base, const PixelFloat& pixel) {
  return VisitBaseOn(base, [&](auto tag) { return ToneValueFloatOf<decltype(tag)::value>(pixel); });
}

}  // namespace qv
