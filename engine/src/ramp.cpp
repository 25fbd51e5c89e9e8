#include "engine/ramp.h"

#include "ramp_kernels.h"

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
