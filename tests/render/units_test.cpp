// The pipeline's pure pieces on their own: the band split, the rectangle
// merge, the format table and the world views.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "render/bands.h"
#include "render/render_session.h"
#include "render/smart_pre_render.h"
#include "render/world_ref.h"

namespace qv::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Band boundaries: the top of every band, then the bottom of the last.
std::vector<std::int32_t> Boundaries(const PixelRect& rect, std::int32_t count) {
  std::vector<std::int32_t> out;
  for (std::int32_t i = 0; i < count; ++i) out.push_back(BandOf(rect, i, count).top);
  out.push_back(BandOf(rect, count - 1, count).bottom);
  return out;
}

TEST(BandOf, SplitsRowsAsTheIntegerQuotientsSay) {
  EXPECT_THAT(Boundaries({0, 0, 5, 10}, 4), ElementsAre(0, 2, 5, 7, 10));
  EXPECT_THAT(Boundaries({0, 0, 5, 2}, 4), ElementsAre(0, 0, 1, 1, 2));
  // Counted from the rectangle's top, not the world's.
  EXPECT_THAT(Boundaries({3, 100, 9, 110}, 4), ElementsAre(100, 102, 105, 107, 110));
  const PixelRect whole{-4, -7, 11, 20};
  const PixelRect one = BandOf(whole, 0, 1);
  EXPECT_THAT((std::vector<std::int32_t>{one.left, one.top, one.right, one.bottom}), ElementsAre(-4, -7, 11, 20));
}

TEST(BandOf, BandsOutsideTheCountAreEmpty) {
  const PixelRect rect{0, 0, 8, 8};
  for (auto [index, count] : std::vector<std::pair<int, int>>{{-1, 4}, {4, 4}, {0, 0}, {0, -3}}) {
    EXPECT_TRUE(BandOf(rect, index, count).Empty()) << index << " of " << count;
  }
  EXPECT_TRUE(BandOf({0, 5, 8, 5}, 0, 1).Empty());
}

// Every row once, in order, full width, heights within one row of each other.
void ExpectCoverage(const PixelRect& rect, std::int32_t count) {
  std::int64_t expected_top = rect.top;
  std::int64_t smallest = std::numeric_limits<std::int64_t>::max(), largest = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const PixelRect band = BandOf(rect, i, count);
    ASSERT_EQ(band.top, expected_top) << i << " of " << count;
    ASSERT_LE(band.top, band.bottom);
    ASSERT_EQ(band.left, rect.left);
    ASSERT_EQ(band.right, rect.right);
    const std::int64_t height = std::int64_t{band.bottom} - band.top;
    smallest = std::min(smallest, height);
    largest = std::max(largest, height);
    expected_top = band.bottom;
  }
  EXPECT_EQ(expected_top, rect.bottom);
  EXPECT_LE(largest - smallest, 1);
}

TEST(BandOf, CoversEveryRowOnceForAnyHeightAndCount) {
  for (std::int32_t h = 0; h <= 70; ++h) {
    for (std::int32_t n = 1; n <= 70; ++n) ExpectCoverage({0, 3, 7, 3 + h}, n);
  }
}

// h * i passes 2^31 on tall rectangles cut into many bands.
TEST(BandOf, TallRectanglesInManyBandsDoNotOverflow) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  for (std::int32_t n : {2, 3, 7, 64, 1000, 65536}) {
    ExpectCoverage({0, 0, 1, kMax}, n);
    ExpectCoverage({0, kMin, 1, kMax}, n);
    ExpectCoverage({0, -1000, 1, kMax - 5}, n);
  }
  EXPECT_EQ(BandOf({0, 0, 1, kMax}, 1, 2).top, kMax / 2);
}

TEST(UnionRect, MergesBySourceAndDestinationEmptiness) {
  auto merged = [](PF_LRect source, PF_LRect dest) {
    UnionRect(source, dest);
    return std::vector<A_long>{dest.left, dest.top, dest.right, dest.bottom};
  };
  EXPECT_THAT(merged({0, 0, 1920, 1080}, {0, 0, 0, 0}), ElementsAre(0, 0, 1920, 1080));
  EXPECT_THAT(merged({0, 5, 15, 30}, {10, 10, 20, 20}), ElementsAre(0, 5, 20, 30));
  EXPECT_THAT(merged({0, 0, 0, 0}, {10, 10, 20, 20}), ElementsAre(10, 10, 20, 20));
  EXPECT_THAT(merged({5, 5, 5, 9}, {0, 0, 0, 0}), ElementsAre(5, 5, 5, 9)) << "an empty source is copied too";
  EXPECT_THAT(merged({12, 12, 15, 15}, {10, 10, 20, 20}), ElementsAre(10, 10, 20, 20));
  EXPECT_THAT(merged({-5, 30, 3, 40}, {10, 10, 20, 20}), ElementsAre(-5, 10, 20, 40));
  // A destination empty in one direction only is still empty.
  EXPECT_THAT(merged({1, 2, 3, 4}, {10, 10, 20, 10}), ElementsAre(1, 2, 3, 4));
  EXPECT_THAT(merged({1, 2, 3, 4}, {20, 10, 10, 20}), ElementsAre(1, 2, 3, 4));
}

