#include "colour.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

#include "core/errors.h"
#include "core/param_catalog.h"

namespace qv::cli {
namespace {

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
  // Without a file and without $OCIO the library says the path is missing,
  // and then serves its built-in configuration: that is no error.
  const std::string error = config_.geterror();
  if ((!options.config.empty() && !error.empty()) || config_.getNumColorSpaces() == 0) {
    throw UsageError("--colorconfig " + (options.config.empty() ? std::string("(default)") : options.config) + ": " +
                     (error.empty() ? std::string("no colour spaces") : error));
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

std::string ColourSpaces::Working(const std::string& input_space) const {
  return options_.working.empty() ? input_space : options_.working;
}

std::string ColourSpaces::Output(const std::string& input_space) const {
  return options_.output_space.empty() ? input_space : options_.output_space;
}

void ColourSpaces::Convert(Raster& raster, const std::string& from, const std::string& to) const {
  if (from == to) return;
  const OIIO::ColorProcessorHandle processor = config_.createColorProcessor(from, to);
  if (!processor) {
    throw RunError("cannot convert from colour space \"" + from + "\" to \"" + to + "\": " + config_.geterror());
  }
  std::visit([&](auto& image) { ConvertImage(image, *processor); }, raster);
}

}  // namespace qv::cli
