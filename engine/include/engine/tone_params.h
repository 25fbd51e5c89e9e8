#pragma once

// The effect's settings for one frame, as carried from the parameters to the
// pixels.

#include <cstdint>
#include <type_traits>

#include "engine/pixel.h"

namespace qv {

// "Base On" popup value, counting from 1. Any value outside 2 to 6 selects
// Lightness.
using BaseOn = std::int32_t;
inline constexpr BaseOn kBaseLightness = 1;
inline constexpr BaseOn kBaseLuminance = 2;
inline constexpr BaseOn kBaseRed = 3;
inline constexpr BaseOn kBaseGreen = 4;
inline constexpr BaseOn kBaseBlue = 5;
inline constexpr BaseOn kBaseAlpha = 6;

// "Tones" popup value, counting from 1.
using ToneCount = std::int32_t;
inline constexpr ToneCount kMonotone = 1;
inline constexpr ToneCount kDuotone = 2;
inline constexpr ToneCount kTritone = 3;
inline constexpr ToneCount kPentone = 4;

// Snapshot of the parameters for one frame. It is stored byte for byte in a
// host memory handle, so its layout is part of the pre-render contract: keep
// the field order, and keep it trivially copyable and standard-layout.
struct ToneParams {
  BaseOn baseOn;
  ToneCount tones;
  PixelFloat highlights;  // ramp colour at levelled tone 1
  PixelFloat brights;     // at 0.75 (Pentone)
  PixelFloat midtones;    // at 0.5; the only colour of Monotone
  PixelFloat darktones;   // at 0.25 (Pentone)
  PixelFloat shadows;     // at 0
  double inputBlack;
  double inputWhite;
  double gamma;
  double outputBlack;
  double outputWhite;
  double highlightsOpacity;  // fraction, opacity at tone 1
  double shadowsOpacity;     // fraction, opacity at tone 0
  double blend;              // fraction, weight of the source in the final mix
};

static_assert(std::is_trivially_copyable_v<ToneParams>);
static_assert(std::is_standard_layout_v<ToneParams>);

// Everything a ToneMapper is built from: the frame's depth and its settings.
struct ToneMapperSettings {
  PixelDepth depth;
  ToneParams params;
};

static_assert(std::is_trivially_copyable_v<ToneMapperSettings>);
static_assert(std::is_standard_layout_v<ToneMapperSettings>);

}  // namespace qv
