#include "test_chart.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qv::cli {
namespace {

struct Colour {
  double r, g, b;
};

Colour Mix(Colour a, Colour b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double Smooth(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// Fully saturated hue, 0 to 1 around the wheel.
Colour Hue(double h) {
  const double k = h * 6;
  auto channel = [k](double n) {
    const double m = std::fmod(n + k, 6.0);
    return std::clamp(std::min(m, 4 - m), 0.0, 1.0);
  };
  return {channel(5), channel(3), channel(1)};
}

void Put(Image<std::uint8_t>& image, std::int32_t x, std::int32_t y, Colour c, double alpha) {
  auto byte = [](double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  std::uint8_t* p = image.Pixel(x, y);
  p[0] = byte(c.r);
  p[1] = byte(c.g);
  p[2] = byte(c.b);
  p[3] = byte(alpha);
}

// A sky fading to a warm horizon, a sun's glow, two soft ranges of hills and
// a darker foreground: smooth tones over the whole range, like a photograph.
Colour Landscape(double u, double v) {
  const Colour zenith{0.10, 0.20, 0.45};
  const Colour horizon{0.98, 0.72, 0.45};
  const double horizon_v = 0.62;
  Colour c = Mix(zenith, horizon, std::pow(std::clamp(v / horizon_v, 0.0, 1.0), 1.6));
  const double du = (u - 0.7) * 1.6, dv = v - 0.5;
  const double glow = std::exp(-(du * du + dv * dv) / 0.02);
  c = Mix(c, Colour{1.0, 0.95, 0.80}, glow);
  const double far = horizon_v - 0.10 + 0.05 * std::sin(u * 7.0 + 1.0) + 0.03 * std::sin(u * 17.0);
  c = Mix(c, Colour{0.42, 0.36, 0.45}, Smooth(far - 0.01, far + 0.01, v) * 0.85);
  const double near = horizon_v + 0.05 + 0.06 * std::sin(u * 4.0 + 2.5) + 0.02 * std::sin(u * 23.0);
  const Colour ground = Mix(Colour{0.24, 0.30, 0.14}, Colour{0.06, 0.07, 0.04}, std::clamp((v - near) / 0.3, 0.0, 1.0));
  return Mix(c, ground, Smooth(near - 0.012, near + 0.012, v));
}

}  // namespace

Image<std::uint8_t> MakeTestChart(std::int32_t width, std::int32_t height) {
  Image<std::uint8_t> chart(width, height, 4);
  // Band boundaries as fractions of the height.
  const auto row_at = [height](double f) { return static_cast<std::int32_t>(std::lround(f * height)); };
  const std::int32_t grey_end = row_at(0.16), hue_end = row_at(0.40), alpha_end = row_at(0.56);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const double u = width > 1 ? static_cast<double>(x) / (width - 1) : 0.0;
      if (y < grey_end) {
        Put(chart, x, y, Colour{u, u, u}, 1);
      } else if (y < hue_end) {
        const double down = static_cast<double>(y - grey_end) / std::max(1, hue_end - grey_end - 1);
        const Colour c = Hue(u);
        const double value = 1.0 - 0.75 * down;
        Put(chart, x, y, Colour{c.r * value, c.g * value, c.b * value}, 1);
      } else if (y < alpha_end) {
        const double down = static_cast<double>(y - hue_end) / std::max(1, alpha_end - hue_end - 1);
        Put(chart, x, y, Mix(Colour{0.95, 0.85, 0.55}, Colour{0.15, 0.25, 0.55}, down), u);
      } else {
        const double v = static_cast<double>(y - alpha_end) / std::max(1, height - alpha_end - 1);
        Put(chart, x, y, Landscape(u, v), 1);
      }
    }
  }
  return chart;
}

}  // namespace qv::cli
