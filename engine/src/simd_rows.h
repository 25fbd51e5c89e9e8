#pragma once

// The SIMD row kernels and table builds, written once over an instruction-set
// type `I` that each variant file defines in its own anonymous namespace
// (SSE4.1, AVX2, AVX-512). Everything here has internal linkage too, and calls
// only the compiler's built-ins and intrinsics (never the standard library's
// inline functions), so each variant's code stays private to its file and is
// compiled with its own flags: no copy compiled for one instruction set can
// stand in for another file's. Included only by the variant files.
//
// Every kernel repeats the plain code's arithmetic exactly: integer products
// are exact in their lanes, divisions by 255 are exact multiply-and-shift
// forms, and the float kernels and table builds do the single and double
// operations of the plain code in the same order (no fused multiply-add:
// contraction is off). The table builds call the library's pow per lane
// wherever the vector power cannot show which entry that pow gives.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "engine/tone_value.h"
#include "pass_kernels.h"

namespace qv::detail::simd {
namespace {

// The steps of a row or a table build, inlined by force. Left to GCC, what
// it inlined changed with every other use of a step in a file: the float row
// called its colouring and power steps, and reloaded every constant after
// each call. Where the compiler optimises only: a debug build inlines
// nothing, and GCC gives a function into which it forces code at -O0 an
// exception table.
#if defined(__OPTIMIZE__)
#define QV_STEP __attribute__((always_inline))
#else
#define QV_STEP
#endif

// ---------------------------------------------------------------- streaming

// Frames are far larger than the caches, and the hardware prefetcher alone
// leaves the kernels waiting on memory: each step asks for the source and
// destination lines this many bytes ahead. The address is worked out as an
// integer, as it may lie past the row or the frame; a prefetch never faults.
inline constexpr std::uintptr_t kPrefetchAhead = 2048;
inline constexpr std::uintptr_t kCacheLine = 64;

// Prefetches for one step of `Bytes` bytes from src and to dst.
template <std::uintptr_t Bytes>
inline void PrefetchAhead(const void* src, const void* dst) {
  const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(src) + kPrefetchAhead;
  const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(dst) + kPrefetchAhead;
  for (std::uintptr_t line = 0; line < Bytes; line += kCacheLine) {
    __builtin_prefetch(reinterpret_cast<const void*>(from + line), 0);
    __builtin_prefetch(reinterpret_cast<const void*>(to + line), 1);
  }
}

// ---------------------------------------------------------- memory choices

// The operations of `Base` with the integer passes' table reads made one load
// per lane rather than a hardware gather: the same values, in the same lanes.
// The index lanes are read and the entries put in place by element access on
// the compiler's vector types (extracts and inserts, no memory round trip).
// The power function's tables are small and keep their gathers and
// permutes: read per lane, they made the float pass at gamma 2.2 about a
// third slower.
template <class Base>
struct LaneLoads : Base {
  using V = typename Base::V;
  static constexpr bool kLaneLoads = true;

  template <class T>
  using Lanes [[gnu::vector_size(sizeof(V))]] = T;

