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

#include "core/errors.h"
#include "file_extent.h"
#include "image_description.h"
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

// Names and the alpha channel for each layout.
void SetLayout(OIIO::ImageSpec& image_spec, int channels) {
  static const std::array<std::vector<std::string>, 5> kNames = {
      std::vector<std::string>{}, {"Y"}, {"Y", "A"}, {"R", "G", "B"}, {"R", "G", "B", "A"}};
  image_spec.nchannels = channels;
  image_spec.channelnames = kNames[static_cast<std::size_t>(channels)];
  image_spec.alpha_channel = HasAlpha(channels) ? channels - 1 : -1;
}

// Metadata that describes the picture rather than the file it came in: kept
// even when the rest is stripped, since without it the picture would show
// turned, stretched or in another colour space.
constexpr std::string_view kPictureAttributes[] = {"Orientation",   "PixelAspectRatio", "XResolution",
                                                   "YResolution",   "ResolutionUnit",   "oiio:ColorSpace"};

// Metadata that describes how a file was laid out or read, which the writer
// works out anew for what it writes: carrying it over would make it untrue
// (the bits per sample after a change of depth, the photometric layout after
// a change of channels).
constexpr std::string_view kFileAttributes[] = {
    "oiio:BitsPerSample", "oiio:UnassociatedAlpha",         "oiio:ioproxy",        "oiio:subimages",
    "planarconfig",       "tiff:PhotometricInterpretation", "tiff:PlanarConfiguration",
    "tiff:RowsPerStrip",  "tiff:Compression",               "tiff:UnassociatedAlpha", "tiff:ExtraSamples",
    "openexr:chunkCount", "Software"};

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

// How many of a file's first channels are the colour and alpha the effect
// renders: all of up to four, else the first named R, G, B (A) or Y (A).
std::optional<int> ColourChannels(const OIIO::ImageSpec& image_spec) {
  const int n = image_spec.nchannels;
  if (n >= 1 && n <= 4) return n;
  const auto named = [&](int c, const char* name) { return c < n && image_spec.channel_name(c) == name; };
  if (named(0, "R") && named(1, "G") && named(2, "B")) return named(3, "A") ? 4 : 3;
  if (named(0, "Y")) return named(1, "A") ? 2 : 1;
  return std::nullopt;
}

// The colour of `raster` in the sample type the file's first channel has,
// followed pixel by pixel by the extra channels as they are: the samples laid
// out as the file `layout` describes them.
std::vector<unsigned char> Interleaved(const Raster& raster, const ExtraChannels& extra,
                                       const OIIO::ImageSpec& layout) {
  const int colour = ChannelsOf(raster);
  const std::size_t pixel_bytes = layout.pixel_bytes(true);
  const std::size_t extra_bytes = pixel_bytes - layout.pixel_bytes(0, colour, true);
  const auto pixels = static_cast<std::size_t>(layout.image_pixels());
  std::vector<unsigned char> samples(pixels * pixel_bytes);
  const void* source = std::visit([](const auto& image) -> const void* { return image.samples.data(); }, raster);
  if (!OIIO::convert_image(colour, layout.width, layout.height, 1, source, SampleType(DepthOf(raster)), OIIO::AutoStride,
                           OIIO::AutoStride, OIIO::AutoStride, samples.data(), layout.channelformat(0),
                           static_cast<OIIO::stride_t>(pixel_bytes),
                           static_cast<OIIO::stride_t>(pixel_bytes * layout.width), OIIO::AutoStride)) {
    throw RunError("cannot convert the colour to " + std::string(layout.channelformat(0).c_str()));
  }
  for (std::size_t p = 0; p < pixels; ++p) {
    std::memcpy(samples.data() + p * pixel_bytes + (pixel_bytes - extra_bytes), extra.samples.data() + p * extra_bytes,
                extra_bytes);
  }
  return samples;
}

// A file's declared size, at `depth` or else at the depth of its colour
// channels' own sample type (which other channels may not share).
FrameShape ShapeOf(const OIIO::ImageSpec& image_spec, std::optional<Depth> depth) {
  return FrameShape{image_spec.width, image_spec.height, image_spec.nchannels, image_spec.pixel_bytes(true),
                    depth.value_or(FileDepth(image_spec.channelformat(0)))};
}

// What went wrong in a reader or writer: its own error, else what its
// library printed, else `otherwise`.
std::string Cause(const std::string& error, const std::string& printed, const char* otherwise) {
  if (!error.empty()) return FirstLine(error);
  if (!printed.empty()) return FirstLine(printed);
  return otherwise;
}

