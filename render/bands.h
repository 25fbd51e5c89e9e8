// How a frame's rectangle is cut into horizontal bands, one per host thread.
#pragma once

#include <cstdint>

#include "engine/tone_params.h"

namespace qv {

// Band `index` of `count` over `rect`: the full width, rows
// [top + h*index/count, top + h*(index+1)/count). The bands cover every row
// once, and their heights differ by at most one row. An index outside
// 0..count-1 or a count below 1 gives an empty band.
PixelRect BandOf(const PixelRect& rect, std::int32_t index, std::int32_t count);

}  // namespace qv
