#pragma once

// A straight per-pixel transcription of the toning rules, sharing no code with
// the engine: it levels and colours every pixel from scratch instead of through
// a table, and switches on Base On and the tone count at every pixel. Any
// settings: where the levels have no real curve, every levelled tone is NaN.
// Its one shared primitive is the float power function (engine/pow.h), which
// the rules name and which has tests of its own.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "engine/pixel.h"
#include "engine/pow.h"
#include "engine/tone_params.h"

namespace qv::test {

class Reference {
 public:
  explicit Reference(ToneParams params) : p_(params) {
    if (p_.inputWhite == p_.inputBlack) p_.inputWhite = p_.inputWhite + 0.000001;
    exponent_ = 1.0 / p_.gamma;
    const double d = std::pow(p_.inputBlack, exponent_), e = std::pow(p_.inputWhite, exponent_);
    scale_ = (p_.outputWhite - p_.outputBlack) / (e - d);
    offset_ = (p_.outputBlack * e - p_.outputWhite * d) / (e - d);
  }

  // Pixel8 or Pixel16.
  template <class Pixel>
  Pixel ToneInteger(Pixel s) const {
    constexpr bool k8 = sizeof(Pixel) == 4;
    const std::uint32_t max = k8 ? 255 : 32768;
    auto unit = [&](std::uint32_t v) { return k8 ? v / 255 : v >> 15; };
    const int t = std::min<int>(Tone<int>(s.alpha, s.red, s.green, s.blue, k8), max);
    const double x = t / double(max);
    std::uint32_t c[3];
    TableColour(x, max, c);
    const std::uint32_t a = std::min(unit(s.alpha * Store((x * Range() + p_.shadowsOpacity) * max + 0.5, max)), max);
    const std::uint32_t k = Store(p_.blend * max + 0.5, max);
    if (k == 0) return Pack<Pixel>(a, c[0], c[1], c[2]);
    return Pack<Pixel>(unit(s.alpha * k + a * (max - k)), unit(c[0] * (max - k) + s.red * k),
                       unit(c[1] * (max - k) + s.green * k), unit(c[2] * (max - k) + s.blue * k));
  }

  PixelFloat ToneFloat(PixelFloat s) const {
    PixelFloat out = RampFloat(Tone<float>(s.alpha, s.red, s.green, s.blue, false));
    out.alpha = out.alpha * s.alpha;
    const float u = static_cast<float>(p_.blend);
    if (u > 0.000001) {
      out.alpha = (1 - u) * out.alpha + u * s.alpha;
      out.red = u * s.red + (1 - u) * out.red;
      out.green = u * s.green + (1 - u) * out.green;
      out.blue = u * s.blue + (1 - u) * out.blue;
    }
    return out;
  }

  PixelFloat RampFloat(float x) const {
    const PixelFloat *from = &p_.midtones, *to = &p_.midtones;
    // A colour taken as it is, signed zeros and all: the monotone's one
    // colour, or the end below or above the ramp.
    const PixelFloat* end = p_.tones == 1 ? &p_.midtones : nullptr;
    float s = 0, opacityTone = x;
    if (p_.tones != 1) {
      const float t = detail::PowF(x, float(exponent_)) * float(scale_) + float(offset_);
      if (std::isnan(t)) {
        // Not below 0, not at most 1: above the ramp, unless no real curve
        // exists for this tone, where the effect chooses the Shadows end.
        end = NoFloatCurve(x) ? &p_.shadows : &p_.highlights;
      } else if (t < 0 || t > 1) {
        end = t < 0 ? &p_.shadows : &p_.highlights;
      } else {
        Segment(t, from, to, s);
      }
      opacityTone = x < 0 ? 0.0f : x > 1 ? 1.0f : x;
    }
    PixelFloat out;
    out.red = end ? end->red : (to->red - from->red) * s + from->red;
    out.green = end ? end->green : (to->green - from->green) * s + from->green;
    out.blue = end ? end->blue : (to->blue - from->blue) * s + from->blue;
    const double v = static_cast<double>(opacityTone) * Range() + p_.shadowsOpacity;
    out.alpha = v < 0 ? 0.0f : v > 1 ? 1.0f : static_cast<float>(v);
    return out;
  }

