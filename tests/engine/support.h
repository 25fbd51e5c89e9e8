#pragma once

// Fixtures shared by the engine tests.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "engine/tone_mapper.h"
#include "forced_passes.h"

namespace qv::test {

inline PixelFloat Colour(int r, int g, int b) {
  return FromPixel8({255, std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
}

// Identity levels, opacity 0 % to 100 %, no blend, the parameter defaults'
// colours, Tritone on Lightness.
inline ToneParams BaseParams() {
  return {kBaseLightness, kTritone, Colour(255, 255, 255), Colour(192, 170, 120), Colour(128, 100, 70),
          Colour(64, 50, 10), Colour(0, 0, 0), 0, 1, 1, 0, 1, 1, 0, 0};
}

// A mapper on the passes the environment forces (engine.forced.* in CTest),
// else on the processor's and the machine's choices.
inline ToneMapper MakeMapper(PixelDepth depth, const ToneParams& params) {
  return ToneMapper({depth, params}, testing::PassesFromEnvironment());
}

// Byte-exact: tells -0 from 0.
template <class Pixel>
bool Same(const Pixel& a, const Pixel& b) {
  return std::memcmp(&a, &b, sizeof(Pixel)) == 0;
}

// A buffer with padding at the end of each row and one spare pixel after it.
template <class Pixel>
struct Image {
  std::int32_t width, height, stride;
  std::vector<Pixel> pixels;

  Image(std::int32_t w, std::int32_t h, std::int32_t padding, Pixel fill)
      : width(w), height(h), stride(w + padding), pixels(std::size_t(stride) * h + 1, fill) {}
  Pixel& At(std::int32_t x, std::int32_t y) { return pixels[std::size_t(y) * stride + x]; }
  ImageView View(PixelDepth depth) { return {depth, pixels.data(), width, height, stride}; }
};

inline std::mt19937& Rng() {
  static std::mt19937 rng(20240611);
  return rng;
}
inline int RandomInt(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(Rng()); }
inline double RandomReal(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(Rng()); }

inline double LogUniform(double lo, double hi) { return std::exp(RandomReal(std::log(lo), std::log(hi))); }

// Settings anywhere in the host's valid ranges: every Base On and tone count,
// blend on or off, Gamma from 0.01 to 50, Output Black above Output White, and
// black and white points that give no real curve (equal points, a negative
// black point under a fractional exponent).
inline ToneParams RandomParams() {
  ToneParams p = BaseParams();
  p.baseOn = RandomInt(1, 6);
  p.tones = RandomInt(1, 4);
  for (PixelFloat* c : {&p.highlights, &p.brights, &p.midtones, &p.darktones, &p.shadows}) {
    *c = Colour(RandomInt(0, 255), RandomInt(0, 255), RandomInt(0, 255));
  }
  switch (RandomInt(0, 5)) {
    case 0:  // equal points: Input White is raised by 0.000001
      p.inputBlack = p.inputWhite = RandomReal(0, 1);
      break;
    case 1:  // a negative black point
      p.inputBlack = RandomReal(-0.5, -0.01);
      p.inputWhite = RandomReal(0.6, 1);
      break;
    default:
      p.inputBlack = RandomReal(0, 0.4);
      p.inputWhite = RandomReal(0.6, 1);
  }
  switch (RandomInt(0, 5)) {
    case 0:
      p.gamma = LogUniform(0.01, 0.2);
      break;
    case 1:
      p.gamma = LogUniform(4, 50);
      break;
    case 2:
    case 3:
      p.gamma = 1.0;
      break;
    default:
      p.gamma = RandomReal(0.2, 4);
  }
  p.outputBlack = RandomReal(-0.1, 0.5);
  p.outputWhite = RandomReal(0.5, 1.1);
  if (RandomInt(0, 3) == 0) std::swap(p.outputBlack, p.outputWhite);  // the ramp turned around
  p.highlightsOpacity = RandomInt(0, 100) / 100.0;
  p.shadowsOpacity = RandomInt(0, 100) / 100.0;
  p.blend = RandomInt(0, 1) ? 0.0 : RandomInt(0, 100) / 100.0;
  return p;
}

// A float channel: mostly within -0.25 to 1.25, sometimes far outside, zero
// of either sign, infinite or not a number.
inline float RandomFloatChannel() {
  switch (RandomInt(0, 15)) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return -std::numeric_limits<float>::quiet_NaN();
    case 2: return std::numeric_limits<float>::infinity();
    case 3: return -std::numeric_limits<float>::infinity();
    case 4: return float(RandomReal(-1000, 1000));
    case 5: return RandomInt(0, 1) ? 0.0f : -0.0f;
    default: return float(RandomReal(-0.25, 1.25));
  }
}

// Float pixels compare by value, any NaN equal to any other: C++ leaves a
// NaN's sign and payload to the order of the operands, so two correct
// computations may give different NaNs. Every other value compares by its
// bytes (-0 is not 0).
inline bool SameValue(const PixelFloat& a, const PixelFloat& b) {
  const float x[4] = {a.alpha, a.red, a.green, a.blue}, y[4] = {b.alpha, b.red, b.green, b.blue};
  for (int i = 0; i < 4; ++i) {
    if (!(std::isnan(x[i]) && std::isnan(y[i])) && std::memcmp(&x[i], &y[i], sizeof x[i]) != 0) return false;
  }
  return true;
}
template <class Pixel>
bool SameValue(const Pixel& a, const Pixel& b) {
  return Same(a, b);
}

}  // namespace qv::test
