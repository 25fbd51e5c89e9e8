#pragma once

// A plain description of a pixel buffer; the passes need nothing else.

#include <cstdint>

#include "engine/pixel.h"

namespace qv {

// Borrowed buffer: `data` points at the first pixel of the top row, rows are
// `stride` pixels apart (the stride may exceed the width). A view handed to a
// pass as its input is only read.
struct ImageView {
  PixelDepth depth;
  void* data;
  std::int32_t width;
  std::int32_t height;
  std::int32_t stride;  // in pixels of `depth`, not bytes

  constexpr PixelRect Bounds() const { return {0, 0, width, height}; }
};

}  // namespace qv
