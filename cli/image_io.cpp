#include "image_io.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "channel_roles.h"
#include "core/errors.h"
#include "file_extent.h"
#include "image_description.h"
#include "image_open.h"
#include "library_messages.h"
#include "safe_file.h"
#include "webp_pixels.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// The one line of an OpenImageIO message that says most.
std::string FirstLine(std::string message) {
  const std::size_t newline = message.find('\n');
  if (newline != std::string::npos) message.resize(newline);
  return message.empty() ? std::string("unknown error") : message;
}

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

Raster EmptyRaster(Depth depth, int width, int height, int channels) {
  switch (depth) {
    case Depth::k8:
      return Image<std::uint8_t>(width, height, channels);
    case Depth::k16:
      return Image<std::uint16_t>(width, height, channels);
    case Depth::kFloat:
      break;
  }
  return Image<float>(width, height, channels);
}

void* Samples(Raster& raster) {
  return std::visit([](auto& image) -> void* { return image.samples.data(); }, raster);
}

// Names (in `layer`) and the alpha channel for each layout.
void SetLayout(OIIO::ImageSpec& image_spec, int channels, const std::string& layer) {
  static const std::array<std::vector<std::string>, 5> kNames = {
      std::vector<std::string>{}, {"Y"}, {"Y", "A"}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
  image_spec.nchannels = channels;
  image_spec.channelnames.clear();
  for (const std::string& name : kNames[static_cast<std::size_t>(channels)]) {
    image_spec.channelnames.push_back(layer + name);
  }
  image_spec.alpha_channel = HasAlpha(channels) ? channels - 1 : -1;
}

// Whether a writer holds the channels beyond colour and alpha as they are:
// any number of them, each in its sample type (or all in the colour's
// `type`), under its name where the source (of `source_format`) recorded one.
bool HoldsExtraChannels(OIIO::ImageOutput& output, const ExtraChannels& extra, OIIO::TypeDesc type,
                        const std::string& source_format) {
  if (!output.supports("nchannels")) return false;
  const bool one_type = std::all_of(extra.formats.begin(), extra.formats.end(),
                                    [&](OIIO::TypeDesc format) { return format == type; });
  if (!one_type && !output.supports("channelformats")) return false;
  // Only OpenEXR records channels' names, among the formats either side.
  return source_format != "openexr" || std::string_view(output.format_name()) == "openexr";
}

// Metadata that describes the picture rather than the file it came in: kept
// even when the rest is stripped, since without it the picture would show
// turned, stretched or in another colour space.
constexpr std::string_view kPictureAttributes[] = {kOrientationAttribute,  "PixelAspectRatio", "XResolution",
                                                   "YResolution",   "ResolutionUnit",   "oiio:ColorSpace"};

// Metadata that describes how a file was laid out or read, which the writer
// works out anew for what it writes: carrying it over would make it untrue
// (the bits per sample after a change of depth, the photometric layout after
// a change of channels, a texture's MIP levels and its pixels' digest and
// average after a render of its first level alone; a CMYK file's inks,
// which its reader turned into RGB, and which the TIFF writer would take for
// the meaning of the RGB channels it writes).
constexpr std::string_view kFileAttributes[] = {
    "oiio:BitsPerSample", "oiio:UnassociatedAlpha",         "oiio:ioproxy",        "oiio:subimages",
    "planarconfig",       "tiff:PhotometricInterpretation", "tiff:PlanarConfiguration", "tiff:ColorSpace",
    "tiff:RowsPerStrip",  "tiff:Compression",               "tiff:UnassociatedAlpha", "tiff:ExtraSamples",
    "openexr:chunkCount", "Software",                       "textureformat",       "oiio:SHA-1",
    "oiio:AverageColor",  "oiio:ConstantColor"};

// Encoding choices that only the same format understands.
constexpr std::string_view kSameFormatAttributes[] = {"compression", "Compression", "CompressionQuality"};

bool Among(std::string_view name, const auto& names) {
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// Copies the metadata of the file a picture came from onto the description
// of the file it goes to.
void CarryMetadata(const OIIO::ImageSpec& from, const std::string& from_format, bool all, OIIO::ImageSpec& to,
                   const std::string& to_format) {
  for (const OIIO::ParamValue& value : from.extra_attribs) {
    const std::string_view name = value.name().string();
    const bool carried = all ? !Among(name, kFileAttributes) &&
                                   (from_format == to_format || !Among(name, kSameFormatAttributes))
                             : Among(name, kPictureAttributes);
    if (carried) to.attribute(std::string(name), value.type(), value.data());
  }
}

// The rows a file described by `image_spec` is read or written at once:
// kFileBandRows, or whole blocks of rows where the file can give no fewer: in
// a tiled file whole rows of tiles, since its reader and writer have no
// scanlines to give or take (OpenImageIO 2.4 divides by zero when asked); in
// a TIFF of separate planes whole strips, since its reader cannot decode a
// compressed strip from the middle ("Compression algorithm does not support
// random access").
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

// Reads rows [top, bottom) of every channel of the open file's `subimage`,
// as stored, into `samples`.
bool ReadBand(OIIO::ImageInput& input, int subimage, const OIIO::ImageSpec& image_spec, int top, int bottom,
              void* samples) {
  return image_spec.tile_width > 0
             ? input.read_tiles(subimage, 0, image_spec.x, image_spec.x + image_spec.width, top, bottom, image_spec.z,
                                image_spec.z + 1, 0, image_spec.nchannels, OIIO::TypeUnknown, samples)
             : input.read_scanlines(subimage, 0, top, bottom, 0, 0, image_spec.nchannels, OIIO::TypeUnknown, samples);
}

// Reads every channel of the open file's `subimage`, as stored, into the
// colour and alpha of `raster` (converted to its sample type, in the order of
// `roles`) and the other channels into `extra` (as they are), a band of rows
// at a time. Returns false where the reader fails.
bool ReadChannels(OIIO::ImageInput& input, int subimage, const OIIO::ImageSpec& image_spec, const ChannelRoles& roles,
                  Raster& raster, ExtraChannels& extra) {
  const std::size_t pixel_bytes = image_spec.pixel_bytes(true);
  const auto offset = [&](int c) { return image_spec.pixel_bytes(0, c, true); };
  const Depth depth = DepthOf(raster);
  const std::size_t sample = SampleBytes(depth);
  const auto rendered = static_cast<OIIO::stride_t>(roles.rendered.size() * sample);
  const auto width = static_cast<std::size_t>(image_spec.width);
  auto* samples = static_cast<unsigned char*>(Samples(raster));
  std::size_t extra_bytes = 0;
  for (const int c : roles.others) {
    extra.names.push_back(image_spec.channel_name(c));
    extra.formats.push_back(image_spec.channelformat(c));
    extra_bytes += image_spec.channelformat(c).size();
  }
  extra.samples.resize(static_cast<std::size_t>(image_spec.image_pixels()) * extra_bytes);

  const int band = BandRows(image_spec);
  std::vector<unsigned char> stored(pixel_bytes * width * static_cast<std::size_t>(std::min(band, image_spec.height)));
  for (int y = 0; y < image_spec.height; y += band) {
    const int rows = std::min(band, image_spec.height - y), top = image_spec.y + y;
    if (!ReadBand(input, subimage, image_spec, top, top + rows, stored.data())) return false;
    const std::size_t first_pixel = static_cast<std::size_t>(y) * width;
    for (std::size_t k = 0; k < roles.rendered.size(); ++k) {
      const int c = roles.rendered[k];
      if (!OIIO::convert_image(1, image_spec.width, rows, 1, stored.data() + offset(c), image_spec.channelformat(c),
                               static_cast<OIIO::stride_t>(pixel_bytes),
                               static_cast<OIIO::stride_t>(pixel_bytes * width), OIIO::AutoStride,
                               samples + first_pixel * static_cast<std::size_t>(rendered) + k * sample,
                               SampleType(depth), rendered, rendered * image_spec.width, OIIO::AutoStride)) {
        return false;
      }
    }
    for (std::size_t p = 0; p < static_cast<std::size_t>(rows) * width; ++p) {
      unsigned char* to = extra.samples.data() + (first_pixel + p) * extra_bytes;
      for (const int c : roles.others) {
        const std::size_t size = image_spec.channelformat(c).size();
        std::memcpy(to, stored.data() + p * pixel_bytes + offset(c), size);
        to += size;
      }
    }
  }
  return true;
}

// Rows [first, first + rows) of the colour of `raster` in the sample type
// the file's first channel has, followed pixel by pixel by the extra
// channels as they are: the samples laid out as the file `layout` describes
// them.
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

// The samples of `raster` as 8-bit values, rounded as a writer rounds them.
std::vector<unsigned char> Interleaved8(const Raster& raster) {
  const int channels = ChannelsOf(raster);
  std::vector<unsigned char> samples(static_cast<std::size_t>(WidthOf(raster)) *
                                     static_cast<std::size_t>(HeightOf(raster)) * static_cast<std::size_t>(channels));
  const void* source = std::visit([](const auto& image) -> const void* { return image.samples.data(); }, raster);
  if (!OIIO::convert_image(channels, WidthOf(raster), HeightOf(raster), 1, source, SampleType(DepthOf(raster)),
                           OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride, samples.data(),
                           OIIO::TypeDesc::UINT8, OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride)) {
    throw RunError("cannot convert the colour to uint8");
  }
  return samples;
}

// A file's declared size, at `depth` or else at the depth of its colour
// channels' own sample type (which other channels may not share). A layout
// the effect does not render counts as four colour channels and no others.
FrameShape ShapeOf(const OIIO::ImageSpec& image_spec, const std::string& format_name, std::optional<Depth> depth) {
  const std::optional<ChannelRoles> roles = FindChannels(image_spec, format_name);
  const int colour = roles ? static_cast<int>(roles->rendered.size()) : std::min(image_spec.nchannels, 4);
  std::size_t colour_bytes = roles ? 0 : image_spec.pixel_bytes(0, colour, true);
  if (roles) {
    for (const int c : roles->rendered) colour_bytes += image_spec.channelformat(c).size();
  }
  return FrameShape{image_spec.width,
                    image_spec.height,
                    colour,
                    image_spec.pixel_bytes(true),
                    depth.value_or(FileDepth(ColourType(image_spec, format_name))),
                    image_spec.pixel_bytes(true) - colour_bytes,
                    BandRows(image_spec)};
}

// The parts of the open file. Seeking past the last one upsets some readers
// (the TIFF reader takes it for an error, the WebP reader fails to decode
// its image afterwards): `input` is a reader opened for this alone.
int PartCount(OIIO::ImageInput& input) {
  int count = 1;
  while (SeekPart(input, count)) ++count;
  input.geterror();
  return count;
}

// The part of the open file to grade: `part` (a number from 0 or a part's
// name), or else the first whose channels hold colour (the first, when none
// does: reading it says why), of `count`.
int ChoosePart(OIIO::ImageInput& input, const std::string& path, const std::string& part, int count) {
  std::vector<std::string> names;
  int chosen = -1;
  for (int i = 0; i < count && SeekPart(input, i); ++i) {
    const OIIO::ImageSpec& image_spec = DescriptionOf(input);
    names.push_back(PartName(image_spec, i));
    const bool named = part == std::to_string(i) || part == image_spec.get_string_attribute("name");
    const bool colour = !image_spec.deep && FindChannels(image_spec, input.format_name());
    if (chosen < 0 && (part.empty() ? colour : named)) chosen = i;
  }
  if (chosen < 0 && !part.empty()) {
    throw RunError(Because("cannot render", path, "no part \"" + part + "\"; its parts are " + Joined(names)));
  }
  return std::max(chosen, 0);
}

// Reads every part of the open file but the one graded, as stored, into
// `parts`, and returns to that one. Returns false where the reader fails;
// throws RunError on a deep part, which the tool cannot carry.
bool ReadOtherParts(OIIO::ImageInput& input, const std::string& path, FileParts& parts) {
  if (parts.count == 1) return true;
  for (int i = 0; i < parts.count && SeekPart(input, i); ++i) {
    if (i == parts.graded) continue;
    StoredPart part{DescriptionOf(input), {}};
    if (part.image_spec.deep) {
      throw RunError(
          Because("cannot render", path, PartName(part.image_spec, i) + " is deep, which cannot be carried"));
    }
    part.samples.resize(part.image_spec.image_bytes(true));
    if (!input.read_image(i, 0, 0, part.image_spec.nchannels, OIIO::TypeUnknown, part.samples.data())) return false;
    parts.others.push_back(std::move(part));
  }
  return SeekPart(input, parts.graded);
}

// Writes rows [top, top + rows) of the open tiled file `layout` describes
// (whole rows of tiles, or the last rows) from `samples` (rows of its width,
// each pixel's channels in `format`, or as the file stores them where
// unknown), a whole tile at a time: the part of a tile past the picture's
// edge is zeros. Handed a part of a tile, a writer pads it with whatever its
// buffer held, and the file would differ from run to run. OpenEXR stores the
// tiles at the edges cut to the picture, so nothing pads them; its writer
// takes the rows as they are (and only so channels of several types).
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

// Gives every part of an OpenEXR file the same display window, which its
// format demands of a file of several parts: the smallest that holds every
// part's own. Each part keeps its data window, so pages of different sizes
// stay as they were.
void ShareDisplayWindow(std::vector<OIIO::ImageSpec>& specs) {
  int left = specs.front().full_x, top = specs.front().full_y;
  int right = left + specs.front().full_width, bottom = top + specs.front().full_height;
  for (const OIIO::ImageSpec& image_spec : specs) {
    left = std::min(left, image_spec.full_x);
    top = std::min(top, image_spec.full_y);
    right = std::max(right, image_spec.full_x + image_spec.full_width);
    bottom = std::max(bottom, image_spec.full_y + image_spec.full_height);
  }
  for (OIIO::ImageSpec& image_spec : specs) {
    image_spec.full_x = left;
    image_spec.full_y = top;
    image_spec.full_width = right - left;
    image_spec.full_height = bottom - top;
  }
}

// The descriptions of every part of a file `output` writes: the parts
// carried, with `rendered` in its place among them, each writing through the
// same proxy.
std::vector<OIIO::ImageSpec> PartSpecs(const OIIO::ImageOutput& output, const OIIO::ImageSpec& rendered,
                                       const FileParts& parts) {
  std::vector<OIIO::ImageSpec> specs;
  for (const StoredPart& part : parts.others) specs.push_back(part.image_spec);
  specs.insert(specs.begin() + parts.graded, rendered);
  if (std::string_view(output.format_name()) == "openexr") ShareDisplayWindow(specs);
  if (const OIIO::ParamValue* proxy = rendered.find_attribute("oiio:ioproxy")) {
    for (OIIO::ImageSpec& image_spec : specs) {
      image_spec.attribute(proxy->name().string(), proxy->type(), proxy->data());
    }
  }
  return specs;
}

// Writes a part carried as it was read: in its sample type, or its types
// per channel where it has several (the writer holding them, as checked).
bool WritePart(OIIO::ImageOutput& output, const StoredPart& part) {
  const OIIO::ImageSpec& stored = part.image_spec;
  const OIIO::TypeDesc format = stored.channelformats.empty() ? stored.format : OIIO::TypeUnknown;
  const OIIO::ImageSpec& layout = DescriptionOf(output);
  if (layout.tile_width > 0) {
    return WriteWholeTiles(output, layout, layout.y, layout.height, format, part.samples.data());
  }
  return output.write_image(format, part.samples.data());
}

// Opens `file` at the rendered part among `parts` (none: alone), having
// written the parts before it.
bool OpenAmongParts(OIIO::ImageOutput& output, const std::string& file, const OIIO::ImageSpec& rendered,
                    const FileParts* parts) {
  if (!parts) return output.open(file, rendered);
  const std::vector<OIIO::ImageSpec> specs = PartSpecs(output, rendered, *parts);
  if (!output.open(file, static_cast<int>(specs.size()), specs.data())) return false;
  for (int i = 0; i < parts->graded; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (i > 0 && !output.open(file, specs[at], OIIO::ImageOutput::AppendSubimage)) return false;
    if (!WritePart(output, parts->others[at])) return false;
  }
  return parts->graded == 0 ||
         output.open(file, specs[static_cast<std::size_t>(parts->graded)], OIIO::ImageOutput::AppendSubimage);
}

// Writes the parts after the rendered one.
bool WritePartsAfter(OIIO::ImageOutput& output, const std::string& file, const OIIO::ImageSpec& rendered,
                     const FileParts* parts) {
  if (!parts) return true;
  const std::vector<OIIO::ImageSpec> specs = PartSpecs(output, rendered, *parts);
  for (std::size_t i = static_cast<std::size_t>(parts->graded); i < parts->others.size(); ++i) {
    if (!output.open(file, specs[i + 1], OIIO::ImageOutput::AppendSubimage) ||
        !WritePart(output, parts->others[i])) {
      return false;
    }
  }
  return true;
}

// What went wrong in a reader or writer: its own error, else what its
// library printed, else `otherwise`.
std::string Cause(const std::string& error, const std::string& printed, const char* otherwise) {
  if (!error.empty()) return FirstLine(error);
  if (!printed.empty()) return FirstLine(printed);
  return otherwise;
}

// A writer's message with the partial file's name, which the user never
// sees, put as the target's.
std::string Unhidden(std::string message, const fs::path& partial, const std::string& target) {
  for (const std::string& hidden : {partial.string(), partial.filename().string()}) {
    for (std::size_t at = message.find(hidden); at != std::string::npos;
         at = message.find(hidden, at + target.size())) {
      message.replace(at, hidden.size(), target);
    }
  }
  return message;
}

// Reads back the file just written and checks that it is the picture
// `written` describes: its header always, and with `whole` every scanline, a
// band of rows at a time, so that a writer that lost data without saying so
// (a truncated file) shows here.
void ConfirmWritten(const fs::path& file, const OIIO::ImageSpec& written, int subimage, const std::string& target,
                    bool whole) {
  LibraryMessages messages;
  auto input = OpenImageFile(file.string());
  if (!input) {
    const std::string error = OIIO::geterror();
    throw RunError(Because("cannot write", target, "the written file does not read back: " +
                                                       Unhidden(Cause(error, messages.Stop(), "unknown error"), file,
                                                                target)));
  }
  if (subimage > 0 && !SeekPart(*input, subimage)) {
    throw RunError(Because("cannot write", target, "the written file lacks its part " + std::to_string(subimage)));
  }
  const OIIO::ImageSpec& got = DescriptionOf(*input);
  bool same = got.width == written.width && got.height == written.height && got.nchannels == written.nchannels;
  for (int c = 0; same && c < got.nchannels; ++c) same = got.channelformat(c) == written.channelformat(c);
  if (!same) {
    throw RunError(Because("cannot write", target,
                           "the written file reads back as " + std::to_string(got.width) + "x" +
                               std::to_string(got.height) + " with " + std::to_string(got.nchannels) + " channels of " +
                               got.format.c_str() + ", not as written"));
  }
  // A reader must also take the channels for what they were written as: the
  // colour and alpha where they were written, not inks of another space.
  const std::optional<ChannelRoles> written_roles = FindChannels(written, input->format_name());
  const std::optional<ChannelRoles> got_roles = FindChannels(got, input->format_name());
  if (!written_roles || !got_roles || written_roles->rendered != got_roles->rendered) {
    throw RunError(Because("cannot write", target,
                           "the written file reads back with the channels " + Joined(got.channelnames) +
                               ", not as written (" + Joined(written.channelnames) + ")"));
  }
  if (!whole) return;
  const int band_rows = BandRows(got);
  std::vector<unsigned char> band(got.scanline_bytes(true) * static_cast<std::size_t>(band_rows));
  bool read = true;
  for (int y = got.y; read && y < got.y + got.height; y += band_rows) {
    read = ReadBand(*input, subimage, got, y, std::min(y + band_rows, got.y + got.height), band.data());
  }
  std::string error = input->geterror();
  if (!input->close() && error.empty()) error = input->geterror();
  const std::string printed = messages.Stop();
  if (!read || !error.empty()) {
    throw RunError(Because("cannot write", target, "the written file does not read back whole: " +
                                                       Unhidden(Cause(error, printed, "read failed"), file, target)));
  }
}

// Refuses a target that is there and is not a regular file (a device such
// as /dev/null, a named pipe, a socket; through a symbolic link too): the
// finished file is renamed over its target, which would replace it with a
// file, for every other user of it. Throws RunError.
void RefuseNonRegularTarget(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status) || fs::is_regular_file(status) || fs::is_directory(status)) return;
  throw RunError(Because("cannot write", path,
                         "it is not a regular file (a device, a pipe or a socket), and the tool replaces its output "
                         "with a new file"));
}

}  // namespace

