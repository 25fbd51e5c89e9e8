#pragma once

// Where a levelled tone falls on the colour ramp of a tone count: the two
// colours around it and the position between them. Shared by the lookup
// tables (double precision) and the float ramp (single precision), so the
// segment borders live in one place. Borders belong to the upper segment.

#include <array>

#include "engine/pixel.h"
#include "engine/tone_params.h"

namespace qv::detail {

template <class Real>
struct RampSegment {
  const PixelFloat* from;
  const PixelFloat* to;
  Real position;
};

// The ramp's colours from tone 0 to tone 1; the segments between them are of
// equal length.
template <ToneCount Tones>
constexpr int kRampSegments = Tones == kDuotone ? 1 : Tones == kTritone ? 2 : 4;

// The colours at the segment borders, from tone 0 to tone 1.
template <ToneCount Tones>
constexpr std::array<const PixelFloat*, kRampSegments<Tones> + 1> RampStops(const ToneParams& p) {
  static_assert(Tones == kDuotone || Tones == kTritone || Tones == kPentone);
  if constexpr (Tones == kDuotone) {
    return {&p.shadows, &p.highlights};
  } else if constexpr (Tones == kTritone) {
    return {&p.shadows, &p.midtones, &p.highlights};
  } else {
    return {&p.shadows, &p.darktones, &p.midtones, &p.brights, &p.highlights};
  }
}

// `t` lies in 0 to 1. Only for Duotone, Tritone and Pentone. The segment index
// counts the borders at or below t, and the position is
// segments * (t - lower border); the borders are exact binary fractions, so
// this is the same arithmetic as testing segment by segment, without branches.
template <ToneCount Tones, class Real>
constexpr RampSegment<Real> SegmentAt(const ToneParams& p, Real t) {
  constexpr int kSegments = kRampSegments<Tones>;
  const auto stops = RampStops<Tones>(p);
  int i = 0;
  for (int border = 1; border < kSegments; ++border) i += t >= Real(border) / kSegments ? 1 : 0;
  return {stops[i], stops[i + 1], Real(kSegments) * (t - Real(i) / kSegments)};
}

// Stands for any tone count outside 1 to 4: opacity as usual, colour black.
inline constexpr ToneCount kUncolouredTones = 0;

constexpr bool IsRampWithSegments(ToneCount tones) {
  return tones == kDuotone || tones == kTritone || tones == kPentone;
}

}  // namespace qv::detail
