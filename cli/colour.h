#pragma once

// Colour spaces through OpenColorIO, as OpenImageIO offers it: the effect
// grades raw values, so where they are graded decides what a look looks
// like. A linear OpenEXR graded in sRGB looks like the sRGB PNG graded
// directly.

#include <OpenImageIO/color.h>
#include <OpenImageIO/imageio.h>

#include <mutex>
#include <string>

#include "core/raster.h"

namespace qv::cli {

struct ColourOptions {
  std::string config;        // an OCIO configuration; empty: $OCIO, else OpenImageIO's built-in one
  std::string working;       // where the effect grades; empty: the input's own space, no conversion
  std::string input_space;   // the input's space; empty: its metadata says
  std::string output_space;  // the output's space; empty: the input's

  // Whether the tool converts or tags colour: a space to grade or write in,
  // or the input's own named.
  bool Managed() const { return !working.empty() || !output_space.empty() || !input_space.empty(); }
  // Whether any colour option is given: each is checked, converting or not.
  bool Given() const { return Managed() || !config.empty(); }
};

class ColourSpaces {
 public:
  // Loads the configuration (--colorconfig, else $OCIO, else the built-in
  // one) and checks every space named in `options`. Throws UsageError: a
  // configuration that does not load, from either, a space it does not know
  // (with the ones it knows).
  explicit ColourSpaces(const ColourOptions& options);

  // The space a file's pixels are in: --input-space, else its metadata.
  // Throws RunError naming the file when neither says.
  std::string InputSpace(const OIIO::ImageSpec& image_spec, const std::string& path) const;
  // One line saying how the file's own description of its colour (its
  // recorded space, its primaries) disagrees with `space`, the one it is read
  // as; empty when nothing says otherwise.
  std::string Disagreement(const OIIO::ImageSpec& image_spec, const std::string& path, const std::string& space) const;
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
  // Whether two names are one space: in any case, or one an alias of the other.
  bool Same(const std::string& name, const std::string& other) const;

  ColourOptions options_;
  bool built_in_ = false;  // no configuration given: OpenImageIO's own, every space of it in Rec. 709 primaries
  mutable OIIO::ColorConfig config_;  // reading its error clears it, even where nothing else changes
  mutable std::mutex processors_;     // held while a processor is made from `config_`
};

}  // namespace qv::cli