AlphaConvention DefaultConvention(const std::string& format_name) {
  return format_name == "openexr" ? AlphaConvention::kAssociated : AlphaConvention::kStraight;
}

AlphaConvention StoredConvention(const OIIO::ImageSpec& image_spec, const std::string& format_name) {
  // Readers that say so when the file holds straight colour, having been
  // asked to keep it: where one did not, the file holds associated colour
  // (a TIFF with ExtraSamples 1, a Targa of alpha type 4).
  constexpr std::string_view kSayStraight[] = {"tiff", "targa", "png", "heif"};
  if (image_spec.alpha_channel < 0) return DefaultConvention(format_name);
  if (image_spec.get_int_attribute("oiio:UnassociatedAlpha") != 0) return AlphaConvention::kStraight;
  return Among(format_name, kSayStraight) ? AlphaConvention::kAssociated : DefaultConvention(format_name);
}

AlphaConvention WrittenConvention(const std::string& format_name, std::optional<AlphaConvention> source) {
  // TIFF records either convention (ExtraSamples); the other formats have one.
  if (source && format_name == "tiff") return *source;
  return DefaultConvention(format_name);
}

OIIO::TypeDesc ColourType(const OIIO::ImageSpec& image_spec, const std::string& format_name) {
  const std::optional<ChannelRoles> roles = FindChannels(image_spec, format_name);
  return image_spec.channelformat(roles ? roles->rendered.front() : 0);
}