 private:
  double Range() const { return p_.highlightsOpacity - p_.shadowsOpacity; }

  // The float levels (single exponent, scale and offset) are not all finite,
  // or a negative tone meets an exponent that is not a whole number.
  bool NoFloatCurve(float x) const {
    const float e = float(exponent_), k = float(scale_), o = float(offset_);
    if (!std::isfinite(e) || !std::isfinite(k) || !std::isfinite(o)) return true;
    return x < 0 && e != std::trunc(e);
  }

  // Integer channels give the integer tone; `eightBit` picks the luminance.
  template <class T>
  T Tone(T a, T r, T g, T b, bool eightBit) const {
    switch (p_.baseOn) {
      case 2:
        if constexpr (std::is_floating_point_v<T>) return r * 0.299f + g * 0.587f + b * 0.114f;
        else return eightBit ? (76 * r + 150 * g + 29 * b) / 255 : T((9798u * r + 19235u * g + 3735u * b) >> 15);
      case 3: return r;
      case 4: return g;
      case 5: return b;
      case 6: return a;
      default: return (std::max({r, g, b}) + std::min({r, g, b})) / T(2);
    }
  }

  static std::uint32_t Store(double v, std::uint32_t max) {
    if (std::isnan(v) || v < 0) return 0;
    return v > max ? max : static_cast<std::uint32_t>(v);
  }

  // (The tables') NaN and negative tones give the Shadows end; above 1, the
  // Highlights colour itself.
  template <class Real>
  void Segment(Real t, const PixelFloat*& from, const PixelFloat*& to, Real& s) const {
    if (std::isnan(t) || t < 0) t = 0;
    if (t > 1) {
      from = to = &p_.highlights, s = 0;
    } else if (p_.tones == 2) {
      from = &p_.shadows, to = &p_.highlights, s = t;
    } else if (p_.tones == 3) {
      if (t < 0.5) from = &p_.shadows, to = &p_.midtones, s = 2 * t;
      else from = &p_.midtones, to = &p_.highlights, s = 2 * (t - Real(0.5));
    } else {
      if (t < 0.25) from = &p_.shadows, to = &p_.darktones, s = 4 * t;
      else if (t < 0.5) from = &p_.darktones, to = &p_.midtones, s = 4 * (t - Real(0.25));
      else if (t < 0.75) from = &p_.midtones, to = &p_.brights, s = 4 * (t - Real(0.5));
      else from = &p_.brights, to = &p_.highlights, s = 4 * (t - Real(0.75));
    }
  }

  void TableColour(double x, std::uint32_t max, std::uint32_t out[3]) const {
    const PixelFloat *from = &p_.midtones, *to = &p_.midtones;
    double s = 0;
    if (p_.tones == 1) {
      const float m = float(max);
      out[0] = Store(p_.midtones.red * m, max), out[1] = Store(p_.midtones.green * m, max);
      out[2] = Store(p_.midtones.blue * m, max);
      return;
    }
    Segment(std::clamp(std::pow(x, exponent_) * scale_ + offset_, 0.0, 1.0), from, to, s);
    out[0] = Store((double(to->red - from->red) * s + from->red) * max + 0.5, max);
    out[1] = Store((double(to->green - from->green) * s + from->green) * max + 0.5, max);
    out[2] = Store((double(to->blue - from->blue) * s + from->blue) * max + 0.5, max);
  }

  template <class Pixel>
  static Pixel Pack(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    using C = decltype(Pixel::alpha);
    return {C(a), C(r), C(g), C(b)};
  }

  ToneParams p_;
  double exponent_, scale_, offset_;
};

}  // namespace qv::test
