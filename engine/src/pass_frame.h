#pragma once

// What the three pixel passes share: the clip of the rectangle to the input,
// and rows addressed as first pixel + y * stride.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/image_view.h"
#include "engine/pixel.h"

namespace qv::detail {

// The rectangle clipped to the view's bounds. The result is empty when the
// rectangle misses the view; comparisons rather than differences decide that,
// so extreme coordinates cannot overflow.
inline PixelRect ClipToView(const PixelRect& rect, const ImageView& view) {
  return {std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, view.width),
          std::min(rect.bottom, view.height)};
}

template <class Pixel>
Pixel* RowOf(const ImageView& view, std::int32_t y) {
  return static_cast<Pixel*>(view.data) + static_cast<std::ptrdiff_t>(y) * view.stride;
}

// Calls row(source, destination, columns) for each row of the clipped
// rectangle, top to bottom, with both pointers at its left column.
template <class Pixel, class RowFn>
void ForEachRow(const ImageView& input, const ImageView& output, const PixelRect& clipped, RowFn&& row) {
  const std::int32_t columns = clipped.right - clipped.left;
  for (std::int32_t y = clipped.top; y < clipped.bottom; ++y) {
    row(RowOf<const Pixel>(input, y) + clipped.left, RowOf<Pixel>(output, y) + clipped.left, columns);
  }
}

}  // namespace qv::detail
