// Files whose headers declare more than a frame may take: refused from the
// header alone, quickly and in little memory, with one line naming the file,
// its size and the limit, and nothing written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <tuple>

#include "cli_support.h"
#include "image_bands.h"
#include "image_open.h"

namespace qv::cli::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// What a refusal may take beyond the tool's own peak on a small frame (about
// 130 MB, most of it the image library's shared libraries, and more under the
// sanitizers): far below what the declared pictures below would take.
constexpr long kRefusalMarginKib = 64 * 1024;

std::string BigEndian32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return BigEndian32(static_cast<std::uint32_t>(data.size())) + body + BigEndian32(static_cast<std::uint32_t>(crc));
}

// An 8-bit RGB PNG whose header declares width x height but whose data holds
// only `rows` black rows: small on disk, huge once read.
void WriteDecompressionBomb(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height, int rows) {
  const std::string row = std::string(1, '\0') + std::string(3 * std::size_t{width}, '\0');  // filter byte, pixels
  std::string raw;
  for (int r = 0; r < rows; ++r) raw += row;
  std::string packed(compressBound(static_cast<uLong>(raw.size())), '\0');
  uLongf packed_size = static_cast<uLongf>(packed.size());
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
                      reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 9),
            Z_OK);
  packed.resize(packed_size);
  const std::string header = BigEndian32(width) + BigEndian32(height) + std::string{8, 2, 0, 0, 0};
  std::ofstream(path, std::ios::binary) << "\x89PNG\r\n\x1a\n"
                                        << PngChunk("IHDR", header) << PngChunk("IDAT", packed)
                                        << PngChunk("IEND", "");
}

// A grey PGM whose header declares width x 1 with a few bytes of data.
void WriteWidePgm(const std::filesystem::path& path, std::uint64_t width) {
  std::ofstream(path, std::ios::binary) << "P5\n" << width << " 1\n255\n" << std::string(64, '\0');
}

