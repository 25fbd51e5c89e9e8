#include "raster.h"

#include <algorithm>
#include <cmath>

namespace qv::cli {
namespace {

// Calls fn(pixel index, colour sample, alpha) for every colour sample of an
// image with alpha.
template <class T, class Fn>
void ForEachColourUnderAlpha(Image<T>& image, Fn&& fn) {
  if (!HasAlpha(image.channels)) return;
  const std::size_t n = static_cast<std::size_t>(image.channels);
  for (std::size_t i = 0, pixel = 0; i < image.samples.size(); i += n, ++pixel) {
    const T alpha = image.samples[i + n - 1];
    for (std::size_t c = 0; c + 1 < n; ++c) fn(pixel, image.samples[i + c], alpha);
  }
}

template <class T>
LightMask UnassociateImage(Image<T>& image) {
  LightMask light;
  ForEachColourUnderAlpha(image, [&](std::size_t pixel, T& colour, T alpha) {
    if (alpha > T(0)) {
      if constexpr (std::is_same_v<T, float>) {
        colour = colour / alpha;
      } else {
        colour = RoundedSample<T>(static_cast<double>(colour) * Image<T>::kMax / alpha);
      }
    } else if (colour != T(0) && alpha == T(0)) {
      if (light.empty()) light.resize(image.samples.size() / static_cast<std::size_t>(image.channels));
      light[pixel] = 1;
    }
  });
  return light;
}

template <class T>
void AssociateImage(Image<T>& image, const LightMask& light) {
  const bool marked = !light.empty() && light.size() == image.samples.size() / static_cast<std::size_t>(image.channels);
  ForEachColourUnderAlpha(image, [&](std::size_t pixel, T& colour, T alpha) {
    if (marked && light[pixel]) return;
    if constexpr (std::is_same_v<T, float>) {
      colour = colour * alpha;
    } else {
      colour = RoundedSample<T>(static_cast<double>(colour) * alpha / Image<T>::kMax);
    }
  });
}

}  // namespace

std::size_t SampleBytes(Depth depth) {
  switch (depth) {
    case Depth::k8:
      return sizeof(std::uint8_t);
    case Depth::k16:
      return sizeof(std::uint16_t);
    case Depth::kFloat:
      break;
  }
  return sizeof(float);
}

const char* DepthName(Depth depth) {
  switch (depth) {
    case Depth::k8:
      return "8 bits";
    case Depth::k16:
      return "16 bits";
    case Depth::kFloat:
      break;
  }
  return "float";
}

Depth DepthOf(const Raster& raster) {
  switch (raster.index()) {
    case 0:
      return Depth::k8;
    case 1:
      return Depth::k16;
    default:
      return Depth::kFloat;
  }
}

std::int32_t WidthOf(const Raster& raster) {
  return std::visit([](const auto& image) { return image.width; }, raster);
}
std::int32_t HeightOf(const Raster& raster) {
  return std::visit([](const auto& image) { return image.height; }, raster);
}
std::int32_t ChannelsOf(const Raster& raster) {
  return std::visit([](const auto& image) { return image.channels; }, raster);
}

LightMask Unassociate(Raster& raster) {
  return std::visit([](auto& image) { return UnassociateImage(image); }, raster);
}

void Associate(Raster& raster, const LightMask& light) {
  std::visit([&light](auto& image) { AssociateImage(image, light); }, raster);
}

int ChooseChannels(ChannelsMode mode, int input_channels, ResultNeeds needs) {
  switch (mode) {
    case ChannelsMode::kAuto: {
      const bool colour = HasColour(input_channels) || needs.colour;
      const bool alpha = HasAlpha(input_channels) || needs.alpha;
      return (colour ? 3 : 1) + (alpha ? 1 : 0);
    }
    case ChannelsMode::kKeep:
      return input_channels;
    case ChannelsMode::kGrey:
      return 1;
    case ChannelsMode::kGreyAlpha:
      return 2;
    case ChannelsMode::kRgb:
      return 3;
    case ChannelsMode::kRgba:
      return 4;
  }
  return input_channels;
}

}  // namespace qv::cli