  template <class Entry, class Index, class Table>
  static Lanes<Entry> ReadLanes(const Table* table, V index) {
    const auto at = __builtin_bit_cast(Lanes<Index>, index);
    Lanes<Entry> got{};
    for (std::size_t i = 0; i < sizeof(V) / sizeof(Index); ++i) {
      Entry e;
      __builtin_memcpy(&e, table + at[i], sizeof e);
      got[i] = e;
    }
    return got;
  }
  static V Gather32(const Pixel8* table, V index) {
    return __builtin_bit_cast(V, (ReadLanes<std::uint32_t, std::int32_t>(table, index)));
  }
  static V Gather64(const Pixel16* table, V index) {
    return __builtin_bit_cast(V, (ReadLanes<std::uint64_t, std::int64_t>(table, index)));
  }
};

template <class I>
inline constexpr bool kReadsByLane = requires { I::kLaneLoads; };

// The operations that differ from I's only where the integer passes read
// their tables: I itself for the float rows, the table builds and the rest,
// which read no pixel table, so that the two kernel sets share one copy.
template <class I>
struct UnlanedOf {
  using type = I;
};
template <class Base>
struct UnlanedOf<LaneLoads<Base>> {
  using type = Base;
};

template <class I>
void StreamCopy(void* to, const void* from, std::size_t bytes) {
  constexpr std::size_t kBytes = sizeof(typename I::V);
  auto* d = static_cast<unsigned char*>(to);
  const auto* s = static_cast<const unsigned char*>(from);
  std::size_t i = (kBytes - reinterpret_cast<std::uintptr_t>(d) % kBytes) % kBytes;
  if (i > bytes) i = bytes;
  __builtin_memcpy(d, s, i);
  for (; i + kBytes <= bytes; i += kBytes) I::Stream(d + i, I::Load(s + i));
  __builtin_memcpy(d + i, s + i, bytes - i);
}

template <class I>
void StoreFence() {
  _mm_sfence();
}

// ---------------------------------------------------------------- integers

// x / 255 for every 16-bit lane x <= 65535: (x * 0x8081) >> 23, taken as the
// high half of the 16-bit product, then 7 more bits. Exact over that range
// (the error term x * 127 / (255 * 2^23) stays below 1/255). Lanes of 32
// bits whose upper half is zero give their quotient in the lower half.
template <class I>
inline typename I::V DivideBy255(typename I::V x) {
  return I::template Srli16<7>(I::MulhiU16(x, I::Set16(0x8081)));
}

// acc + a0 * b0 + a1 * b1 in each 32-bit lane (signed 16-bit pairs); a single
// instruction on variants that have one (I::DotAdd16).
template <class I>
inline typename I::V MaddAdd16(typename I::V acc, typename I::V a, typename I::V b) {
  if constexpr (requires { I::DotAdd16(acc, a, b); }) {
    return I::DotAdd16(acc, a, b);
  } else {
    return I::Add32(acc, I::Madd16(a, b));
  }
}

// (a * b) >> 15 in each 16-bit lane, from the 32-bit product's two halves: its
// bits 15 to 30. A single funnel shift on variants that have one
// (I::FunnelLeft16<1>(high, low) = high << 1 | low >> 15).
template <class I>
inline typename I::V MulShift15(typename I::V a, typename I::V b) {
  const typename I::V high = I::MulhiU16(a, b), low = I::MulloI16(a, b);
  if constexpr (requires { I::template FunnelLeft16<1>(high, low); }) {
    return I::template FunnelLeft16<1>(high, low);
  } else {
    return I::Or(I::template Slli16<1>(high), I::template Srli16<15>(low));
  }
}

// 8-bit pixels, one per 32-bit lane: alpha in bits 0-7, then red, green, blue.
// The tone comes back in the lane, 0 to 255.
template <class I, BaseOn B>
inline typename I::V Tone8(typename I::V s) {
  using V = typename I::V;
  const V byte = I::Set32(0xff);
  if constexpr (B == kBaseLuminance) {
    // 16-bit words: (alpha, green) and (red, blue); 76 R + 150 G + 29 B is at
    // most 65025.
    const V evens = I::Set32(0x00ff00ff);
    const V ag = I::And(s, evens), rb = I::And(I::template Srli32<8>(s), evens);
    const V sum = MaddAdd16<I>(I::Madd16(ag, I::Set32(150u << 16)), rb, I::Set32(76u | 29u << 16));
    return DivideBy255<I>(sum);
  } else if constexpr (B == kBaseRed) {
    return I::And(I::template Srli32<8>(s), byte);
  } else if constexpr (B == kBaseGreen) {
    return I::And(I::template Srli32<16>(s), byte);
  } else if constexpr (B == kBaseBlue) {
    return I::template Srli32<24>(s);
  } else if constexpr (B == kBaseAlpha) {
    return I::And(s, byte);
  } else {
    // Byte 0 of r, g, b holds red, green, blue; the other bytes are ignored.
    const V r = I::template Srli32<8>(s), g = I::template Srli32<16>(s), b = I::template Srli32<24>(s);
    const V hi = I::MaxU8(I::MaxU8(r, g), b), lo = I::MinU8(I::MinU8(r, g), b);
    return I::template Srli32<1>(I::Add32(I::And(hi, byte), I::And(lo, byte)));
  }
}

template <class I, BaseOn B, bool Blend>
inline typename I::V Tone8Pixels(typename I::V s, const Pixel8* table, typename I::V keep, typename I::V k) {
  using V = typename I::V;
  const V byte = I::Set32(0xff);
  const V p = I::Gather32(table, Tone8<I, B>(s));
  // Alpha times opacity: at most 65025, exact in the low 16-bit word.
  const V a = DivideBy255<I>(I::MulloI16(I::And(s, byte), I::And(p, byte)));
  const V d = I::Or(I::AndNot(byte, p), a);
  if constexpr (!Blend) {
    return d;
  } else {
    // Per channel d * (255 - k) + s * k <= 255 * 255: exact in 16 bits.
    const V zero = I::Zero();
    const V lo = DivideBy255<I>(
        I::Add16(I::MulloI16(I::UnpackLo8(d, zero), keep), I::MulloI16(I::UnpackLo8(s, zero), k)));
    const V hi = DivideBy255<I>(
        I::Add16(I::MulloI16(I::UnpackHi8(d, zero), keep), I::MulloI16(I::UnpackHi8(s, zero), k)));
    return I::PackUs16(lo, hi);
  }
}

template <class I, BaseOn B, bool Blend>
std::int32_t Row8(const Pixel8* src, Pixel8* dst, std::int32_t columns, const Pixel8* table, const TablePlanes8&,
                  std::uint32_t k) {
  using V = typename I::V;
  constexpr std::int32_t kStep = I::kLanes32;
  const V keep = I::Set16(kMax8 - k), weight = I::Set16(k);
  std::int32_t x = 0;
  for (; x + kStep <= columns; x += kStep) {
    PrefetchAhead<sizeof(Pixel8) * kStep>(src + x, dst + x);
    I::Store(dst + x, Tone8Pixels<I, B, Blend>(I::Load(src + x), table, keep, weight));
  }
  if constexpr (I::kMaskedTail) {
    // Masked-off lanes load as 0, whose tone indexes the table like any
    // other, and are not stored.
    if (x < columns) {
      const std::int32_t n = columns - x;
      I::StoreN32(dst + x, Tone8Pixels<I, B, Blend>(I::LoadN32(src + x, n), table, keep, weight), n);
      x = columns;
    }
  }
  return x;
}

// 16-bit pixels, one per 64-bit lane: alpha in bits 0-15, then red, green,
// blue. The tone comes back as the 64-bit lane, 0 to 32768 (out-of-range
// channels held at the last table index). The tone is worked out in the
// lane's low word; the closing minimum with (32768, 0, 0, 0) both holds it and
// clears the other words.
template <class I, BaseOn B>
inline typename I::V Tone16(typename I::V s) {
  using V = typename I::V;
  const V top = I::Set64(kMax16);
  if constexpr (B == kBaseLuminance) {
    // Channels biased by -32768 into signed words, so that one signed
    // multiply-add takes channels up to 65535:
    // 9798 R + 19235 G + 3735 B = madd + 32768 * (9798 + 19235 + 3735)
    //                           = madd + 2^30, below 2^31.
    // The bias goes into the lower half of each lane only, so that adding
    // the upper half adds it once.
    const V m = MaddAdd16<I>(I::Set64(1u << 30), I::Xor(s, I::Set16(0x8000)),
                             I::Set64(9798ull << 16 | 19235ull << 32 | 3735ull << 48));
    const V sum = I::Add32(m, I::template Srli64<32>(m));
    // The quotient, below 2^16, is the low word; the rest is left over.
    return I::MinU16(I::template Srli32<15>(sum), top);
  } else if constexpr (B == kBaseRed) {
    return I::MinU16(I::template Srli64<16>(s), top);
  } else if constexpr (B == kBaseGreen) {
    return I::MinU16(I::template Srli64<32>(s), top);
  } else if constexpr (B == kBaseBlue) {
    return I::MinU16(I::template Srli64<48>(s), top);
  } else if constexpr (B == kBaseAlpha) {
    return I::MinU16(s, top);
  } else {
    const V r = I::template Srli64<16>(s), g = I::template Srli64<32>(s), b = I::template Srli64<48>(s);
    const V hi = I::MaxU16(I::MaxU16(r, g), b), lo = I::MinU16(I::MinU16(r, g), b);
    // (hi + lo) >> 1 in 16 bits: the rounded-up average less the bit it rounded.
    const V half = I::Sub16(I::AvgU16(hi, lo), I::And(I::Xor(hi, lo), I::Set16(1)));
    return I::MinU16(half, top);
  }
}

// The pixels `s` toned from their table entries `p`.
template <class I, bool Blend>
inline typename I::V Shade16(typename I::V s, typename I::V p, typename I::V weights) {
  using V = typename I::V;
  // (alpha * opacity) >> 15 from the 32-bit product's two halves; the product
  // is below 2^31, so the quotient fits 16 bits before it is held at 32768.
  const V a = I::MinU16(MulShift15<I>(s, p), I::Set16(kMax16));
  const V d = I::InsertAlpha16(p, a);
  if constexpr (!Blend) {
    return d;
  } else {
    // d * (32768 - k) + s * k with both weights in 1 to 32767 (k = 32768 never
    // reaches a kernel): biased channels as above, one signed multiply-add,
    // and the bias 32768 * 32768 = 2^30 added back. The sum is below 2^31.
    const V bias = I::Set16(0x8000), back = I::Set32(1u << 30);
    const V db = I::Xor(d, bias), sb = I::Xor(s, bias);
    const V lo = I::template Srli32<15>(MaddAdd16<I>(back, I::UnpackLo16(db, sb), weights));
    const V hi = I::template Srli32<15>(MaddAdd16<I>(back, I::UnpackHi16(db, sb), weights));
    return I::PackUs32(lo, hi);
  }
}

template <class I, BaseOn B, bool Blend>
inline typename I::V Tone16Pixels(typename I::V s, const Pixel16* table, typename I::V weights) {
  return Shade16<I, Blend>(s, I::Gather64(table, Tone16<I, B>(s)), weights);
}
template <class I, BaseOn B, bool Blend>
std::int32_t Row16(const Pixel16* src, Pixel16* dst, std::int32_t columns, const Pixel16* table,
                   std::uint32_t k) {
  using V = typename I::V;
  constexpr std::int32_t kStep = I::kLanes64;
  const V weights = I::Set32((kMax16 - k) | k << 16);
  std::int32_t x = 0;
  for (; x + 2 * kStep <= columns; x += 2 * kStep) {
    PrefetchAhead<sizeof(Pixel16) * 2 * kStep>(src + x, dst + x);
    const V a = I::Load(src + x), b = I::Load(src + x + kStep);
    const V ta = Tone16<I, B>(a), tb = Tone16<I, B>(b);
    const V pa = I::Gather64(table, ta), pb = I::Gather64(table, tb);
    I::Store(dst + x, Shade16<I, Blend>(a, pa, weights));
    I::Store(dst + x + kStep, Shade16<I, Blend>(b, pb, weights));
  }
  for (; x + kStep <= columns; x += kStep) {
    PrefetchAhead<sizeof(Pixel16) * kStep>(src + x, dst + x);
    I::Store(dst + x, Tone16Pixels<I, B, Blend>(I::Load(src + x), table, weights));
  }
  if constexpr (I::kMaskedTail) {
    if (x < columns) {
      const std::int32_t n = columns - x;
      I::StoreN64(dst + x, Tone16Pixels<I, B, Blend>(I::LoadN64(src + x, n), table, weights), n);
      x = columns;
    }
  }
  return x;
}

// ------------------------------------------------------------------- float
//
// Four vectors of I::kLanesF floats hold I::kLanesF pixels; transposed within
// each 128-bit lane they become one vector per channel (pixels in a shuffled
// but consistent order, undone by the same transpose on the way out).

template <class I>
struct Planes {
  typename I::F alpha, red, green, blue;
};

template <class I, BaseOn B>
QV_STEP inline typename I::F ToneFloat(const Planes<I>& s) {
  if constexpr (B == kBaseLuminance) {
    return I::AddF(I::AddF(I::MulF(s.red, I::SetF(0.299f)), I::MulF(s.green, I::SetF(0.587f))),
                   I::MulF(s.blue, I::SetF(0.114f)));
  } else if constexpr (ReadsOneChannel(B)) {
    return ChannelOf<B>(s);
  } else {
    // MaxF(x, y) is x > y ? x : y, so MaxF(b, a) is the plain pass's
    // a < b ? b : a, NaN channels included; likewise for MinF.
    const auto hi = I::MaxF(s.blue, I::MaxF(s.green, s.red));
    const auto lo = I::MinF(s.blue, I::MinF(s.green, s.red));
    return I::MulF(I::AddF(hi, lo), I::SetF(0.5f));
  }
}

// x < 0 gives 0, x > 1 gives 1, anything else (NaN too) stays.
template <class I>
QV_STEP inline typename I::F ClampUnitF(typename I::F x) {
  const auto zero = I::SetF(0.0f), one = I::SetF(1.0f);
  return I::SelectF(I::LtF(x, zero), zero, I::SelectF(I::GtF(x, one), one, x));
}

template <class I>
QV_STEP inline typename I::D OpacityD(typename I::D x, const FloatRampConstants& c) {
  const auto zero = I::SetD(0.0), one = I::SetD(1.0);
  const auto v = I::AddD(I::MulD(x, I::SetD(c.opacityRange)), I::SetD(c.shadowsOpacity));
  return I::SelectD(I::LtD(v, zero), zero, I::SelectD(I::GtD(v, one), one, v));
}

// The opacity line in double precision, clamped, rounded to single.
template <class I>
QV_STEP inline typename I::F OpacityF(typename I::F x, const FloatRampConstants& c) {
  return I::JoinF(OpacityD<I>(I::LowD(x), c), OpacityD<I>(I::HighD(x), c));
}

// The power function of engine/pow.h on vectors: its fast evaluation on the
// same values lane by lane, its rounding test, and the plain function for
// the vectors with a lane that fails the test; every lane is then the
// correctly rounded power, the plain PowF's bits. The
// parts e, m and i of x = 2^e * m come from the float's own bits, 32-bit
// lanes at once (a subnormal scaled by 2^24 first): the values the plain
// function takes from the double's bits.

// c_i, from registers where the instruction set can: the gather's wait
// would stand at the head of each lane's long chain of dependent operations.
template <class I>
QV_STEP inline typename I::F PowReciprocalOf(typename I::V i) {
  if constexpr (requires { I::Lookup128F(kPowReciprocal, i); }) {
    return I::Lookup128F(kPowReciprocal, i);
  } else {
    return I::GatherF(kPowReciprocal, i);
  }
}

template <class I>
struct PowParts {
  typename I::F e, m, c;  // c: c_i, read as floats, every lane at once
  typename I::V i;
};

template <class I>
QV_STEP inline PowParts<I> SplitPow(typename I::F ax) {
  using F = typename I::F;
  const auto tiny = I::LtF(ax, I::SetF(0x1p-126f));
  const auto bits = I::BitsF(I::SelectF(tiny, I::MulF(ax, I::SetF(0x1p24f)), ax));
  F e = I::SubF(I::ToFloat32(I::template Srli32<23>(bits)), I::SetF(127.0f));
  e = I::SubF(e, I::SelectF(tiny, I::SetF(24.0f), I::SetF(0.0f)));
  const F m = I::FromBitsF(I::Or(I::And(bits, I::Set32(0x007FFFFFu)), I::Set32(0x3F800000u)));
  const auto i = I::And(I::template Srli32<16>(bits), I::Set32(127));
  return {e, m, PowReciprocalOf<I>(i), i};
}

// T_j with j << 45 taken from its bits, worked out at compile time, so that
// 2^n * T_j is one integer addition. The plain function's is
// bits(T_j) + ((k - j) << 45), with k = bits(t + S) - bits(S) and
// j = k & 127. bits(S) has no bit set below bit 51, so j is also
// bits(t + S) & 127 and, modulo 2^64, (k - j) << 45 is
// (bits(t + S) << 45) - (j << 45). The same holds for a table of N = 2^b
// steps, T_j = 2^(j / N), with 52 - b in place of 45: each entry is
// bits(T_j) - (j << (52 - b)), a finite double in [1/2, 2).
template <std::uint64_t N>
struct PowExp2Less {
  static constexpr int kShift = 52 - __builtin_ctzll(N);  // j << kShift: j / N added to the exponent
  double at[N];
};

template <std::uint64_t N>
constexpr PowExp2Less<N> MakePowExp2Less(const double (&table)[N]) {
  PowExp2Less<N> t{};
  for (std::uint64_t j = 0; j < N; ++j) {
    const std::uint64_t bits = __builtin_bit_cast(std::uint64_t, table[j]);
    t.at[j] = __builtin_bit_cast(double, bits - (j << PowExp2Less<N>::kShift));
  }
  return t;
}

alignas(64) constexpr PowExp2Less<128> kPowExp2Less = MakePowExp2Less(kPowExp2);
static_assert((__builtin_bit_cast(std::uint64_t, kPowShift) & ((std::uint64_t{1} << 51) - 1)) == 0);

// fn(0), fn(1), ..., fn(N - 1), written out in that order.
template <int N, class Fn>
QV_STEP inline void EachChain(Fn&& fn) {
  [&]<int... n>(std::integer_sequence<int, n...>) QV_STEP { (fn(n), ...); }(std::make_integer_sequence<int, N>{});
}

// Whether the vector form keeps its tables in registers, read by permutes:
// where the instruction set permutes across two registers (AVX-512), a
// gather of eight doubles costs more than the whole of the arithmetic it
// feeds. That form takes L_i as two floats (48 significant bits) from two
// 128-entry float permutes, and 2^t by steps of 1/16 from one 16-entry
// permute, with a polynomial of degree 5 in place of 3; its own error bound
// (PowExponent::roundingSlackRegisters) allows for the shorter L_i. The other
// forms are the plain function's arithmetic exactly, with gathers.
template <class I>
inline constexpr bool kPowTablesInRegisters =
    requires(typename I::V i) { I::Lookup128F(kPowReciprocal, i), I::Lookup16D(kPowExp2Sixteenths, i); };

// 2^(j / 16) with j << 48 taken from its bits, as PowExp2Less for steps of
// 1/16: S16 = 1.5 * 2^48 rounds t to a multiple of 1/16, and no bit of
// bits(S16) is set below bit 16.
constexpr double kPowShiftSixteenths = 0x1.8p48;
alignas(64) constexpr PowExp2Less<16> kPowExp2SixteenthsLess = MakePowExp2Less(kPowExp2Sixteenths);
static_assert((__builtin_bit_cast(std::uint64_t, kPowShiftSixteenths) & 0xFFFF) == 0);

// The parts of x = 2^e * m for N vectors of I::kLanesD doubles (the low and
// the high halves of N / 2 float vectors): m, c_i and e + L_i.
template <class I, int N>
struct PowPartsD {
  typename I::D m[N], c[N], eL[N];
};

template <class I, int K>
QV_STEP inline PowPartsD<I, 2 * K> SplitPow(const typename I::F (&ax)[K]) {
  PowPartsD<I, 2 * K> d;
  EachChain<K>([&](int k) QV_STEP {
    const PowParts<I> p = SplitPow<I>(ax[k]);
    d.m[2 * k] = I::LowD(p.m), d.m[2 * k + 1] = I::HighD(p.m);
    d.c[2 * k] = I::LowD(p.c), d.c[2 * k + 1] = I::HighD(p.c);
    const typename I::D e[2] = {I::LowD(p.e), I::HighD(p.e)};
    if constexpr (kPowTablesInRegisters<I>) {
      // e + L_i high is exact in double (e has at most 8 significant bits
      // above L_i's 24, all below 1); the low part is rounded once onto it.
      const typename I::F high = I::Lookup128F(kPowLogReciprocalHigh, p.i);
      const typename I::F low = I::Lookup128F(kPowLogReciprocalLow, p.i);
      d.eL[2 * k] = I::AddD(I::AddD(e[0], I::LowD(high)), I::LowD(low));
      d.eL[2 * k + 1] = I::AddD(I::AddD(e[1], I::HighD(high)), I::HighD(low));
    } else {
      d.eL[2 * k] = I::AddD(e[0], I::GatherD(kPowLogReciprocal, I::WidenLow32(p.i)));
      d.eL[2 * k + 1] = I::AddD(e[1], I::GatherD(kPowLogReciprocal, I::WidenHigh32(p.i)));
    }
  });
  return d;
}

// 2^t for a held t: s + (s * g) * D(g) with s = 2^n * T_j.
template <class I>
QV_STEP inline typename I::D PowExp2D(typename I::D held) {
  using D = typename I::D;
  if constexpr (kPowTablesInRegisters<I>) {
    const D shift = I::SetD(kPowShiftSixteenths);
    const D shifted = I::AddD(held, shift);
    const D g = I::SubD(held, I::SubD(shifted, shift));
    const auto sum = I::BitsD(shifted);
    const auto entry = I::BitsD(I::Lookup16D(kPowExp2SixteenthsLess.at, sum));  // j: the low four bits
    const D s = I::FromBitsD(I::Add64(entry, I::template Slli64<PowExp2Less<16>::kShift>(sum)));
    const auto pair = [&](int k) QV_STEP {
      return I::AddD(I::SetD(kPowExpPolySixteenths[k]), I::MulD(I::SetD(kPowExpPolySixteenths[k + 1]), g));
    };
    const D g2 = I::MulD(g, g);
    const D d = I::AddD(I::AddD(pair(0), I::MulD(g2, pair(2))), I::MulD(I::MulD(g2, g2), pair(4)));
    return I::AddD(s, I::MulD(I::MulD(s, g), d));
  } else {
    const D shift = I::SetD(kPowShift);
    const D shifted = I::AddD(held, shift);
    const D g = I::SubD(held, I::SubD(shifted, shift));
    const auto sum = I::BitsD(shifted);
    const auto j = I::And(sum, I::Set64(127));
    const auto entry = I::BitsD(I::GatherD(kPowExp2Less.at, j));
    const D s = I::FromBitsD(I::Add64(entry, I::template Slli64<PowExp2Less<128>::kShift>(sum)));
    const D g2 = I::MulD(g, g);
    const D low = I::AddD(I::SetD(kPowExpPoly[0]), I::MulD(I::SetD(kPowExpPoly[1]), g));
    const D high = I::AddD(I::SetD(kPowExpPoly[2]), I::MulD(I::SetD(kPowExpPoly[3]), g));
    return I::AddD(s, I::MulD(I::MulD(s, g), I::AddD(low, I::MulD(g2, high))));
  }
}

// PowPositive of engine/pow.h on N vectors of I::kLanesD doubles. Each stage
// runs on all N before the next: the power is one long chain of dependent
// operations per vector, and the processor overlaps N of them only if it
// finds them side by side.
template <class I, int N>
QV_STEP inline void PowPositiveD(const PowPartsD<I, N>& p, double y, typename I::D (&out)[N]) {
  using D = typename I::D;
  const D one = I::SetD(1.0);
  D t[N];
  EachChain<N>([&](int n) QV_STEP {
    const D z = I::SubD(I::MulD(p.m[n], p.c[n]), one);
    const D z2 = I::MulD(z, z);
    const D low = I::AddD(I::SetD(kPowLogPoly[0]), I::MulD(I::SetD(kPowLogPoly[1]), z));
    const D high = I::AddD(I::AddD(I::SetD(kPowLogPoly[2]), I::MulD(I::SetD(kPowLogPoly[3]), z)),
                           I::MulD(I::SetD(kPowLogPoly[4]), z2));
    const D b = I::AddD(low, I::MulD(z2, high));
    t[n] = I::MulD(I::SetD(y), I::AddD(p.eL[n], I::MulD(z, b)));
  });
  EachChain<N>([&](int n) QV_STEP {
    out[n] = PowExp2D<I>(I::MinD(I::MaxD(t[n], I::SetD(kPowUnderflow)), I::SetD(kPowOverflow)));
  });
}

// The special cases of PowF for the lanes xd (doubles), in its order, over r.
template <class I>
inline typename I::D PowSpecialCases(typename I::D xd, typename I::D r, const PowExponent& y) {
  using D = typename I::D;
  const D one = I::SetD(1.0), zero = I::SetD(0.0);
  const D inf = I::SetD(__builtin_inf());
  const D nan = I::SetD(__builtin_nan(""));
  const D ax = I::AndD(xd, I::FromBitsD(I::Set64(0x7FFFFFFFFFFFFFFFu)));
  if (y.zero) return one;
  if (y.nan) return I::SelectD(I::EqD(xd, one), one, nan);
  if (y.infinite) {
    r = y.negative ? I::SelectD(I::LtD(ax, one), inf, zero) : I::SelectD(I::LtD(ax, one), zero, inf);
    r = I::SelectD(I::EqD(ax, one), one, r);
  } else {
    r = I::SelectD(I::EqD(ax, one), one, r);
    if (!y.integer) r = I::SelectD(I::LtD(xd, zero), nan, r);
    r = I::SelectD(I::EqD(ax, inf), y.negative ? zero : inf, r);
    r = I::SelectD(I::EqD(ax, zero), y.negative ? inf : zero, r);
    if (y.odd) r = I::OrD(r, I::AndD(xd, I::FromBitsD(I::Set64(0x8000000000000000u))));
  }
  return I::SelectD(I::UnordD(xd, xd), nan, r);
}

// PowNearMidpoint of engine/pow.h on I::kLanesD results: the 29 bits below
// a float's last place made the fraction of 1 + bits * 2^-52, so that their
// distance from the midpoint's pattern is one exact subtraction.
template <class I>
QV_STEP inline auto PowNearMidpointD(typename I::D p, const PowExponent& y) {
  using D = typename I::D;
  const D smallest = I::SetD(0x1p-126), one = I::SetD(1.0);
  const D w = I::SelectD(I::LtD(p, smallest), I::AddD(p, smallest), p);
  const D below = I::FromBitsD(I::Or(I::And(I::BitsD(w), I::Set64(kPowBelowFloat)), I::BitsD(one)));
  const D off = I::SubD(below, I::SetD(1.0 + static_cast<double>(kPowMidpoint) * 0x1p-52));
  const D distance = I::AndD(off, I::FromBitsD(I::Set64(0x7FFFFFFFFFFFFFFFu)));
  const std::uint64_t slack = kPowTablesInRegisters<I> ? y.roundingSlackRegisters : y.roundingSlack;
  return I::GeD(I::SetD(static_cast<double>(slack) * 0x1p-52), distance);
}

// Every lane by the plain function, which takes the exact path where it must:
// for the rare vectors with a lane whose rounding the fast evaluation leaves
// in doubt.
template <class I>
__attribute__((noinline, cold)) typename I::F PowLaneByLane(typename I::F x, const PowExponent& y) {
  alignas(64) float lanes[I::kLanesF];
  I::StoreF(lanes, x);
  for (float& lane : lanes) lane = detail::PowF(lane, y);
  return I::LoadF(lanes);
}

// The powers of K float vectors at once (2K chains of doubles).
template <class I, int K>
QV_STEP inline void PowF(const typename I::F (&x)[K], const PowExponent& y, typename I::F (&out)[K]) {
  using D = typename I::D;
  using F = typename I::F;
  if (y.zero || y.nan || y.infinite) {
    const D none = I::SetD(0.0);
    EachChain<K>([&](int k) QV_STEP {
      out[k] = I::JoinF(PowSpecialCases<I>(I::LowD(x[k]), none, y), PowSpecialCases<I>(I::HighD(x[k]), none, y));
    });
    return;
  }
  F ax[K];
  D p[2 * K];
  EachChain<K>([&](int k) QV_STEP { ax[k] = I::FromBitsF(I::And(I::BitsF(x[k]), I::Set32(0x7FFFFFFFu))); });
  if (y.square) {
    EachChain<K>([&](int k) QV_STEP {
      p[2 * k] = I::MulD(I::LowD(ax[k]), I::LowD(ax[k]));
      p[2 * k + 1] = I::MulD(I::HighD(ax[k]), I::HighD(ax[k]));
    });
  } else {
    PowPositiveD<I, 2 * K>(SplitPow<I, K>(ax), y.y, p);
    bool doubt = false;
    EachChain<2 * K>([&](int n) QV_STEP { doubt = doubt || I::AnyD(PowNearMidpointD<I>(p[n], y)); });
    if (doubt) {
      EachChain<K>([&](int k) QV_STEP { out[k] = PowLaneByLane<I>(x[k], y); });
      return;
    }
  }
  EachChain<K>([&](int k) QV_STEP {
    // Tones are mostly finite and above 0, where only x = 1 is a case of its
    // own (its power rounds to 1 anyway; the plain function says so outright).
    if (I::AllPositiveFinite(x[k])) {
      out[k] = I::SelectF(I::EqF(x[k], I::SetF(1.0f)), I::SetF(1.0f), I::JoinF(p[2 * k], p[2 * k + 1]));
    } else {
      out[k] = I::JoinF(PowSpecialCases<I>(I::LowD(x[k]), p[2 * k], y),
                        PowSpecialCases<I>(I::HighD(x[k]), p[2 * k + 1], y));
    }
  });
}

// Float vectors whose powers are worked out together: four vectors are eight
// chains of doubles, which on the AMD Zen 5 measured ran the power function
// in 0.86 to 0.93 of the time that two took, with every variant.
inline constexpr int kPowVectors = 4;

// x[i]^y into out[i] for n values: whole vectors here, the rest by the plain
// function (the same results), this file's own copy of it.
template <class I>
void PowRow(const float* x, float* out, std::int32_t n, const PowExponent& y) {
  using F = typename I::F;
  constexpr std::int32_t kStep = kPowVectors * I::kLanesF;
  std::int32_t i = 0;
  for (; i + kStep <= n; i += kStep) {
    F in[kPowVectors], got[kPowVectors];
    EachChain<kPowVectors>([&](int k) QV_STEP { in[k] = I::LoadF(x + i + k * I::kLanesF); });
    PowF<I, kPowVectors>(in, y, got);
    EachChain<kPowVectors>([&](int k) QV_STEP { I::StoreF(out + i + k * I::kLanesF, got[k]); });
  }
  for (; i < n; ++i) out[i] = detail::PowF(x[i], y);
}

// The ramp's colour at `level` (the tone raised to the ramp's exponent) and
// the opacity of `tone`.
template <class I, ToneCount Tones>
QV_STEP inline void RampColour(typename I::F tone, typename I::F level, const FloatRampConstants& c, Planes<I>& out) {
  using F = typename I::F;
  if constexpr (Tones == kMonotone) {
    out.red = I::SetF(c.colours.stops[0][0]);
    out.green = I::SetF(c.colours.stops[0][1]);
    out.blue = I::SetF(c.colours.stops[0][2]);
  } else {
    constexpr int kSegments = Tones == kDuotone ? 1 : Tones == kTritone ? 2 : 4;
    const F t = I::AddF(I::MulF(level, I::SetF(c.scale)), I::SetF(c.offset));
    // Segment by the borders at or below t: the last one passed wins.
    F lower = I::SetF(0.0f);
    F from[3], span[3];
    for (int ch = 0; ch < 3; ++ch) {
      from[ch] = I::SetF(c.colours.stops[0][ch]);
      span[ch] = I::SetF(c.colours.spans[0][ch]);
    }
    for (int border = 1; border < kSegments; ++border) {
      const float at = static_cast<float>(border) / kSegments;
      const auto passed = I::GeF(t, I::SetF(at));
      lower = I::SelectF(passed, I::SetF(at), lower);
      for (int ch = 0; ch < 3; ++ch) {
        from[ch] = I::SelectF(passed, I::SetF(c.colours.stops[border][ch]), from[ch]);
        span[ch] = I::SelectF(passed, I::SetF(c.colours.spans[border][ch]), span[ch]);
      }
    }
    const F position = I::MulF(I::SetF(static_cast<float>(kSegments)), I::SubF(t, lower));
    // Below 0: Shadows; at most 1: the segment; otherwise (above 1, or NaN)
    // Highlights, except a NaN where UnlevelledGivesShadows (ramp_kernels.h).
    const F zero = I::SetF(0.0f);
    const auto below = I::LtF(t, zero), within = I::GeF(I::SetF(1.0f), t);
    F* channels[3] = {&out.red, &out.green, &out.blue};
    for (int ch = 0; ch < 3; ++ch) {
      const F shadows = I::SetF(c.colours.stops[0][ch]);
      F top = I::SetF(c.colours.stops[kSegments][ch]);
      if (c.unlevelledShadows || c.unlevelledShadowsBelowZero) {
        const F unlevelled = c.unlevelledShadows ? shadows : I::SelectF(I::LtF(tone, zero), shadows, top);
        top = I::SelectF(I::UnordF(t, t), unlevelled, top);
      }
      const F mixed = I::AddF(I::MulF(span[ch], position), from[ch]);
      *channels[ch] = I::SelectF(below, shadows, I::SelectF(within, mixed, top));
    }
  }
  // Monotone takes the opacity of the tone itself, the others of the tone
  // clamped to 0 to 1.
  out.alpha = OpacityF<I>(Tones == kMonotone ? tone : ClampUnitF<I>(tone), c);
}

// The I::kLanesF pixels at `p`, one vector per channel.
template <class I>
QV_STEP inline Planes<I> LoadPlanes(const PixelFloat* p) {
  constexpr std::int32_t kQuarter = I::kLanesF / 4;
  const float* in = &p->alpha;
  Planes<I> s{I::LoadF(in), I::LoadF(in + 4 * kQuarter), I::LoadF(in + 8 * kQuarter), I::LoadF(in + 12 * kQuarter)};
  I::Transpose4(s.alpha, s.red, s.green, s.blue);
  return s;
}

// Colours the pixels `s`, whose tones and levels are given, and stores them.
template <class I, ToneCount Tones, bool Blend>
QV_STEP inline void ShadePixels(const Planes<I>& s, typename I::F tone, typename I::F level,
                                const FloatRampConstants& c, PixelFloat* p) {
  constexpr std::int32_t kQuarter = I::kLanesF / 4;
  Planes<I> d;
  RampColour<I, Tones>(tone, level, c, d);
  d.alpha = I::MulF(d.alpha, s.alpha);
  if constexpr (Blend) {
    const auto u = I::SetF(c.blend), keep = I::SetF(c.keep);
    d.alpha = I::AddF(I::MulF(keep, d.alpha), I::MulF(u, s.alpha));
    d.red = I::AddF(I::MulF(u, s.red), I::MulF(keep, d.red));
    d.green = I::AddF(I::MulF(u, s.green), I::MulF(keep, d.green));
    d.blue = I::AddF(I::MulF(u, s.blue), I::MulF(keep, d.blue));
  }
  I::Transpose4(d.alpha, d.red, d.green, d.blue);
  float* out = &p->alpha;
  I::StoreF(out, d.alpha);
  I::StoreF(out + 4 * kQuarter, d.red);
  I::StoreF(out + 8 * kQuarter, d.green);
  I::StoreF(out + 12 * kQuarter, d.blue);
}

// The pixels of a row with a power, kPowVectors vectors at a time, from
// columns >= kPowVectors vectors; returns the pixels done. Each step colours
// the pixels whose powers the step before began and then begins the next
// group's: the colouring waits on nothing, while the power's long chains of
// dependent operations run.
template <class I, BaseOn B, ToneCount Tones, bool Blend>
QV_STEP inline std::int32_t RowFloatGroups(const PixelFloat* src, PixelFloat* dst, std::int32_t columns,
                                           const FloatRampConstants& c) {
  using F = typename I::F;
  constexpr std::int32_t kStep = I::kLanesF;
  constexpr int kVectors = kPowVectors;
  constexpr std::int32_t kGroup = kVectors * kStep;
  Planes<I> s[kVectors];
  F tone[kVectors], level[kVectors];
  EachChain<kVectors>([&](int k) QV_STEP {
    s[k] = LoadPlanes<I>(src + k * kStep);
    tone[k] = ToneFloat<I, B>(s[k]);
  });
  PowF<I, kVectors>(tone, c.power, level);
  std::int32_t x = 0;
  for (; x + 2 * kGroup <= columns; x += kGroup) {
    PrefetchAhead<sizeof(PixelFloat) * kGroup>(src + x, dst + x);
    Planes<I> next[kVectors];
    F nextTone[kVectors];
    EachChain<kVectors>([&](int k) QV_STEP {
      next[k] = LoadPlanes<I>(src + x + kGroup + k * kStep);
      nextTone[k] = ToneFloat<I, B>(next[k]);
    });
    EachChain<kVectors>(
        [&](int k) QV_STEP { ShadePixels<I, Tones, Blend>(s[k], tone[k], level[k], c, dst + x + k * kStep); });
    PowF<I, kVectors>(nextTone, c.power, level);
    EachChain<kVectors>([&](int k) QV_STEP {
      s[k] = next[k];
      tone[k] = nextTone[k];
    });
  }
  EachChain<kVectors>(
      [&](int k) QV_STEP { ShadePixels<I, Tones, Blend>(s[k], tone[k], level[k], c, dst + x + k * kStep); });
  return x + kGroup;
}

template <class I, BaseOn B, ToneCount Tones, bool Blend>
std::int32_t RowFloat(const PixelFloat* src, PixelFloat* dst, std::int32_t columns, const FloatRampConstants& c) {
  using F = typename I::F;
  constexpr std::int32_t kStep = I::kLanesF;  // pixels per vector: four vectors, a channel each
  std::int32_t x = 0;
  if (Tones != kMonotone && !c.identityPower) {
    if (columns >= kPowVectors * kStep) x = RowFloatGroups<I, B, Tones, Blend>(src, dst, columns, c);
    for (; x + kStep <= columns; x += kStep) {  // what is left in whole vectors
      const Planes<I> s = LoadPlanes<I>(src + x);
      const F tone[1] = {ToneFloat<I, B>(s)};
      F level[1];
      PowF<I, 1>(tone, c.power, level);
      ShadePixels<I, Tones, Blend>(s, tone[0], level[0], c, dst + x);
    }
    return x;
  }
  for (; x + kStep <= columns; x += kStep) {
    PrefetchAhead<sizeof(PixelFloat) * kStep>(src + x, dst + x);
    const Planes<I> s = LoadPlanes<I>(src + x);
    const auto tone = ToneFloat<I, B>(s);
    ShadePixels<I, Tones, Blend>(s, tone, tone, c, dst + x);  // no power: the level is the tone
  }
  return x;
}

// ------------------------------------------------------------------ tables
//
// The lookup tables in double precision, I::kLanesD entries at a time, with
// the plain build's operations in its order.

// v held to lo to hi, NaN giving lo: MaxD(v, lo) is v > lo ? v : lo. A
// negative zero may come out as zero, which no table entry tells apart: the
// channels add 0.5 before they are truncated.
template <class I>
inline typename I::D HeldD(typename I::D v, typename I::D lo, typename I::D hi) {
  return I::MinD(I::MaxD(v, lo), hi);
}

// The 16-bit tables' powers x^y, x = i / 32768, come from the float ramp's
// power function in double (PowPositiveD, before its rounding to float)
// wherever that is sure to give the entry that the C library's pow gives: the
// library's calls took two thirds of a table's build at Gamma 2.2.
//
// Why it is sure. Every x here but 0 is a float of at least 2^-15, so
// |t| = |y log2 x| <= 15 |y|, and engine/pow.h's bound on PowPositive's
// result p then puts it within (|y| + 1) * 2^-47.5 relative of x^y wherever
// it did not hold t to a float's range (p between 2^-140 and 2^120 says so);
// PowPositiveD's form with tables in registers adds at most |y| 2^-48 ln 2
// (L_i to 48 bits), so p is within (|y| + 1) * 2^-46 for both. The C
// library's pow is taken to be within 2^-40 of x^y (glibc's is within an ulp,
// 2^-52). So with 4 times the first bound, the library's result lies within
// p * (1 -+ TablePowerSpread(y)). An entry is a chain of rounded operations
// on the power, each monotone in it: the levelled tone and its hold to 0 to
// 1, the segment the tone falls in, and within one segment each channel and
// its store rule. When both ends of that interval fall in the same segment
// and give the same entry, so does every power between them, the library's
// among them. Where they do not (a tone on a border, a channel on a whole
// number), at x = 0, and for exponents too large for the bound to be of use,
// the library's pow is called after all.
inline constexpr double kTablePowerLargest = 1024;  // |y| beyond: the library's pow throughout
inline double TablePowerSpread(double y) { return (__builtin_fabs(y) + 1) * 0x1p-44 + 0x1p-40; }

// The entries of an 8- or 16-bit table, kLanes at a time: the ramp's
// constants widened once, and the steps of an entry as members inlined by
// force (QV_STEP): left as calls, the sanitized builds read every colour
// through memory, with checks.
template <class I, class Pixel, ToneCount Tones>
class TableBuilder {
  using D = typename I::D;
  static constexpr std::uint32_t kMax = sizeof(Pixel) == sizeof(Pixel8) ? kMax8 : kMax16;
  static constexpr std::int32_t kLanes = I::kLanesD;
  static constexpr int kSegments = Tones == kDuotone ? 1 : Tones == kTritone ? 2 : Tones == kPentone ? 4 : 0;
  static constexpr int kStops = kSegments > 0 ? kSegments : 1;

