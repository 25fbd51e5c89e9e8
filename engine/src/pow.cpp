#include "engine/pow.h"

#include "pass_kernels.h"

namespace qv {

void PowRow(PassVariant variant, const float* x, float* out, std::int32_t n, float y) {
  const detail::PowExponent exponent = detail::MakePowExponent(y);
  const detail::PassKernels* kernels =
      PassVariantAvailable(variant) ? detail::KernelsOf(variant, TableReads::kGathers) : nullptr;
  if (kernels != nullptr) {
    kernels->powRow(x, out, n, exponent);
    return;
  }
  for (std::int32_t i = 0; i < n; ++i) out[i] = detail::PowF(x[i], exponent);
}

}  // namespace qv
