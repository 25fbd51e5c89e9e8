#pragma once

#include <cstdint>
#include <vector>

#include "engine/pixel.h"

namespace qv::demo {

// An 8-bit test card, rows top to bottom: a grey ramp, a hue sweep darkening
// downward, and a grey ramp (downward) whose alpha rises from left to right.
struct TestImage {
  std::int32_t width, height;
  std::vector<Pixel8> pixels;  // rows of `width` pixels, no padding
};

TestImage MakeTestImage(std::int32_t width);

}  // namespace qv::demo