 public:
  TableBuilder(Pixel* table, const TableConstants& c) : table_(table), c_(c) {
    // Monotone's colour is the same in every entry; tone counts without a
    // ramp leave it black.
    if constexpr (Tones == kMonotone) {
      for (int ch = 0; ch < 3; ++ch) fixedColour_[ch] = I::SetD(static_cast<double>(c.monotone[ch]));
    }
    // The ramp's colours widened once: the pow calls in the loop would have
    // them reloaded and widened again at every step.
    for (int stop = 0; stop < kSegments; ++stop) {
      for (int ch = 0; ch < 3; ++ch) {
        stops_[stop][ch] = I::SetD(c.colours.stops[stop][ch]);
        spans_[stop][ch] = I::SetD(c.colours.spans[stop][ch]);
      }
    }
  }

  void Build() const {
    if constexpr (kMax == kMax16 && kSegments > 0) {
      if (!c_.identityPower && __builtin_fabs(c_.exponent) <= kTablePowerLargest) {
        BuildFromSurePowers();
        return;
      }
    }
    for (std::uint32_t first = 0; first <= kMax; first += kLanes) Exact(first, XOf(first));
  }

 private:
  // x for the kLanes entries from `first`.
  QV_STEP D XOf(std::uint32_t first) const {
    return I::DivD(I::AddD(I::SetD(static_cast<double>(first)), I::IotaD()), maxD_);
  }