TEST(DepthOfFormat, KnowsTheFiveFormatsOfTheTable) {
  EXPECT_EQ(DepthOfFormat(0x62677261), kDepth8);      // "argb"
  EXPECT_EQ(DepthOfFormat(0x61726762), kDepth8);      // "bgra"
  EXPECT_EQ(DepthOfFormat(0x36316561), kDepth16);     // "ae16"
  EXPECT_EQ(DepthOfFormat(0x32336561), kDepthFloat);  // "ae32"
  EXPECT_EQ(DepthOfFormat(0x61724742), kDepthFloat);  // "BGra"
  for (PF_PixelFormat other : {0x66646162, 0, -1, 0x61726761, 0x34366561, 0x32336562}) {
    EXPECT_FALSE(DepthOfFormat(other)) << std::hex << other;
  }
}

PF_EffectWorld WorldRecord(void* data, A_long width, A_long height, A_long rowbytes) {
  PF_EffectWorld world{};
  world.data = static_cast<PF_PixelPtr>(data);
  world.width = width;
  world.height = height;
  world.rowbytes = rowbytes;
  return world;
}

TEST(WorldRef, StrideIsRowbytesInPixelsOfTheDepth) {
  char pixels = 0;
  struct Case {
    PixelDepth depth;
    A_long rowbytes;
    std::int32_t stride;
  };
  for (const Case c : {Case{kDepth8, 7680, 1920}, Case{kDepth16, 15360, 1920}, Case{kDepthFloat, 30720, 1920},
                       Case{kDepth8, 7936, 1984}, Case{kDepth16, -15360, -1920}}) {
    const PF_EffectWorld world = WorldRecord(&pixels, 1920, 1080, c.rowbytes);
    const WorldRef ref(world, c.depth);
    EXPECT_EQ(ref.Stride(), c.stride) << c.rowbytes;
    EXPECT_EQ(ref.Depth(), c.depth);
    EXPECT_EQ(ref.Width(), 1920);
    EXPECT_EQ(ref.Height(), 1080);
    EXPECT_EQ(ref.View().data, &pixels);
    EXPECT_EQ(&ref.World(), &world);
    const PixelRect bounds = ref.Bounds();
    EXPECT_THAT((std::vector<std::int32_t>{bounds.left, bounds.top, bounds.right, bounds.bottom}),
                ElementsAre(0, 0, 1920, 1080));
  }
  EXPECT_EQ(WorldRef(WorldRecord(&pixels, 4, 4, 64), 3).Stride(), 0) << "no stride for an unknown depth";
}

TEST(IsUsableWorld, RefusesWorldsThatCannotBeWalkedSafely) {
  char pixels = 0;
  EXPECT_TRUE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 40), kDepth8));
  EXPECT_TRUE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 96), kDepth16));
  EXPECT_TRUE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 160), kDepthFloat));
  EXPECT_TRUE(IsUsableWorld(WorldRecord(nullptr, 0, 3, 0), kDepth8)) << "no pixels, nothing to walk";
  EXPECT_TRUE(IsUsableWorld(WorldRecord(nullptr, 10, 0, 0), kDepthFloat));

  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 40), 3)) << "unknown depth";
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, -1, 3, 40), kDepth8));
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, -3, 40), kDepth8));
  EXPECT_FALSE(IsUsableWorld(WorldRecord(nullptr, 10, 3, 40), kDepth8));
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 36), kDepth8)) << "rows shorter than their pixels";
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 40), kDepth16));
  // Rows that do not start on a pixel: the stride in pixels would walk the
  // wrong bytes, and wider pixels would be read misaligned.
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 42), kDepth8));
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 84), kDepth16));
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, 168), kDepthFloat));
}

// A world stored bottom-up has its first pixel on the last row in memory and
// negative rowbytes; its rows are measured by their length all the same.
TEST(IsUsableWorld, TakesBottomUpWorldsByTheLengthOfTheirRows) {
  char pixels = 0;
  EXPECT_TRUE(IsUsableWorld(WorldRecord(&pixels, 10, 3, -40), kDepth8));
  EXPECT_TRUE(IsUsableWorld(WorldRecord(&pixels, 10, 3, -88), kDepth16));
  EXPECT_TRUE(IsUsableWorld(WorldRecord(&pixels, 10, 3, -160), kDepthFloat));
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, -36), kDepth8)) << "rows shorter than their pixels";
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, -152), kDepthFloat)) << "rows shorter than their pixels";
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, -42), kDepth8)) << "not whole pixels";
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, 10, 3, -84), kDepth16)) << "not whole pixels";
  EXPECT_FALSE(IsUsableWorld(WorldRecord(nullptr, 10, 3, -40), kDepth8));
  // The most negative rowbytes has no positive twin in 32 bits.
  EXPECT_TRUE(IsUsableWorld(WorldRecord(&pixels, 10, 3, std::numeric_limits<A_long>::min()), kDepth8));
  EXPECT_FALSE(IsUsableWorld(WorldRecord(&pixels, std::numeric_limits<A_long>::max(), 3,
                                         std::numeric_limits<A_long>::min()), kDepth8));
}

}  // namespace
}  // namespace qv::testing
