#include "render/world_ref.h"

#include <cstddef>
#include <type_traits>

#include "engine/pixel.h"

namespace qv {
namespace {

// The passes lay the engine's pixels over the host's worlds: each must be the
// host's pixel of its depth, member for member.
template <class Engine, class Host>
constexpr bool SameLayout() {
  return sizeof(Engine) == sizeof(Host) && alignof(Engine) == alignof(Host) &&
         std::is_standard_layout_v<Engine> && std::is_trivially_copyable_v<Engine> &&
         offsetof(Engine, alpha) == offsetof(Host, alpha) && offsetof(Engine, red) == offsetof(Host, red) &&
         offsetof(Engine, green) == offsetof(Host, green) && offsetof(Engine, blue) == offsetof(Host, blue) &&
         sizeof(Engine::alpha) == sizeof(Host::alpha) && sizeof(Engine::red) == sizeof(Host::red) &&
         sizeof(Engine::green) == sizeof(Host::green) && sizeof(Engine::blue) == sizeof(Host::blue);
}
static_assert(SameLayout<Pixel8, PF_Pixel8>());
static_assert(SameLayout<Pixel16, PF_Pixel16>());
static_assert(SameLayout<PixelFloat, PF_PixelFloat>());

}  // namespace

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
  // misaligned. Negative rowbytes are a world stored bottom-up (its first
  // pixel on the last row in memory); its rows are as long as their magnitude.
  const std::int64_t rowbytes = world.rowbytes;
  const std::int64_t pitch = rowbytes < 0 ? -rowbytes : rowbytes;
  return world.data != nullptr && rowbytes % pixel_bytes == 0 && pitch >= pixel_bytes * world.width;
}

}  // namespace qv
