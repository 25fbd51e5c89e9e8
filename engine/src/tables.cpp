#include "tables.h"

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "channel.h"
#include "pass_kernels.h"
#include "ramp_segments.h"

namespace qv::detail {
namespace {

template <class Pixel>
struct TableDepth;

template <>
struct TableDepth<Pixel8> {
  static constexpr std::uint32_t kMax = kMax8;
  static Pixel8 FromFloat(PixelFloat p) { return ToPixel8(p); }
};

template <>
struct TableDepth<Pixel16> {
  static constexpr std::uint32_t kMax = kMax16;
  static Pixel16 FromFloat(PixelFloat p) { return ToPixel16(p); }
};

template <class Pixel>
using Channel = decltype(Pixel::alpha);

template <class Pixel>
Channel<Pixel> Store(double value) {
  return static_cast<Channel<Pixel>>(ClampTruncate<TableDepth<Pixel>::kMax>(value));
}

// The colour difference is taken in single precision, like the colours
// themselves, and only then widened; the rest is double with a rounding term.
double ScaledChannel(float from, float to, double position, double max) {
  const double span = static_cast<double>(to - from);
  return (span * position + from) * max + 0.5;
}

template <class Pixel, ToneCount Tones>
void FillTable(Table<Pixel>& table, const ToneParams& p, const LevelsCoefficients& c) {
  constexpr std::uint32_t kMax = TableDepth<Pixel>::kMax;
  constexpr double max = kMax;
  // pow(x, 1) is x exactly, so Gamma 1 skips the power (most of a table's
  // cost) without changing a bit.
  const bool identityPower = c.exponent == 1.0;
  for (std::uint32_t i = 0; i <= kMax; ++i) {
    const double x = static_cast<double>(i) / max;
    Pixel entry{};
    if constexpr (Tones == kMonotone) {
      entry = TableDepth<Pixel>::FromFloat(p.midtones);
    } else if constexpr (IsRampWithSegments(Tones)) {
      double t = (identityPower ? x : std::pow(x, c.exponent)) * c.scale + c.offset;
      // A levelled tone that is not a number counts as 0, the Shadows end.
      if (!(t >= 0.0)) {
        t = 0.0;
      } else if (t > 1.0) {
        t = 1.0;
      }
      const RampSegment<double> seg = SegmentAt<Tones>(p, t);
      entry.red = Store<Pixel>(ScaledChannel(seg.from->red, seg.to->red, seg.position, max));
      entry.green = Store<Pixel>(ScaledChannel(seg.from->green, seg.to->green, seg.position, max));
      entry.blue = Store<Pixel>(ScaledChannel(seg.from->blue, seg.to->blue, seg.position, max));
    }
    entry.alpha = Store<Pixel>((x * c.opacityRange + p.shadowsOpacity) * max + 0.5);
    table[i] = entry;
  }
}

template <class Pixel>
TableConstants ConstantsOf(const ToneParams& params, const LevelsCoefficients& levels) {
  TableConstants c{};
  c.colours = MakeRampColours(params);
  const Pixel midtones = TableDepth<Pixel>::FromFloat(params.midtones);
  c.monotone[0] = midtones.red, c.monotone[1] = midtones.green, c.monotone[2] = midtones.blue;
  c.exponent = levels.exponent;
  c.scale = levels.scale;
  c.offset = levels.offset;
  c.identityPower = levels.exponent == 1.0;
  c.opacityRange = levels.opacityRange;
  c.shadowsOpacity = params.shadowsOpacity;
  return c;
}

template <class Pixel>
Table<Pixel> BuildTable(const ToneParams& params, const LevelsCoefficients& levels, const PassKernels* fast) {
  Table<Pixel> table(TableDepth<Pixel>::kMax + 1);
  if (fast != nullptr) {
    const int tones = params.tones >= kMonotone && params.tones <= kPentone ? params.tones : kUncolouredTones;
    if constexpr (std::is_same_v<Pixel, Pixel8>) {
      fast->table8[tones](table.data(), ConstantsOf<Pixel>(params, levels));
    } else {
      fast->table16[tones](table.data(), ConstantsOf<Pixel>(params, levels));
    }
    return table;
  }
  switch (params.tones) {
    case kMonotone: FillTable<Pixel, kMonotone>(table, params, levels); break;
    case kDuotone: FillTable<Pixel, kDuotone>(table, params, levels); break;
    case kTritone: FillTable<Pixel, kTritone>(table, params, levels); break;
    case kPentone: FillTable<Pixel, kPentone>(table, params, levels); break;
    default: FillTable<Pixel, kUncolouredTones>(table, params, levels); break;
  }
  return table;
}

}  // namespace

Table<Pixel8> BuildTable8(const ToneParams& params, const LevelsCoefficients& levels, const PassKernels* fast) {
  return BuildTable<Pixel8>(params, levels, fast);
}

Table<TablePlanes8> PlanesOf(const Table<Pixel8>& table) {
  Table<TablePlanes8> planes(1);
  for (std::size_t i = 0; i < table.size(); ++i) {
    planes[0].alpha[i] = table[i].alpha;
    planes[0].red[i] = table[i].red;
    planes[0].green[i] = table[i].green;
    planes[0].blue[i] = table[i].blue;
  }
  return planes;
}

Table<Pixel16> BuildTable16(const ToneParams& params, const LevelsCoefficients& levels, const PassKernels* fast) {
  return BuildTable<Pixel16>(params, levels, fast);
}

}  // namespace qv::detail