class Limits : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "small.png", VariedImage<std::uint8_t>(64, 32, 4, 3), OIIO::TypeDesc::UINT8);
  }

  // The tool's peak on a small frame, measured as this build runs it.
  long SmallFramePeakKib() {
    const ToolRun run = RunTool(dir_.path(), {"render", "small.png", "-o", "out.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::filesystem::remove(dir_ / "out.png");
    return run.peak_kib;
  }

  // Runs the tool, which must refuse: one line saying `says`, nothing written.
  ToolRun ExpectRefused(const std::vector<std::string>& args, const std::vector<std::string>& says) {
    const std::vector<std::string> before = dir_.Files();
    const ToolRun run = RunTool(dir_.path(), args);
    EXPECT_EQ(run.status, 1) << run.err;
    const std::vector<std::string> lines = Lines(run.err);
    EXPECT_EQ(lines.size(), 1u) << run.err;
    for (const std::string& part : says) EXPECT_THAT(run.err, HasSubstr(part));
    EXPECT_THAT(run.err, StartsWith("quorvandile: cannot render "));
    EXPECT_EQ(dir_.Files(), before);
    return run;
  }

  void ExpectRendered(const std::vector<std::string>& args) {
    const ToolRun run = RunTool(dir_.path(), args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(dir_ / "out.png"));
    std::filesystem::remove(dir_ / "out.png");
  }

  TempDir dir_;
};

TEST_F(Limits, DecompressionBombIsRefusedFromItsHeader) {
  const long small_peak_kib = SmallFramePeakKib();
  WriteDecompressionBomb(dir_ / "bomb.png", 60000, 60000, 50);
  ASSERT_LT(std::filesystem::file_size(dir_ / "bomb.png"), 64u * 1024);
  const ToolRun run =
      ExpectRefused({"render", "bomb.png", "-o", "out.png"}, {"bomb.png", "60000x60000", "268435456", "--max-pixels"});
  EXPECT_LT(run.peak_kib, small_peak_kib + kRefusalMarginKib);

  // Without the pixel limit, the memory limit (half the machine's memory by
  // default) still refuses a picture no machine holds.
  WriteDecompressionBomb(dir_ / "bigger.png", 1000000, 1000000, 2);
  const ToolRun unlimited = ExpectRefused({"render", "bigger.png", "-o", "out.png", "--max-pixels", "0"},
                                          {"bigger.png", "1000000x1000000", "TiB of memory", "--max-memory"});
  EXPECT_LT(unlimited.peak_kib, small_peak_kib + kRefusalMarginKib);
}

TEST_F(Limits, PixelLimitIsInclusiveAndZeroLiftsIt) {
  ExpectRendered({"render", "small.png", "-o", "out.png", "--max-pixels", "2048"});  // 64 x 32
  ExpectRefused({"render", "small.png", "-o", "out.png", "--max-pixels", "2047"},
                {"small.png: 64x32 is 2048 pixels, more than the limit of 2047"});
  ExpectRendered({"render", "small.png", "-o", "out.png", "--max-pixels", "0"});
}

TEST_F(Limits, MemoryLimitTakesSizesWithUnits) {
  // A 64 x 32 RGBA frame at 8 bits takes tens of KiB.
  ExpectRefused({"render", "small.png", "-o", "out.png", "--max-memory", "16K"},
                {"small.png: 64x32 at 8 bits needs", "KiB of memory, more than the limit of 16.0 KiB"});
  ExpectRendered({"render", "small.png", "-o", "out.png", "--max-memory", "1M"});
  ExpectRendered({"render", "small.png", "-o", "out.png", "--max-memory", "0"});
  const ToolRun run = RunTool(dir_.path(), {"render", "small.png", "-o", "out.png", "--max-memory", "lots"});
  EXPECT_EQ(run.status, 2) << run.err;
}

TEST_F(Limits, TheDemoHoldsItsPictureToTheSameLimits) {
  ExpectRefused({"demo", "small.png", "-o", "out.png", "--max-pixels", "2047"},
                {"small.png: 64x32 is 2048 pixels, more than the limit of 2047"});
  ExpectRefused({"demo", "small.png", "-o", "out.png", "--max-memory", "16K"},
                {"small.png: 64x32 at 8 bits needs", "more than the limit of 16.0 KiB"});
  ExpectRendered({"demo", "small.png", "-o", "out.png", "--max-pixels", "2048", "--max-memory", "1M"});
  // By default, the same limits as a render's.
  WriteDecompressionBomb(dir_ / "bomb.png", 60000, 60000, 50);
  ExpectRefused({"demo", "bomb.png", "-o", "out.png"}, {"bomb.png", "60000x60000", "268435456", "--max-pixels"});
}

TEST_F(Limits, RowsBeyondTheHostsStrideAreRefusedWhateverTheLimits) {
  // 4 bytes per pixel at 8 bits: 600 million pixels make rows of 2.4 GB.
  WriteWidePgm(dir_ / "wide.pgm", 600000000);
  ExpectRefused({"render", "wide.pgm", "-o", "out.png", "--max-pixels", "0", "--max-memory", "0"},
                {"wide.pgm: 600000000x1 at 8 bits needs rows of 2400000000 bytes", "2147483647"});
  // 16 bytes per pixel at float: a width that fits at 8 bits does not.
  WriteWidePgm(dir_ / "narrower.pgm", 140000000);
  ExpectRefused({"render", "narrower.pgm", "-o", "out.exr", "--depth", "32", "--max-pixels", "0", "--max-memory", "0"},
                {"narrower.pgm: 140000000x1 at float needs rows of 2240000000 bytes"});
}

// An OpenEXR reader keeps four chunks a thread of the library's pool: rows
// by its compression, or a tile. However many threads the machine gives, the
// pool has at most four, since a band of rows is at most four zip chunks.
TEST(CodecPixels, AreFourChunksForEachOfAtMostFourThreadsOfAnOpenExrReader) {
  OIIO::ImageSpec image_spec(2000, 1500, 4, OIIO::TypeDesc::HALF);
  UseImageThreads(3);
  for (const auto& [compression, rows] : {std::pair{"zip", 16}, std::pair{"zips", 1}, std::pair{"piz", 32},
                                          std::pair{"dwaa:45", 32}, std::pair{"dwab", 256}, std::pair{"none", 1}}) {
    image_spec.attribute("compression", compression);
    EXPECT_EQ(CodecPixels(image_spec, "openexr"), 4u * 3 * 2000 * rows) << compression;
  }
  UseImageThreads(64);
  image_spec.attribute("compression", "piz");
  EXPECT_EQ(CodecPixels(image_spec, "openexr"), 4u * 4 * 2000 * 32);
  image_spec.tile_width = 64;
  image_spec.tile_height = 32;
  EXPECT_EQ(CodecPixels(image_spec, "openexr"), 4u * 4 * 64 * 32);
  EXPECT_EQ(CodecPixels(image_spec, "tiff"), 0u);
}

// The figure a frame is held to is what its render takes at its worst
// moment: the tool's peak on a frame less its peak on a tiny frame of the
// same kind is within the figure, and not far below it. Frames of 3
// million pixels make the tool's own memory small beside theirs; the OpenEXR
// files' chunks that its codecs keep for their threads count too.
TEST_F(Limits, TheMemoryFigureIsWhatAFrameTakes) {
#ifdef QV_SANITIZED
  GTEST_SKIP() << "the sanitizers' own memory hides the frame's";
#endif
  const auto write = [this](const std::string& name, int width, int height, auto sample, int channels,
                            OIIO::TypeDesc type) {
    WriteFile(dir_ / name, VariedImage<decltype(sample)>(width, height, channels, 5), type);
  };
  struct Kind {
    std::string file;
    std::vector<std::string> args;
  };
  // RGB at 8 bits; RGBA at 16; float RGBA with two more channels, rendered
  // at float and at 16 bits, where those channels are not the rendered depth.
  for (const Kind& kind : {Kind{"rgb8.png", {}}, Kind{"rgba16.png", {}}, Kind{"extra.exr", {}},
                           Kind{"extra.exr", {"--depth", "16"}}}) {
    SCOPED_TRACE(kind.file + (kind.args.empty() ? "" : " " + kind.args[0] + " " + kind.args[1]));
    for (const auto& [name, width, height] : {std::tuple{"tiny-" + kind.file, 16, 16},
                                              std::tuple{kind.file, 2000, 1500}}) {
      if (kind.file == "rgb8.png") write(name, width, height, std::uint8_t{}, 3, OIIO::TypeDesc::UINT8);
      if (kind.file == "rgba16.png") write(name, width, height, std::uint16_t{}, 4, OIIO::TypeDesc::UINT16);
      if (kind.file == "extra.exr") write(name, width, height, float{}, 6, OIIO::TypeDesc::FLOAT);
    }
    const std::string out = "out" + std::filesystem::path(kind.file).extension().string();
    std::vector<std::string> tiny = {"render", "tiny-" + kind.file, "-o", out, "-q"};
    std::vector<std::string> frame = {"render", kind.file, "-o", out, "-q"};
    tiny.insert(tiny.end(), kind.args.begin(), kind.args.end());
    frame.insert(frame.end(), kind.args.begin(), kind.args.end());
    const double figure_kib = FrameMemoryKib(dir_.path(), kind.file, kind.args);
    // A peak varies from run to run by what the allocator keeps and where the
    // threads are when the buffers meet: up to about 1 MiB here, once 2.8 MiB
    // on a fresh machine. That only ever adds to the peak, while a buffer the
    // figure leaves out is there in every run: so each peak is the least of
    // up to three runs, and 1 MiB of the difference is measurement.
    constexpr double kNoiseKib = 1024;
    constexpr int kRuns = 3;
    long baseline_kib = std::numeric_limits<long>::max(), frame_kib = std::numeric_limits<long>::max();
    for (int attempt = 0; attempt < kRuns; ++attempt) {
      const ToolRun baseline = RunTool(dir_.path(), tiny);
      ASSERT_EQ(baseline.status, 0) << baseline.err;
      const ToolRun run = RunTool(dir_.path(), frame);
      ASSERT_EQ(run.status, 0) << run.err;
      baseline_kib = std::min(baseline_kib, baseline.peak_kib);
      frame_kib = std::min(frame_kib, run.peak_kib);
      if (static_cast<double>(frame_kib - baseline_kib) <= figure_kib + kNoiseKib) break;
    }
    const auto taken_kib = static_cast<double>(frame_kib - baseline_kib);
    EXPECT_LE(taken_kib, figure_kib + kNoiseKib);
    EXPECT_GE(taken_kib, 0.8 * figure_kib);
  }
}

}  // namespace
}  // namespace qv::cli::test
