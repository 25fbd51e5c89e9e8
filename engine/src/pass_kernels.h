#pragma once

// The interface between the plain code (pass frames: clipping, rows, blend
// weight; table allocation) and the row kernels and table builds of the SIMD
// variants, each compiled in its own file with its own instruction-set flags.
//
// This header holds declarations and plain data only. A variant file must not
// instantiate inline code that other files share (standard algorithms, the
// engine's inline helpers): the linker keeps one copy of such code, and it
// could be the copy compiled for an instruction set the processor lacks.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "engine/pass_variant.h"
#include "engine/pixel.h"
#include "engine/pow.h"
#include "engine/table_planes.h"
#include "engine/tone_params.h"

namespace qv::detail {

// Kernels are indexed by Base On minus one, Lightness first.
inline constexpr int kBaseOnCount = 6;

// A row kernel tones the first pixels of a row and returns how many it did; the
// frame tones the rest with the plain row. `k` is the blend weight: the
// blending kernels take 0 < k < max (the frame copies the source itself when
// k = max), the others ignore it. An 8-bit row also gets the table's planes,
// made once per frame, which only the byte-permute rows read.
using Row8 = std::int32_t (*)(const Pixel8* src, Pixel8* dst, std::int32_t columns, const Pixel8* table,
                              const TablePlanes8& planes, std::uint32_t k);
using Row16 = std::int32_t (*)(const Pixel16* src, Pixel16* dst, std::int32_t columns, const Pixel16* table,
                               std::uint32_t k);

// The ramp's colours (red, green, blue) from tone 0 to tone 1 (Monotone:
// Midtones alone), and the single-precision differences to - from of each
// segment, as the plain ramp and tables compute them.
struct RampColours {
  float stops[5][3];
  float spans[4][3];
};

RampColours MakeRampColours(const ToneParams& params);

// Everything the float row kernels need from the ToneMapper, in plain data.
struct FloatRampConstants {
  RampColours colours;
  PowExponent power;  // the single exponent's facts for PowF
  float scale, offset;
  bool identityPower;  // the exponent is exactly 1: PowF(x, 1) is x
  // Where a NaN levelled tone takes the Shadows colour rather than the
  // Highlights (UnlevelledGivesShadows): for every tone, or for negative ones.
  bool unlevelledShadows, unlevelledShadowsBelowZero;
  double opacityRange, shadowsOpacity;
  float blend, keep;  // u and 1 - u
};

using RowFloat = std::int32_t (*)(const PixelFloat* src, PixelFloat* dst, std::int32_t columns,
                                  const FloatRampConstants& ramp);

inline constexpr int kToneCounts = 4;  // Monotone to Pentone

// Everything a table build needs, in plain data (double coefficients).
struct TableConstants {
  RampColours colours;
  std::uint32_t monotone[3];  // Midtones as stored channels of the table's depth
  double exponent, scale, offset;
  bool identityPower;  // the exponent is exactly 1: pow(x, 1) is x
  double opacityRange, shadowsOpacity;
};

// Fill all 256 (32769) entries of a table sized for its depth.
using TableKernel8 = void (*)(Pixel8* table, const TableConstants& constants);
using TableKernel16 = void (*)(Pixel16* table, const TableConstants& constants);

// x[i]^y into out[i] for n values, as PowF gives them.
using PowRow = void (*)(const float* x, float* out, std::int32_t n, const PowExponent& y);

// Copies `bytes` bytes to `to` with streaming stores wherever `to` is
// aligned for them (the ends with ordinary ones). `from` is in the cache.
using StreamCopy = void (*)(void* to, const void* from, std::size_t bytes);
// Orders the streaming stores before whatever the thread stores next (the
// host's note that a band is done): they are not ordered with other stores.
using StoreFence = void (*)();

struct PassKernels {
  Row8 row8[kBaseOnCount][2];  // [base - 1][blend]
  Row16 row16[kBaseOnCount][2];
  RowFloat rowFloat[kBaseOnCount][kToneCounts][2];  // [base - 1][tones - 1][blend]
  TableKernel8 table8[kToneCounts + 1];              // [tones], 0 for a count outside 1 to 4
  TableKernel16 table16[kToneCounts + 1];
  PowRow powRow;
  StreamCopy streamCopy;
  StoreFence storeFence;
};

// The kernels of a variant reading its tables as `reads` says, or null for
// the scalar variant and for variants left out of the build. Says nothing
// about the processor.
const PassKernels* KernelsOf(PassVariant variant, TableReads reads);

// Defined only in builds with the SIMD variants (QV_SIMD). SSE4.1 has no
// gathers: it always loads per lane.
const PassKernels* Sse41Kernels();
const PassKernels* Avx2Kernels(TableReads reads);
const PassKernels* Avx512Kernels(TableReads reads);
const PassKernels* Avx512IclKernels(TableReads reads);

}  // namespace qv::detail
