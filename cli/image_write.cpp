#include "image_write.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "channel_roles.h"
#include "core/errors.h"
#include "image_description.h"
#include "image_metadata.h"
#include "image_open.h"
#include "library_messages.h"
#include "safe_file.h"
#include "webp_files.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

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

// What a writer wrote: the description it wrote with (the sample type the
// format could hold), and the part it is among the file's.
struct Written {
  OIIO::ImageSpec description;
  int part = 0;
};

// One image staged: its partial file, the proxy every byte goes through, the
// writer, and the description of the file it writes, each made by a step of
// its own.
class Staging {
 public:
  Staging(const std::string& path, Raster raster, const WriteSettings& settings);
  // Writes, syncs and confirms the partial file, ready to be moved over the target.
  std::unique_ptr<PartialFile> Stage();

 private:
  void Describe();
  void AddExtraChannels();
  void CarrySource(const OIIO::ImageSpec& like);
  void PrepareAlpha(bool self_coded_webp);
  Written WriteLosslessWebp();
  Written WriteThroughLibrary();
  bool WritePixels(const OIIO::ImageSpec& as_written);

  const std::string& path_;
  Raster raster_;
  const WriteSettings& settings_;
  const ExtraChannels* extra_;  // none where there are none
  const FileParts* parts_;      // none where there are none
  std::unique_ptr<PartialFile> partial_;
  CheckedFileProxy proxy_;
  // Made after the proxy, so that on every path the writer is gone (and has
  // closed its file) before the proxy it may write through.
  std::unique_ptr<OIIO::ImageOutput> output_;
  OIIO::ImageSpec image_spec_;
  bool proxied_ = false;
};

Staging::Staging(const std::string& path, Raster raster, const WriteSettings& settings)
    : path_(path),
      raster_(std::move(raster)),
      settings_(settings),
      extra_(settings.extra && !settings.extra->empty() ? settings.extra : nullptr),
      parts_(settings.parts && !settings.parts->others.empty() ? settings.parts : nullptr),
      partial_(std::make_unique<PartialFile>(fs::path(path))),
      proxy_(*partial_),
      output_(CreateImageWriter(path)) {
  if (!output_) throw RunError(Because("cannot write", path, Cause(OIIO::geterror(), "", "unknown error")));
}

// The output's description: its layout, the extra channels, what carries
// over from the source, its colour space and sample type.
void Staging::Describe() {
  const int channels = ChannelsOf(raster_);
  image_spec_ = OIIO::ImageSpec(WidthOf(raster_), HeightOf(raster_), channels, settings_.type.type);
  SetLayout(image_spec_, channels, settings_.layer);
  if (extra_) AddExtraChannels();
  if (settings_.like) CarrySource(*settings_.like);
  if (!settings_.colour_space.empty()) image_spec_.attribute("oiio:ColorSpace", settings_.colour_space);
  DescribeFileType(settings_.type, image_spec_);
  image_spec_.attribute("Software", "quorvandile");
}

void Staging::AddExtraChannels() {
  const int channels = ChannelsOf(raster_);
  if (!HoldsExtraChannels(*output_, *extra_, settings_.type.type, settings_.like_format)) {
    throw RunError(Because("cannot write", path_,
                           "the input's channels beyond colour and alpha (" + Joined(extra_->names) +
                               ") need a format that holds them as they are, such as OpenEXR"));
  }
  for (std::size_t c = 0; c < extra_->names.size(); ++c) {
    if (!FormatHoldsType(path_, FileType{extra_->formats[c], 0})) {
      throw RunError(Because("cannot write", path_,
                             "the input's channel " + extra_->names[c] + " holds " + extra_->formats[c].c_str() +
                                 " samples, which " + output_->format_name() + " files do not hold as they are"));
    }
  }
  image_spec_.channelformats.assign(static_cast<std::size_t>(channels), settings_.type.type);
  for (std::size_t c = 0; c < extra_->names.size(); ++c) {
    image_spec_.channelnames.push_back(extra_->names[c]);
    image_spec_.channelformats.push_back(extra_->formats[c]);
  }
  if (!output_->supports("channelformats")) image_spec_.channelformats.clear();  // one type, as checked
  image_spec_.nchannels = static_cast<int>(image_spec_.channelnames.size());
}

// The source's data window, where the sizes agree, its metadata but what no
// longer holds, and its encoding into a file of its own format.
void Staging::CarrySource(const OIIO::ImageSpec& like) {
  if (like.width == image_spec_.width && like.height == image_spec_.height) {
    image_spec_.x = like.x;
    image_spec_.y = like.y;
    image_spec_.full_x = like.full_x;
    image_spec_.full_y = like.full_y;
    image_spec_.full_width = like.full_width;
    image_spec_.full_height = like.full_height;
  }
  CarryMetadata(like, settings_.like_format, settings_.all_metadata, image_spec_, output_->format_name());
  if (UnfitProfile(image_spec_, ChannelsOf(raster_))) DropProfile(image_spec_);
  if (UnheldOrientation(like, path_)) image_spec_.erase_attribute(kOrientationAttribute);
  if (settings_.all_metadata && settings_.like_format == output_->format_name()) {
    CarryEncoding(like, settings_.like_file, *output_, image_spec_);
  }
}

