#include "test_image.h"

#include <cmath>

namespace qv::demo {
namespace {

constexpr std::int32_t kGreyRows = 40;
constexpr std::int32_t kHueRows = 72;
constexpr std::int32_t kAlphaRows = 40;

std::uint8_t Byte(double fraction) { return static_cast<std::uint8_t>(std::lround(fraction * 255.0)); }

// Fully saturated colour of hue 0 to 1, at brightness `value`.
Pixel8 Hue(double hue, double value) {
  const double h = hue * 6.0;
  const double rising = h - std::floor(h), falling = 1.0 - rising;
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(h) % 6) {
    case 0: r = 1, g = rising; break;
    case 1: r = falling, g = 1; break;
    case 2: g = 1, b = rising; break;
    case 3: g = falling, b = 1; break;
    case 4: r = rising, b = 1; break;
    default: r = 1, b = falling; break;
  }
  return {255, Byte(r * value), Byte(g * value), Byte(b * value)};
}

}  // namespace

TestImage MakeTestImage(std::int32_t width) {
  TestImage image{width, kGreyRows + kHueRows + kAlphaRows, {}};
  image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
  const double lastColumn = width > 1 ? width - 1 : 1;
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const double across = x / lastColumn;
      Pixel8& p = image.pixels[static_cast<std::size_t>(y) * width + x];
      if (y < kGreyRows) {
        const std::uint8_t g = Byte(across);
        p = {255, g, g, g};
      } else if (y < kGreyRows + kHueRows) {
        p = Hue(across, 1.0 - 0.8 * (y - kGreyRows) / (kHueRows - 1.0));
      } else {
        const std::uint8_t g = Byte((y - kGreyRows - kHueRows) / (kAlphaRows - 1.0));
        p = {Byte(across), g, g, g};
      }
    }
  }
  return image;
}

}  // namespace qv::demo
