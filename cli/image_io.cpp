#include "image_io.h"

#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/errors.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// The one line of an OpenImageIO message that says most.
std::string FirstLine(std::string message) {
  const std::size_t newline = message.find('\n');
  if (newline != std::string::npos) message.resize(newline);
  return message.empty() ? std::string("unknown error") : message;
}

std::string Because(const std::string& what, const std::string& path, const std::string& why) {
  std::string message = what;
  message += ' ';
  message += path;
  message += ": ";
  message += why;
  return message;
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

// Metadata that describes the picture rather than the file it came in.
constexpr const char* kCarriedAttributes[] = {"Orientation", "PixelAspectRatio", "XResolution",
                                              "YResolution", "ResolutionUnit",   "oiio:ColorSpace"};

// The file being written, for the signal handler: a fixed buffer, since the
// handler may only call async-signal-safe functions.
char g_temporary[4096];

extern "C" void RemoveTemporaryAndExit(int signal) {
  if (g_temporary[0] != '\0') unlink(g_temporary);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) {
    const fs::path directory = target.parent_path();
    std::string name = ".";
    name += target.stem().string();
    name += ".partial-";
    name += std::to_string(getpid());
    name += target.extension().string();
    path_ = (directory.empty() ? fs::path(".") : directory) / name;
    const std::string text = path_.string();
    if (text.size() < sizeof g_temporary) std::memcpy(g_temporary, text.c_str(), text.size() + 1);
  }
  ~TemporaryFile() {
    if (!path_.empty()) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
    g_temporary[0] = '\0';
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& path() const { return path_; }
  // Renames it to `target`; afterwards there is nothing left to remove.
  void MoveTo(const fs::path& target) {
    fs::rename(path_, target);  // throws fs::filesystem_error
    path_.clear();
    g_temporary[0] = '\0';
  }

 private:
  fs::path path_;
};

}  // namespace

AlphaConvention DefaultConvention(const std::string& format_name) {
  return format_name == "openexr" ? AlphaConvention::kAssociated : AlphaConvention::kStraight;
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
  auto input = OIIO::ImageInput::open(path, &config);
  if (!input) throw RunError(Because("cannot read", path, FirstLine(OIIO::geterror())));
  InputImage image{Image<std::uint8_t>{}, input->spec(), AlphaConvention::kStraight};
  const OIIO::ImageSpec& image_spec = image.image_spec;
  if (image_spec.deep) throw RunError(Because("cannot render", path, "deep images are not supported"));
  if (image_spec.nchannels < 1 || image_spec.nchannels > 4) {
    throw RunError(Because("cannot render", path,
                           "unsupported layout of " + std::to_string(image_spec.nchannels) +
                               " channels (grey, grey+alpha, RGB and RGBA are supported)"));
  }
  if (image_spec.width < 1 || image_spec.height < 1 || image_spec.depth > 1) {
    throw RunError(Because("cannot render", path, "not a two-dimensional image"));
  }
  const Depth render_depth = depth.value_or(FileDepth(image_spec.format));
  const FrameShape shape{image_spec.width, image_spec.height, image_spec.nchannels, image_spec.pixel_bytes(true),
                         render_depth};
  if (auto refusal = RefuseFrame(shape, limits)) throw RunError(Because("cannot render", path, *refusal));
  image.raster = EmptyRaster(render_depth, image_spec.width, image_spec.height, image_spec.nchannels);
  if (!input->read_image(0, 0, 0, image_spec.nchannels, SampleType(render_depth), Samples(image.raster))) {
    throw RunError(Because("cannot read", path, FirstLine(input->geterror())));
  }
  input->close();
  image.alpha = alpha.value_or(DefaultConvention(input->format_name()));
  if (image.alpha == AlphaConvention::kAssociated) Unassociate(image.raster);
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
  if (!OIIO::ImageOutput::create(path)) {
    throw RunError(Because("cannot write", path, "no image format for the extension \"" +
                                                     target.extension().string() + "\""));
  }
}

bool FormatHoldsAlpha(const std::string& path) {
  const auto output = OIIO::ImageOutput::create(path);
  return output && output->supports("alpha");
}

void WriteImage(const std::string& path, Raster raster, const WriteSettings& settings) {
  auto output = OIIO::ImageOutput::create(path);
  if (!output) throw RunError(Because("cannot write", path, FirstLine(OIIO::geterror())));
  const int channels = ChannelsOf(raster);
  OIIO::ImageSpec image_spec(WidthOf(raster), HeightOf(raster), channels, settings.type);
  SetLayout(image_spec, channels);
  if (const OIIO::ImageSpec* like = settings.like) {
    if (like->width == image_spec.width && like->height == image_spec.height) {
      image_spec.x = like->x;
      image_spec.y = like->y;
      image_spec.full_x = like->full_x;
      image_spec.full_y = like->full_y;
      image_spec.full_width = like->full_width;
      image_spec.full_height = like->full_height;
    }
    for (const char* name : kCarriedAttributes) {
      if (const OIIO::ParamValue* value = like->find_attribute(name)) image_spec.attribute(name, value->type(), value->data());
    }
  }
  image_spec.attribute("Software", "quorvandile");
  const AlphaConvention alpha = settings.alpha.value_or(DefaultConvention(output->format_name()));
  if (alpha == AlphaConvention::kAssociated) {
    Associate(raster);
  } else {
    image_spec.attribute("oiio:UnassociatedAlpha", 1);  // PNG and TIFF store the colour as given
  }

  TemporaryFile temporary{fs::path(path)};
  const std::string temporary_path = temporary.path().string();
  if (!output->open(temporary_path, image_spec)) {
    throw RunError(Because("cannot write", path, FirstLine(output->geterror())));
  }
  const bool written = output->write_image(SampleType(DepthOf(raster)), Samples(raster));
  const bool closed = output->close();
  if (!written || !closed) throw RunError(Because("cannot write", path, FirstLine(output->geterror())));
  try {
    temporary.MoveTo(fs::path(path));
  } catch (const fs::filesystem_error& e) {
    throw RunError(Because("cannot write", path, e.code().message()));
  }
}

void RemoveTemporaryFileOnSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, RemoveTemporaryAndExit);
}

}  // namespace qv::cli
