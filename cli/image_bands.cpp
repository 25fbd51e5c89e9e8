#include "image_bands.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/errors.h"
#include "core/frame_limits.h"

namespace qv::cli {

OIIO::TypeDesc SampleType(Depth depth) {
  switch (depth) {
    case Depth::k8:
      return OIIO::TypeDesc::UINT8;
    case Depth::k16:
      return OIIO::TypeDesc::UINT16;
    case Depth::kFloat:
      break;
  }
  return OIIO::TypeDesc::FLOAT;
}

void* Samples(Raster& raster) {
  return std::visit([](auto& image) -> void* { return image.samples.data(); }, raster);
}

const void* Samples(const Raster& raster) {
  return std::visit([](const auto& image) -> const void* { return image.samples.data(); }, raster);
}

int BandRows(const OIIO::ImageSpec& image_spec) {
  int block = 0;
  if (image_spec.tile_width > 0 && image_spec.tile_height > 0) {
    block = image_spec.tile_height;
  } else if (image_spec.get_int_attribute("tiff:PlanarConfiguration") == 2) {
    block = std::min(image_spec.get_int_attribute("tiff:RowsPerStrip"), image_spec.height);
  }
  if (block <= 0) return kFileBandRows;
  return block * std::max(1, kFileBandRows / block);
}

namespace {

// The rows an OpenEXR scanline file compresses as one chunk, by its
// compression ("dwaa:45" names a level too).
int ExrChunkRows(std::string_view compression) {
  const std::string_view name = compression.substr(0, compression.find(':'));
  if (name == "zip" || name == "pxr24") return 16;
  if (name == "piz" || name == "b44" || name == "b44a" || name == "dwaa") return 32;
  if (name == "dwab") return 256;
  return 1;  // none, rle, zips
}

}  // namespace

std::uint64_t CodecPixels(const OIIO::ImageSpec& image_spec, std::string_view format_name) {
  if (format_name != "openexr") return 0;
  int threads = 0;
  OIIO::getattribute("exr_threads", threads);
  // Two line buffers a thread, each holding a chunk compressed and uncompressed.
  constexpr std::uint64_t kChunksPerThread = 4;
  const std::uint64_t chunk_pixels =
      image_spec.tile_width > 0
          ? std::uint64_t{static_cast<std::uint32_t>(image_spec.tile_width)} *
                static_cast<std::uint32_t>(std::max(image_spec.tile_height, 1))
          : std::uint64_t{static_cast<std::uint32_t>(image_spec.width)} *
                static_cast<std::uint32_t>(ExrChunkRows(image_spec.get_string_attribute("compression")));
  std::uint64_t pixels = 0;  // saturated: a header may declare tiles of any size
  if (__builtin_mul_overflow(kChunksPerThread * static_cast<std::uint64_t>(std::max(threads, 1)), chunk_pixels,
                             &pixels)) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return pixels;
}

bool ReadBand(OIIO::ImageInput& input, int subimage, const OIIO::ImageSpec& image_spec, int top, int bottom,
              void* samples) {
  return image_spec.tile_width > 0
             ? input.read_tiles(subimage, 0, image_spec.x, image_spec.x + image_spec.width, top, bottom, image_spec.z,
                                image_spec.z + 1, 0, image_spec.nchannels, OIIO::TypeUnknown, samples)
             : input.read_scanlines(subimage, 0, top, bottom, 0, 0, image_spec.nchannels, OIIO::TypeUnknown, samples);
}

bool WriteWholeTiles(OIIO::ImageOutput& output, const OIIO::ImageSpec& layout, int top, int rows,
                     OIIO::TypeDesc format, const void* samples) {
  if (std::string_view(output.format_name()) == "openexr") {
    return output.write_tiles(layout.x, layout.x + layout.width, top, top + rows, layout.z, layout.z + 1, format,
                              samples);
  }
  const std::size_t pixel_bytes = format == OIIO::TypeUnknown
                                      ? layout.pixel_bytes(true)
                                      : format.size() * static_cast<std::size_t>(layout.nchannels);
  const auto tile_width = static_cast<std::size_t>(layout.tile_width);
  const std::size_t row_bytes = pixel_bytes * static_cast<std::size_t>(layout.width);
  std::vector<unsigned char> tile(tile_width * static_cast<std::size_t>(layout.tile_height) * pixel_bytes);
  for (int y = top; y < top + rows; y += layout.tile_height) {
    const int tile_rows = std::min(layout.tile_height, top + rows - y);
    for (int x = layout.x; x < layout.x + layout.width; x += layout.tile_width) {
      const int columns = std::min(layout.tile_width, layout.x + layout.width - x);
      const std::size_t copied = pixel_bytes * static_cast<std::size_t>(columns);
      std::fill(tile.begin(), tile.end(), 0);
      for (int r = 0; r < tile_rows; ++r) {
        std::memcpy(tile.data() + static_cast<std::size_t>(r) * tile_width * pixel_bytes,
                    static_cast<const unsigned char*>(samples) + static_cast<std::size_t>(y - top + r) * row_bytes +
                        static_cast<std::size_t>(x - layout.x) * pixel_bytes,
                    copied);
      }
      if (!output.write_tile(x, y, layout.z, format, tile.data())) return false;
    }
  }
  return true;
}

std::vector<unsigned char> Interleaved(const Raster& raster, const ExtraChannels& extra,
                                       const OIIO::ImageSpec& layout, int first, int rows) {
  const int colour = ChannelsOf(raster);
  const std::size_t pixel_bytes = layout.pixel_bytes(true);
  const std::size_t extra_bytes = pixel_bytes - layout.pixel_bytes(0, colour, true);
  const std::size_t first_pixel = static_cast<std::size_t>(first) * static_cast<std::size_t>(layout.width);
  const std::size_t pixels = static_cast<std::size_t>(rows) * static_cast<std::size_t>(layout.width);
  std::vector<unsigned char> samples(pixels * pixel_bytes);
  const void* source = std::visit(
      [&](const auto& image) -> const void* { return image.samples.data() + first_pixel * image.channels; }, raster);
  if (!OIIO::convert_image(colour, layout.width, rows, 1, source, SampleType(DepthOf(raster)), OIIO::AutoStride,
                           OIIO::AutoStride, OIIO::AutoStride, samples.data(), layout.channelformat(0),
                           static_cast<OIIO::stride_t>(pixel_bytes),
                           static_cast<OIIO::stride_t>(pixel_bytes * layout.width), OIIO::AutoStride)) {
    throw RunError("cannot convert the colour to " + std::string(layout.channelformat(0).c_str()));
  }
  for (std::size_t p = 0; p < pixels; ++p) {
    std::memcpy(samples.data() + p * pixel_bytes + (pixel_bytes - extra_bytes),
                extra.samples.data() + (first_pixel + p) * extra_bytes, extra_bytes);
  }
  return samples;
}

}  // namespace qv::cli
