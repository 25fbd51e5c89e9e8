#include "alpha_convention.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace qv::cli {

AlphaConvention DefaultConvention(const std::string& format_name) {
  return format_name == "openexr" ? AlphaConvention::kAssociated : AlphaConvention::kStraight;
}

AlphaConvention StoredConvention(const OIIO::ImageSpec& image_spec, const std::string& format_name) {
  // Readers that say so when the file holds straight colour, having been
  // asked to keep it: where one did not, the file holds associated colour
  // (a TIFF with ExtraSamples 1, a Targa of alpha type 4).
  constexpr std::string_view kSayStraight[] = {"tiff", "targa", "png", "heif"};
  if (image_spec.alpha_channel < 0) return DefaultConvention(format_name);
  if (image_spec.get_int_attribute("oiio:UnassociatedAlpha") != 0) return AlphaConvention::kStraight;
  const bool says_straight = std::find(std::begin(kSayStraight), std::end(kSayStraight), format_name) !=
                             std::end(kSayStraight);
  return says_straight ? AlphaConvention::kAssociated : DefaultConvention(format_name);
}

AlphaConvention WrittenConvention(const std::string& format_name, std::optional<AlphaConvention> source) {
  // TIFF records either convention (ExtraSamples); the other formats have one.
  if (source && format_name == "tiff") return *source;
  return DefaultConvention(format_name);
}

}  // namespace qv::cli
