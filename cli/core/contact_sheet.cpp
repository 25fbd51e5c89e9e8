#include "contact_sheet.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "bitmap_font.h"

namespace qv::cli {
namespace {

constexpr int kMargin = 20;
constexpr int kGap = 16;
constexpr int kTitleScale = 3;
constexpr int kCaptionScale = 2;
constexpr int kChecker = 8;
constexpr Rgb8 kBackground{34, 34, 38};
constexpr Rgb8 kTitleColour{240, 240, 240};
constexpr Rgb8 kCaptionColour{210, 210, 215};
constexpr std::uint8_t kCheckerLight = 204, kCheckerDark = 153;

void Fill(Image<std::uint8_t>& image, Rgb8 colour) {
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < image.width; ++x) {
      std::uint8_t* p = image.Pixel(x, y);
      p[0] = colour.red;
      p[1] = colour.green;
      p[2] = colour.blue;
    }
  }
}

// `picture` over a checkerboard, at (left, top) of the sheet.
void Place(Image<std::uint8_t>& sheet, const Image<std::uint8_t>& picture, int left, int top) {
  for (std::int32_t y = 0; y < picture.height; ++y) {
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint8_t* s = picture.Pixel(x, y);
      const int alpha = s[3];
      const int under = ((x / kChecker + y / kChecker) % 2) ? kCheckerDark : kCheckerLight;
      std::uint8_t* d = sheet.Pixel(left + x, top + y);
      for (int c = 0; c < 3; ++c) d[c] = static_cast<std::uint8_t>((s[c] * alpha + under * (255 - alpha) + 127) / 255);
    }
  }
}

}  // namespace

Image<std::uint8_t> ComposeSheet(std::string_view title, const std::vector<SheetPanel>& panels, int columns) {
  if (columns < 1) throw std::invalid_argument("a sheet has at least one column");
  int cell_width = 0, cell_height = 0;
  std::size_t caption_lines = 0;
  for (const SheetPanel& panel : panels) {
    if (panel.picture.channels != 4) throw std::invalid_argument("sheet pictures are RGBA");
    cell_width = std::max(cell_width, panel.picture.width);
    cell_height = std::max(cell_height, panel.picture.height);
    caption_lines = std::max(caption_lines, panel.caption.size());
  }
  const int caption_height = static_cast<int>(caption_lines) * kLineHeight * kCaptionScale;
  const int rows = (static_cast<int>(panels.size()) + columns - 1) / columns;
  const int used_columns = std::min(columns, static_cast<int>(panels.size()));
  const int title_height = kGlyphHeight * kTitleScale + kGap;
  const int width = std::max(2 * kMargin + used_columns * cell_width + (used_columns - 1) * kGap,
                             2 * kMargin + TextWidth(title, kTitleScale));
  const int height = 2 * kMargin + title_height + rows * (cell_height + kGap / 2 + caption_height) +
                     std::max(0, rows - 1) * kGap;

  Image<std::uint8_t> sheet(width, height, 3);
  Fill(sheet, kBackground);
  DrawText(sheet, kMargin, kMargin, title, kTitleScale, kTitleColour);
  for (std::size_t i = 0; i < panels.size(); ++i) {
    const SheetPanel& panel = panels[i];
    const int column = static_cast<int>(i) % columns;
    const int row = static_cast<int>(i) / columns;
    const int cell_left = kMargin + column * (cell_width + kGap);
    const int cell_top = kMargin + title_height + row * (cell_height + kGap / 2 + caption_height + kGap);
    Place(sheet, panel.picture, cell_left + (cell_width - panel.picture.width) / 2,
          cell_top + (cell_height - panel.picture.height) / 2);
    int line_top = cell_top + cell_height + kGap / 2;
    for (const std::string& line : panel.caption) {
      // A line too long for the cell is drawn at half size.
      const int scale = TextWidth(line, kCaptionScale) <= cell_width ? kCaptionScale : 1;
      DrawText(sheet, cell_left, line_top, line, scale, kCaptionColour);
      line_top += kLineHeight * kCaptionScale;
    }
  }
  return sheet;
}

Image<std::uint8_t> FitWithin(const Image<std::uint8_t>& picture, std::int32_t max_width, std::int32_t max_height) {
  if (picture.channels != 4) throw std::invalid_argument("FitWithin takes RGBA pictures");
  if (picture.width < 1 || picture.height < 1) return picture;
  const double scale = std::min(static_cast<double>(max_width) / picture.width,
                                static_cast<double>(max_height) / picture.height);
  const auto size = [scale](std::int32_t n) {
    return std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(n * scale)));
  };
  Image<std::uint8_t> fitted(size(picture.width), size(picture.height), 4);
  const auto span = [](std::int32_t out, std::int32_t out_size, std::int32_t in_size) {
    const auto first = static_cast<std::int32_t>(std::int64_t{out} * in_size / out_size);
    const auto end = static_cast<std::int32_t>(std::int64_t{out + 1} * in_size / out_size);
    return std::pair{first, std::max(end, first + 1)};
  };
  for (std::int32_t y = 0; y < fitted.height; ++y) {
    const auto [y0, y1] = span(y, fitted.height, picture.height);
    for (std::int32_t x = 0; x < fitted.width; ++x) {
      const auto [x0, x1] = span(x, fitted.width, picture.width);
      double sum[4] = {0, 0, 0, 0};
      for (std::int32_t sy = y0; sy < y1; ++sy) {
        for (std::int32_t sx = x0; sx < x1; ++sx) {
          const std::uint8_t* s = picture.Pixel(sx, sy);
          for (int c = 0; c < 3; ++c) sum[c] += static_cast<double>(s[c]) * s[3];
          sum[3] += s[3];
        }
      }
      const double count = static_cast<double>(y1 - y0) * (x1 - x0);
      std::uint8_t* d = fitted.Pixel(x, y);
      for (int c = 0; c < 3; ++c) {
        d[c] = sum[3] > 0 ? static_cast<std::uint8_t>(std::lround(std::min(255.0, sum[c] / sum[3]))) : 0;
      }
      d[3] = static_cast<std::uint8_t>(std::lround(sum[3] / count));
    }
  }
  return fitted;
}

}  // namespace qv::cli
