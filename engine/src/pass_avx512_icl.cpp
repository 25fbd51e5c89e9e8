// The AVX-512 kernels for processors that also have Ice Lake's additions:
// VBMI's byte permutes, VBMI2's funnel shifts and VNNI's multiply-adds with
// accumulation. The float rows, the table builds and most 16-bit rows are the
// shared ones, with a funnel shift and an accumulating multiply-add where
// those save an instruction; 16-bit Lightness works its tone out on word
// planes, and the 8-bit rows run 64 pixels a step without a single gather.
// An 8-bit step splits its pixels into four planes of 64 bytes (alpha, red,
// green, blue); the table, split into planes in entry order once per frame
// (TablePlanes8), is four 256-byte planes loaded into registers for each row
// and read by two-register byte permutes.
// Every product and division is the plain pass's, exactly. Compiled with
// -mavx512f -mavx512bw -mavx512vl -mavx512vbmi -mavx512vbmi2 -mavx512vnni.

#include "avx512_ops.h"
#include "simd_rows.h"

namespace qv::detail {
namespace {

using V = __m512i;

struct Avx512Icl : Avx512 {
  static V DotAdd16(V acc, V a, V b) { return _mm512_dpwssd_epi32(acc, a, b); }
  template <int N>
  static V FunnelLeft16(V high, V low) {
    return _mm512_shldi_epi16(high, low, N);
  }
};

// 64 byte indices for a permute, worked out at compile time.
struct ByteIndices {
  alignas(64) unsigned char at[64];
};

// An 8-bit step's 64 pixels are four vectors of 16, and each 128-bit lane of
// them holds 4 pixels. Split moves every byte within its lane's column: lane
// L of a plane takes its channel of the 16 pixels in lane L of the four
// vectors, vector j's four at bytes 4j to 4j + 3. Join undoes it with byte and
// word unpacks, which also stay within lanes. A plane therefore holds the
// step's pixels in a shuffled order; tones, lookups and products are per
// byte and do not mind.
//
// Byte indices for the permute of two vectors (j = 0 and 1, or 2 and 3) that
// gathers, in each lane, channel `first` of both vectors' pixels in bytes 0-7
// and channel `first` + 1 in bytes 8-15. Index bit 6 picks the second vector.
constexpr ByteIndices SplitIndices(int first) {
  ByteIndices s{};
  for (int j = 0; j < 64; ++j) {
    const int lane = j / 16, channel = first + j % 16 / 8, vector = j % 8 / 4, pixel = j % 4;
    s.at[j] = static_cast<unsigned char>(vector * 64 + lane * 16 + pixel * 4 + channel);
  }
  return s;
}

constexpr ByteIndices kSplitAlphaRed = SplitIndices(0), kSplitGreenBlue = SplitIndices(2);

V LoadIndices(const ByteIndices& s) { return _mm512_load_si512(s.at); }

// 64 pixels as four planes, one byte per pixel.
struct Planes8 {
  V alpha, red, green, blue;
};

// Permute indices kept in registers for a whole row.
struct Shuffles {
  V splitAlphaRed, splitGreenBlue;
};

Planes8 Split(const V (&v)[4], const Shuffles& s) {
  const V ar01 = _mm512_permutex2var_epi8(v[0], s.splitAlphaRed, v[1]);
  const V gb01 = _mm512_permutex2var_epi8(v[0], s.splitGreenBlue, v[1]);
  const V ar23 = _mm512_permutex2var_epi8(v[2], s.splitAlphaRed, v[3]);
  const V gb23 = _mm512_permutex2var_epi8(v[2], s.splitGreenBlue, v[3]);
  return {_mm512_unpacklo_epi64(ar01, ar23), _mm512_unpackhi_epi64(ar01, ar23), _mm512_unpacklo_epi64(gb01, gb23),
          _mm512_unpackhi_epi64(gb01, gb23)};
}

void Join(const Planes8& p, V (&v)[4]) {
  const V arLow = _mm512_unpacklo_epi8(p.alpha, p.red), arHigh = _mm512_unpackhi_epi8(p.alpha, p.red);
  const V gbLow = _mm512_unpacklo_epi8(p.green, p.blue), gbHigh = _mm512_unpackhi_epi8(p.green, p.blue);
  v[0] = _mm512_unpacklo_epi16(arLow, gbLow);
  v[1] = _mm512_unpackhi_epi16(arLow, gbLow);
  v[2] = _mm512_unpacklo_epi16(arHigh, gbHigh);
  v[3] = _mm512_unpackhi_epi16(arHigh, gbHigh);
}

// The table's planes in registers, four vectors of 64 entries each.
struct TablePlanes {
  V alpha[4], red[4], green[4], blue[4];
};

TablePlanes LoadPlanes(const TablePlanes8& planes) {
  TablePlanes t;
  for (int part = 0; part < 4; ++part) {
    t.alpha[part] = _mm512_loadu_si512(planes.alpha + 64 * part);
    t.red[part] = _mm512_loadu_si512(planes.red + 64 * part);
    t.green[part] = _mm512_loadu_si512(planes.green + 64 * part);
    t.blue[part] = _mm512_loadu_si512(planes.blue + 64 * part);
  }
  return t;
}

// plane[tone] for each byte: entries 0-127 and 128-255 by two permutes, then
// picked by the tone's top bit.
V Lookup(const V (&plane)[4], V tone, __mmask64 upper) {
  const V low = _mm512_permutex2var_epi8(plane[0], tone, plane[1]);
  const V high = _mm512_permutex2var_epi8(plane[2], tone, plane[3]);
  return _mm512_mask_blend_epi8(upper, low, high);
}

// x / 255 for each 16-bit lane, left in the lane's low byte (even) or high
// byte (odd); the other byte is not cleared.
V QuotientLow(V x) { return _mm512_srli_epi16(_mm512_mulhi_epu16(x, _mm512_set1_epi16(0x8081 - 0x10000)), 7); }
V QuotientHigh(V x) { return _mm512_slli_epi16(_mm512_mulhi_epu16(x, _mm512_set1_epi16(0x8081 - 0x10000)), 1); }

// Bytes from the low byte of `even`'s lanes and the high byte of `odd`'s.
V JoinBytes(V even, V odd) {
  // (mask & odd) | (~mask & even), with mask 0xff00 in each lane.
  return _mm512_ternarylogic_epi32(_mm512_set1_epi16(static_cast<short>(0xff00)), odd, even, 0xCA);
}

// (a * b) / 255 byte by byte: both products of a lane's two bytes in 16 bits.
V MultiplyBytes(V a, V b) {
  const V low = _mm512_set1_epi16(0x00ff);
  const V even = _mm512_mullo_epi16(_mm512_and_si512(a, low), _mm512_and_si512(b, low));
  const V odd = _mm512_mullo_epi16(_mm512_srli_epi16(a, 8), _mm512_srli_epi16(b, 8));
  return JoinBytes(QuotientLow(even), QuotientHigh(odd));
}

template <BaseOn B>
V Tone(const Planes8& p) {
  if constexpr (B == kBaseLuminance) {
    // 76 R + 150 G + 29 B per byte, even and odd bytes of each lane apart.
    // The weight in each multiply-add is signed, so 150 G is 75 G twice; each
    // product stays below 2^15 and the sum, at most 65025, fits the lane.
    const auto weighted = [&](int shift) {
      const auto weight = [&](int w) { return _mm512_set1_epi16(static_cast<short>(w << shift)); };
      const V g = _mm512_maddubs_epi16(p.green, weight(75));
      return _mm512_add_epi16(_mm512_add_epi16(_mm512_maddubs_epi16(p.red, weight(76)), g),
                              _mm512_add_epi16(g, _mm512_maddubs_epi16(p.blue, weight(29))));
    };
    return JoinBytes(QuotientLow(weighted(0)), QuotientHigh(weighted(8)));
  } else if constexpr (ReadsOneChannel(B)) {
    return ChannelOf<B>(p);
  } else {
    // (max + min) >> 1: the rounded-up average less the bit it rounded.
    const V hi = _mm512_max_epu8(_mm512_max_epu8(p.red, p.green), p.blue);
    const V lo = _mm512_min_epu8(_mm512_min_epu8(p.red, p.green), p.blue);
    const V odd = _mm512_ternarylogic_epi32(hi, lo, _mm512_set1_epi8(1), 0x28);  // (hi ^ lo) & 1
    return _mm512_sub_epi8(_mm512_avg_epu8(hi, lo), odd);
  }
}

// d * (255 - k) + s * k, divided by 255, byte by byte. d and s come biased by
// -128 (x ^ 0x80), so that as signed bytes one unsigned-by-signed multiply-add
// takes both weights. Its sum, the true one less 128 * 255, lies
// in -32640 to 32385; with 128 * 255 + 1 added back it is x + 1 for the true
// sum x <= 65025, and (x + 1) * 257 >> 16 is x / 255 for every x < 65535.
V BlendBytes(V biasedResult, V biasedSource, V weights) {
  const V back = _mm512_set1_epi16(128 * 255 + 1), unit = _mm512_set1_epi16(257);
  const auto half = [&](V pairs) {
    return _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_maddubs_epi16(weights, pairs), back), unit);
  };
  return _mm512_packus_epi16(half(_mm512_unpacklo_epi8(biasedResult, biasedSource)),
                             half(_mm512_unpackhi_epi8(biasedResult, biasedSource)));
}

