// The demo's picture handling: fitting a picture into a panel and laying it
// over the checkerboard.
#include <gtest/gtest.h>

#include "core/bitmap_font.h"
#include "core/contact_sheet.h"

namespace qv::cli {
namespace {

Image<std::uint8_t> Solid(int width, int height, std::array<std::uint8_t, 4> rgba) {
  Image<std::uint8_t> image(width, height, 4);
  for (std::size_t i = 0; i < image.samples.size(); ++i) image.samples[i] = rgba[i % 4];
  return image;
}

TEST(FitWithin, KeepsTheAspectRatio) {
  const auto fitted = FitWithin(Solid(400, 100, {1, 2, 3, 255}), 320, 216);
  EXPECT_EQ(fitted.width, 320);
  EXPECT_EQ(fitted.height, 80);
  const auto tall = FitWithin(Solid(10, 40, {1, 2, 3, 255}), 320, 216);
  EXPECT_EQ(tall.width, 54);
  EXPECT_EQ(tall.height, 216);
}

TEST(FitWithin, AveragesColourWeightedByAlpha) {
  // Opaque red beside fully transparent green: the mean is red at half alpha,
  // with no green bleeding in from the invisible pixel.
  Image<std::uint8_t> pair(2, 1, 4);
  pair.samples = {255, 0, 0, 255, 0, 255, 0, 0};
  const auto fitted = FitWithin(pair, 1, 1);
  ASSERT_EQ(fitted.width, 1);
  EXPECT_EQ(fitted.samples, (std::vector<std::uint8_t>{255, 0, 0, 128}));
}

TEST(ComposeSheet, PicturesLieOverACheckerboard) {
  Image<std::uint8_t> picture = Solid(16, 16, {10, 200, 30, 255});
  picture.Pixel(0, 0)[3] = 0;  // one transparent pixel shows the board
  const auto sheet = ComposeSheet("", {SheetPanel{{}, picture}}, 4);
  ASSERT_EQ(sheet.channels, 3);
  // Find the picture's opaque colour, then check the pixel before it.
  bool found = false;
  for (int y = 0; y < sheet.height && !found; ++y) {
    for (int x = 1; x < sheet.width && !found; ++x) {
      const std::uint8_t* p = sheet.Pixel(x, y);
      if (p[0] == 10 && p[1] == 200 && p[2] == 30) {
        const std::uint8_t* board = sheet.Pixel(x - 1, y);
        EXPECT_EQ(board[0], board[1]);  // a grey square of the board, not the picture's colour
        EXPECT_GT(board[0], 100);
        found = true;
      }
    }
  }
  EXPECT_TRUE(found);
}

TEST(BitmapFont, TextStaysWithinTheImage) {
  Image<std::uint8_t> image(20, 10, 3);
  DrawText(image, -3, -2, "W@~\x01", 2, Rgb8{255, 255, 255});  // partly outside, one unprintable
  DrawText(image, 15, 5, "Quorvandile", 1, Rgb8{255, 255, 255});
  int lit = 0;
  for (std::uint8_t v : image.samples) lit += v != 0;
  EXPECT_GT(lit, 0);
  EXPECT_EQ(TextWidth("ab", 2), (2 * kGlyphAdvance - 1) * 2);
}

}  // namespace
}  // namespace qv::cli
