#pragma once

// WebP files, where the tool does what OpenImageIO's WebP reader and writer
// do not: WebP holds straight colour; this machine's OpenImageIO reader
// multiplies it by alpha whatever it is asked, and dividing it again would
// not give back the stored 8-bit values. Its writer, whatever it is told,
// divides the colour by alpha in linear light (WebP being sRGB) before it
// encodes, and takes every picture through YUV, so that its "lossless"
// files lose colour. All the tool's own WebP code is here.

#include <OpenImageIO/imageio.h>

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

// Asks, in `to` (the description of a WebP file to write), for the lossless
// coding of the WebP file at `from_path`, where it has it: its reader does
// not report it.
void CarryWebpCoding(const std::string& from_path, OIIO::ImageSpec& to);

// Whether `image_spec` asks `writer` for a lossless WebP file, which the
// tool codes itself (LosslessWebp).
bool CodesLosslessWebp(const OIIO::ImageOutput& writer, const OIIO::ImageSpec& image_spec);

// `raster` (1 to 4 channels, grey widened to RGB, rounded to 8 bits as a
// writer rounds them) as a lossless WebP file, every colour kept as it is,
// under alpha 0 too; the description it reads back with goes to `coded`.
// Empty when the coder fails.
std::string LosslessWebp(const Raster& raster, OIIO::ImageSpec& coded);

}  // namespace qv::cli
