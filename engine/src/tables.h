#pragma once

// Lookup tables of finished pixels for the integer depths, indexed by the tone
// value of that depth: 256 entries at 8 bits, 32769 (0 to 32768) at 16 bits.

#include "engine/levels.h"
#include "engine/pixel.h"
#include "engine/tone_mapper.h"
#include "engine/tone_params.h"

namespace qv::detail {

struct PassKernels;

// Both may throw std::bad_alloc. `fast` is a SIMD variant's kernels, which
// fill the same entries faster, or null for the plain build.
Table<Pixel8> BuildTable8(const ToneParams& params, const LevelsCoefficients& levels,
                          const PassKernels* fast = nullptr);
// The table's planes (one element).
Table<TablePlanes8> PlanesOf(const Table<Pixel8>& table);
Table<Pixel16> BuildTable16(const ToneParams& params, const LevelsCoefficients& levels,
                            const PassKernels* fast = nullptr);

}  // namespace qv::detail
