#pragma once

// Fixtures shared by the engine tests.

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/tone_mapper.h"

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

inline ToneMapper MakeMapper(PixelDepth depth, const ToneParams& params) { return ToneMapper({depth, params}); }

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

// Settings in the host's ranges: every Base On and tone count, blend on or off.
inline ToneParams RandomParams() {
  ToneParams p = BaseParams();
  p.baseOn = RandomInt(1, 6);
  p.tones = RandomInt(1, 4);
  for (PixelFloat* c : {&p.highlights, &p.brights, &p.midtones, &p.darktones, &p.shadows}) {
    *c = Colour(RandomInt(0, 255), RandomInt(0, 255), RandomInt(0, 255));
  }
  p.inputBlack = RandomReal(0, 0.4);
  p.inputWhite = RandomReal(0.6, 1);
  p.gamma = RandomInt(0, 1) ? 1.0 : RandomReal(0.2, 4);
  p.outputBlack = RandomReal(-0.1, 0.5);
  p.outputWhite = RandomReal(0.5, 1.1);
  p.highlightsOpacity = RandomInt(0, 100) / 100.0;
  p.shadowsOpacity = RandomInt(0, 100) / 100.0;
  p.blend = RandomInt(0, 1) ? 0.0 : RandomInt(0, 100) / 100.0;
  return p;
}

}  // namespace qv::test
