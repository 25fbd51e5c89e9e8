#pragma once

// The demo's contact sheet: pictures side by side with captions, on one image.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "raster.h"

namespace qv::cli {

struct SheetPanel {
  std::vector<std::string> caption;  // lines under the picture
  Image<std::uint8_t> picture;       // RGBA, straight alpha
};

// An RGB sheet: the title across the top, then the panels left to right in
// rows of `columns`. Each picture is laid over a checkerboard, so that its
// transparency shows, with its caption below it. Panels may differ in size;
// each sits centred in a cell as large as the largest.
Image<std::uint8_t> ComposeSheet(std::string_view title, const std::vector<SheetPanel>& panels, int columns);

// An RGBA picture scaled to fit within max_width x max_height, keeping its
// aspect ratio: each pixel the mean of the source pixels it covers, colour
// weighted by alpha (nearest source pixel when enlarging).
Image<std::uint8_t> FitWithin(const Image<std::uint8_t>& picture, std::int32_t max_width, std::int32_t max_height);

}  // namespace qv::cli
