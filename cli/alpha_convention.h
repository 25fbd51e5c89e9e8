#pragma once

// How image files hold colour under alpha: straight (unassociated) or
// associated (premultiplied), by format and by what a file's reader says.

#include <OpenImageIO/imageio.h>

#include <optional>
#include <string>

namespace qv::cli {

enum class AlphaConvention { kStraight, kAssociated };

// How files of a format hold colour under alpha: associated (premultiplied)
// for OpenEXR, whose convention it is, straight for every other format.
AlphaConvention DefaultConvention(const std::string& format_name);

// How a file holds colour under alpha, as its reader describes it
// (`image_spec`, read with oiio:UnassociatedAlpha asked for) and its format's
// rules: straight where the reader says so, associated where a reader that
// would say so does not (a TIFF with ExtraSamples 1), else DefaultConvention.
AlphaConvention StoredConvention(const OIIO::ImageSpec& image_spec, const std::string& format_name);

// The convention a file of a format is written in: the source's where the
// format records either (TIFF), else the format's own.
AlphaConvention WrittenConvention(const std::string& format_name, std::optional<AlphaConvention> source);

}  // namespace qv::cli
