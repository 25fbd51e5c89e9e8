// A borrowed view of one host world, as the tone engine needs to see it.
#pragma once

#include <cstdint>

#include "engine/image_view.h"
#include "engine/tone_params.h"
#include "host_api/ae_all.h"

namespace qv {

// Bytes per pixel of a depth; 0 for a depth the effect does not know.
constexpr std::int32_t PixelBytes(PixelDepth depth) {
  switch (depth) {
    case kDepth8: return static_cast<std::int32_t>(sizeof(PF_Pixel8));
    case kDepth16: return static_cast<std::int32_t>(sizeof(PF_Pixel16));
    case kDepthFloat: return static_cast<std::int32_t>(sizeof(PF_PixelFloat));
    default: return 0;
  }
}

// The view never disposes of or checks in the world it looks at; it is made
// once per frame and only read afterwards, also from the band threads.
class WorldRef {
 public:
  WorldRef(const PF_EffectWorld& world, PixelDepth depth);

  const PF_EffectWorld& World() const { return *world_; }
  PixelDepth Depth() const { return view_.depth; }
  std::int32_t Width() const { return view_.width; }
  std::int32_t Height() const { return view_.height; }
  std::int32_t Stride() const { return view_.stride; }
  PixelRect Bounds() const { return view_.Bounds(); }
  const ImageView& View() const { return view_; }

 private:
  const PF_EffectWorld* world_;
  ImageView view_;
};

// True when the world can be walked safely at this depth: a known depth,
// non-negative size, rows at least as long as the pixels they hold and a whole
// number of pixels long, and pixels wherever the world claims to have some.
// The rows may run down through memory or, with negative rowbytes, up.
bool IsUsableWorld(const PF_EffectWorld& world, PixelDepth depth);

}  // namespace qv
