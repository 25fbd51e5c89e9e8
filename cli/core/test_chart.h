#pragma once

// The built-in test chart the demo renders when it is given no image.

#include <cstdint>

#include "raster.h"

namespace qv::cli {

// An 8-bit RGBA chart (straight alpha), in bands from top to bottom: a grey
// ramp from black to white, a hue sweep that darkens downward, a colour ramp
// whose alpha rises from left to right, and a soft landscape-like gradient
// (sky, sun glow, hills) standing in for a photograph.
Image<std::uint8_t> MakeTestChart(std::int32_t width, std::int32_t height);

}  // namespace qv::cli
