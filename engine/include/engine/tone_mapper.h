#pragma once

// ToneMapper: everything about a frame's toning that does not depend on the
// pixel, prepared once, then applied to any number of rectangles.

#include <memory>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "engine/image_view.h"
#include "engine/levels.h"
#include "engine/pass_variant.h"
#include "engine/pixel.h"
#include "engine/ramp.h"
#include "engine/table_planes.h"
#include "engine/tone_params.h"
#include "engine/tone_value.h"

namespace qv {

namespace detail {
struct PassKernels;

// Storage that is not cleared when it is sized: a table's build writes every
// entry, and clearing a 16-bit table (262 KB) first cost about a tenth of
// its build.
template <class T>
struct UnclearedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UnclearedAllocator<U>;
  };
  UnclearedAllocator() noexcept = default;
  template <class U>
  UnclearedAllocator(const UnclearedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

template <class Pixel>
using Table = std::vector<Pixel, UnclearedAllocator<Pixel>>;
}  // namespace detail

class ToneMapper {
 public:
  // Prepares the levels coefficients and, for the settings' depth, the lookup
  // table (8 and 16 bits). May throw std::bad_alloc while allocating the
  // table; nothing else throws. The passes run on BestPassVariant(), tuned
  // by this machine.
  explicit ToneMapper(const ToneMapperSettings& settings);
  // The same with the choices `forcing` makes, the empty ones made by the
  // processor and the machine. A forced variant this machine lacks gives way
  // to the widest available one below it (see passVariant()). Every variant
  // and tuning writes the same bytes; this is for tests and measurements.
  ToneMapper(const ToneMapperSettings& settings, const PassForcing& forcing);
  ToneMapper(const ToneMapperSettings& settings, PassVariant variant, const PassTuning& tuning = {});

  // The settings as given, except that an Input White equal to Input Black has
  // been raised by 0.000001.
  const ToneMapperSettings& settings() const { return settings_; }
  const LevelsCoefficients& levels() const { return levels_; }

  // 256 entries at 8 bits, 32769 at 16 bits, empty at other depths. Each entry
  // is a finished pixel: the opacity in alpha, the ramp colour in red, green,
  // blue.
  std::span<const Pixel8> table8() const { return table8_; }
  std::span<const Pixel16> table16() const { return table16_; }

  // The variant the passes run on, chosen when the mapper was built.
  PassVariant passVariant() const { return variant_; }
  // How its kernels read tables, chosen when the mapper was built (the plain
  // and SSE4.1 passes load per lane whatever this says).
  TableReads tableReads() const { return reads_; }
  // How a pass from `input` to `output` stores its pixels: as forced, or by
  // the size of the two whole views against the last-level cache. The plain
  // passes store through the cache whatever this says.
  OutputStores OutputStoresOf(const ImageView& input, const ImageView& output) const;

  // The float ramp of the settings' tone count.
  PixelFloat Ramp(float tone) const { return ramp_(*this, tone); }

  std::int32_t ToneValue8(Pixel8 pixel) const { return qv::ToneValue8(settings_.params.baseOn, pixel); }
  std::int32_t ToneValue16(Pixel16 pixel) const { return qv::ToneValue16(settings_.params.baseOn, pixel); }
  float ToneValueFloat(const PixelFloat& pixel) const {
    return qv::ToneValueFloat(settings_.params.baseOn, pixel);
  }

  // Tones the pixels of `rect` (clipped to the input) from `input` into
  // `output`, which must be different buffers. Writes nothing when the views
  // differ in size, when a view's depth is not the depth this mapper was built
  // for, or when that depth is not 8-bit, 16-bit or float. Only pixels inside
  // the clipped rectangle are read or written. Never allocates or throws, and
  // may run on several threads at once over disjoint rectangles.
  void Process(const ImageView& input, const ImageView& output, const PixelRect& rect) const;

 private:
  // `streaming`: the kernels whose streaming stores write the output, or null.
  void Process8(const ImageView& input, const ImageView& output, const PixelRect& rect,
                const detail::PassKernels* streaming) const;
  void Process16(const ImageView& input, const ImageView& output, const PixelRect& rect,
                 const detail::PassKernels* streaming) const;
  void ProcessFloat(const ImageView& input, const ImageView& output, const PixelRect& rect,
                    const detail::PassKernels* streaming) const;

  ToneMapperSettings settings_;
  LevelsCoefficients levels_;
  detail::Table<Pixel8> table8_;
  detail::Table<detail::TablePlanes8> planes8_;  // one, beside table8_; none at other depths
  detail::Table<Pixel16> table16_;
  RampFunction ramp_;
  PassVariant variant_;
  TableReads reads_;
  std::optional<OutputStores> stores_;  // empty: by the frame's size
  const detail::PassKernels* kernels_;  // null: the plain passes alone
};

// True when both views have the same width and height.
bool SameSize(const ImageView& a, const ImageView& b);

}  // namespace qv
