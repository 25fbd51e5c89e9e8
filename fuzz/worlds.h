#pragma once

// Host worlds with known contents, for the entry fuzzer and the reliability
// tests that drive the effect through the simulated host.

#include "engine/pixel.h"
#include "pixels.h"
#include "simhost/world.h"

namespace qv::fuzz {

// The depth the effect renders a host pixel format at, from its pixel size
// (8-bit for a format the host does not make).
PixelDepth DepthOf(PF_PixelFormat format);

// A world of the given size, format and row padding whose pixels (not the
// padding) come from `source`.
simhost::World MakeWorld(A_long width, A_long height, PF_PixelFormat format, A_long row_padding_bytes,
                         const PixelSource& source);

}  // namespace qv::fuzz