  // The store rule: below 0 or NaN gives 0, above the maximum the maximum,
  // truncated toward zero by StoreEntries.
  QV_STEP D AlphaOf(D x) const {
    return HeldD<I>(
        I::AddD(I::MulD(I::AddD(I::MulD(x, I::SetD(c_.opacityRange)), I::SetD(c_.shadowsOpacity)), maxD_), half_),
        zero_, maxD_);
  }

  // The colour channels for `level` (the tone raised to the exponent), held
  // but not yet truncated; returns the segment's lower border in each lane.
  QV_STEP D ColourOf(D level, D (&colour)[3]) const {
    D lower = zero_;
    for (int ch = 0; ch < 3; ++ch) colour[ch] = fixedColour_[ch];
    if constexpr (kSegments > 0) {
      const D t = HeldD<I>(I::AddD(I::MulD(level, I::SetD(c_.scale)), I::SetD(c_.offset)), zero_, one_);
      D from[3], span[3];
      for (int ch = 0; ch < 3; ++ch) {
        from[ch] = stops_[0][ch];
        span[ch] = spans_[0][ch];
      }
      for (int border = 1; border < kSegments; ++border) {
        const double at = static_cast<double>(border) / kSegments;
        const auto passed = I::GeD(t, I::SetD(at));
        lower = I::SelectD(passed, I::SetD(at), lower);
        for (int ch = 0; ch < 3; ++ch) {
          from[ch] = I::SelectD(passed, stops_[border][ch], from[ch]);
          span[ch] = I::SelectD(passed, spans_[border][ch], span[ch]);
        }
      }
      const D position = I::MulD(I::SetD(static_cast<double>(kSegments)), I::SubD(t, lower));
      for (int ch = 0; ch < 3; ++ch) {
        colour[ch] =
            HeldD<I>(I::AddD(I::MulD(I::AddD(I::MulD(span[ch], position), from[ch]), maxD_), half_), zero_, maxD_);
      }
    }
    return lower;
  }

