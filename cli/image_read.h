#pragma once

// Image files read as the effect grades them: straight (unassociated)
// colour, whatever the file holds, in the working depth, with every other
// channel and part kept as stored to be carried into the output.

#include <OpenImageIO/imageio.h>

#include <functional>
#include <optional>
#include <string>

#include "alpha_convention.h"
#include "core/frame_limits.h"
#include "core/raster.h"
#include "file_parts.h"
#include "image_bands.h"

namespace qv::cli {

// The sample type of a file's colour: of its first colour channel, as
// FindChannels (channel_roles.h) finds them, which other channels may not share.
OIIO::TypeDesc ColourType(const OIIO::ImageSpec& image_spec, const std::string& format_name);

// The depth a file renders at: 8-bit samples at 8 bits, 16-bit at 16, every
// other type (half, float, 32-bit integers) as float.
Depth FileDepth(OIIO::TypeDesc type);

struct InputImage {
  Raster raster;           // straight colour
  OIIO::ImageSpec image_spec;    // the file's own description: sample type, channels, metadata
  std::string format;            // its format's name, as OpenImageIO names it ("png", "openexr")
  AlphaConvention alpha;   // the convention the file was read with: its own (StoredConvention) or --alpha
  LightMask light;         // associated colour under alpha 0, kept as it is
  ExtraChannels extra;     // the channels other than the colour and alpha
  std::string layer;       // the prefix of the colour's and alpha's names ("beauty."), kept on output
  FileParts parts;         // the part graded, and the others
};

// Reads the first image of `path` at `depth` (default: FileDepth of its
// colour) whose colour and alpha FindChannels finds by name (grey, grey and
// alpha, RGB, RGBA, of one layer): every other channel comes in `extra`. Colour comes as
// stored, never premultiplied on the way; under the associated convention it
// is divided by alpha where alpha is above 0, and pixels of colour under
// alpha 0 are marked in `light`. `alpha` overrides the file's own
// convention. The size the header declares is checked against `limits`
// before any pixel buffer is made, and then handed to `before_pixels`, if
// any (which may wait for the memory it needs). Throws RunError, one line:
// the file cannot be opened or read, its layout is not one of the four, or it
// is too large.
//
// Of a file of several parts (OpenEXR parts, TIFF pages) the part graded is
// `part` (a number from 0 or an OpenEXR part's name) or else the first whose
// channels hold colour; the others come in `parts`, as they are. Throws
// RunError when there is no such part, or another part is deep.
InputImage ReadImage(const std::string& path, std::optional<Depth> depth,
                     std::optional<AlphaConvention> alpha, const FrameLimits& limits, const std::string& part = {},
                     const std::function<void(const FrameShape&)>& before_pixels = {});

// The size a file's header declares, at the depth it would render at
// (`depth`, or the file's own); nothing when the header cannot be read.
std::optional<FrameShape> DeclaredShape(const std::string& path, std::optional<Depth> depth);

}  // namespace qv::cli
