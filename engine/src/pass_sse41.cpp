// The SSE4.1 row kernels: 4 pixels per vector at 8 bits, 2 at 16 bits, 4 at
// float; table lookups by one plain load per lane (there is no gather).
// Compiled with -msse4.1; chosen at run time only on processors with SSE4.1.

#include <immintrin.h>


#include "simd_rows.h"

namespace qv::detail {
namespace {

template <class T, class Pixel>
T LoadEntry(const Pixel* table, long long index) {
  T v;
  __builtin_memcpy(&v, table + index, sizeof v);
  return v;
}

struct Sse41 {
  using V = __m128i;
  using F = __m128;
  using D = __m128d;
  using M = __m128;
  static constexpr int kLanes32 = 4, kLanes64 = 2, kLanesF = 4;
  static constexpr bool kMaskedTail = false;

  static V Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static void Store(void* p, V v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  // A streaming store; p aligned to the vector.
  static void Stream(void* p, V v) { _mm_stream_si128(static_cast<__m128i*>(p), v); }
  static V Zero() { return _mm_setzero_si128(); }
  static V Set16(std::uint32_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static V Set32(std::uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static V Set64(std::uint64_t v) { return _mm_set1_epi64x(static_cast<long long>(v)); }

  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
  static V Or(V a, V b) { return _mm_or_si128(a, b); }
  static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
  static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
  static V Add64(V a, V b) { return _mm_add_epi64(a, b); }
  template <int N> static V Srli16(V v) { return _mm_srli_epi16(v, N); }
  template <int N> static V Slli16(V v) { return _mm_slli_epi16(v, N); }
  template <int N> static V Srli32(V v) { return _mm_srli_epi32(v, N); }
  template <int N> static V Srli64(V v) { return _mm_srli_epi64(v, N); }
  static V MaxU8(V a, V b) { return _mm_max_epu8(a, b); }
  static V MinU8(V a, V b) { return _mm_min_epu8(a, b); }
  static V MaxU16(V a, V b) { return _mm_max_epu16(a, b); }
  static V MinU16(V a, V b) { return _mm_min_epu16(a, b); }
  static V AvgU16(V a, V b) { return _mm_avg_epu16(a, b); }  // (a + b + 1) >> 1
  static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V MinU32(V a, V b) { return _mm_min_epu32(a, b); }
  static V MulloI16(V a, V b) { return _mm_mullo_epi16(a, b); }
  static V MulhiU16(V a, V b) { return _mm_mulhi_epu16(a, b); }
  static V Madd16(V a, V b) { return _mm_madd_epi16(a, b); }
  static V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V PackUs16(V a, V b) { return _mm_packus_epi16(a, b); }
  static V PackUs32(V a, V b) { return _mm_packus_epi32(a, b); }
  // Word 0 of each 64-bit lane from `a`, the rest from `p`.
  static V InsertAlpha16(V p, V a) { return _mm_blend_epi16(p, a, 0x11); }
  static V Gather32(const Pixel8* table, V index) {
    return _mm_setr_epi32(LoadEntry<int>(table, _mm_cvtsi128_si32(index)),
                          LoadEntry<int>(table, _mm_extract_epi32(index, 1)),
                          LoadEntry<int>(table, _mm_extract_epi32(index, 2)),
                          LoadEntry<int>(table, _mm_extract_epi32(index, 3)));
  }
  static V Gather64(const Pixel16* table, V index) {
    return _mm_set_epi64x(LoadEntry<long long>(table, _mm_extract_epi64(index, 1)),
                          LoadEntry<long long>(table, _mm_cvtsi128_si64(index)));
  }

  static F LoadF(const float* p) { return _mm_loadu_ps(p); }
  static void StoreF(float* p, F v) { _mm_storeu_ps(p, v); }
  static F SetF(float v) { return _mm_set1_ps(v); }
  static F AddF(F a, F b) { return _mm_add_ps(a, b); }
  static F SubF(F a, F b) { return _mm_sub_ps(a, b); }
  static F MulF(F a, F b) { return _mm_mul_ps(a, b); }
  static F MaxF(F a, F b) { return _mm_max_ps(a, b); }  // a > b ? a : b
  static F MinF(F a, F b) { return _mm_min_ps(a, b); }  // a < b ? a : b
  static M GeF(F a, F b) { return _mm_cmpge_ps(a, b); }
  static M GtF(F a, F b) { return _mm_cmpgt_ps(a, b); }
  static M LtF(F a, F b) { return _mm_cmplt_ps(a, b); }
  static M UnordF(F a, F b) { return _mm_cmpunord_ps(a, b); }
  static F SelectF(M m, F a, F b) { return _mm_blendv_ps(b, a, m); }  // m ? a : b
  static void Transpose4(F& a, F& b, F& c, F& d) {
    const F t0 = _mm_unpacklo_ps(a, b), t1 = _mm_unpackhi_ps(a, b);
    const F t2 = _mm_unpacklo_ps(c, d), t3 = _mm_unpackhi_ps(c, d);
    a = _mm_movelh_ps(t0, t2);
    b = _mm_movehl_ps(t2, t0);
    c = _mm_movelh_ps(t1, t3);
    d = _mm_movehl_ps(t3, t1);
  }

  static D LowD(F v) { return _mm_cvtps_pd(v); }
  static D HighD(F v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }
  static F JoinF(D lo, D hi) { return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)); }
  static D SetD(double v) { return _mm_set1_pd(v); }
  static D AddD(D a, D b) { return _mm_add_pd(a, b); }
  static D MulD(D a, D b) { return _mm_mul_pd(a, b); }
  static D LtD(D a, D b) { return _mm_cmplt_pd(a, b); }
  static D GtD(D a, D b) { return _mm_cmpgt_pd(a, b); }
  static D SelectD(D m, D a, D b) { return _mm_blendv_pd(b, a, m); }
  static constexpr int kLanesD = 2;
  static D LoadD(const double* p) { return _mm_loadu_pd(p); }
  static void StoreD(double* p, D v) { _mm_storeu_pd(p, v); }
  static D IotaD() { return _mm_setr_pd(0, 1); }
  static D MaxD(D a, D b) { return _mm_max_pd(a, b); }  // a > b ? a : b
  static D MinD(D a, D b) { return _mm_min_pd(a, b); }  // a < b ? a : b
  static D SubD(D a, D b) { return _mm_sub_pd(a, b); }
  static D DivD(D a, D b) { return _mm_div_pd(a, b); }
  static D GeD(D a, D b) { return _mm_cmpge_pd(a, b); }
  static D TruncD(D v) { return _mm_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
  static bool SameD(D a, D b) { return _mm_movemask_pd(_mm_cmpeq_pd(a, b)) == 0x3; }
  static bool AnyD(D mask) { return _mm_movemask_pd(mask) != 0; }  // some lane of a comparison true
  // 64-bit lanes of doubles, for the power function.
  static D EqD(D a, D b) { return _mm_cmpeq_pd(a, b); }
  static D UnordD(D a, D b) { return _mm_cmpunord_pd(a, b); }
  static D AndD(D a, D b) { return _mm_and_pd(a, b); }
  static D OrD(D a, D b) { return _mm_or_pd(a, b); }
  static V BitsD(D a) { return _mm_castpd_si128(a); }
  static D FromBitsD(V a) { return _mm_castsi128_pd(a); }
  template <int N> static V Slli64(V v) { return _mm_slli_epi64(v, N); }
  // Float lanes as 32-bit integers, and the halves that LowD and HighD take
  // widened to 64-bit lanes.
  static V BitsF(F a) { return _mm_castps_si128(a); }
  static F FromBitsF(V a) { return _mm_castsi128_ps(a); }
  static F ToFloat32(V a) { return _mm_cvtepi32_ps(a); }
  static M EqF(F a, F b) { return _mm_cmpeq_ps(a, b); }
  static F GatherF(const float* table, V index) {
    return _mm_setr_ps(table[_mm_extract_epi32(index, 0)], table[_mm_extract_epi32(index, 1)],
                       table[_mm_extract_epi32(index, 2)], table[_mm_extract_epi32(index, 3)]);
  }
  static V WidenLow32(V a) { return _mm_cvtepi32_epi64(a); }
  static V WidenHigh32(V a) { return _mm_cvtepi32_epi64(_mm_srli_si128(a, 8)); }
  // Every lane finite and above 0 (NaN is not).
  static bool AllPositiveFinite(F x) {
    const F inf = _mm_set1_ps(__builtin_inff());
    const F inside = _mm_and_ps(_mm_cmpgt_ps(x, _mm_setzero_ps()), _mm_cmplt_ps(x, inf));
    return _mm_movemask_ps(inside) == 0xF;
  }
  static D GatherD(const double* table, V index) {
    return _mm_set_pd(table[_mm_extract_epi64(index, 1)], table[_mm_cvtsi128_si64(index)]);
  }
  // kLanesD table entries from their channels, each truncated toward zero
  // (the values are 0 to the channel maximum).
  static void StoreEntries(Pixel8* p, D a, D r, D g, D b) {
    const __m128i ar = _mm_or_si128(Trunc32(a), _mm_slli_epi32(Trunc32(r), 8));
    const __m128i gb = _mm_or_si128(_mm_slli_epi32(Trunc32(g), 16), _mm_slli_epi32(Trunc32(b), 24));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_or_si128(ar, gb));
  }
  static void StoreEntries(Pixel16* p, D a, D r, D g, D b) {
    const __m128i ar = _mm_or_si128(Trunc32(a), _mm_slli_epi32(Trunc32(r), 16));
    const __m128i gb = _mm_or_si128(Trunc32(g), _mm_slli_epi32(Trunc32(b), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi32(ar, gb));
  }
  static __m128i Trunc32(D v) { return _mm_cvttpd_epi32(v); }
};

constexpr PassKernels kKernels = simd::MakeKernels<Sse41>();

}  // namespace

const PassKernels* Sse41Kernels() { return &kKernels; }

}  // namespace qv::detail
