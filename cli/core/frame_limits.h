#pragma once

// What one frame may ask of the machine, decided from a file's header before
// any pixel buffer exists, so that a small file declaring a huge picture is
// refused at once instead of taking the machine's memory.

#include <cstdint>
#include <optional>
#include <string>

#include "raster.h"

namespace qv::cli {

// 16384 x 16384.
inline constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 28;

// The rows a file is read or written at once: a band of its samples, as the
// file stores them, is what the tool converts from or to at one time.
inline constexpr int kFileBandRows = 64;

// Bounds on one frame; 0 lifts a bound.
struct FrameLimits {
  std::uint64_t max_pixels = kDefaultMaxPixels;
  std::uint64_t max_memory = 0;  // bytes; see DefaultMaxMemory()
};

// Half the memory this process may use (UsableMemory), or 0 (no bound)
// where the system does not say how much it has.
std::uint64_t DefaultMaxMemory();

// A picture as its file's header declares it, and the depth it renders at.
struct FrameShape {
  std::int64_t width = 0;
  std::int64_t height = 0;
  int colour_channels = 0;           // the channels the effect renders (1 to 4)
  std::size_t file_pixel_bytes = 0;  // one pixel's samples as the file stores them
  Depth depth = Depth::k8;
  std::size_t extra_pixel_bytes = 0;  // one pixel's channels beyond colour and alpha, carried as stored
  // The rows of the file's samples read or written at once: more than
  // kFileBandRows where the file gives no fewer (tiles, strips of planes).
  std::int64_t band_rows = kFileBandRows;
  // The pixels of the chunks the file's reader holds for threads of its own
  // (OpenEXR's line buffers), which a writer of the same format holds as many
  // again of in the output's samples. Freed into those threads' allocator
  // arenas when a file closes, they stay resident for the rest of the frame.
  std::uint64_t codec_pixels = 0;
};

// The bytes of the buffers that live at once at the worst moment of a
// frame's render. Throughout: the input raster, the channels beyond colour
// and alpha as the file stores them, where there is alpha the mask of light
// without coverage, a band of the file's samples (`band_rows` rows;
// measured alive at the peak too) and the codecs' chunks (`codec_pixels`).
// Beside them, at one moment or another: the reader's buffer of the file's
// samples (a PNG reader decodes the whole picture first); four host worlds
// while the effect renders (the layer, the copy the effect checks out, the
// host's snapshot of that copy for its checks, the output); the output world
// and the output raster made from it. Once that raster is made the world is
// gone, and the writer takes the raster a band of rows at a time.
std::uint64_t FrameMemory(const FrameShape& shape);

// Why a frame of `shape` may not be rendered, as the part of a line after
// "cannot render FILE: ", or nothing when it may. A row wider than the host's
// 32-bit row stride can hold is refused whatever the limits.
std::optional<std::string> RefuseFrame(const FrameShape& shape, const FrameLimits& limits);

// "12.0 GiB", "640 KiB", "100 bytes".
std::string FormatBytes(std::uint64_t bytes);

}  // namespace qv::cli
