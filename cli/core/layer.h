#pragma once

// Between rasters (file layout) and the host's worlds (alpha, red, green, blue).

#include "raster.h"
#include "simhost/world.h"

namespace qv::cli {

// Bytes of one host pixel (alpha, red, green, blue) at `depth`.
std::size_t HostPixelBytes(Depth depth);

// The world the host hands the effect for `raster`, in the raster's depth.
// Grey fills red, green and blue; a layout without alpha gets alpha at the
// channel maximum. 16-bit samples go from 0..65535 to the host's 0..32768.
simhost::World ToWorld(const Raster& raster);

// What a rendered world holds that a narrower layout would lose.
ResultNeeds Inspect(const simhost::World& world);

// A rendered world as a raster of `channels` (1 to 4) in the world's depth.
// Where a pixel's colour is not grey and the layout is, grey is its Rec. 601
// luma (0.299 R + 0.587 G + 0.114 B, rounded at 8 and 16 bits). 16-bit samples
// go from the host's 0..32768 to 0..65535.
Raster FromWorld(const simhost::World& world, int channels);

}  // namespace qv::cli
