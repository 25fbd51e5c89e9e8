#pragma once

// Colour spaces through OpenColorIO, as OpenImageIO offers it: the effect
// grades raw values, so where they are graded decides what a look looks
// like. A linear OpenEXR graded in sRGB looks like the sRGB PNG graded
// directly.

#include <OpenImageIO/color.h>
#include <OpenImageIO/imageio.h>

#include <string>

#include "core/raster.h"

namespace qv::cli {

struct ColourOptions {
  std::string config;        // an OCIO configuration; empty: $OCIO, else OpenImageIO's built-in one
  std::string working;       // where the effect grades; empty: the input's own space, no conversion
  std::string input_space;   // the input's space; empty: its metadata says
  std::string output_space;  // the output's space; empty: the input's

  // Whether any conversion may be asked for.
  bool Managed() const { return !working.empty() || !output_space.empty(); }
};

class ColourSpaces {
 public:
  // Loads the configuration and checks every space named in `options`.
  // Throws UsageError: a configuration that does not load, a space it does
  // not know (with the ones it knows).
  explicit ColourSpaces(const ColourOptions& options);

  // The space a file's pixels are in: --input-space, else its metadata.
  // Throws RunError naming the file when neither says.
  std::string InputSpace(const OIIO::ImageSpec& image_spec, const std::string& path) const;
  // Where the effect grades a picture from `input_space`, and where the
  // result goes.
  std::string Working(const std::string& input_space) const;
  std::string Output(const std::string& input_space) const;

  // Converts the colour of `raster` (straight colour; alpha untouched; grey
  // as equal red, green and blue) from one space to another, in float;
  // integer samples are rounded and held within their range. Throws RunError.
  void Convert(Raster& raster, const std::string& from, const std::string& to) const;

 private:
  // Whether the configuration has a space of that name (in any case, as
  // OpenColorIO compares them).
  bool Knows(const std::string& name) const;
  void Check(const std::string& name, const char* option) const;

  ColourOptions options_;
  mutable OIIO::ColorConfig config_;  // reading its error clears it, even where nothing else changes
};

}  // namespace qv::cli
