#pragma once

// What an output file carries of its source's metadata: all of it but what
// describes how the source was laid out or read, or with --strip-metadata
// only what describes the picture; never a colour profile or an orientation
// that would no longer hold.

#include <OpenImageIO/imageio.h>

#include <optional>
#include <string>

namespace qv::cli {

// Where a file's description holds the Exif code of its picture's orientation.
inline constexpr const char* kOrientationAttribute = "Orientation";

// Copies the metadata of the file a picture came from (`from`, of the
// format `from_format`) onto the description of the file it goes to (`to`,
// of `to_format`): everything but what the writer works out anew (bits per
// sample, strips, MIP levels, a CMYK file's inks) and, into another format,
// encoding choices only the same format understands; or, unless `all`, only
// what describes the picture (orientation, pixel aspect, resolution, colour
// space).
void CarryMetadata(const OIIO::ImageSpec& from, const std::string& from_format, bool all, OIIO::ImageSpec& to,
                   const std::string& to_format);

// An ICC profile that does not describe the pixels it would be written with:
// its data colour space ("Gray", "CMYK") and theirs ("RGB", "grey").
struct UnfitProfileSpaces {
  std::string profile;
  std::string pixels;
};

// The ICC profile `image_spec` carries, when it does not describe pixels of
// `channels` channels (grey and alpha, RGB and alpha): one that would put
// the pixels in the wrong space, or that the writer refuses. Nothing when it
// fits, or there is none.
std::optional<UnfitProfileSpaces> UnfitProfile(const OIIO::ImageSpec& image_spec, int channels);

// Removes from `image_spec` the ICC profile and what its reader said of it.
void DropProfile(OIIO::ImageSpec& image_spec);

}  // namespace qv::cli