template <class I, BaseOn B, bool Blend>
std::int32_t PlanarRow8(const Pixel8* src, Pixel8* dst, std::int32_t columns, const Pixel8* table,
                        const TablePlanes8& planes, std::uint32_t k) {
  constexpr std::int32_t kStep = 64;
  std::int32_t x = 0;
  if (columns >= kStep) {
    const Shuffles s{LoadIndices(kSplitAlphaRed), LoadIndices(kSplitGreenBlue)};
    TablePlanes t = LoadPlanes(planes);
    const V bias = _mm512_set1_epi8(static_cast<char>(0x80));
    if constexpr (Blend) {
      // The blend takes the colours biased; so the table gives them.
      for (int part = 0; part < 4; ++part) {
        t.red[part] = _mm512_xor_si512(t.red[part], bias);
        t.green[part] = _mm512_xor_si512(t.green[part], bias);
        t.blue[part] = _mm512_xor_si512(t.blue[part], bias);
      }
    }
    // Byte pairs (255 - k, k) for the blend's multiply-add.
    const V weights = _mm512_set1_epi16(static_cast<short>((kMax8 - k) | k << 8));
    // N steps at a time, stage by stage. With the blend a step is one long
    // chain of dependent operations, and two steps interleaved keep the ports
    // busy; without it one step at a time measured faster.
    const auto steps = [&]<int N>(std::integral_constant<int, N>) {
      for (; x + N * kStep <= columns; x += N * kStep) {
        V in[N][4];
        Planes8 p[N], d[N];
        V tone[N];
        __mmask64 upper[N];
        for (int b = 0; b < N; ++b) {
          const Pixel8* from = src + x + b * kStep;
          simd::PrefetchAhead<sizeof(Pixel8) * kStep>(from, dst + x + b * kStep);
          for (int i = 0; i < 4; ++i) in[b][i] = _mm512_loadu_si512(from + 16 * i);
        }
        for (int b = 0; b < N; ++b) p[b] = Split(in[b], s);
        for (int b = 0; b < N; ++b) tone[b] = Tone<B>(p[b]);
        for (int b = 0; b < N; ++b) upper[b] = _mm512_movepi8_mask(tone[b]);
        for (int b = 0; b < N; ++b) {
          d[b].alpha = MultiplyBytes(p[b].alpha, Lookup(t.alpha, tone[b], upper[b]));
          if constexpr (Blend) d[b].alpha = _mm512_xor_si512(d[b].alpha, bias);
        }
        for (int b = 0; b < N; ++b) d[b].red = Lookup(t.red, tone[b], upper[b]);
        for (int b = 0; b < N; ++b) d[b].green = Lookup(t.green, tone[b], upper[b]);
        for (int b = 0; b < N; ++b) d[b].blue = Lookup(t.blue, tone[b], upper[b]);
        for (int b = 0; b < N; ++b) {
          V out[4];
          Join(d[b], out);
          for (int i = 0; i < 4; ++i) {
            if constexpr (Blend) out[i] = BlendBytes(out[i], _mm512_xor_si512(in[b][i], bias), weights);
            _mm512_storeu_si512(dst + x + b * kStep + 16 * i, out[i]);
          }
        }
      }
    };
    if constexpr (Blend) steps(std::integral_constant<int, 2>{});
    steps(std::integral_constant<int, 1>{});
  }
  // The rest, fewer than 64 pixels, 16 at a time by I's table reads.
  return x + simd::Row8<I, B, Blend>(src + x, dst + x, columns - x, table, planes, k);
}

