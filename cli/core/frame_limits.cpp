#include "frame_limits.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "host_api/ae_types.h"
#include "layer.h"
#include "node_resources.h"

namespace qv::cli {
namespace {

constexpr std::uint64_t kSaturated = std::numeric_limits<std::uint64_t>::max();

// a * b, or kSaturated where the product does not fit: a declared size may be
// anything the header can hold.
std::uint64_t Times(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? kSaturated : product;
}

std::uint64_t Plus(std::uint64_t a, std::uint64_t b) { return a > kSaturated - b ? kSaturated : a + b; }

std::string Size(const FrameShape& shape) {
  return std::to_string(shape.width) + "x" + std::to_string(shape.height);
}

}  // namespace

std::uint64_t DefaultMaxMemory() { return UsableMemory() / 2; }

std::uint64_t FrameMemory(const FrameShape& shape) {
  const std::uint64_t pixels = Times(static_cast<std::uint64_t>(shape.width), static_cast<std::uint64_t>(shape.height));
  const std::uint64_t sample = SampleBytes(shape.depth);
  const std::uint64_t light = HasAlpha(shape.colour_channels) ? 1 : 0;
  const std::int64_t band_rows = std::min<std::int64_t>(std::max<std::int64_t>(shape.band_rows, 1), shape.height);
  const std::uint64_t band_pixels =
      Times(static_cast<std::uint64_t>(shape.width), static_cast<std::uint64_t>(band_rows));
  // A pixel's samples in the file and in the output (RGBA at most, the other channels as stored).
  const std::uint64_t codec_pixel = Plus(shape.file_pixel_bytes, Plus(Times(4, sample), shape.extra_pixel_bytes));
  const std::uint64_t input = Plus(
      Times(pixels,
            Plus(Times(static_cast<std::uint64_t>(shape.colour_channels), sample), shape.extra_pixel_bytes + light)),
      Plus(Times(band_pixels, shape.file_pixel_bytes), Times(shape.codec_pixels, codec_pixel)));
  const std::uint64_t reader = Times(pixels, shape.file_pixel_bytes);
  const std::uint64_t world = Times(pixels, HostPixelBytes(shape.depth));
  const std::uint64_t output = Times(pixels, Times(4, sample));  // at most RGBA
  const std::uint64_t worst = std::max({reader, Times(4, world), Plus(world, output)});
  return Plus(input, worst);
}

std::optional<std::string> RefuseFrame(const FrameShape& shape, const FrameLimits& limits) {
  constexpr auto kMaxHostField = static_cast<std::uint64_t>(std::numeric_limits<A_long>::max());
  const std::uint64_t row_bytes = Times(static_cast<std::uint64_t>(shape.width), HostPixelBytes(shape.depth));
  if (static_cast<std::uint64_t>(shape.height) > kMaxHostField || row_bytes > kMaxHostField) {
    return Size(shape) + " at " + DepthName(shape.depth) + " needs rows of " + std::to_string(row_bytes) +
           " bytes, more than the host's limit of " + std::to_string(kMaxHostField);
  }
  const std::uint64_t pixels = Times(static_cast<std::uint64_t>(shape.width), static_cast<std::uint64_t>(shape.height));
  if (limits.max_pixels != 0 && pixels > limits.max_pixels) {
    return Size(shape) + " is " + std::to_string(pixels) + " pixels, more than the limit of " +
           std::to_string(limits.max_pixels) + " (--max-pixels)";
  }
  const std::uint64_t memory = FrameMemory(shape);
  if (limits.max_memory != 0 && memory > limits.max_memory) {
    return Size(shape) + " at " + DepthName(shape.depth) + " needs " + FormatBytes(memory) +
           " of memory, more than the limit of " + FormatBytes(limits.max_memory) + " (--max-memory)";
  }
  return std::nullopt;
}

std::string FormatBytes(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace qv::cli
