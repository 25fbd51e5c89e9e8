#pragma once

// The AVX-512 (F, BW, VL) operations the shared SIMD kernels are written
// over: 16 pixels per vector at 8 bits, 8 at 16 bits, 16 at float; table
// lookups by hardware gather (one small table by permutes), row ends by
// masked loads and stores. Included only by the AVX-512 variant files, inside
// their own anonymous namespace, so that each file's code is its own, compiled
// with its own flags.

// GCC 12's AVX-512 header fills "undefined" vectors by self-initialisation,
// which its own uninitialised-use warnings then report at every use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstdint>

#include "engine/pixel.h"

namespace qv::detail {
namespace {

struct Avx512 {
  using V = __m512i;
  using F = __m512;
  using D = __m512d;
  using M = __mmask16;
  static constexpr int kLanes32 = 16, kLanes64 = 8, kLanesF = 16;
  static constexpr bool kMaskedTail = true;

  static V Load(const void* p) { return _mm512_loadu_si512(p); }
  static void Store(void* p, V v) { _mm512_storeu_si512(p, v); }
  // A streaming store; p aligned to the vector.
  static void Stream(void* p, V v) { _mm512_stream_si512(static_cast<V*>(p), v); }
  // The first n (0 < n < all) lanes; masked-off lanes are neither read nor
  // written, so they may lie past the row's end.
  static V LoadN32(const void* p, std::int32_t n) {
    return _mm512_maskz_loadu_epi32(static_cast<__mmask16>((1u << n) - 1), p);
  }
  static void StoreN32(void* p, V v, std::int32_t n) {
    _mm512_mask_storeu_epi32(p, static_cast<__mmask16>((1u << n) - 1), v);
  }
  static V LoadN64(const void* p, std::int32_t n) {
    return _mm512_maskz_loadu_epi64(static_cast<__mmask8>((1u << n) - 1), p);
  }
  static void StoreN64(void* p, V v, std::int32_t n) {
    _mm512_mask_storeu_epi64(p, static_cast<__mmask8>((1u << n) - 1), v);
  }
  static V Zero() { return _mm512_setzero_si512(); }
  static V Set16(std::uint32_t v) { return _mm512_set1_epi16(static_cast<short>(v)); }
  static V Set32(std::uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
  static V Set64(std::uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); }

  static V And(V a, V b) { return _mm512_and_si512(a, b); }
  static V AndNot(V a, V b) { return _mm512_andnot_si512(a, b); }  // ~a & b
  static V Or(V a, V b) { return _mm512_or_si512(a, b); }
  static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
  static V Add16(V a, V b) { return _mm512_add_epi16(a, b); }
  static V Add32(V a, V b) { return _mm512_add_epi32(a, b); }
  static V Add64(V a, V b) { return _mm512_add_epi64(a, b); }
  template <int N> static V Srli16(V v) { return _mm512_srli_epi16(v, N); }
  template <int N> static V Slli16(V v) { return _mm512_slli_epi16(v, N); }
  template <int N> static V Srli32(V v) { return _mm512_srli_epi32(v, N); }
  template <int N> static V Srli64(V v) { return _mm512_srli_epi64(v, N); }
  static V MaxU8(V a, V b) { return _mm512_max_epu8(a, b); }
  static V MinU8(V a, V b) { return _mm512_min_epu8(a, b); }
  static V MaxU16(V a, V b) { return _mm512_max_epu16(a, b); }
  static V MinU16(V a, V b) { return _mm512_min_epu16(a, b); }
  static V AvgU16(V a, V b) { return _mm512_avg_epu16(a, b); }  // (a + b + 1) >> 1
  static V Sub16(V a, V b) { return _mm512_sub_epi16(a, b); }
  static V MinU32(V a, V b) { return _mm512_min_epu32(a, b); }
  static V MulloI16(V a, V b) { return _mm512_mullo_epi16(a, b); }
  static V MulhiU16(V a, V b) { return _mm512_mulhi_epu16(a, b); }
  static V Madd16(V a, V b) { return _mm512_madd_epi16(a, b); }
  static V UnpackLo8(V a, V b) { return _mm512_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm512_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm512_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm512_unpackhi_epi16(a, b); }
  static V PackUs16(V a, V b) { return _mm512_packus_epi16(a, b); }
  static V PackUs32(V a, V b) { return _mm512_packus_epi32(a, b); }
  // Word 0 of each 64-bit lane from `a`, the rest from `p`.
  static V InsertAlpha16(V p, V a) { return _mm512_mask_blend_epi16(0x11111111u, p, a); }
  static V Gather32(const Pixel8* table, V index) { return _mm512_i32gather_epi32(index, table, 4); }
  static V Gather64(const Pixel16* table, V index) { return _mm512_i64gather_epi64(index, table, 8); }

