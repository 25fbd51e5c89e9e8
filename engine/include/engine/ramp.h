#pragma once

// The float colour ramps: a float tone in, the opacity (alpha) and the ramp
// colour (red, green, blue) out, in single precision.

#include "engine/pixel.h"
#include "engine/tone_params.h"

namespace qv {

class ToneMapper;

using RampFunction = PixelFloat (*)(const ToneMapper&, float);

// Midtones at every tone. Opacity from the unclamped tone, then clamped.
PixelFloat RampMonotone(const ToneMapper& mapper, float tone);
// Shadows to Highlights.
PixelFloat RampDuotone(const ToneMapper& mapper, float tone);
// Shadows, Midtones, Highlights.
PixelFloat RampTritone(const ToneMapper& mapper, float tone);
// Shadows, Darktones, Midtones, Brights, Highlights.
PixelFloat RampPentone(const ToneMapper& mapper, float tone);

// The ramp of a tone count. A count outside 1 to 4 (never sent by the host)
// gets a ramp with the usual opacity and a black colour, the same pixels the
// lookup tables hold for such a count.
RampFunction SelectRamp(ToneCount tones);

}  // namespace qv
