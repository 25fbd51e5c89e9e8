#pragma once

// WebP colour as the file stores it. WebP holds straight colour; this
// machine's OpenImageIO reader multiplies it by alpha whatever it is asked,
// and dividing it again would not give back the stored 8-bit values. Its
// writer, whatever it is told, divides the colour by alpha in linear light
// (WebP being sRGB) before it encodes.

#include <string>

#include "core/raster.h"

namespace qv::cli {

// Replaces the samples of `raster` (RGBA, as read from the WebP file at
// `path`) with the file's own straight colour and alpha, at the raster's
// depth. Throws RunError when the file does not decode to the same size.
void ReadStoredWebp(const std::string& path, Raster& raster);

// Straight colour (sRGB) as OpenImageIO's WebP writer takes it, so that it
// stores that straight colour: multiplied by alpha in linear light. No-op
// without alpha.
void AssociateForWebpWriter(Raster& raster);

}  // namespace qv::cli