  static F LoadF(const float* p) { return _mm512_loadu_ps(p); }
  static void StoreF(float* p, F v) { _mm512_storeu_ps(p, v); }
  static F SetF(float v) { return _mm512_set1_ps(v); }
  static F AddF(F a, F b) { return _mm512_add_ps(a, b); }
  static F SubF(F a, F b) { return _mm512_sub_ps(a, b); }
  static F MulF(F a, F b) { return _mm512_mul_ps(a, b); }
  static F MaxF(F a, F b) { return _mm512_max_ps(a, b); }  // a > b ? a : b
  static F MinF(F a, F b) { return _mm512_min_ps(a, b); }  // a < b ? a : b
  static M GeF(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ); }
  static M GtF(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
  static M LtF(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
  static M UnordF(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_UNORD_Q); }
  static F SelectF(M m, F a, F b) { return _mm512_mask_blend_ps(m, b, a); }  // m ? a : b
  static void Transpose4(F& a, F& b, F& c, F& d) {
    const F t0 = _mm512_unpacklo_ps(a, b), t1 = _mm512_unpackhi_ps(a, b);
    const F t2 = _mm512_unpacklo_ps(c, d), t3 = _mm512_unpackhi_ps(c, d);
    a = _mm512_castpd_ps(_mm512_unpacklo_pd(_mm512_castps_pd(t0), _mm512_castps_pd(t2)));
    b = _mm512_castpd_ps(_mm512_unpackhi_pd(_mm512_castps_pd(t0), _mm512_castps_pd(t2)));
    c = _mm512_castpd_ps(_mm512_unpacklo_pd(_mm512_castps_pd(t1), _mm512_castps_pd(t3)));
    d = _mm512_castpd_ps(_mm512_unpackhi_pd(_mm512_castps_pd(t1), _mm512_castps_pd(t3)));
  }

  static D LowD(F v) { return _mm512_cvtps_pd(_mm512_castps512_ps256(v)); }
  static D HighD(F v) {
    return _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1)));
  }
  static F JoinF(D lo, D hi) {
    const __m512d low = _mm512_castps_pd(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)));
    return _mm512_castpd_ps(_mm512_insertf64x4(low, _mm256_castps_pd(_mm512_cvtpd_ps(hi)), 1));
  }
  static D SetD(double v) { return _mm512_set1_pd(v); }
  static D AddD(D a, D b) { return _mm512_add_pd(a, b); }
  static D MulD(D a, D b) { return _mm512_mul_pd(a, b); }
  static __mmask8 LtD(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static __mmask8 GtD(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
  static D SelectD(__mmask8 m, D a, D b) { return _mm512_mask_blend_pd(m, b, a); }
  static constexpr int kLanesD = 8;
  static D LoadD(const double* p) { return _mm512_loadu_pd(p); }
  static void StoreD(double* p, D v) { _mm512_storeu_pd(p, v); }
  static D IotaD() { return _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7); }
  static D MaxD(D a, D b) { return _mm512_max_pd(a, b); }  // a > b ? a : b
  static D MinD(D a, D b) { return _mm512_min_pd(a, b); }  // a < b ? a : b
  static D SubD(D a, D b) { return _mm512_sub_pd(a, b); }
  static D DivD(D a, D b) { return _mm512_div_pd(a, b); }
  static __mmask8 GeD(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static D TruncD(D v) { return _mm512_roundscale_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
  static bool SameD(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ) == 0xFF; }  // every lane equal
  static bool AnyD(__mmask8 mask) { return mask != 0; }  // some lane of a comparison true
  // 64-bit lanes of doubles, for the power function (bitwise operations on
  // doubles through the integer forms, which AVX-512F has).
  static __mmask8 EqD(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
  static __mmask8 UnordD(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_UNORD_Q); }
  static D AndD(D a, D b) { return FromBitsD(_mm512_and_si512(BitsD(a), BitsD(b))); }
  static D OrD(D a, D b) { return FromBitsD(_mm512_or_si512(BitsD(a), BitsD(b))); }
  static V BitsD(D a) { return _mm512_castpd_si512(a); }
  static D FromBitsD(V a) { return _mm512_castsi512_pd(a); }
  template <int N> static V Slli64(V v) { return _mm512_slli_epi64(v, N); }
  // Float lanes as 32-bit integers, and the halves that LowD and HighD take
  // widened to 64-bit lanes.
  static V BitsF(F a) { return _mm512_castps_si512(a); }
  static F FromBitsF(V a) { return _mm512_castsi512_ps(a); }
  static F ToFloat32(V a) { return _mm512_cvtepi32_ps(a); }
  static M EqF(F a, F b) { return _mm512_cmp_ps_mask(a, b, _CMP_EQ_OQ); }
  static F GatherF(const float* table, V index) { return _mm512_i32gather_ps(index, table, 4); }
  // Entries 0 to 127 of a 64-byte-aligned table, from registers: four
  // two-register permutes of 32 entries each (index bits 0 to 4), then index
  // bits 5 and 6 pick among them. A fraction of a gather's latency.
  static F Lookup128F(const float* table, V index) {
    const auto pair = [&](int from) {
      return _mm512_permutex2var_ps(_mm512_load_ps(table + from), index, _mm512_load_ps(table + from + 16));
    };
    const __mmask16 bit5 = _mm512_test_epi32_mask(index, _mm512_set1_epi32(32));
    const __mmask16 bit6 = _mm512_test_epi32_mask(index, _mm512_set1_epi32(64));
    return _mm512_mask_blend_ps(bit6, _mm512_mask_blend_ps(bit5, pair(0), pair(32)),
                                _mm512_mask_blend_ps(bit5, pair(64), pair(96)));
  }
  // Entries 0 to 15 of a 64-byte-aligned table of doubles by the low four
  // bits of each 64-bit index lane (the others are not looked at): one
  // two-register permute.
  static D Lookup16D(const double* table, V index) {
    return _mm512_permutex2var_pd(_mm512_load_pd(table), index, _mm512_load_pd(table + 8));
  }
  static V WidenLow32(V a) { return _mm512_cvtepi32_epi64(_mm512_castsi512_si256(a)); }
  static V WidenHigh32(V a) { return _mm512_cvtepi32_epi64(_mm512_extracti64x4_epi64(a, 1)); }
  // Every lane finite and above 0 (NaN is not).
  static bool AllPositiveFinite(F x) {
    return (_mm512_cmp_ps_mask(x, _mm512_setzero_ps(), _CMP_GT_OQ) &
            _mm512_cmp_ps_mask(x, _mm512_set1_ps(__builtin_inff()), _CMP_LT_OQ)) == 0xFFFF;
  }
  static D GatherD(const double* table, V index) { return _mm512_i64gather_pd(index, table, 8); }
  // kLanesD table entries from their channels, each truncated toward zero
  // (the values are 0 to the channel maximum).
  static void StoreEntries(Pixel8* p, D a, D r, D g, D b) {
    const __m256i ar = _mm256_or_si256(Trunc32(a), _mm256_slli_epi32(Trunc32(r), 8));
    const __m256i gb = _mm256_or_si256(_mm256_slli_epi32(Trunc32(g), 16), _mm256_slli_epi32(Trunc32(b), 24));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_or_si256(ar, gb));
  }
  static void StoreEntries(Pixel16* p, D a, D r, D g, D b) {
    const __m256i ar = _mm256_or_si256(Trunc32(a), _mm256_slli_epi32(Trunc32(r), 16));
    const __m256i gb = _mm256_or_si256(Trunc32(g), _mm256_slli_epi32(Trunc32(b), 16));
    const __m512i low = _mm512_cvtepu32_epi64(ar), high = _mm512_slli_epi64(_mm512_cvtepu32_epi64(gb), 32);
    _mm512_storeu_si512(p, _mm512_or_si512(low, high));
  }
  static __m256i Trunc32(D v) { return _mm512_maskz_cvttpd_epi32(0xff, v); }
};

}  // namespace
}  // namespace qv::detail