  // The entries from `first` with the library's power, lane by lane.
  QV_STEP void Exact(std::uint32_t first, D x) const {
    D level = x;
    if (kSegments > 0 && !c_.identityPower) {
      double powers[kLanes];
      I::StoreD(powers, x);
      for (double& v : powers) v = __builtin_pow(v, c_.exponent);
      level = I::LoadD(powers);
    }
    D colour[3];
    ColourOf(level, colour);
    if (kMax + 1 - first >= kLanes) {
      I::StoreEntries(table_ + first, AlphaOf(x), colour[0], colour[1], colour[2]);
    } else {
      Pixel last[kLanes];
      I::StoreEntries(last, AlphaOf(x), colour[0], colour[1], colour[2]);
      for (std::uint32_t i = 0; first + i <= kMax; ++i) table_[first + i] = last[i];
    }
  }

  // The 16-bit entries from the float ramp's power function wherever its
  // bound makes the entry sure, and from the library's elsewhere.
  void BuildFromSurePowers() const {
    const double y = c_.exponent;
    const D spread = I::SetD(TablePowerSpread(y)), unsure = I::SetD(-1.0);
    const D smallest = I::SetD(0x1p-140), largest = I::SetD(0x1p120);
    for (std::uint32_t first = 0; first <= kMax; first += 2 * kLanes) {
      const D xs[2] = {XOf(first), XOf(first + kLanes)};
      const typename I::F joined[1] = {I::JoinF(xs[0], xs[1])};
      D powers[2];
      PowPositiveD<I, 2>(SplitPow<I, 1>(joined), y, powers);
      for (int h = 0; h < 2 && first + h * kLanes <= kMax; ++h) {
        const std::uint32_t at = first + h * kLanes;
        // x = 0 is no float of the bound's range, and the table's last
        // entry stands alone in its step: both take the library's power.
        if (at == 0 || kMax + 1 - at < kLanes) {
          Exact(at, xs[h]);
          continue;
        }
        const D p = powers[h];
        D below[3], above[3];
        const D lowerBelow = ColourOf(I::SubD(p, I::MulD(p, spread)), below);
        D lowerAbove = ColourOf(I::AddD(p, I::MulD(p, spread)), above);
        // A power that t was held for is no sure one either.
        lowerAbove = I::SelectD(I::GeD(p, smallest), lowerAbove, unsure);
        lowerAbove = I::SelectD(I::GtD(p, largest), unsure, lowerAbove);
        bool sure = I::SameD(lowerBelow, lowerAbove);
        for (int ch = 0; ch < 3; ++ch) sure &= I::SameD(I::TruncD(below[ch]), I::TruncD(above[ch]));
        if (sure) {
          I::StoreEntries(table_ + at, AlphaOf(xs[h]), below[0], below[1], below[2]);
        } else {
          Exact(at, xs[h]);
        }
      }
    }
  }

