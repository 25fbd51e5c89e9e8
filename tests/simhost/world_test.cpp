#include "simhost/world.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using simhost::World;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

unsigned char* Bytes(World& w) { return reinterpret_cast<unsigned char*>(w.effect_world()->data); }

TEST(World, IsSizedAsTheHostSizesWorlds) {
  const World w(3, 2, PF_PixelFormat_ARGB128, 16);
  EXPECT_EQ(w.bytes_per_pixel(), 16);
  EXPECT_EQ(w.rowbytes(), 3 * 16 + 16);
  EXPECT_EQ(w.effect_world()->rowbytes, w.rowbytes());
  EXPECT_EQ(w.effect_world()->width, 3);
  EXPECT_EQ(w.effect_world()->height, 2);
  EXPECT_EQ(w.effect_world()->platform_ref, &w);
  EXPECT_EQ(simhost::BytesPerPixel(PF_PixelFormat_BGRA32), 4);
  EXPECT_EQ(simhost::BitsPerChannel(PF_PixelFormat_ARGB64), 16);
  EXPECT_EQ(simhost::BytesPerPixel(PF_PixelFormat_INVALID), 0);
  EXPECT_THROW(World(1, 1, PF_PixelFormat_INVALID), std::invalid_argument);
  EXPECT_THROW(World(1, 1, PF_PixelFormat_ARGB64, 4), std::invalid_argument);  // half a pixel of padding
  EXPECT_THROW(World(-1, 1, PF_PixelFormat_ARGB32), std::invalid_argument);
}

TEST(World, TypedRowsWalkByRowbytes) {
  World w(4, 3, PF_PixelFormat_ARGB64, 8);
  w.At<PF_Pixel16>(3, 2) = PF_Pixel16{1, 2, 3, 32768};
  const auto* pixel = reinterpret_cast<const PF_Pixel16*>(Bytes(w) + 2 * w.rowbytes() + 3 * 8);
  EXPECT_EQ(pixel->blue, 32768);
  EXPECT_EQ(w.Row<PF_Pixel16>(2).size(), 4u);
  EXPECT_THROW(w.Row<PF_Pixel8>(0), std::invalid_argument);
  EXPECT_THROW(w.Row<PF_Pixel16>(3), std::out_of_range);
  EXPECT_THROW(w.At<PF_Pixel16>(4, 0), std::out_of_range);
}

TEST(World, GuardDamageShowsEveryWriteOutsideThePixels) {
  World w(4, 3, PF_PixelFormat_ARGB32, 8);
  w.FillPixelBytes(0xFF);  // writing every pixel touches no guard
  EXPECT_THAT(w.GuardDamage(), IsEmpty());
  Bytes(w)[-1] = 0;
  Bytes(w)[1 * w.rowbytes() + 16] = 0;  // first padding byte of row 1
  Bytes(w)[2 * w.rowbytes() + 23] = 0;  // last padding byte of row 2
  Bytes(w)[3 * w.rowbytes()] = 0;       // first byte after the last row
  EXPECT_THAT(w.GuardDamage(), ElementsAre(HasSubstr("before the first row"),
                                           "2 padding bytes changed in 2 rows (first row 1)",
                                           HasSubstr("after the last row")));
}

TEST(World, CopiesAndMovesKeepTheirRecordPointingAtThemselves) {
  World a(2, 2, PF_PixelFormat_ARGB32, 4);
  a.At<PF_Pixel8>(1, 1).red = 9;
  const World copy(a);
  EXPECT_EQ(copy.effect_world()->platform_ref, &copy);
  EXPECT_NE(copy.effect_world()->data, a.effect_world()->data);
  EXPECT_TRUE(copy.SamePixels(a));
  void* const buffer = a.effect_world()->data;
  World moved(std::move(a));
  EXPECT_EQ(moved.effect_world()->data, buffer);
  EXPECT_EQ(moved.effect_world()->platform_ref, &moved);
  EXPECT_EQ(moved.At<PF_Pixel8>(1, 1).red, 9);
}

TEST(World, CropTakesThePixelsOfTheRectangle) {
  World w(5, 4, PF_PixelFormat_ARGB32);
  for (A_long y = 0; y < 4; ++y) {
    for (A_long x = 0; x < 5; ++x) {
      w.At<PF_Pixel8>(x, y) = PF_Pixel8{255, static_cast<A_u_char>(x), static_cast<A_u_char>(y), 0};
    }
  }
  const World c = w.Crop(PF_LRect{1, 2, 4, 4}, 12);
  EXPECT_EQ(c.width(), 3);
  EXPECT_EQ(c.height(), 2);
  EXPECT_EQ(c.rowbytes(), 3 * 4 + 12);
  EXPECT_EQ(c.At<PF_Pixel8>(0, 0).red, 1);
  EXPECT_EQ(c.At<PF_Pixel8>(2, 1).green, 3);
  EXPECT_THROW(w.Crop(PF_LRect{0, 0, 6, 1}, 0), std::out_of_range);
}

}  // namespace
