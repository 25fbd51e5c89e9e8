// What a frame may ask of the machine, decided from the declared size alone.
#include "core/frame_limits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace qv::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Optional;

constexpr FrameLimits kNoLimits{0, 0};

FrameShape Shape(std::int64_t width, std::int64_t height, Depth depth, int channels = 4,
                 std::size_t file_pixel_bytes = 4) {
  return FrameShape{width, height, channels, file_pixel_bytes, depth};
}

TEST(FrameMemory, IsTheWorstMomentOfTheRender) {
  // RGBA at 8 bits: the 4-byte input raster and a byte of the mask of light
  // without coverage, beside four 4-byte host worlds; and a band of 64 rows
  // of the file's 4-byte samples.
  EXPECT_EQ(FrameMemory(Shape(3840, 2160, Depth::k8)), 3840u * 2160 * (4 + 1 + 4 * 4) + 3840u * 64 * 4);
  // Float from a half-float RGB file: 12-byte raster, no alpha, four 16-byte
  // worlds; a picture of 10 rows is its own band.
  EXPECT_EQ(FrameMemory(Shape(100, 10, Depth::kFloat, 3, 6)), 1000u * (12 + 4 * 16 + 6));
  // A file read at 8 bits whose samples take more room than the worlds: the
  // reader's buffer is the worst moment.
  EXPECT_EQ(FrameMemory(Shape(100, 10, Depth::k8, 4, 128)), 1000u * (4 + 1 + 128 + 128));
}

TEST(FrameMemory, CountsChannelsBeyondColourAsTheFileStoresThem) {
  // Float RGBA and two float channels more, rendered at 16 bits: an 8-byte
  // raster, the 8 bytes of the two channels as they are, the light mask,
  // four 8-byte worlds, and its 24-byte samples as a band.
  FrameShape shape = Shape(100, 10, Depth::k16, 4, 24);
  shape.extra_pixel_bytes = 8;
  EXPECT_EQ(FrameMemory(shape), 1000u * (8 + 8 + 1 + 4 * 8 + 24));
}

TEST(FrameMemory, CountsTheChunksItsCodecsKeepForTheirThreadsInTheFileAndTheOutput) {
  // As above, and 8000 pixels of chunks: of the file's 24-byte samples, and
  // of the output's, its 16-bit RGBA and the two channels as they are.
  FrameShape shape = Shape(100, 10, Depth::k16, 4, 24);
  shape.extra_pixel_bytes = 8;
  shape.codec_pixels = 8000;
  EXPECT_EQ(FrameMemory(shape), 1000u * (8 + 8 + 1 + 4 * 8 + 24) + 8000u * (24 + 4 * 2 + 8));
}

TEST(FrameMemory, CountsTheBandAFileGivesAtOnce) {
  // A TIFF of separate planes in strips of 300 rows, or tiles 300 high: its
  // band is 300 rows, however many rows other files give at once.
  FrameShape shape = Shape(100, 1000, Depth::k8);
  shape.band_rows = 300;
  EXPECT_EQ(FrameMemory(shape), 100'000u * (4 + 1 + 4 * 4) + 100u * 300 * 4);
  shape.band_rows = 5000;  // one strip taller than the picture: the picture
  EXPECT_EQ(FrameMemory(shape), 100'000u * (4 + 1 + 4 * 4) + 100'000u * 4);
}

TEST(FrameMemory, SaturatesInsteadOfWrappingAround) {
  // 2^31 x 2^31 pixels of 80 bytes wrap a 64-bit product around; saturated,
  // the size stays above every limit.
  const std::int64_t side = std::int64_t{1} << 31;
  EXPECT_EQ(FrameMemory(Shape(side, side, Depth::kFloat, 4, 16)), std::numeric_limits<std::uint64_t>::max());
  const FrameLimits huge_limits{0, std::numeric_limits<std::uint64_t>::max() - 1};
  EXPECT_NE(RefuseFrame(Shape(1, side, Depth::kFloat), huge_limits), std::nullopt);
}

TEST(RefuseFrame, AtTheLimitsIsAllowedAndOneBeyondIsNot) {
  // 64 x 32 x (8 + 1 + 4 x 8) bytes, and its 32 rows of 4-byte samples as a band.
  const FrameShape shape = Shape(64, 32, Depth::k16);
  EXPECT_EQ(RefuseFrame(shape, FrameLimits{2048, 0}), std::nullopt);
  EXPECT_THAT(RefuseFrame(shape, FrameLimits{2047, 0}),
              Optional(std::string("64x32 is 2048 pixels, more than the limit of 2047 (--max-pixels)")));
  const std::uint64_t needed = FrameMemory(shape);
  EXPECT_EQ(RefuseFrame(shape, FrameLimits{0, needed}), std::nullopt);
  EXPECT_THAT(RefuseFrame(shape, FrameLimits{0, needed - 1}),
              Optional(HasSubstr("64x32 at 16 bits needs 90.0 KiB of memory, more than the limit of")));
  EXPECT_EQ(RefuseFrame(shape, kNoLimits), std::nullopt);
}

TEST(RefuseFrame, RowsMustFitTheHostsStrideWhateverTheLimits) {
  // The widest rows the host's 32-bit stride holds: 2^31 - 1 bytes.
  EXPECT_EQ(RefuseFrame(Shape(536870911, 1, Depth::k8), kNoLimits), std::nullopt);
  EXPECT_THAT(RefuseFrame(Shape(536870912, 1, Depth::k8), kNoLimits),
              Optional(std::string("536870912x1 at 8 bits needs rows of 2147483648 bytes, more than the "
                                   "host's limit of 2147483647")));
  EXPECT_EQ(RefuseFrame(Shape(134217727, 1, Depth::kFloat), kNoLimits), std::nullopt);
  EXPECT_NE(RefuseFrame(Shape(134217728, 1, Depth::kFloat), kNoLimits), std::nullopt);
  EXPECT_NE(RefuseFrame(Shape(1, std::int64_t{1} << 31, Depth::k8), kNoLimits), std::nullopt);
}

TEST(DefaultMaxMemory, IsHalfOfAMachinesMemory) {
  // Whatever the machine, a test machine has between 256 MiB and 64 TiB.
  const std::uint64_t half = DefaultMaxMemory();
  EXPECT_GE(half, std::uint64_t{128} << 20);
  EXPECT_LE(half, std::uint64_t{32} << 40);
}

TEST(FormatBytes, ReadsAsAPersonWould) {
  EXPECT_EQ(FormatBytes(1), "1 byte");
  EXPECT_EQ(FormatBytes(1023), "1023 bytes");
  EXPECT_EQ(FormatBytes(1024), "1.0 KiB");
  EXPECT_EQ(FormatBytes(std::uint64_t{3} << 29), "1.5 GiB");
  EXPECT_EQ(FormatBytes(std::numeric_limits<std::uint64_t>::max()), "16.0 EiB");
}

}  // namespace
}  // namespace qv::cli
