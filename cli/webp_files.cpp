#include "webp_files.h"

#include <OpenImageIO/color.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "image_bands.h"

namespace qv::cli {
namespace {

// The compression that asks for a lossless WebP file.
constexpr const char* kWebpLossless = "lossless";

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The samples of `raster` as 8-bit values, rounded as a writer rounds them.
std::vector<unsigned char> Interleaved8(const Raster& raster) {
  const int channels = ChannelsOf(raster);
  std::vector<unsigned char> samples(static_cast<std::size_t>(WidthOf(raster)) *
                                     static_cast<std::size_t>(HeightOf(raster)) * static_cast<std::size_t>(channels));
  if (!OIIO::convert_image(channels, WidthOf(raster), HeightOf(raster), 1, Samples(raster), SampleType(DepthOf(raster)),
                           OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride, samples.data(),
                           OIIO::TypeDesc::UINT8, OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride)) {
    throw RunError("cannot convert the colour to uint8");
  }
  return samples;
}

// 8-bit samples of 1 to 4 channels as the coder takes them: RGB, or RGBA
// where there is alpha, grey widened.
std::vector<unsigned char> WebpSamples(const std::vector<unsigned char>& samples, int channels, int stored) {
  const bool alpha = HasAlpha(channels);
  const int colour = channels - (alpha ? 1 : 0);
  std::vector<unsigned char> rgba(samples.size() / static_cast<std::size_t>(channels) * stored);
  for (std::size_t p = 0, n = rgba.size() / static_cast<std::size_t>(stored); p < n; ++p) {
    const unsigned char* from = samples.data() + p * static_cast<std::size_t>(channels);
    unsigned char* to = rgba.data() + p * static_cast<std::size_t>(stored);
    for (int c = 0; c < 3; ++c) to[c] = from[colour == 1 ? 0 : c];
    if (alpha) to[3] = from[channels - 1];
  }
  return rgba;
}

}  // namespace

void ReadStoredWebp(const std::string& path, Raster& raster) {
  const std::vector<std::uint8_t> bytes = FileBytes(path);
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

void CarryWebpCoding(const std::string& from_path, OIIO::ImageSpec& to) {
  const std::vector<std::uint8_t> bytes = FileBytes(from_path);
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK) return;
  constexpr int kLosslessFormat = 2;  // 1: lossy; 0: mixed, as in an animation
  if (features.format == kLosslessFormat) to.attribute("compression", kWebpLossless);
}

bool CodesLosslessWebp(const OIIO::ImageOutput& writer, const OIIO::ImageSpec& image_spec) {
  return std::string_view(writer.format_name()) == "webp" &&
         image_spec.get_string_attribute("compression") == kWebpLossless;
}

std::string LosslessWebp(const Raster& raster, OIIO::ImageSpec& coded) {
  const int width = WidthOf(raster), height = HeightOf(raster), channels = ChannelsOf(raster);
  const int stored = HasAlpha(channels) ? 4 : 3;
  const std::vector<unsigned char> rgba = WebpSamples(Interleaved8(raster), channels, stored);
  WebPConfig config;
  WebPPicture picture;
  if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) return {};
  config.lossless = 1;
  config.exact = 1;  // colour under alpha 0 as it is, not what compresses best
  picture.use_argb = 1;
  picture.width = width;
  picture.height = height;
  WebPMemoryWriter memory;
  WebPMemoryWriterInit(&memory);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &memory;
  const bool imported = HasAlpha(channels) ? WebPPictureImportRGBA(&picture, rgba.data(), width * stored)
                                           : WebPPictureImportRGB(&picture, rgba.data(), width * stored);
  const bool encoded = imported && WebPEncode(&config, &picture);
  std::string file = encoded ? std::string(reinterpret_cast<const char*>(memory.mem), memory.size) : std::string();
  WebPPictureFree(&picture);
  WebPMemoryWriterClear(&memory);
  coded = OIIO::ImageSpec(width, height, stored, OIIO::TypeDesc::UINT8);
  return file;
}

}  // namespace qv::cli