// Reads back the file just written and checks that it is the picture
// `written` describes: its header always, and with `whole` every scanline, a
// band of rows at a time, so that a writer that lost data without saying so
// (a truncated file) shows here.
void ConfirmWritten(const fs::path& file, const OIIO::ImageSpec& written, const std::string& target, bool whole) {
  LibraryMessages messages;
  auto input = OIIO::ImageInput::open(file.string());
  if (!input) {
    const std::string error = OIIO::geterror();
    throw RunError(Because("cannot write", target, "the written file does not read back: " +
                                                       Cause(error, messages.Stop(), "unknown error")));
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
  if (!whole) return;
  constexpr int kBandRows = 64;
  std::vector<unsigned char> band(got.scanline_bytes(true) * kBandRows);
  bool read = true;
  for (int y = got.y; read && y < got.y + got.height; y += kBandRows) {
    const int end = std::min(y + kBandRows, got.y + got.height);
    read = input->read_scanlines(0, 0, y, end, 0, 0, got.nchannels, OIIO::TypeUnknown, band.data());
  }
  std::string error = input->geterror();
  if (!input->close() && error.empty()) error = input->geterror();
  const std::string printed = messages.Stop();
  if (!read || !error.empty()) {
    throw RunError(Because("cannot write", target, "the written file does not read back whole: " +
                                                       Cause(error, printed, "read failed")));
  }
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
                     const FrameLimits& limits) {
  std::error_code error;
  if (!fs::exists(path, error)) throw RunError(Because("cannot read", path, "no such file"));
  if (fs::is_directory(path, error)) throw RunError(Because("cannot read", path, "it is a directory"));
  // PNG and TIFF readers premultiply unless told not to; the effect wants the
  // colour as stored.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  LibraryMessages messages;
  auto input = OIIO::ImageInput::open(path, &config);
  if (!input) {
    const std::string error = OIIO::geterror();
    throw RunError(Because("cannot read", path, Cause(error, messages.Stop(), "unknown error")));
  }
  InputImage image{Image<std::uint8_t>{}, DescriptionOf(*input), input->format_name(), AlphaConvention::kStraight,
                   {}, {}};
  const OIIO::ImageSpec& image_spec = image.image_spec;
  if (image_spec.deep) throw RunError(Because("cannot render", path, "deep images are not supported"));
  CheckFileWhole(path, image.format);
  const std::optional<int> colour_channels = ColourChannels(image_spec);
  if (!colour_channels) {
    throw RunError(Because("cannot render", path,
                           "unsupported layout of " + std::to_string(image_spec.nchannels) + " channels (" +
                               Joined(image_spec.channelnames) +
                               "): grey, grey+alpha, RGB and RGBA are supported, followed by any others"));
  }
  if (image_spec.width < 1 || image_spec.height < 1 || image_spec.depth > 1) {
    throw RunError(Because("cannot render", path, "not a two-dimensional image"));
  }
  const FrameShape shape = ShapeOf(image_spec, depth);
  const Depth render_depth = shape.depth;
  if (auto refusal = RefuseFrame(shape, limits)) throw RunError(Because("cannot render", path, *refusal));
  image.raster = EmptyRaster(render_depth, image_spec.width, image_spec.height, *colour_channels);
  // A reader may fill what it could not read and say so only in its error
  // state (a truncated JPEG or TIFF): an error there fails the frame too.
  bool read = input->read_image(0, 0, 0, *colour_channels, SampleType(render_depth), Samples(image.raster));
  if (*colour_channels < image_spec.nchannels) {
    ExtraChannels& extra = image.extra;
    for (int c = *colour_channels; c < image_spec.nchannels; ++c) {
      extra.names.push_back(image_spec.channel_name(c));
      extra.formats.push_back(image_spec.channelformat(c));
    }
    const std::size_t extra_pixel_bytes =
        image_spec.pixel_bytes(true) - image_spec.pixel_bytes(0, *colour_channels, true);
    extra.samples.resize(image_spec.image_pixels() * extra_pixel_bytes);
    read = read &&
           input->read_image(0, 0, *colour_channels, image_spec.nchannels, OIIO::TypeUnknown, extra.samples.data());
  }
  std::string reader_error = input->geterror();
  if (!input->close() && reader_error.empty()) reader_error = input->geterror();
  const std::string printed = messages.Stop();
  if (!read || !reader_error.empty()) {
    throw RunError(Because("cannot read", path, Cause(reader_error, printed, "read failed")));
  }
  if (image.format == "webp" && HasAlpha(*colour_channels)) ReadStoredWebp(path, image.raster);
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
  if (access(directory.c_str(), W_OK) != 0) {
    throw RunError(Because("cannot write", path, "directory " + directory.string() + " is not writable"));
  }
  CheckTargetWritable(target);
  if (!OIIO::ImageOutput::create(path)) {
    throw RunError(Because("cannot write", path, "no image format for the extension \"" +
                                                     target.extension().string() + "\""));
  }
}

bool FormatHoldsAlpha(const std::string& path) {
  const auto output = OIIO::ImageOutput::create(path);
  return output && output->supports("alpha");
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
  auto input = OIIO::ImageInput::open(path);
  if (!input) {
    OIIO::geterror();  // cleared: reading the file says what is wrong with it
    return std::nullopt;
  }
  return ShapeOf(DescriptionOf(*input), depth);
}

StagedImage StageImage(const std::string& path, Raster raster, const WriteSettings& settings) {
  CheckTargetWritable(path);
  auto staged = std::make_unique<PartialFile>(fs::path(path));
  PartialFile& partial = *staged;
  CheckedFileProxy proxy(partial);
  // Made after the proxy, so that on every path the writer is gone (and has
  // closed its file) before the proxy it may write through.
  auto output = OIIO::ImageOutput::create(path);
  if (!output) throw RunError(Because("cannot write", path, FirstLine(OIIO::geterror())));
  const int channels = ChannelsOf(raster);
  OIIO::ImageSpec image_spec(WidthOf(raster), HeightOf(raster), channels, settings.type);
  SetLayout(image_spec, channels);
  const ExtraChannels* extra = settings.extra && !settings.extra->empty() ? settings.extra : nullptr;
  if (extra) {
    if (!output->supports("nchannels") || !output->supports("channelformats")) {
      throw RunError(Because("cannot write", path,
                             "the input's channels beyond colour and alpha (" + Joined(extra->names) +
                                 ") need a format that holds them as they are, such as OpenEXR"));
    }
    image_spec.channelformats.assign(static_cast<std::size_t>(channels), settings.type);
    for (std::size_t c = 0; c < extra->names.size(); ++c) {
      image_spec.channelnames.push_back(extra->names[c]);
      image_spec.channelformats.push_back(extra->formats[c]);
    }
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
  }
  if (!settings.colour_space.empty()) image_spec.attribute("oiio:ColorSpace", settings.colour_space);
  image_spec.attribute("Software", "quorvandile");
  const AlphaConvention alpha = settings.alpha.value_or(WrittenConvention(output->format_name(), settings.source_alpha));
  if (std::string_view(output->format_name()) == "webp") {
    AssociateForWebpWriter(raster);  // WebP holds straight colour, which its writer takes associated
  } else if (alpha == AlphaConvention::kAssociated) {
    Associate(raster, settings.light ? *settings.light : LightMask{});
  } else {
    image_spec.attribute("oiio:UnassociatedAlpha", 1);  // PNG and TIFF store the colour as given
  }

  // Where the writer takes one, every byte goes through a proxy that keeps
  // the system's answer to each write. The TIFF writer takes one but writes
  // a broken directory through it when the file carries a colour space (and
  // fails on Exif data); it reports failed writes itself.
  const bool proxied = output->supports("ioproxy") && std::string_view(output->format_name()) != "tiff";
  if (proxied) {
    OIIO::Filesystem::IOProxy* proxy_pointer = &proxy;
    image_spec.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy_pointer);
  }
  LibraryMessages messages;
  bool written = output->open(partial.path().string(), image_spec);
  const OIIO::ImageSpec as_written = DescriptionOf(*output);  // with the sample type the format could hold
  if (written && extra) {
    // Every channel in its own sample type: the colour converted, the extra
    // channels as they came.
    for (std::size_t c = 0; c < extra->formats.size(); ++c) {
      if (as_written.channelformat(channels + static_cast<int>(c)) != extra->formats[c]) {
        throw RunError(Because("cannot write", path, "channel " + extra->names[c] + " would change its sample type"));
      }
    }
    written = output->write_image(OIIO::TypeUnknown, Interleaved(raster, *extra, as_written).data());
  } else {
    written = written && output->write_image(SampleType(DepthOf(raster)), Samples(raster));
  }
  written = output->close() && written;
  const std::string error = output->geterror();
  const std::string printed = messages.Stop();
  if (proxy.failure() != 0) throw RunError(Because("cannot write", path, SystemMessage(proxy.failure())));
  // A writer's error text alone is not a failure: the TIFF writer leaves
  // one ("failed TIFFWriteCustomDirectory() of the Exif data") on every
  // file it writes whole. What was written is confirmed below instead.
  if (!written) throw RunError(Because("cannot write", path, Cause(error, printed, "write failed")));
  partial.Finish();
  // Every byte of a proxied write was checked as it went, so its header is
  // confirmed; decoding a file all again (as slow as writing it, for an
  // OpenEXR frame) is kept for the writers the tool cannot check as they go.
  ConfirmWritten(partial.path(), as_written, path, !proxied);
  return StagedImage(std::move(staged));
}

}  // namespace qv::cli
