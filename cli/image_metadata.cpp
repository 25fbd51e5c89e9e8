#include "image_metadata.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace qv::cli {
namespace {

// Where a file's description holds its ICC profile.
constexpr const char* kProfileAttribute = "ICCProfile";

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

}  // namespace

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

std::optional<UnfitProfileSpaces> UnfitProfile(const OIIO::ImageSpec& image_spec, int channels) {
  const OIIO::ParamValue* profile = image_spec.find_attribute(kProfileAttribute);
  if (!profile || profile->type().basetype != OIIO::TypeDesc::UINT8) return std::nullopt;
  // The header's data colour space: four characters at byte 16.
  constexpr std::size_t kSpaceAt = 16, kSpaceSize = 4;
  std::string space = profile->type().size() >= kSpaceAt + kSpaceSize
                          ? std::string(static_cast<const char*>(profile->data()) + kSpaceAt, kSpaceSize)
                          : std::string("unreadable");
  const bool grey = channels <= 2;
  if (space == (grey ? "GRAY" : "RGB ")) return std::nullopt;
  while (!space.empty() && space.back() == ' ') space.pop_back();
  if (space == "GRAY") space = "Gray";
  return UnfitProfileSpaces{space, grey ? "grey" : "RGB"};
}

void DropProfile(OIIO::ImageSpec& image_spec) {
  // The library takes the name for a regular expression, in OpenImageIO
  // 2.4 of the POSIX basic syntax, where groups and '?' need escapes: these
  // two patterns mean the same in any syntax.
  std::string described = kProfileAttribute;
  described.append(":.*");  // what its reader said of it
  image_spec.erase_attribute(kProfileAttribute, OIIO::TypeUnknown, true);
  image_spec.erase_attribute(described, OIIO::TypeUnknown, true);
}

}  // namespace qv::cli
