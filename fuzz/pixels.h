#pragma once

// Pixel contents for fuzzed worlds: either raw bytes repeated (every bit
// pattern: NaN and infinite floats, 16-bit channels above 32768) or ordinary
// pixels drawn from a seed, with a few out-of-range ones mixed in.

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "byte_source.h"
#include "engine/pixel.h"

namespace qv::fuzz {

// A fuzzed world or view holds about this many pixels at most: either side
// may reach a few hundred (past every vector width, rows enough for every
// band and thread), but not both, so that a run's time goes to cases rather
// than to filling and comparing large buffers.
inline constexpr std::int32_t kMaxPixels = 1024;

// `extent`, cut to what keeps a world `other` wide (or high) within kMaxPixels.
inline std::int32_t Beside(std::int32_t extent, std::int32_t other) {
  return std::min(extent, kMaxPixels / std::max(other, 1));
}

struct PixelSource {
  bool raw = false;
  std::uint64_t seed = 0;
  std::vector<std::uint8_t> bytes;  // for raw: repeated to fill; none gives zeros

  // Reads the choice, the seed and (up to a bound) the rest of the input.
  static PixelSource Decode(ByteSource& in);
};

// Fills `out`, a run of pixels of `depth` (an unknown depth gets random bytes).
void FillPixels(std::span<std::uint8_t> out, PixelDepth depth, const PixelSource& source);

}  // namespace qv::fuzz