Depth FileDepth(OIIO::TypeDesc type) {
  switch (type.basetype) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::INT8:
      return Depth::k8;
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::INT16:
      return Depth::k16;
    default:
      return Depth::kFloat;
  }
}

InputImage ReadImage(const std::string& path, std::optional<Depth> depth, std::optional<AlphaConvention> alpha,
                     const FrameLimits& limits, const std::string& part,
                     const std::function<void(const FrameShape&)>& before_pixels) {
  std::error_code error;
  if (!fs::exists(path, error)) throw RunError(Because("cannot read", path, "no such file"));
  if (fs::is_directory(path, error)) throw RunError(Because("cannot read", path, "it is a directory"));
  // PNG and TIFF readers premultiply unless told not to; the effect wants the
  // colour as stored.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  LibraryMessages messages;
  auto input = OpenImageFile(path, &config);
  if (!input) {
    const std::string error = OIIO::geterror();
    throw RunError(Because("cannot read", path, Cause(error, messages.Stop(), "unknown error")));
  }
  InputImage image{Image<std::uint8_t>{}, DescriptionOf(*input), input->format_name(), AlphaConvention::kStraight,
                   {}, {}, {}, {}};
  {
    const auto parts = OpenImageFile(path, &config);  // of its own, as PartCount needs
    image.parts.count = parts ? PartCount(*parts) : 1;
    image.parts.graded = parts ? ChoosePart(*parts, path, part, image.parts.count) : 0;
    image.parts.chosen = !part.empty();
  }
  if (image.parts.graded != 0) SeekPart(*input, image.parts.graded);
  image.image_spec = DescriptionOf(*input);
  const OIIO::ImageSpec& image_spec = image.image_spec;
  if (image_spec.deep) throw RunError(Because("cannot render", path, "deep images are not supported"));
  CheckFileWhole(path, image.format);
  const std::optional<ChannelRoles> roles = FindChannels(image_spec, image.format);
  if (!roles) {
    throw RunError(Because("cannot render", path,
                           "unsupported layout of " + std::to_string(image_spec.nchannels) + " channels (" +
                               Joined(image_spec.channelnames) +
                               "): no colour; R, G and B or Y are rendered, with A as alpha, and any others "
                               "pass through"));
  }
  if (image_spec.width < 1 || image_spec.height < 1 || image_spec.depth > 1) {
    throw RunError(Because("cannot render", path, "not a two-dimensional image"));
  }
  const FrameShape shape = ShapeOf(image_spec, image.format, depth);
  const Depth render_depth = shape.depth;
  if (auto refusal = RefuseFrame(shape, limits)) throw RunError(Because("cannot render", path, *refusal));
  if (before_pixels) before_pixels(shape);
  const int rendered = static_cast<int>(roles->rendered.size());
  image.raster = EmptyRaster(render_depth, image_spec.width, image_spec.height, rendered);
  image.layer = roles->layer;
  // A reader may fill what it could not read and say so only in its error
  // state (a truncated JPEG or TIFF): an error there fails the frame too.
  bool read = ReadChannels(*input, image.parts.graded, image_spec, *roles, image.raster, image.extra);
  read = read && ReadOtherParts(*input, path, image.parts);
  std::string reader_error = input->geterror();
  if (!input->close() && reader_error.empty()) reader_error = input->geterror();
  const std::string printed = messages.Stop();
  if (!read || !reader_error.empty()) {
    throw RunError(Because("cannot read", path, Cause(reader_error, printed, "read failed")));
  }
  if (image.format == "webp" && HasAlpha(rendered)) ReadStoredWebp(path, image.raster);
  image.alpha = alpha.value_or(StoredConvention(image_spec, image.format));
  if (image.alpha == AlphaConvention::kAssociated) image.light = Unassociate(image.raster);
  return image;
}

