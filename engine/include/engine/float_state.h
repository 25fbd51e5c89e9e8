#pragma once

// The floating-point control state the effect's arithmetic is exact in:
// rounding to nearest, subnormal numbers kept (neither flush-to-zero nor
// denormals-are-zero), every exception masked, and the x87 unit (which the
// Windows runtime's pow uses) at its full 64-bit precision. A host, or another
// plug-in on its threads, may leave a thread in another state for speed; the
// power function's rounding step, the float passes and the table builds would
// then give other bits.

#include <cstdint>

namespace qv {

// Puts the calling thread in that state for the object's life and gives it
// back the state it found (flags included) when the object goes, however the
// scope is left. Made wherever the host hands the effect a thread: each call
// of the entry point and each band on the host's worker threads.
class ScopedFloatState {
 public:
  ScopedFloatState() noexcept;
  ~ScopedFloatState();
  ScopedFloatState(const ScopedFloatState&) = delete;
  ScopedFloatState& operator=(const ScopedFloatState&) = delete;

 private:
  std::uint32_t sse_;                  // MXCSR
  alignas(4) std::uint8_t x87_[28]{};  // the x87 environment (FNSTENV's image)
};

// The control state the effect runs in, as the registers hold it.
inline constexpr std::uint32_t kEffectMxcsr = 0x1F80;   // all masked, to nearest, no FTZ, no DAZ
inline constexpr std::uint16_t kEffectX87Control = 0x037F;  // all masked, 64-bit precision, to nearest

}  // namespace qv
