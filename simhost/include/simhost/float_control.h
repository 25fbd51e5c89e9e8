// The floating-point control state of a thread, as a host may leave its
// threads: other hosts and plug-ins set flush-to-zero, denormals-are-zero or
// another rounding for speed and never restore them.
#ifndef SIMHOST_FLOAT_CONTROL_H
#define SIMHOST_FLOAT_CONTROL_H

#include <cstdint>
#include <string>

namespace simhost {

// SSE's control and status register and the x87 unit's control word.
struct FloatControl {
  std::uint32_t mxcsr = 0x1F80;  // every exception masked, rounding to nearest
  std::uint16_t x87 = 0x037F;    // the same, 64-bit precision

  bool operator==(const FloatControl&) const = default;
};

// Flush-to-zero, denormals-are-zero and rounding toward zero; the x87 unit
// rounding toward zero at 24-bit precision. Exceptions stay masked.
inline constexpr FloatControl kHostileFloatControl{0x1F80 | 0x8000 | 0x0040 | 0x6000, 0x007F | 0x0C00};

// The calling thread's state.
FloatControl CurrentFloatControl();
// The state's control bits alone: MXCSR's exception flags cleared, which
// arithmetic raises without anyone setting a state.
FloatControl ControlsOf(FloatControl state);
void SetFloatControl(const FloatControl& state);

// "MXCSR 0x1f80, x87 control 0x37f"
std::string Describe(const FloatControl& state);

// Puts this thread in `state` for the object's life (nothing when empty) and
// then back in the state it had.
class ScopedFloatControl {
 public:
  explicit ScopedFloatControl(const FloatControl* state);
  ~ScopedFloatControl();
  ScopedFloatControl(const ScopedFloatControl&) = delete;
  ScopedFloatControl& operator=(const ScopedFloatControl&) = delete;

 private:
  FloatControl saved_;
  bool set_;
};

}  // namespace simhost

#endif  // SIMHOST_FLOAT_CONTROL_H