  Pixel* table_;
  const TableConstants& c_;
  const D maxD_ = I::SetD(kMax), half_ = I::SetD(0.5), zero_ = I::SetD(0.0), one_ = I::SetD(1.0);
  D fixedColour_[3] = {zero_, zero_, zero_};
  D stops_[kStops][3]{}, spans_[kStops][3]{};
};

template <class I, class Pixel, ToneCount Tones>
void BuildTable(Pixel* table, const TableConstants& c) {
  TableBuilder<I, Pixel, Tones>(table, c).Build();
}

// ------------------------------------------------------------ kernel table

template <class I>
constexpr PassKernels MakeKernels() {
  using U = typename UnlanedOf<I>::type;
  PassKernels k{};
  [&]<int... Bs>(std::integer_sequence<int, Bs...>) {
    ((k.row8[Bs][0] = &Row8<I, Bs + 1, false>, k.row8[Bs][1] = &Row8<I, Bs + 1, true>,
      k.row16[Bs][0] = &Row16<I, Bs + 1, false>, k.row16[Bs][1] = &Row16<I, Bs + 1, true>,
      k.rowFloat[Bs][0][0] = &RowFloat<U, Bs + 1, kMonotone, false>,
      k.rowFloat[Bs][0][1] = &RowFloat<U, Bs + 1, kMonotone, true>,
      k.rowFloat[Bs][1][0] = &RowFloat<U, Bs + 1, kDuotone, false>,
      k.rowFloat[Bs][1][1] = &RowFloat<U, Bs + 1, kDuotone, true>,
      k.rowFloat[Bs][2][0] = &RowFloat<U, Bs + 1, kTritone, false>,
      k.rowFloat[Bs][2][1] = &RowFloat<U, Bs + 1, kTritone, true>,
      k.rowFloat[Bs][3][0] = &RowFloat<U, Bs + 1, kPentone, false>,
      k.rowFloat[Bs][3][1] = &RowFloat<U, Bs + 1, kPentone, true>),
     ...);
  }(std::make_integer_sequence<int, kBaseOnCount>{});
  [&]<int... Ts>(std::integer_sequence<int, Ts...>) {
    ((k.table8[Ts] = &BuildTable<U, Pixel8, Ts>, k.table16[Ts] = &BuildTable<U, Pixel16, Ts>), ...);
  }(std::make_integer_sequence<int, kToneCounts + 1>{});
  k.powRow = &PowRow<U>;
  k.streamCopy = &StreamCopy<U>;
  k.storeFence = &StoreFence<U>;
  return k;
}

}  // namespace
}  // namespace qv::detail::simd
