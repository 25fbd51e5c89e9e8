#pragma once

// A file's description (its header: size, channels, sample type, metadata),
// as OpenImageIO reads or writes it. Its accessor's name is the library's
// own; everything else here asks these two functions.

#include <OpenImageIO/imageio.h>

namespace qv::cli {

inline const OIIO::ImageSpec& DescriptionOf(const OIIO::ImageInput& file) { return file.spec(); }
inline const OIIO::ImageSpec& DescriptionOf(const OIIO::ImageOutput& file) { return file.spec(); }

}  // namespace qv::cli
