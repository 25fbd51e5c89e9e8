#include "engine/float_state.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define QV_X86 1
#else
#include <cfenv>
#endif

namespace qv {

#if QV_X86
ScopedFloatState::ScopedFloatState(FloatUnits units) noexcept
    : sse_(_mm_getcsr()), x87_saved_(units == FloatUnits::kSseAndX87) {
  if (x87_saved_) {
    // FNSTENV also masks every x87 exception; the control word then says the rest.
    const std::uint16_t control = kEffectX87Control;
    __asm__ volatile("fnstenv %0\n\tfldcw %1" : "=m"(x87_) : "m"(control));
  }
  _mm_setcsr(kEffectMxcsr);
}

ScopedFloatState::~ScopedFloatState() {
  _mm_setcsr(sse_);
  if (x87_saved_) __asm__ volatile("fldenv %0" : : "m"(x87_));
}
#else
// Elsewhere only the rounding direction is standard.
ScopedFloatState::ScopedFloatState(FloatUnits) noexcept
    : sse_(static_cast<std::uint32_t>(std::fegetround())), x87_saved_(false) {
  std::fesetround(FE_TONEAREST);
}

ScopedFloatState::~ScopedFloatState() { std::fesetround(static_cast<int>(sse_)); }
#endif

}  // namespace qv