// The colour under alpha as the file is to hold it.
void Staging::PrepareAlpha(bool self_coded_webp) {
  const AlphaConvention alpha =
      settings_.alpha.value_or(WrittenConvention(output_->format_name(), settings_.source_alpha));
  if (std::string_view(output_->format_name()) == "webp") {
    // WebP holds straight colour, which the library's writer takes associated.
    if (!self_coded_webp) AssociateForWebpWriter(raster_);
  } else if (alpha == AlphaConvention::kAssociated) {
    Associate(raster_, settings_.light ? *settings_.light : LightMask{});
  } else {
    image_spec_.attribute("oiio:UnassociatedAlpha", 1);  // PNG and TIFF store the colour as given
  }
}

// Coded by the tool, written through the same checked proxy.
Written Staging::WriteLosslessWebp() {
  Written written;
  const std::string file = LosslessWebp(raster_, written.description);
  if (file.empty()) throw RunError(Because("cannot write", path_, "the WebP coder failed"));
  proxy_.write(file.data(), file.size());
  if (proxy_.failure() != 0) throw RunError(Because("cannot write", path_, SystemMessage(proxy_.failure())));
  return written;
}

// The pixels, and the extra channels beside them, into the open writer.
bool Staging::WritePixels(const OIIO::ImageSpec& as_written) {
  const bool tiled = as_written.tile_width > 0;
  if (!extra_) {
    return tiled ? WriteWholeTiles(*output_, as_written, as_written.y, as_written.height,
                                   SampleType(DepthOf(raster_)), Samples(raster_))
                 : output_->write_image(SampleType(DepthOf(raster_)), Samples(raster_));
  }
  // Every channel in its own sample type: the colour converted, the extra
  // channels as they came.
  const int channels = ChannelsOf(raster_);
  for (std::size_t c = 0; c < extra_->formats.size(); ++c) {
    if (as_written.channelformat(channels + static_cast<int>(c)) != extra_->formats[c]) {
      throw RunError(Because("cannot write", path_, "channel " + extra_->names[c] + " would change its sample type"));
    }
  }
  // A band at a time (a file kept tiled as the input was: rows of tiles).
  const int band = BandRows(as_written);
  bool written = true;
  for (int y = 0; written && y < as_written.height; y += band) {
    const int rows = std::min(band, as_written.height - y);
    const std::vector<unsigned char> samples = Interleaved(raster_, *extra_, as_written, y, rows);
    const int top = as_written.y + y;
    written = tiled ? WriteWholeTiles(*output_, as_written, top, rows, OIIO::TypeUnknown, samples.data())
                    : output_->write_scanlines(top, top + rows, 0, OIIO::TypeUnknown, samples.data());
  }
  return written;
}

// Written by the library's writer, among the other parts where there are.
Written Staging::WriteThroughLibrary() {
  LibraryMessages messages;
  if (parts_) RefuseMixedTypeParts(*output_, *parts_, path_);
  // A writer through the proxy takes the name for its messages and its
  // header (DPX records it) alone: the file's own, not the partial file's.
  const std::string opened = proxied_ ? fs::path(path_).filename().string() : partial_->path().string();
  bool written = OpenAmongParts(*output_, opened, image_spec_, parts_);
  Written result{DescriptionOf(*output_), parts_ ? parts_->graded : 0};
  written = written && WritePixels(result.description);
  written = written && WritePartsAfter(*output_, opened, image_spec_, parts_);
  written = output_->close() && written;
  const std::string error = output_->geterror();
  const std::string printed = messages.Stop();
  if (proxy_.failure() != 0) throw RunError(Because("cannot write", path_, SystemMessage(proxy_.failure())));
  // A writer's error text alone is not a failure: the TIFF writer leaves
  // one ("failed TIFFWriteCustomDirectory() of the Exif data") on every
  // file it writes whole. What was written is confirmed instead.
  if (!written) {
    const std::string cause = Unhidden(Cause(error, printed, "write failed"), partial_->path(), path_);
    throw RunError(Because("cannot write", path_, cause));
  }
  return result;
}

std::unique_ptr<PartialFile> Staging::Stage() {
  Describe();
  // Where the writer takes one, every byte goes through a proxy that keeps
  // the system's answer to each write. The TIFF writer takes one but writes
  // a broken directory through it when the file carries a colour space (and
  // fails on Exif data); it reports failed writes itself. The OpenEXR writer
  // of several parts opens the file by its name, whatever the proxy.
  const std::string_view format_name = output_->format_name();
  proxied_ = output_->supports("ioproxy") && format_name != "tiff" && !(parts_ && format_name == "openexr");
  // Lossless WebP is coded by the tool, straight colour as it is; lossy WebP
  // by the library's writer.
  const bool self_coded_webp = CodesLosslessWebp(*output_, image_spec_) && !extra_ && proxied_;
  PrepareAlpha(self_coded_webp);
  if (proxied_) {
    OIIO::Filesystem::IOProxy* proxy_pointer = &proxy_;
    image_spec_.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy_pointer);
  }
  const Written written = self_coded_webp ? WriteLosslessWebp() : WriteThroughLibrary();
  partial_->Finish();
  // Every byte of a proxied write was checked as it went, so its header is
  // confirmed; decoding a file all again (as slow as writing it, for an
  // OpenEXR frame) is kept for the writers the tool cannot check as they go.
  ConfirmWritten(partial_->path(), written.description, written.part, path_, !proxied_);
  output_.reset();
  return std::move(partial_);
}

}  // namespace

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

StagedImage StageImage(const std::string& path, Raster raster, const WriteSettings& settings) {
  RefuseNonRegularTarget(path);
  CheckTargetWritable(path);
  return StagedImage(Staging(path, std::move(raster), settings).Stage());
}

}  // namespace qv::cli
