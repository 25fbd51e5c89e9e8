// The float pass: the ramp per pixel, single-precision arithmetic, nothing
// clamped.

#include <cstdint>

#include "engine/tone_mapper.h"
#include "pass_frame.h"
#include "ramp_kernels.h"

namespace qv {
namespace {

template <BaseOn B, bool Blend, class Ramp>
void FloatRow(const PixelFloat* __restrict src, PixelFloat* __restrict dst, std::int32_t columns,
              const ToneMapper& mapper, Ramp ramp, float u) {
  const float keep = 1.0f - u;
  for (std::int32_t x = 0; x < columns; ++x) {
    const PixelFloat s = src[x];
    const PixelFloat p = ramp(mapper, ToneValueFloatOf<B>(s));
    PixelFloat d = p;
    d.alpha = p.alpha * s.alpha;
    if constexpr (Blend) {
      d.alpha = keep * d.alpha + u * s.alpha;
      d.red = u * s.red + keep * p.red;
      d.green = u * s.green + keep * p.green;
      d.blue = u * s.blue + keep * p.blue;
    }
    dst[x] = d;
  }
}

}  // namespace

void ToneMapper::ProcessFloat(const ImageView& input, const ImageView& output, const PixelRect& rect) const {
  const float u = static_cast<float>(settings_.params.blend);
  const bool blend = static_cast<double>(u) > 0.000001;
  const PixelRect clipped = detail::ClipToView(rect, input);
  if (clipped.Empty()) return;
  VisitBaseOn(settings_.params.baseOn, [&](auto base) {
    constexpr BaseOn kBase = decltype(base)::value;
    detail::VisitRamp(ramp_, [&](auto ramp) {
      if (blend) {
        detail::ForEachRow<PixelFloat>(input, output, clipped,
                                       [&](const PixelFloat* src, PixelFloat* dst, std::int32_t n) {
                                         FloatRow<kBase, true>(src, dst, n, *this, ramp, u);
                                       });
      } else {
        detail::ForEachRow<PixelFloat>(input, output, clipped,
                                       [&](const PixelFloat* src, PixelFloat* dst, std::int32_t n) {
                                         FloatRow<kBase, false>(src, dst, n, *this, ramp, u);
                                       });
      }
    });
  });
}

}  // namespace qv
