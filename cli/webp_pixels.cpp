#include "webp_pixels.h"

#include <OpenImageIO/color.h>
#include <webp/decode.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "core/errors.h"

namespace qv::cli {

void ReadStoredWebp(const std::string& path, Raster& raster) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  int width = 0, height = 0;
  const std::unique_ptr<std::uint8_t, decltype(&WebPFree)> rgba(
      WebPDecodeRGBA(bytes.data(), bytes.size(), &width, &height), &WebPFree);
  if (!rgba || width != WidthOf(raster) || height != HeightOf(raster) || ChannelsOf(raster) != 4) {
    throw RunError(Because("cannot read", path, "its colour does not decode as the WebP library stores it"));
  }
  std::visit(
      [&](auto& image) {
        using T = typename std::decay_t<decltype(image.samples)>::value_type;
        for (std::size_t i = 0; i < image.samples.size(); ++i) {
          image.samples[i] = RoundedSample<T>(static_cast<double>(rgba.get()[i]) * Image<T>::kMax / 255.0);
        }
      },
      raster);
}

void AssociateForWebpWriter(Raster& raster) {
  std::visit(
      [](auto& image) {
        using T = typename std::decay_t<decltype(image.samples)>::value_type;
        if (!HasAlpha(image.channels)) return;
        const auto colour = static_cast<std::size_t>(image.channels - 1);
        for (std::size_t p = 0; p < image.samples.size(); p += colour + 1) {
          const float alpha = static_cast<float>(image.samples[p + colour]) / static_cast<float>(Image<T>::kMax);
          for (std::size_t c = 0; c < colour; ++c) {
            const float value = static_cast<float>(image.samples[p + c]) / static_cast<float>(Image<T>::kMax);
            const float associated = OIIO::linear_to_sRGB(OIIO::sRGB_to_linear(value) * alpha);
            image.samples[p + c] = RoundedSample<T>(static_cast<double>(associated) * Image<T>::kMax);
          }
        }
      },
      raster);
}

}  // namespace qv::cli
