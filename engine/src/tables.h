#pragma once

// Lookup tables of finished pixels for the integer depths, indexed by the tone
// value of that depth: 256 entries at 8 bits, 32769 (0 to 32768) at 16 bits.

#include <vector>

#include "engine/levels.h"
#include "engine/pixel.h"
#include "engine/tone_params.h"

namespace qv::detail {

// Both may throw std::bad_alloc.
std::vector<Pixel8> BuildTable8(const ToneParams& params, const LevelsCoefficients& levels);
std::vector<Pixel16> BuildTable16(const ToneParams& params, const LevelsCoefficients& levels);

}  // namespace qv::detail
