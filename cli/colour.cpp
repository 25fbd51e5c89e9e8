#include "colour.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "core/errors.h"
#include "core/param_catalog.h"

namespace qv::cli {
namespace {

// Rec. 709's primaries (red, green, blue) and D65 white, as x,y pairs.
constexpr std::array<float, 8> kRec709Chromaticities = {0.64f, 0.33f, 0.30f, 0.60f, 0.15f, 0.06f, 0.3127f, 0.3290f};

template <class T>
float ToFloat(T sample) {
  if constexpr (std::is_same_v<T, float>) {
    return sample;
  } else {
    return static_cast<float>(sample) / static_cast<float>(Image<T>::kMax);
  }
}

// Row by row through a float RGB buffer: the processor wants three channels.
template <class T>
void ConvertImage(Image<T>& image, const OIIO::ColorProcessor& processor) {
  const bool colour = HasColour(image.channels);
  std::vector<float> row(3 * static_cast<std::size_t>(image.width));
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < image.width; ++x) {
      const T* p = image.Pixel(x, y);
      float* rgb = row.data() + 3 * static_cast<std::size_t>(x);
      for (int c = 0; c < 3; ++c) rgb[c] = ToFloat(p[colour ? c : 0]);
    }
    processor.apply(row.data(), image.width, 1, 3, sizeof(float), 3 * sizeof(float),
                    static_cast<OIIO::stride_t>(row.size() * sizeof(float)));
    for (std::int32_t x = 0; x < image.width; ++x) {
      T* p = image.Pixel(x, y);
      const float* rgb = row.data() + 3 * static_cast<std::size_t>(x);
      for (int c = 0; c < (colour ? 3 : 1); ++c) {
        p[c] = RoundedSample<T>(static_cast<double>(rgb[c]) * Image<T>::kMax);
      }
    }
  }
}

}  // namespace

ColourSpaces::ColourSpaces(const ColourOptions& options) : options_(options), config_(options.config) {
  // The library takes $OCIO when no file is given. Without either it says the
  // path is missing, and then serves its built-in configuration: that is no
  // error. A file that does not load, from either, is: the library would
  // grade in its built-in configuration without a word.
  const char* environment = std::getenv("OCIO");
  const std::string from_environment = options.config.empty() && environment != nullptr ? environment : "";
  built_in_ = options.config.empty() && from_environment.empty();
  const std::string error = config_.geterror();
  if ((!built_in_ && !error.empty()) || config_.getNumColorSpaces() == 0) {
    const std::string source = !options.config.empty() ? "--colorconfig " + options.config
                               : built_in_           ? std::string("--colorconfig (default)")
                                                     : "$OCIO " + from_environment;
    throw UsageError(source + ": " + (error.empty() ? std::string("no colour spaces") : error));
  }
  Check(options.working, "--working-space");
  Check(options.input_space, "--input-space");
  Check(options.output_space, "--output-space");
}

bool ColourSpaces::Knows(const std::string& name) const {
  const std::vector<std::string> names = config_.getColorSpaceNames();
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& space) { return SameNameIgnoringCase(space, name); });
}

void ColourSpaces::Check(const std::string& name, const char* option) const {
  if (name.empty() || Knows(name)) return;
  throw UsageError(std::string(option) + " \"" + name + "\": the configuration has no such space; it has " +
                   Joined(config_.getColorSpaceNames()));
}

std::string ColourSpaces::InputSpace(const OIIO::ImageSpec& image_spec, const std::string& path) const {
  if (!options_.input_space.empty()) return options_.input_space;
  const std::string tagged = image_spec.get_string_attribute("oiio:ColorSpace");
  if (tagged.empty() || !Knows(tagged)) {
    throw RunError(Because("cannot render", path,
                           (tagged.empty() ? std::string("its colour space is not recorded")
                                           : "its colour space \"" + tagged + "\" is not in the configuration") +
                               ": give it with --input-space"));
  }
  return tagged;
}

bool ColourSpaces::Same(const std::string& name, const std::string& other) const {
  if (SameNameIgnoringCase(name, other)) return true;
  const auto aliases = [&](const std::string& of, const std::string& alias) {
    const std::vector<std::string> names = config_.getAliases(of);
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& a) { return SameNameIgnoringCase(a, alias); });
  };
  return aliases(name, other) || aliases(other, name);
}

std::string ColourSpaces::Disagreement(const OIIO::ImageSpec& image_spec, const std::string& path,
                                       const std::string& space) const {
  const std::string read_as = "but it is read as \"" + space + "\"";
  const std::string tagged = image_spec.get_string_attribute("oiio:ColorSpace");
  if (!options_.input_space.empty() && !tagged.empty() && !Same(tagged, space)) {
    return path + ": its metadata gives its colour space as \"" + tagged + "\", " + read_as + " (--input-space)";
  }
  // OpenEXR's primaries and white point; without them, Rec. 709's.
  const OIIO::ParamValue* chromaticities = image_spec.find_attribute("chromaticities");
  if (chromaticities == nullptr || chromaticities->type().basetype != OIIO::TypeDesc::FLOAT ||
      chromaticities->type().numelements() * chromaticities->type().aggregate != kRec709Chromaticities.size()) {
    return {};
  }
  const float* xy = static_cast<const float*>(chromaticities->data());
  constexpr float kTolerance = 1e-3f;  // as written to a few decimals
  if (std::equal(kRec709Chromaticities.begin(), kRec709Chromaticities.end(), xy,
                 [&](float rec709, float file) { return std::fabs(rec709 - file) <= kTolerance; })) {
    return {};
  }
  // A space the user named is trusted unless it is one the tool knows to be Rec. 709.
  if (!options_.input_space.empty() && !built_in_) return {};
  return path + ": its chromaticities give primaries other than Rec. 709's, " + read_as +
         (options_.input_space.empty()
              ? ", from its metadata: give its space with --input-space"
              : ", whose primaries are Rec. 709's: give a configuration that has its space with --colorconfig");
}

std::string ColourSpaces::Working(const std::string& input_space) const {
  return options_.working.empty() ? input_space : options_.working;
}

std::string ColourSpaces::Output(const std::string& input_space) const {
  return options_.output_space.empty() ? input_space : options_.output_space;
}

void ColourSpaces::Convert(Raster& raster, const std::string& from, const std::string& to) const {
  if (from == to) return;
  OIIO::ColorProcessorHandle processor;
  {
    // Frames in flight convert at once. The configuration keeps one error for
    // every thread, so a processor is made (or found among those made) and
    // its error read under a lock; applying it is safe from any thread.
    const std::lock_guard<std::mutex> lock(processors_);
    processor = config_.createColorProcessor(from, to);
    if (!processor) {
      throw RunError("cannot convert from colour space \"" + from + "\" to \"" + to + "\": " + config_.geterror());
    }
  }
  std::visit([&](auto& image) { ConvertImage(image, *processor); }, raster);
}

}  // namespace qv::cli
