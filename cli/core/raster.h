#pragma once

// Pixels as image files hold them, between the file and the host's world.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <variant>
#include <vector>

namespace qv::cli {

// The channel format a frame is rendered in: the host's 8-bit, 16-bit and
// 32-bit float pixels.
enum class Depth { k8, k16, kFloat };

// Rows top to bottom, channels interleaved: 1 grey, 2 grey and alpha, 3 red,
// green, blue, 4 red, green, blue, alpha. Samples run 0 to 255 (8-bit),
// 0 to 65535 (16-bit, as files count) or nominally 0 to 1 (float).
template <class T>
struct Image {
  static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t> || std::is_same_v<T, float>);
  static constexpr T kMax = [] {
    if constexpr (std::is_same_v<T, float>) {
      return 1.0f;
    } else {
      return std::numeric_limits<T>::max();
    }
  }();

  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t channels = 0;
  std::vector<T> samples;

  Image() = default;
  Image(std::int32_t w, std::int32_t h, std::int32_t c)
      : width(w), height(h), channels(c), samples(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * c) {}

  T* Pixel(std::int32_t x, std::int32_t y) { return samples.data() + Offset(x, y); }
  const T* Pixel(std::int32_t x, std::int32_t y) const { return samples.data() + Offset(x, y); }

 private:
  std::size_t Offset(std::int32_t x, std::int32_t y) const {
    return (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) *
           static_cast<std::size_t>(channels);
  }
};

// A value on T's scale as a T sample: integers rounded and held within
// 0..kMax, floats as they are.
template <class T>
T RoundedSample(double v) {
  if constexpr (std::is_same_v<T, float>) {
    return static_cast<float>(v);
  } else {
    return static_cast<T>(std::clamp(std::lround(v), 0L, static_cast<long>(Image<T>::kMax)));
  }
}

using Raster = std::variant<Image<std::uint8_t>, Image<std::uint16_t>, Image<float>>;

Depth DepthOf(const Raster& raster);
// Bytes of one raster sample at `depth`.
std::size_t SampleBytes(Depth depth);
// "8 bits", "16 bits", "float".
const char* DepthName(Depth depth);
std::int32_t WidthOf(const Raster& raster);
std::int32_t HeightOf(const Raster& raster);
std::int32_t ChannelsOf(const Raster& raster);

constexpr bool HasAlpha(int channels) { return channels == 2 || channels == 4; }
constexpr bool HasColour(int channels) { return channels >= 3; }

// Per pixel, 1 where associated colour is not 0 under alpha 0: light
// without coverage, as renders write it (a flare, a glow). Such colour has no
// straight form; it is kept as it is both ways. Empty when no pixel is such.
using LightMask = std::vector<std::uint8_t>;

// Associated (premultiplied) colour to straight colour: colour divided by
// alpha where alpha is above 0; colour under alpha 0 stays, and the pixels
// where it is not 0 are returned. Integer results are rounded and held within
// the channel range. No-op without alpha.
LightMask Unassociate(Raster& raster);
// Straight colour to associated colour: colour times alpha (integers
// rounded), except in the pixels set in `light`, whose colour stays as it is.
void Associate(Raster& raster, const LightMask& light = {});

// What a rendered frame holds that a narrower channel layout would lose.
struct ResultNeeds {
  bool colour = false;  // some pixel's red, green and blue differ
  bool alpha = false;   // some pixel is not fully opaque
};

// How the channel layout of an output file is chosen.
enum class ChannelsMode {
  kAuto,       // the input's layout, widened by colour or alpha when the result has them
  kKeep,       // the input's layout exactly: colour becomes grey, alpha is dropped
  kGrey,       // 1 channel
  kGreyAlpha,  // 2
  kRgb,        // 3
  kRgba,       // 4
};

int ChooseChannels(ChannelsMode mode, int input_channels, ResultNeeds needs);

}  // namespace qv::cli
