#include "layer.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "sixteen_bit.h"

namespace qv::cli {
namespace {

// Per depth: the raster sample, the host pixel and the conversions between them.
template <class T>
struct Traits;

template <>
struct Traits<std::uint8_t> {
  using Pixel = PF_Pixel8;
  using Channel = A_u_char;
  static constexpr PF_PixelFormat kFormat = PF_PixelFormat_ARGB32;
  static Channel ToHost(std::uint8_t v) { return v; }
  static std::uint8_t ToFile(Channel v) { return v; }
  static constexpr Channel kHostMax = 255;
};

template <>
struct Traits<std::uint16_t> {
  using Pixel = PF_Pixel16;
  using Channel = A_u_short;
  static constexpr PF_PixelFormat kFormat = PF_PixelFormat_ARGB64;
  static Channel ToHost(std::uint16_t v) { return FileToHost16(v); }
  static std::uint16_t ToFile(Channel v) { return HostToFile16(v); }
  static constexpr Channel kHostMax = kHostMax16;
};

template <>
struct Traits<float> {
  using Pixel = PF_PixelFloat;
  using Channel = PF_FpShort;
  static constexpr PF_PixelFormat kFormat = PF_PixelFormat_ARGB128;
  static Channel ToHost(float v) { return v; }
  static float ToFile(Channel v) { return v; }
  static constexpr Channel kHostMax = 1.0f;
};

template <class T>
simhost::World ImageToWorld(const Image<T>& image) {
  using Tr = Traits<T>;
  if (image.channels < 1 || image.channels > 4) {
    throw std::invalid_argument("an image of " + std::to_string(image.channels) + " channels has no host layout");
  }
  simhost::World world(image.width, image.height, Tr::kFormat);
  for (std::int32_t y = 0; y < image.height; ++y) {
    auto row = world.Row<typename Tr::Pixel>(y);
    for (std::int32_t x = 0; x < image.width; ++x) {
      const T* s = image.Pixel(x, y);
      auto& p = row[static_cast<std::size_t>(x)];
      const bool colour = HasColour(image.channels);
      p.red = Tr::ToHost(s[0]);
      p.green = colour ? Tr::ToHost(s[1]) : p.red;
      p.blue = colour ? Tr::ToHost(s[2]) : p.red;
      p.alpha = HasAlpha(image.channels) ? Tr::ToHost(s[image.channels - 1]) : Tr::kHostMax;
    }
  }
  return world;
}

template <class Pixel>
ResultNeeds InspectPixels(const simhost::World& world, decltype(Pixel::alpha) opaque) {
  ResultNeeds needs;
  for (std::int32_t y = 0; y < world.height() && !(needs.colour && needs.alpha); ++y) {
    for (const Pixel& p : world.Row<Pixel>(y)) {
      needs.colour = needs.colour || p.red != p.green || p.green != p.blue;
      needs.alpha = needs.alpha || p.alpha != opaque;
    }
  }
  return needs;
}

template <class T>
T Grey(T red, T green, T blue) {
  if (red == green && green == blue) return red;
  const double luma = 0.299 * red + 0.587 * green + 0.114 * blue;
  if constexpr (std::is_same_v<T, float>) {
    return static_cast<float>(luma);
  } else {
    return static_cast<T>(std::lround(luma));  // a weighted mean of samples stays within their range
  }
}

template <class T>
Image<T> WorldToImage(const simhost::World& world, int channels) {
  using Tr = Traits<T>;
  if (channels < 1 || channels > 4) {
    throw std::invalid_argument("no layout of " + std::to_string(channels) + " channels");
  }
  Image<T> image(world.width(), world.height(), channels);
  for (std::int32_t y = 0; y < world.height(); ++y) {
    const auto row = world.Row<typename Tr::Pixel>(y);
    for (std::int32_t x = 0; x < world.width(); ++x) {
      const auto& p = row[static_cast<std::size_t>(x)];
      T* d = image.Pixel(x, y);
      const T red = Tr::ToFile(p.red), green = Tr::ToFile(p.green), blue = Tr::ToFile(p.blue);
      if (HasColour(channels)) {
        d[0] = red;
        d[1] = green;
        d[2] = blue;
      } else {
        d[0] = Grey(red, green, blue);
      }
      if (HasAlpha(channels)) d[channels - 1] = Tr::ToFile(p.alpha);
    }
  }
  return image;
}

}  // namespace

std::size_t HostPixelBytes(Depth depth) {
  switch (depth) {
    case Depth::k8:
      return sizeof(Traits<std::uint8_t>::Pixel);
    case Depth::k16:
      return sizeof(Traits<std::uint16_t>::Pixel);
    case Depth::kFloat:
      break;
  }
  return sizeof(Traits<float>::Pixel);
}

simhost::World ToWorld(const Raster& raster) {
  return std::visit([](const auto& image) { return ImageToWorld(image); }, raster);
}

ResultNeeds Inspect(const simhost::World& world) {
  switch (world.format()) {
    case PF_PixelFormat_ARGB32:
      return InspectPixels<PF_Pixel8>(world, Traits<std::uint8_t>::kHostMax);
    case PF_PixelFormat_ARGB64:
      return InspectPixels<PF_Pixel16>(world, Traits<std::uint16_t>::kHostMax);
    case PF_PixelFormat_ARGB128:
      return InspectPixels<PF_PixelFloat>(world, Traits<float>::kHostMax);
    default:
      throw std::invalid_argument("a world in a pixel format the tool does not write");
  }
}

Raster FromWorld(const simhost::World& world, int channels) {
  switch (world.format()) {
    case PF_PixelFormat_ARGB32:
      return WorldToImage<std::uint8_t>(world, channels);
    case PF_PixelFormat_ARGB64:
      return WorldToImage<std::uint16_t>(world, channels);
    case PF_PixelFormat_ARGB128:
      return WorldToImage<float>(world, channels);
    default:
      throw std::invalid_argument("a world in a pixel format the tool does not write");
  }
}

}  // namespace qv::cli