void CheckWritable(const std::string& path) {
  const fs::path target(path);
  const fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code error;
  if (!fs::is_directory(directory, error)) {
    throw RunError(Because("cannot write", path, "no directory " + directory.string()));
  }
  if (fs::is_directory(target, error)) throw RunError(Because("cannot write", path, "it is a directory"));
  RefuseNonRegularTarget(path);
  if (access(directory.c_str(), W_OK) != 0) {
    throw RunError(Because("cannot write", path, "directory " + directory.string() + " is not writable"));
  }
  CheckTargetWritable(target);
  if (!CreateImageWriter(path)) {
    throw RunError(Because("cannot write", path, "no image format for the extension \"" +
                                                     target.extension().string() + "\""));
  }
}

bool FormatHoldsAlpha(const std::string& path) {
  const auto output = CreateImageWriter(path);
  return output && output->supports("alpha");
}

bool FormatHoldsParts(const std::string& path) {
  const auto output = CreateImageWriter(path);
  return output && output->supports("multiimage");
}

std::string PartName(const OIIO::ImageSpec& image_spec, int index) {
  const std::string name = image_spec.get_string_attribute("name");
  return name.empty() ? "part " + std::to_string(index) : name;
}

StagedImage::StagedImage(std::unique_ptr<PartialFile> partial) : partial_(std::move(partial)) {}
StagedImage::StagedImage(StagedImage&&) noexcept = default;
StagedImage& StagedImage::operator=(StagedImage&&) noexcept = default;
StagedImage::~StagedImage() = default;

