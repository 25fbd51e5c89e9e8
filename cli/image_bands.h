#pragma once

// Pixels between image files and rasters a band of rows at a time, so that
// a frame's file never needs a second copy of the whole frame: the rows a
// file gives or takes at once, tiles written whole, and the channels beyond
// colour and alpha carried as they are.

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/raster.h"

namespace qv::cli {

// The sample type a raster of `depth` holds.
OIIO::TypeDesc SampleType(Depth depth);
// The first sample of a raster.
void* Samples(Raster& raster);
const void* Samples(const Raster& raster);

// Channels beyond the colour and alpha the effect renders (depth, object
// ids, other layers of an OpenEXR file), carried from the input file to the
// output file as they are.
struct ExtraChannels {
  std::vector<std::string> names;
  std::vector<OIIO::TypeDesc> formats;  // per channel, as the file stores it
  std::vector<unsigned char> samples;   // pixel by pixel, each channel in its format

  bool empty() const { return names.empty(); }
};

// The rows a file described by `image_spec` is read or written at once:
// kFileBandRows, or whole blocks of rows where the file can give no fewer: in
// a tiled file whole rows of tiles, since its reader and writer have no
// scanlines to give or take (OpenImageIO 2.4 divides by zero when asked); in
// a TIFF of separate planes whole strips, since its reader cannot decode a
// compressed strip from the middle ("Compression algorithm does not support
// random access").
int BandRows(const OIIO::ImageSpec& image_spec);

// The pixels of the chunks the reader of a file described by `image_spec`
// keeps for threads of its own: an OpenEXR reader two line buffers, each a
// chunk (a block of rows by its compression, or a tile) compressed and
// uncompressed, for each thread of the library's pool (UseImageThreads);
// other readers decode in the caller's thread.
std::uint64_t CodecPixels(const OIIO::ImageSpec& image_spec, std::string_view format_name);

// Reads rows [top, bottom) of every channel of the open file's `subimage`,
// as stored, into `samples`.
bool ReadBand(OIIO::ImageInput& input, int subimage, const OIIO::ImageSpec& image_spec, int top, int bottom,
              void* samples);

// Writes rows [top, top + rows) of the open tiled file `layout` describes
// (whole rows of tiles, or the last rows) from `samples` (rows of its width,
// each pixel's channels in `format`, or as the file stores them where
// unknown), a whole tile at a time: the part of a tile past the picture's
// edge is zeros. Handed a part of a tile, a writer pads it with whatever its
// buffer held, and the file would differ from run to run. OpenEXR stores the
// tiles at the edges cut to the picture, so nothing pads them; its writer
// takes the rows as they are (and only so channels of several types).
bool WriteWholeTiles(OIIO::ImageOutput& output, const OIIO::ImageSpec& layout, int top, int rows,
                     OIIO::TypeDesc format, const void* samples);

// Rows [first, first + rows) of the colour of `raster` in the sample type
// the file's first channel has, followed pixel by pixel by the extra
// channels as they are: the samples laid out as the file `layout` describes
// them. Throws RunError where the colour cannot be converted.
std::vector<unsigned char> Interleaved(const Raster& raster, const ExtraChannels& extra,
                                       const OIIO::ImageSpec& layout, int first, int rows);

}  // namespace qv::cli
