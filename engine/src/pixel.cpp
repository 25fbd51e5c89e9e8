#include "engine/pixel.h"

#include "channel.h"

namespace qv {
namespace {

template <class Channel, std::uint32_t Max>
Channel ToChannel(float channel) {
  return static_cast<Channel>(detail::ClampTruncate<Max>(channel * static_cast<float>(Max)));
}

float FromChannel8(std::uint8_t channel) { return static_cast<float>(channel) / 255.0f; }

}  // namespace

PixelFloat FromPixel8(Pixel8 pixel) {
  return {FromChannel8(pixel.alpha), FromChannel8(pixel.red), FromChannel8(pixel.green),
          FromChannel8(pixel.blue)};
}

Pixel8 ToPixel8(PixelFloat pixel) {
  using C = std::uint8_t;
  return {ToChannel<C, kMax8>(pixel.alpha), ToChannel<C, kMax8>(pixel.red),
          ToChannel<C, kMax8>(pixel.green), ToChannel<C, kMax8>(pixel.blue)};
}

Pixel16 ToPixel16(PixelFloat pixel) {
  using C = std::uint16_t;
  return {ToChannel<C, kMax16>(pixel.alpha), ToChannel<C, kMax16>(pixel.red),
          ToChannel<C, kMax16>(pixel.green), ToChannel<C, kMax16>(pixel.blue)};
}

}  // namespace qv
