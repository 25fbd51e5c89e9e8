#include "image_read.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "channel_roles.h"
#include "core/errors.h"
#include "file_extent.h"
#include "image_description.h"
#include "image_open.h"
#include "library_messages.h"
#include "webp_files.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;


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
                    BandRows(image_spec),
                    CodecPixels(image_spec, format_name)};
}

// The reader of the file at `path`, colour as stored. Throws RunError
// saying why there is none.
std::unique_ptr<OIIO::ImageInput> OpenToRead(const std::string& path, const OIIO::ImageSpec& config,
                                             LibraryMessages& messages) {
  std::error_code error;
  if (!fs::exists(path, error)) throw RunError(Because("cannot read", path, "no such file"));
  if (fs::is_directory(path, error)) throw RunError(Because("cannot read", path, "it is a directory"));
  auto input = OpenImageFile(path, &config);
  if (!input) {
    const std::string error = OIIO::geterror();
    throw RunError(Because("cannot read", path, Cause(error, messages.Stop(), "unknown error")));
  }
  return input;
}

// The channels the effect renders of the part `image_spec` describes, of a
// file of `format` at `path`, once the part is found one it renders: flat,
// whole, two-dimensional, with colour. Throws RunError.
ChannelRoles RenderedChannels(const OIIO::ImageSpec& image_spec, const std::string& format, const std::string& path) {
  if (image_spec.deep) throw RunError(Because("cannot render", path, "deep images are not supported"));
  CheckFileWhole(path, format);
  const std::optional<ChannelRoles> roles = FindChannels(image_spec, format);
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
  return *roles;
}

// Reads the pixels of the open file into `image` (its raster made), the
// channels of `roles` and every other channel and part, and closes it.
// Throws RunError where the reader fails.
void ReadPixels(OIIO::ImageInput& input, const std::string& path, const ChannelRoles& roles, InputImage& image,
                LibraryMessages& messages) {
  // A reader may fill what it could not read and say so only in its error
  // state (a truncated JPEG or TIFF): an error there fails the frame too.
  bool read = ReadChannels(input, image.parts.graded, image.image_spec, roles, image.raster, image.extra);
  read = read && ReadOtherParts(input, path, image.parts);
  std::string reader_error = input.geterror();
  if (!input.close() && reader_error.empty()) reader_error = input.geterror();
  const std::string printed = messages.Stop();
  if (!read || !reader_error.empty()) {
    throw RunError(Because("cannot read", path, Cause(reader_error, printed, "read failed")));
  }
}

}  // namespace

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
  // PNG and TIFF readers premultiply unless told not to; the effect wants the
  // colour as stored.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  LibraryMessages messages;
  const std::unique_ptr<OIIO::ImageInput> input = OpenToRead(path, config, messages);
  InputImage image{Image<std::uint8_t>{}, DescriptionOf(*input), input->format_name(), AlphaConvention::kStraight,
                   {}, {}, {}, FindParts(path, &config, part)};
  if (image.parts.graded != 0) SeekPart(*input, image.parts.graded);
  image.image_spec = DescriptionOf(*input);
  const ChannelRoles roles = RenderedChannels(image.image_spec, image.format, path);
  const FrameShape shape = ShapeOf(image.image_spec, image.format, depth);
  if (auto refusal = RefuseFrame(shape, limits)) throw RunError(Because("cannot render", path, *refusal));
  if (before_pixels) before_pixels(shape);
  const int rendered = static_cast<int>(roles.rendered.size());
  image.raster = EmptyRaster(shape.depth, image.image_spec.width, image.image_spec.height, rendered);
  image.layer = roles.layer;
  ReadPixels(*input, path, roles, image, messages);
  if (image.format == "webp" && HasAlpha(ChannelsOf(image.raster))) ReadStoredWebp(path, image.raster);
  image.alpha = alpha.value_or(StoredConvention(image.image_spec, image.format));
  if (image.alpha == AlphaConvention::kAssociated) image.light = Unassociate(image.raster);
  return image;
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

}  // namespace qv::cli