void StagedImage::Commit() {
  if (!partial_) throw std::logic_error("an image committed twice");
  partial_->MoveOverTarget();
  partial_.reset();
}

void WriteImage(const std::string& path, Raster raster, const WriteSettings& settings) {
  StageImage(path, std::move(raster), settings).Commit();
}

std::optional<FrameShape> DeclaredShape(const std::string& path, std::optional<Depth> depth) {
  LibraryMessages messages;
  auto input = OpenImageFile(path);
  if (!input) {
    OIIO::geterror();  // cleared: reading the file says what is wrong with it
    return std::nullopt;
  }
  return ShapeOf(DescriptionOf(*input), input->format_name(), depth);
}

StagedImage StageImage(const std::string& path, Raster raster, const WriteSettings& settings) {
  RefuseNonRegularTarget(path);
  CheckTargetWritable(path);
  auto staged = std::make_unique<PartialFile>(fs::path(path));
  PartialFile& partial = *staged;
  CheckedFileProxy proxy(partial);
  // Made after the proxy, so that on every path the writer is gone (and has
  // closed its file) before the proxy it may write through.
  auto output = CreateImageWriter(path);
  if (!output) throw RunError(Because("cannot write", path, FirstLine(OIIO::geterror())));
  const int channels = ChannelsOf(raster);
  OIIO::ImageSpec image_spec(WidthOf(raster), HeightOf(raster), channels, settings.type.type);
  SetLayout(image_spec, channels, settings.layer);
  const ExtraChannels* extra = settings.extra && !settings.extra->empty() ? settings.extra : nullptr;
  if (extra) {
    if (!HoldsExtraChannels(*output, *extra, settings.type.type, settings.like_format)) {
      throw RunError(Because("cannot write", path,
                             "the input's channels beyond colour and alpha (" + Joined(extra->names) +
                                 ") need a format that holds them as they are, such as OpenEXR"));
    }
    for (std::size_t c = 0; c < extra->names.size(); ++c) {
      if (!FormatHoldsType(path, FileType{extra->formats[c], 0})) {
        throw RunError(Because("cannot write", path,
                               "the input's channel " + extra->names[c] + " holds " + extra->formats[c].c_str() +
                                   " samples, which " + output->format_name() + " files do not hold as they are"));
      }
    }
    image_spec.channelformats.assign(static_cast<std::size_t>(channels), settings.type.type);
    for (std::size_t c = 0; c < extra->names.size(); ++c) {
      image_spec.channelnames.push_back(extra->names[c]);
      image_spec.channelformats.push_back(extra->formats[c]);
    }
    if (!output->supports("channelformats")) image_spec.channelformats.clear();  // one type, as checked
    image_spec.nchannels = static_cast<int>(image_spec.channelnames.size());
  }
  if (const OIIO::ImageSpec* like = settings.like) {
    if (like->width == image_spec.width && like->height == image_spec.height) {
      image_spec.x = like->x;
      image_spec.y = like->y;
      image_spec.full_x = like->full_x;
      image_spec.full_y = like->full_y;
      image_spec.full_width = like->full_width;
      image_spec.full_height = like->full_height;
    }
    CarryMetadata(*like, settings.like_format, settings.all_metadata, image_spec, output->format_name());
    if (UnfitProfile(image_spec, channels)) DropProfile(image_spec);
    if (UnheldOrientation(*like, path)) image_spec.erase_attribute(kOrientationAttribute);
    if (settings.all_metadata && settings.like_format == output->format_name()) {
      CarryEncoding(*like, settings.like_file, *output, image_spec);
    }
  }
  if (!settings.colour_space.empty()) image_spec.attribute("oiio:ColorSpace", settings.colour_space);
  DescribeFileType(settings.type, image_spec);
  image_spec.attribute("Software", "quorvandile");
  const AlphaConvention alpha =
      settings.alpha.value_or(WrittenConvention(output->format_name(), settings.source_alpha));
  // Where the writer takes one, every byte goes through a proxy that keeps
  // the system's answer to each write. The TIFF writer takes one but writes
  // a broken directory through it when the file carries a colour space (and
  // fails on Exif data); it reports failed writes itself. The OpenEXR writer
  // of several parts opens the file by its name, whatever the proxy.
  const FileParts* parts = settings.parts && !settings.parts->others.empty() ? settings.parts : nullptr;
  const std::string_view format_name = output->format_name();
  const bool proxied = output->supports("ioproxy") && format_name != "tiff" && !(parts && format_name == "openexr");
  // Lossless WebP is coded by the tool, straight colour as it is; lossy WebP
  // by the library's writer.
  const bool self_coded_webp = CodesLosslessWebp(*output, image_spec) && !extra && proxied;
  if (std::string_view(output->format_name()) == "webp") {
    // WebP holds straight colour, which the library's writer takes associated.
    if (!self_coded_webp) AssociateForWebpWriter(raster);
  } else if (alpha == AlphaConvention::kAssociated) {
    Associate(raster, settings.light ? *settings.light : LightMask{});
  } else {
    image_spec.attribute("oiio:UnassociatedAlpha", 1);  // PNG and TIFF store the colour as given
  }

  if (proxied) {
    OIIO::Filesystem::IOProxy* proxy_pointer = &proxy;
    image_spec.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy_pointer);
  }
  LibraryMessages messages;
  if (self_coded_webp) {
    // Coded by the tool, written through the same checked proxy.
    OIIO::ImageSpec as_written;
    const std::string file =
        LosslessWebp(Interleaved8(raster), image_spec.width, image_spec.height, channels, as_written);
    if (file.empty()) throw RunError(Because("cannot write", path, "the WebP coder failed"));
    proxy.write(file.data(), file.size());
    if (proxy.failure() != 0) throw RunError(Because("cannot write", path, SystemMessage(proxy.failure())));
    partial.Finish();
    ConfirmWritten(partial.path(), as_written, 0, path, false);
    return StagedImage(std::move(staged));
  }
  for (std::size_t i = 0; parts && !output->supports("channelformats") && i < parts->others.size(); ++i) {
    const OIIO::ImageSpec& other = parts->others[i].image_spec;
    const int index = static_cast<int>(i) + (static_cast<int>(i) >= parts->graded ? 1 : 0);
    if (!other.channelformats.empty()) {
      throw RunError(Because("cannot write", path,
                             "the input's " + PartName(other, index) +
                                 " has channels of several sample types, which need a format that holds them, such as "
                                 "OpenEXR"));
    }
  }
  // A writer through the proxy takes the name for its messages and its
  // header (DPX records it) alone: the file's own, not the partial file's.
  const std::string opened = proxied ? fs::path(path).filename().string() : partial.path().string();
  bool written = OpenAmongParts(*output, opened, image_spec, parts);
  const OIIO::ImageSpec as_written = DescriptionOf(*output);  // with the sample type the format could hold
  const bool tiled = as_written.tile_width > 0;
  if (written && extra) {
    // Every channel in its own sample type: the colour converted, the extra
    // channels as they came.
    for (std::size_t c = 0; c < extra->formats.size(); ++c) {
      if (as_written.channelformat(channels + static_cast<int>(c)) != extra->formats[c]) {
        throw RunError(Because("cannot write", path, "channel " + extra->names[c] + " would change its sample type"));
      }
    }
    // A band at a time (a file kept tiled as the input was: rows of tiles).
    const int band = BandRows(as_written);
    for (int y = 0; written && y < as_written.height; y += band) {
      const int rows = std::min(band, as_written.height - y);
      const std::vector<unsigned char> samples = Interleaved(raster, *extra, as_written, y, rows);
      const int top = as_written.y + y;
      written = tiled ? WriteWholeTiles(*output, as_written, top, rows, OIIO::TypeUnknown, samples.data())
                      : output->write_scanlines(top, top + rows, 0, OIIO::TypeUnknown, samples.data());
    }
  } else if (tiled) {
    written = written && WriteWholeTiles(*output, as_written, as_written.y, as_written.height,
                                         SampleType(DepthOf(raster)), Samples(raster));
  } else {
    written = written && output->write_image(SampleType(DepthOf(raster)), Samples(raster));
  }
  written = written && WritePartsAfter(*output, opened, image_spec, parts);
  written = output->close() && written;
  const std::string error = output->geterror();
  const std::string printed = messages.Stop();
  if (proxy.failure() != 0) throw RunError(Because("cannot write", path, SystemMessage(proxy.failure())));
  // A writer's error text alone is not a failure: the TIFF writer leaves
  // one ("failed TIFFWriteCustomDirectory() of the Exif data") on every
  // file it writes whole. What was written is confirmed below instead.
  if (!written) {
    const std::string cause = Unhidden(Cause(error, printed, "write failed"), partial.path(), path);
    throw RunError(Because("cannot write", path, cause));
  }
  partial.Finish();
  // Every byte of a proxied write was checked as it went, so its header is
  // confirmed; decoding a file all again (as slow as writing it, for an
  // OpenEXR frame) is kept for the writers the tool cannot check as they go.
  ConfirmWritten(partial.path(), as_written, parts ? parts->graded : 0, path, !proxied);
  return StagedImage(std::move(staged));
}

}  // namespace qv::cli
