#pragma once

// What the three pixel passes share: the clip of the rectangle to the input,
// and rows addressed as first pixel + y * stride.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/image_view.h"
#include "engine/pixel.h"
#include "pass_kernels.h"

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

// What a streamed pass tones at a time into a buffer that stays in the
// first-level cache before its streaming stores copy it out: a whole number of
// every variant's vectors, so that only a row's last piece has a row end.
inline constexpr std::size_t kStreamPieceBytes = 4096;

// Calls row(source, destination, columns) for each row of the clipped
// rectangle, top to bottom, with both pointers at its left column. With
// `streaming` (a variant's kernels) each row is toned piece by piece into a
// buffer of the cache and copied out with those kernels' streaming stores:
// the kernels stay as they are, and the output goes to memory without being
// read first.
template <class Pixel, class RowFn>
void ForEachRow(const ImageView& input, const ImageView& output, const PixelRect& clipped,
                const PassKernels* streaming, RowFn&& row) {
  const std::int32_t columns = clipped.right - clipped.left;
  if (streaming == nullptr) {
    for (std::int32_t y = clipped.top; y < clipped.bottom; ++y) {
      row(RowOf<const Pixel>(input, y) + clipped.left, RowOf<Pixel>(output, y) + clipped.left, columns);
    }
    return;
  }
  constexpr std::int32_t kPiece = static_cast<std::int32_t>(kStreamPieceBytes / sizeof(Pixel));
  alignas(64) Pixel piece[kPiece];
  for (std::int32_t y = clipped.top; y < clipped.bottom; ++y) {
    const Pixel* src = RowOf<const Pixel>(input, y) + clipped.left;
    Pixel* dst = RowOf<Pixel>(output, y) + clipped.left;
    for (std::int32_t x = 0; x < columns; x += kPiece) {
      const std::int32_t n = std::min(kPiece, columns - x);
      row(src + x, piece, n);
      streaming->streamCopy(dst + x, piece, static_cast<std::size_t>(n) * sizeof(Pixel));
    }
  }
  streaming->storeFence();
}

}  // namespace qv::detail
