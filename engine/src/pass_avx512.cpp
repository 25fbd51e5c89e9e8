// The AVX-512 row kernels: the shared kernels over the AVX-512 operations.
// Compiled with -mavx512f -mavx512bw -mavx512vl; chosen at run time only on
// processors (and systems) with those.

#include "avx512_ops.h"
#include "simd_rows.h"

namespace qv::detail {
namespace {

constexpr PassKernels kKernels = simd::MakeKernels<Avx512>();
constexpr PassKernels kLaneLoadKernels = simd::MakeKernels<simd::LaneLoads<Avx512>>();

}  // namespace

const PassKernels* Avx512Kernels(TableReads reads) {
  return reads == TableReads::kLaneLoads ? &kLaneLoadKernels : &kKernels;
}

}  // namespace qv::detail
