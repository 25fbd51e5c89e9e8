#include "simhost/float_control.h"

#include <xmmintrin.h>

#include <cstdio>

namespace simhost {

FloatControl CurrentFloatControl() {
  FloatControl state;
  state.mxcsr = _mm_getcsr();
  __asm__ volatile("fnstcw %0" : "=m"(state.x87));
  return state;
}

FloatControl ControlsOf(FloatControl state) {
  state.mxcsr &= ~0x3Fu;
  return state;
}

void SetFloatControl(const FloatControl& state) {
  _mm_setcsr(state.mxcsr);
  __asm__ volatile("fldcw %0" : : "m"(state.x87));
}

std::string Describe(const FloatControl& state) {
  char text[48];
  std::snprintf(text, sizeof text, "MXCSR 0x%x, x87 control 0x%x", static_cast<unsigned>(state.mxcsr),
                static_cast<unsigned>(state.x87));
  return text;
}

ScopedFloatControl::ScopedFloatControl(const FloatControl* state)
    : saved_(CurrentFloatControl()), set_(state != nullptr) {
  if (set_) SetFloatControl(*state);
}

ScopedFloatControl::~ScopedFloatControl() {
  if (set_) SetFloatControl(saved_);
}

}  // namespace simhost