// 32 word indices for a permute of two vectors of 8 pixels (16-bit): words
// 0-15 take channel `first` of pixels 0-15, words 16-31 channel `second`.
struct WordIndices {
  alignas(64) unsigned short at[32];
};

constexpr WordIndices PlaneIndices(int first, int second) {
  WordIndices s{};
  for (int j = 0; j < 32; ++j) s.at[j] = static_cast<unsigned short>((j % 16) * 4 + (j < 16 ? first : second));
  return s;
}

constexpr WordIndices kRedGreen = PlaneIndices(1, 2), kBlue = PlaneIndices(3, 3);

// 16-bit Lightness, 32 pixels a step. The red, green and blue words of the
// step's four vectors are permuted into three planes of 32 words, so that
// the tone's operations each serve 32 pixels rather than 8; the table is
// then read by gather and the pixels shaded as on the shared row.
template <bool Blend>
std::int32_t PlanarLightnessRow16(const Pixel16* src, Pixel16* dst, std::int32_t columns, const Pixel16* table,
                                  std::uint32_t k) {
  constexpr std::int32_t kStep = 32;
  const V redGreen = _mm512_load_si512(kRedGreen.at), blue = _mm512_load_si512(kBlue.at);
  const V top = _mm512_set1_epi16(static_cast<short>(kMax16)), one = _mm512_set1_epi16(1);
  const V weights = _mm512_set1_epi32(static_cast<int>((kMax16 - k) | k << 16));
  constexpr int kLow = _MM_SHUFFLE(1, 0, 1, 0), kHigh = _MM_SHUFFLE(3, 2, 3, 2);
  std::int32_t x = 0;
  for (; x + kStep <= columns; x += kStep) {
    simd::PrefetchAhead<sizeof(Pixel16) * kStep>(src + x, dst + x);
    const V in[4] = {_mm512_loadu_si512(src + x), _mm512_loadu_si512(src + x + 8), _mm512_loadu_si512(src + x + 16),
                     _mm512_loadu_si512(src + x + 24)};
    const V rg01 = _mm512_permutex2var_epi16(in[0], redGreen, in[1]);
    const V rg23 = _mm512_permutex2var_epi16(in[2], redGreen, in[3]);
    const V b01 = _mm512_permutex2var_epi16(in[0], blue, in[1]);
    const V b23 = _mm512_permutex2var_epi16(in[2], blue, in[3]);
    const V r = _mm512_shuffle_i64x2(rg01, rg23, kLow), g = _mm512_shuffle_i64x2(rg01, rg23, kHigh);
    const V b = _mm512_shuffle_i64x2(b01, b23, kLow);
    const V hi = _mm512_max_epu16(_mm512_max_epu16(r, g), b), lo = _mm512_min_epu16(_mm512_min_epu16(r, g), b);
    // (hi + lo) >> 1: the rounded-up average less the bit it rounded; then
    // held at 32768, as channels above it may give more.
    const V odd = _mm512_ternarylogic_epi32(hi, lo, one, 0x28);  // (hi ^ lo) & 1
    const V tone = _mm512_min_epu16(_mm512_sub_epi16(_mm512_avg_epu16(hi, lo), odd), top);
    const V low = _mm512_cvtepu16_epi32(_mm512_castsi512_si256(tone));
    const V high = _mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(tone, 1));
    const V entries[4] = {_mm512_i32gather_epi64(_mm512_castsi512_si256(low), table, 8),
                          _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(low, 1), table, 8),
                          _mm512_i32gather_epi64(_mm512_castsi512_si256(high), table, 8),
                          _mm512_i32gather_epi64(_mm512_extracti64x4_epi64(high, 1), table, 8)};
    for (int i = 0; i < 4; ++i) {
      _mm512_storeu_si512(dst + x + 8 * i, simd::Shade16<Avx512Icl, Blend>(in[i], entries[i], weights));
    }
  }
  return x + simd::Row16<Avx512Icl, kBaseLightness, Blend>(src + x, dst + x, columns - x, table, k);
}

// The planar 16-bit Lightness row reads its table by gather, so the kernels
// that read by lane keep the shared row there.
template <class I>
constexpr PassKernels MakeIclKernels() {
  PassKernels k = simd::MakeKernels<I>();
  [&]<int... Bs>(std::integer_sequence<int, Bs...>) {
    ((k.row8[Bs][0] = &PlanarRow8<I, Bs + 1, false>, k.row8[Bs][1] = &PlanarRow8<I, Bs + 1, true>), ...);
  }(std::make_integer_sequence<int, kBaseOnCount>{});
  if constexpr (!simd::kReadsByLane<I>) {
    k.row16[kBaseLightness - 1][0] = &PlanarLightnessRow16<false>;
    k.row16[kBaseLightness - 1][1] = &PlanarLightnessRow16<true>;
  }
  return k;
}

constexpr PassKernels kKernels = MakeIclKernels<Avx512Icl>();
constexpr PassKernels kLaneLoadKernels = MakeIclKernels<simd::LaneLoads<Avx512Icl>>();

}  // namespace

const PassKernels* Avx512IclKernels(TableReads reads) {
  return reads == TableReads::kLaneLoads ? &kLaneLoadKernels : &kKernels;
}

}  // namespace qv::detail
