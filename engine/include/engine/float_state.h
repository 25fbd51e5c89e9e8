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

// Which units a guard pins. The x87 unit runs only the Windows runtime's pow,
// which the levels and the table builds call on the command's thread; the
// bands' code is SSE and AVX alone, and leaves the x87 state (costly to save
// and load) as it found it.
enum class FloatUnits { kSse, kSseAndX87 };

// Puts the calling thread's `units` in that state for the object's life and
// gives them back the state it found (flags included) when the object goes,
// however the scope is left. Made around the effect's own arithmetic, and
// never around a call into the host: the host's callbacks (which may evaluate
// expressions or render upstream layers on the same thread) run in the
// host's own state. So the entry point makes none; the pre-render's parameter
// conversions, the ToneMapper's build and each band make one. The pre-render
// data's delete function, which does no floating-point work, makes none.
class ScopedFloatState {
 public:
  explicit ScopedFloatState(FloatUnits units) noexcept;
  ~ScopedFloatState();
  ScopedFloatState(const ScopedFloatState&) = delete;
  ScopedFloatState& operator=(const ScopedFloatState&) = delete;

 private:
  std::uint32_t sse_;                  // MXCSR
  bool x87_saved_;
  alignas(4) std::uint8_t x87_[28]{};  // the x87 environment (FNSTENV's image)
};

// The control state the effect runs in, as the registers hold it.
inline constexpr std::uint32_t kEffectMxcsr = 0x1F80;   // all masked, to nearest, no FTZ, no DAZ
inline constexpr std::uint16_t kEffectX87Control = 0x037F;  // all masked, 64-bit precision, to nearest

}  // namespace qv
