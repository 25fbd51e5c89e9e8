#pragma once

// The float ramps as inline templates, so the float pass can inline the ramp
// of the frame's tone count; the public RampFunctions are thin wrappers.

#include <cmath>

#include "engine/pow.h"
#include "engine/ramp.h"
#include "engine/tone_mapper.h"
#include "ramp_segments.h"

namespace qv::detail {

// Opacity from the tone before levels; the line in double, clamped to 0 to 1.
// A NaN tone (a NaN source pixel) gives a NaN opacity, which is a float like
// any other here.
inline float RampOpacity(const ToneMapper& mapper, float tone) {
  const double v = static_cast<double>(tone) * mapper.levels().opacityRange +
                   mapper.settings().params.shadowsOpacity;
  if (v < 0.0) return 0.0f;
  if (v > 1.0) return 1.0f;
  return static_cast<float>(v);
}

inline float ClampUnit(float tone) {
  if (tone < 0.0f) return 0.0f;
  if (tone > 1.0f) return 1.0f;
  return tone;
}

// Single precision, in the order (to - from), then * position, then + from.
inline void SetColour(PixelFloat& out, const RampSegment<float>& seg) {
  out.red = (seg.to->red - seg.from->red) * seg.position + seg.from->red;
  out.green = (seg.to->green - seg.from->green) * seg.position + seg.from->green;
  out.blue = (seg.to->blue - seg.from->blue) * seg.position + seg.from->blue;
}

inline void SetColour(PixelFloat& out, const PixelFloat& colour) {
  out.red = colour.red;
  out.green = colour.green;
  out.blue = colour.blue;
}

// The colour of a levelled tone that is not a number. The ramp's tests
// (below 0, at most 1, otherwise above) send it above the ramp, to the
// Highlights colour: a NaN pixel, or an infinite tone times a zero scale.
// Two cases have no real curve to follow, and there it takes the Shadows
// colour, as the tables store it: float levels that are not all finite (every
// levelled tone is then NaN), and a negative tone raised to an exponent that
// is not a whole number.
inline bool UnlevelledGivesShadows(const LevelsCoefficients& c, float tone) {
  return !FloatLevelsAreFinite(c) || (tone < 0.0f && c.singlePower.Fractional());
}

template <ToneCount Tones>
inline PixelFloat RampOf(const ToneMapper& mapper, float tone) {
  const ToneParams& p = mapper.settings().params;
  PixelFloat out;
  if constexpr (Tones == kMonotone) {
    SetColour(out, p.midtones);
    out.alpha = RampOpacity(mapper, tone);
  } else {
    if constexpr (IsRampWithSegments(Tones)) {
      const LevelsCoefficients& c = mapper.levels();
      const float t = PowF(tone, c.singlePower) * c.singleScale + c.singleOffset;
      if (t < 0.0f) {
        SetColour(out, p.shadows);
      } else if (t <= 1.0f) {
        SetColour(out, SegmentAt<Tones>(p, t));
      } else if (t > 1.0f || !UnlevelledGivesShadows(c, tone)) {
        SetColour(out, p.highlights);
      } else {
        SetColour(out, p.shadows);
      }
    }
    out.alpha = RampOpacity(mapper, ClampUnit(tone));
  }
  return out;
}

template <ToneCount Tones>
struct InlineRamp {
  PixelFloat operator()(const ToneMapper& mapper, float tone) const { return RampOf<Tones>(mapper, tone); }
};

// The tone count of an inline ramp; 0 for a plain function pointer.
template <class Ramp>
inline constexpr ToneCount kInlineRampTones = 0;
template <ToneCount Tones>
inline constexpr ToneCount kInlineRampTones<InlineRamp<Tones>> = Tones;

// Calls fn with an inlinable functor for the known ramps, or with the function
// pointer itself for any other.
template <class Fn>
void VisitRamp(RampFunction ramp, Fn&& fn) {
  if (ramp == &RampMonotone) {
    fn(InlineRamp<kMonotone>{});
  } else if (ramp == &RampDuotone) {
    fn(InlineRamp<kDuotone>{});
  } else if (ramp == &RampTritone) {
    fn(InlineRamp<kTritone>{});
  } else if (ramp == &RampPentone) {
    fn(InlineRamp<kPentone>{});
  } else {
    fn(ramp);
  }
}

}  // namespace qv::detail
