// The 8-bit and 16-bit passes: one table load per pixel gives the whole output
// pixel, then integer arithmetic rescales its alpha and, when blending, mixes
// the source back in. No floating point per pixel. The plain rows here are the
// reference; a SIMD variant's rows (simd_rows.h) do the same per pixel and
// leave the row's end to them.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "channel.h"
#include "engine/tone_mapper.h"
#include "pass_kernels.h"
#include "pass_frame.h"

namespace qv {
namespace {

template <class Pixel>
struct IntegerDepth;

template <>
struct IntegerDepth<Pixel8> {
  static constexpr std::uint32_t kMax = kMax8;
  // An exact division by 255, not a shift by 8.
  static constexpr std::uint32_t Unit(std::uint32_t product) { return product / 255u; }
  template <BaseOn B>
  static std::int32_t Tone(Pixel8 p) { return ToneValue8Of<B>(p); }
};

template <>
struct IntegerDepth<Pixel16> {
  static constexpr std::uint32_t kMax = kMax16;
  // Unsigned, so the shift is logical. No sum here can wrap: the largest,
  // 65535 * 32768 for an out-of-range source channel, is below 2^31.
  static constexpr std::uint32_t Unit(std::uint32_t product) { return product >> 15; }
  template <BaseOn B>
  static std::int32_t Tone(Pixel16 p) { return ToneValue16Of<B>(p); }
};

// Blend with Original as a whole-number weight out of kMax; NaN gives 0.
template <class Pixel>
std::uint32_t BlendWeight(double blend) {
  constexpr std::uint32_t kMax = IntegerDepth<Pixel>::kMax;
  return detail::ClampTruncate<kMax>(blend * kMax + 0.5);
}

template <class Pixel, BaseOn B, bool Blend>
void IntegerRow(const Pixel* __restrict src, Pixel* __restrict dst, std::int32_t columns,
                const Pixel* __restrict table, std::uint32_t k) {
  using Depth = IntegerDepth<Pixel>;
  using Channel = decltype(Pixel::alpha);
  const std::uint32_t keep = Depth::kMax - k;
  for (std::int32_t x = 0; x < columns; ++x) {
    const Pixel s = src[x];
    const Pixel p = table[Depth::template Tone<B>(s)];
    std::uint32_t a = Depth::Unit(std::uint32_t{s.alpha} * p.alpha);
    if (a > Depth::kMax) a = Depth::kMax;
    Pixel d = p;
    if constexpr (Blend) {
      d.alpha = static_cast<Channel>(Depth::Unit(std::uint32_t{s.alpha} * k + a * keep));
      d.red = static_cast<Channel>(Depth::Unit(std::uint32_t{p.red} * keep + std::uint32_t{s.red} * k));
      d.green = static_cast<Channel>(Depth::Unit(std::uint32_t{p.green} * keep + std::uint32_t{s.green} * k));
      d.blue = static_cast<Channel>(Depth::Unit(std::uint32_t{p.blue} * keep + std::uint32_t{s.blue} * k));
    } else {
      d.alpha = static_cast<Channel>(a);
    }
    dst[x] = d;
  }
}

// The variant's row for a compile-time Base On (1 to 6) and blend choice.
template <class Pixel>
auto FastRow(const detail::PassKernels& kernels, BaseOn base, bool blend) {
  if constexpr (std::is_same_v<Pixel, Pixel8>) {
    return kernels.row8[base - 1][blend];
  } else {
    return kernels.row16[base - 1][blend];
  }
}

// `fast` is the variant's kernels, or null for the plain rows alone. A fast
// row tones what it can of each row and the plain row finishes it. `planes`
// are the 8-bit table's, for the 8-bit rows.
template <class Pixel>
void RunIntegerPass(const detail::PassKernels* fast, const Pixel* table, const detail::TablePlanes8* planes,
                    const ToneParams& params, const ImageView& input, const ImageView& output,
                    const PixelRect& rect, const detail::PassKernels* streaming) {
  const std::uint32_t k = BlendWeight<Pixel>(params.blend);
  const PixelRect clipped = detail::ClipToView(rect, input);
  if (clipped.Empty()) return;
  if (fast != nullptr && k == IntegerDepth<Pixel>::kMax) {
    // All weight on the source: (s * max + a * 0) / max is s, channel by
    // channel, for every channel value (16-bit ones above 32768 included).
    detail::ForEachRow<Pixel>(input, output, clipped, streaming, [](const Pixel* src, Pixel* dst, std::int32_t n) {
      std::memcpy(dst, src, static_cast<std::size_t>(n) * sizeof(Pixel));
    });
    return;
  }
  VisitBaseOn(params.baseOn, [&](auto base) {
    constexpr BaseOn kBase = decltype(base)::value;
    auto rows = [&](auto blend) {
      constexpr bool kBlend = decltype(blend)::value;
      const auto fastRow = fast != nullptr ? FastRow<Pixel>(*fast, kBase, kBlend) : nullptr;
      detail::ForEachRow<Pixel>(input, output, clipped, streaming, [&](const Pixel* src, Pixel* dst, std::int32_t n) {
        std::int32_t done = 0;
        if constexpr (std::is_same_v<Pixel, Pixel8>) {
          if (fastRow != nullptr) done = fastRow(src, dst, n, table, *planes, k);
        } else {
          if (fastRow != nullptr) done = fastRow(src, dst, n, table, k);
        }
        IntegerRow<Pixel, kBase, kBlend>(src + done, dst + done, n - done, table, k);
      });
    };
    if (k != 0) {
      rows(std::true_type{});
    } else {
      rows(std::false_type{});
    }
  });
}

}  // namespace

void ToneMapper::Process8(const ImageView& input, const ImageView& output, const PixelRect& rect,
                          const detail::PassKernels* streaming) const {
  RunIntegerPass<Pixel8>(kernels_, table8_.data(), planes8_.data(), settings_.params, input, output, rect,
                         streaming);
}

void ToneMapper::Process16(const ImageView& input, const ImageView& output, const PixelRect& rect,
                           const detail::PassKernels* streaming) const {
  RunIntegerPass<Pixel16>(kernels_, table16_.data(), nullptr, settings_.params, input, output, rect, streaming);
}

}  // namespace qv
