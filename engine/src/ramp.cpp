#include "engine/ramp.h"

#include <cstddef>

#include "pass_kernels.h"
#include "ramp_kernels.h"
#include "ramp_segments.h"

namespace qv {
namespace {

PixelFloat RampUncoloured(const ToneMapper& mapper, float tone) {
  return detail::RampOf<detail::kUncolouredTones>(mapper, tone);
}

}  // namespace

PixelFloat RampMonotone(const ToneMapper& mapper, float tone) { return detail::RampOf<kMonotone>(mapper, tone); }
PixelFloat RampDuotone(const ToneMapper& mapper, float tone) { return detail::RampOf<kDuotone>(mapper, tone); }
PixelFloat RampTritone(const ToneMapper& mapper, float tone) { return detail::RampOf<kTritone>(mapper, tone); }
PixelFloat RampPentone(const ToneMapper& mapper, float tone) { return detail::RampOf<kPentone>(mapper, tone); }

namespace detail {
namespace {

template <ToneCount Tones>
RampColours ColoursOf(const ToneParams& p) {
  RampColours c{};
  auto put = [&](std::size_t i, const PixelFloat& colour) {
    c.stops[i][0] = colour.red, c.stops[i][1] = colour.green, c.stops[i][2] = colour.blue;
  };
  if constexpr (Tones == kMonotone) {
    put(0, p.midtones);
  } else {
    const auto stops = RampStops<Tones>(p);
    for (std::size_t i = 0; i < stops.size(); ++i) put(i, *stops[i]);
    for (std::size_t i = 0; i + 1 < stops.size(); ++i) {
      for (int ch = 0; ch < 3; ++ch) c.spans[i][ch] = c.stops[i + 1][ch] - c.stops[i][ch];
    }
  }
  return c;
}

}  // namespace

RampColours MakeRampColours(const ToneParams& params) {
  switch (params.tones) {
    case kMonotone: return ColoursOf<kMonotone>(params);
    case kDuotone: return ColoursOf<kDuotone>(params);
    case kTritone: return ColoursOf<kTritone>(params);
    case kPentone: return ColoursOf<kPentone>(params);
    default: return {};
  }
}

}  // namespace detail

RampFunction SelectRamp(ToneCount tones) {
  switch (tones) {
    case kMonotone: return &RampMonotone;
    case kDuotone: return &RampDuotone;
    case kTritone: return &RampTritone;
    case kPentone: return &RampPentone;
    default: return &RampUncoloured;
  }
}

}  // namespace qv
