#include "worlds.h"

#include <cstring>
#include <vector>

namespace qv::fuzz {

PixelDepth DepthOf(PF_PixelFormat format) {
  switch (simhost::BytesPerPixel(format)) {
    case 8:
      return kDepth16;
    case 16:
      return kDepthFloat;
    default:
      return kDepth8;
  }
}

simhost::World MakeWorld(A_long width, A_long height, PF_PixelFormat format, A_long row_padding_bytes,
                         const PixelSource& source) {
  simhost::World world(width, height, format, row_padding_bytes);
  const std::size_t row_bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(world.bytes_per_pixel());
  std::vector<std::uint8_t> pixels(row_bytes * static_cast<std::size_t>(height));
  if (pixels.empty()) return world;
  FillPixels(pixels, DepthOf(format), source);
  auto* data = reinterpret_cast<std::uint8_t*>(world.effect_world()->data);
  for (A_long y = 0; y < height; ++y) {
    std::memcpy(data + static_cast<std::size_t>(y) * static_cast<std::size_t>(world.rowbytes()),
                pixels.data() + static_cast<std::size_t>(y) * row_bytes, row_bytes);
  }
  return world;
}

}  // namespace qv::fuzz
