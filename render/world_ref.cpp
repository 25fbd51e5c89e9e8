#include "render/world_ref.h"

namespace qv {

WorldRef::WorldRef(const PF_EffectWorld& world, PixelDepth depth)
    : world_(&world),
      view_{depth, world.data, world.width, world.height,
            PixelBytes(depth) > 0 ? world.rowbytes / PixelBytes(depth) : 0} {}

bool IsUsableWorld(const PF_EffectWorld& world, PixelDepth depth) {
  const std::int64_t pixel_bytes = PixelBytes(depth);
  if (pixel_bytes == 0 || world.width < 0 || world.height < 0) return false;
  if (world.width == 0 || world.height == 0) return true;
  // The views step through rows in whole pixels: rows that do not start on a
  // pixel boundary would be walked at the wrong pitch, and wider pixels read
  // misaligned.
  return world.data != nullptr && world.rowbytes >= 0 && world.rowbytes % pixel_bytes == 0 &&
         static_cast<std::int64_t>(world.rowbytes) >= pixel_bytes * world.width;
}

}  // namespace qv
