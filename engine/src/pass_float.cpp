// The float pass: the ramp per pixel, single-precision arithmetic, nothing
// clamped. The plain rows here are the reference; a SIMD variant's rows
// (simd_rows.h) do the same operations and leave the row's end to them.

#include <cstdint>
#include <type_traits>

#include "engine/tone_mapper.h"
#include "pass_frame.h"
#include "pass_kernels.h"
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

// The ramp in plain data for the SIMD rows.
detail::FloatRampConstants FloatConstants(const ToneMapper& mapper, float u) {
  const LevelsCoefficients& c = mapper.levels();
  detail::FloatRampConstants k{};
  k.colours = detail::MakeRampColours(mapper.settings().params);
  k.power = c.singlePower;
  k.scale = c.singleScale;
  k.offset = c.singleOffset;
  k.identityPower = c.singleExponent == 1.0f;
  k.unlevelledShadows = !FloatLevelsAreFinite(c);
  k.unlevelledShadowsBelowZero = c.singlePower.Fractional();
  k.opacityRange = c.opacityRange;
  k.shadowsOpacity = mapper.settings().params.shadowsOpacity;
  k.blend = u;
  k.keep = 1.0f - u;
  return k;
}

}  // namespace

void ToneMapper::ProcessFloat(const ImageView& input, const ImageView& output, const PixelRect& rect,
                              const detail::PassKernels* streaming) const {
  const float u = static_cast<float>(settings_.params.blend);
  const bool blend = static_cast<double>(u) > 0.000001;
  const PixelRect clipped = detail::ClipToView(rect, input);
  if (clipped.Empty()) return;
  VisitBaseOn(settings_.params.baseOn, [&](auto base) {
    constexpr BaseOn kBase = decltype(base)::value;
    detail::VisitRamp(ramp_, [&](auto ramp) {
      constexpr ToneCount kTones = detail::kInlineRampTones<decltype(ramp)>;
      // The SIMD rows know the four ramps; any other runs on the plain rows.
      detail::RowFloat fastRow = nullptr;
      detail::FloatRampConstants constants{};
      if constexpr (kTones != 0) {
        if (kernels_ != nullptr) {
          fastRow = kernels_->rowFloat[kBase - 1][kTones - 1][blend];
          constants = FloatConstants(*this, u);
        }
      }
      auto rows = [&](auto blendTag) {
        constexpr bool kBlend = decltype(blendTag)::value;
        detail::ForEachRow<PixelFloat>(input, output, clipped, streaming,
                                       [&](const PixelFloat* src, PixelFloat* dst, std::int32_t n) {
                                         const std::int32_t done =
                                             fastRow != nullptr ? fastRow(src, dst, n, constants) : 0;
                                         FloatRow<kBase, kBlend>(src + done, dst + done, n - done, *this, ramp, u);
                                       });
      };
      if (blend) {
        rows(std::true_type{});
      } else {
        rows(std::false_type{});
      }
    });
  });
}

}  // namespace qv
