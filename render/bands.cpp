#include "render/bands.h"

namespace qv {

PixelRect BandOf(const PixelRect& rect, std::int32_t index, std::int32_t count) {
  if (count < 1 || index < 0 || index >= count || rect.bottom <= rect.top) {
    return PixelRect{rect.left, rect.top, rect.right, rect.top};
  }
  // In 64 bits: the height times the index can pass 2^31 on tall frames
  // cut into many bands, and the quotient always fits back.
  const std::int64_t h = static_cast<std::int64_t>(rect.bottom) - rect.top;
  const auto boundary = [&](std::int64_t i) {
    return static_cast<std::int32_t>(rect.top + h * i / count);
  };
  return PixelRect{rect.left, boundary(index), rect.right, boundary(index + 1)};
}

}  // namespace qv
