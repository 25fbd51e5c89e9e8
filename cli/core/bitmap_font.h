#pragma once

// A small built-in font (5 x 7 pixel glyphs of printable ASCII) for the
// contact sheet's labels, so that the tool needs no font file.

#include <cstdint>
#include <string_view>

#include "raster.h"

namespace qv::cli {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = kGlyphWidth + 1;  // one column between glyphs
inline constexpr int kLineHeight = kGlyphHeight + 3;   // rows from one line's top to the next

struct Rgb8 {
  std::uint8_t red, green, blue;
};

// Width in pixels of `text` drawn at `scale` (each glyph pixel a scale x scale square).
int TextWidth(std::string_view text, int scale);

// Draws `text` with its top-left corner at (x, y) into an RGB or RGBA image;
// pixels outside the image are skipped. Characters outside printable ASCII
// are drawn as '?'. Only the glyphs' pixels are written (alpha, if any, 255).
void DrawText(Image<std::uint8_t>& image, int x, int y, std::string_view text, int scale, Rgb8 colour);

}  // namespace qv::cli
