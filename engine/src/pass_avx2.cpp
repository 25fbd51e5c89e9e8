// The AVX2 row kernels: 8 pixels per vector at 8 bits, 4 at 16 bits, 8 at
// float; table lookups by hardware gather. Compiled with -mavx2 (and nothing
// that enables FMA); chosen at run time only on processors with AVX2.

#include <immintrin.h>


#include "simd_rows.h"

namespace qv::detail {
namespace {

struct Avx2 {
  using V = __m256i;
  using F = __m256;
  using D = __m256d;
  using M = __m256;
  static constexpr int kLanes32 = 8, kLanes64 = 4, kLanesF = 8;
  static constexpr bool kMaskedTail = false;

  static V Load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  static void Store(void* p, V v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
  // A streaming store; p aligned to the vector.
  static void Stream(void* p, V v) { _mm256_stream_si256(static_cast<__m256i*>(p), v); }
  static V Zero() { return _mm256_setzero_si256(); }
  static V Set16(std::uint32_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static V Set32(std::uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static V Set64(std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }

  static V And(V a, V b) { return _mm256_and_si256(a, b); }
  static V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }  // ~a & b
  static V Or(V a, V b) { return _mm256_or_si256(a, b); }
  static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
  static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
  static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
  static V Add64(V a, V b) { return _mm256_add_epi64(a, b); }
  template <int N> static V Srli16(V v) { return _mm256_srli_epi16(v, N); }
  template <int N> static V Slli16(V v) { return _mm256_slli_epi16(v, N); }
  template <int N> static V Srli32(V v) { return _mm256_srli_epi32(v, N); }
  template <int N> static V Srli64(V v) { return _mm256_srli_epi64(v, N); }
  static V MaxU8(V a, V b) { return _mm256_max_epu8(a, b); }
  static V MinU8(V a, V b) { return _mm256_min_epu8(a, b); }
  static V MaxU16(V a, V b) { return _mm256_max_epu16(a, b); }
  static V MinU16(V a, V b) { return _mm256_min_epu16(a, b); }
  static V AvgU16(V a, V b) { return _mm256_avg_epu16(a, b); }  // (a + b + 1) >> 1
  static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V MinU32(V a, V b) { return _mm256_min_epu32(a, b); }
  static V MulloI16(V a, V b) { return _mm256_mullo_epi16(a, b); }
  static V MulhiU16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
  static V Madd16(V a, V b) { return _mm256_madd_epi16(a, b); }
  static V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V PackUs16(V a, V b) { return _mm256_packus_epi16(a, b); }
  static V PackUs32(V a, V b) { return _mm256_packus_epi32(a, b); }
  // Word 0 of each 64-bit lane from `a`, the rest from `p`.
  static V InsertAlpha16(V p, V a) { return _mm256_blend_epi16(p, a, 0x11); }
  static V Gather32(const Pixel8* table, V index) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
  }
  static V Gather64(const Pixel16* table, V index) {
    return _mm256_i64gather_epi64(reinterpret_cast<const long long*>(table), index, 8);
  }

  static F LoadF(const float* p) { return _mm256_loadu_ps(p); }
  static void StoreF(float* p, F v) { _mm256_storeu_ps(p, v); }
  static F SetF(float v) { return _mm256_set1_ps(v); }
  static F AddF(F a, F b) { return _mm256_add_ps(a, b); }
  static F SubF(F a, F b) { return _mm256_sub_ps(a, b); }
  static F MulF(F a, F b) { return _mm256_mul_ps(a, b); }
  static F MaxF(F a, F b) { return _mm256_max_ps(a, b); }  // a > b ? a : b
  static F MinF(F a, F b) { return _mm256_min_ps(a, b); }  // a < b ? a : b
  static M GeF(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
  static M GtF(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
  static M LtF(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  static M UnordF(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_UNORD_Q); }
  static F SelectF(M m, F a, F b) { return _mm256_blendv_ps(b, a, m); }  // m ? a : b
  static void Transpose4(F& a, F& b, F& c, F& d) {
    const F t0 = _mm256_unpacklo_ps(a, b), t1 = _mm256_unpackhi_ps(a, b);
    const F t2 = _mm256_unpacklo_ps(c, d), t3 = _mm256_unpackhi_ps(c, d);
    a = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(t0), _mm256_castps_pd(t2)));
    b = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(t0), _mm256_castps_pd(t2)));
    c = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(t1), _mm256_castps_pd(t3)));
    d = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(t1), _mm256_castps_pd(t3)));
  }

  static D LowD(F v) { return _mm256_cvtps_pd(_mm256_castps256_ps128(v)); }
  static D HighD(F v) { return _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)); }
  static F JoinF(D lo, D hi) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(lo)), _mm256_cvtpd_ps(hi), 1);
  }
  static D SetD(double v) { return _mm256_set1_pd(v); }
  static D AddD(D a, D b) { return _mm256_add_pd(a, b); }
  static D MulD(D a, D b) { return _mm256_mul_pd(a, b); }
  static D LtD(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static D GtD(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  static D SelectD(D m, D a, D b) { return _mm256_blendv_pd(b, a, m); }
  static constexpr int kLanesD = 4;
  static D LoadD(const double* p) { return _mm256_loadu_pd(p); }
  static void StoreD(double* p, D v) { _mm256_storeu_pd(p, v); }
  static D IotaD() { return _mm256_setr_pd(0, 1, 2, 3); }
  static D MaxD(D a, D b) { return _mm256_max_pd(a, b); }  // a > b ? a : b
  static D MinD(D a, D b) { return _mm256_min_pd(a, b); }  // a < b ? a : b
  static D SubD(D a, D b) { return _mm256_sub_pd(a, b); }
  static D DivD(D a, D b) { return _mm256_div_pd(a, b); }
  static D GeD(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static D TruncD(D v) { return _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
  static bool SameD(D a, D b) { return _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_EQ_OQ)) == 0xF; }
  static bool AnyD(D mask) { return _mm256_movemask_pd(mask) != 0; }  // some lane of a comparison true
  // 64-bit lanes of doubles, for the power function.
  static D EqD(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
  static D UnordD(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_UNORD_Q); }
  static D AndD(D a, D b) { return _mm256_and_pd(a, b); }
  static D OrD(D a, D b) { return _mm256_or_pd(a, b); }
  static V BitsD(D a) { return _mm256_castpd_si256(a); }
  static D FromBitsD(V a) { return _mm256_castsi256_pd(a); }
  template <int N> static V Slli64(V v) { return _mm256_slli_epi64(v, N); }
  // Float lanes as 32-bit integers, and the halves that LowD and HighD take
  // widened to 64-bit lanes.
  static V BitsF(F a) { return _mm256_castps_si256(a); }
  static F FromBitsF(V a) { return _mm256_castsi256_ps(a); }
  static F ToFloat32(V a) { return _mm256_cvtepi32_ps(a); }
  static M EqF(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
  static F GatherF(const float* table, V index) { return _mm256_i32gather_ps(table, index, 4); }
  static V WidenLow32(V a) { return _mm256_cvtepi32_epi64(_mm256_castsi256_si128(a)); }
  static V WidenHigh32(V a) { return _mm256_cvtepi32_epi64(_mm256_extracti128_si256(a, 1)); }
  // Every lane finite and above 0 (NaN is not).
  static bool AllPositiveFinite(F x) {
    const F inf = _mm256_set1_ps(__builtin_inff());
    const F inside = _mm256_and_ps(_mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_GT_OQ), _mm256_cmp_ps(x, inf, _CMP_LT_OQ));
    return _mm256_movemask_ps(inside) == 0xFF;
  }
  static D GatherD(const double* table, V index) { return _mm256_i64gather_pd(table, index, 8); }
  // kLanesD table entries from their channels, each truncated toward zero
  // (the values are 0 to the channel maximum).
  static void StoreEntries(Pixel8* p, D a, D r, D g, D b) {
    const __m128i ar = _mm_or_si128(Trunc32(a), _mm_slli_epi32(Trunc32(r), 8));
    const __m128i gb = _mm_or_si128(_mm_slli_epi32(Trunc32(g), 16), _mm_slli_epi32(Trunc32(b), 24));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_or_si128(ar, gb));
  }
  static void StoreEntries(Pixel16* p, D a, D r, D g, D b) {
    const __m128i ar = _mm_or_si128(Trunc32(a), _mm_slli_epi32(Trunc32(r), 16));
    const __m128i gb = _mm_or_si128(Trunc32(g), _mm_slli_epi32(Trunc32(b), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi32(ar, gb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2), _mm_unpackhi_epi32(ar, gb));
  }
  static __m128i Trunc32(D v) { return _mm256_cvttpd_epi32(v); }
};

constexpr PassKernels kKernels = simd::MakeKernels<Avx2>();
constexpr PassKernels kLaneLoadKernels = simd::MakeKernels<simd::LaneLoads<Avx2>>();

}  // namespace

const PassKernels* Avx2Kernels(TableReads reads) {
  return reads == TableReads::kLaneLoads ? &kLaneLoadKernels : &kKernels;
}

}  // namespace qv::detail
