// quorvandile render reads what a file says it holds: a file cut short
// fails, however its reader takes it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class Reading : public ::testing::Test {
 protected:
  TempDir dir_;
};

// A DPX file of 16-bit samples stored at `bits` bits.
void WriteDpx(const fs::path& path, const Image<std::uint16_t>& image, int bits) {
  auto output = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(output);
  OIIO::ImageSpec image_spec(image.width, image.height, image.channels,
                             bits == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16);
  image_spec.attribute("oiio:BitsPerSample", bits);
  ASSERT_TRUE(output->open(path.string(), image_spec) &&
              output->write_image(OIIO::TypeDesc::UINT16, image.samples.data()) && output->close())
      << output->geterror();
}

// The DPX header's total file size, as "undefined" (all bits set), leaving
// the image element's own extent to say how long the file is.
void ForgetDeclaredSize(const fs::path& path) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(16);
  file.write("\xff\xff\xff\xff", 4);
}

TEST_F(Reading, ADpxCutShortFailsTheFrameAtEveryDepth) {
  const Image<std::uint16_t> picture = VariedImage<std::uint16_t>(64, 48, 3, 3);
  for (const int bits : {8, 10, 12, 16}) {
    for (const bool size_declared : {true, false}) {
      WriteDpx(dir_ / "whole.dpx", picture, bits);
      if (!size_declared) ForgetDeclaredSize(dir_ / "whole.dpx");
      const auto whole = fs::file_size(dir_ / "whole.dpx");
      ASSERT_EQ(RunTool(dir_.path(), {"render", "whole.dpx", "-o", "out.tif", "-q"}).status, 0);
      // The 10- and 12-bit reader takes a file cut short without a word; the others fail on their own.
      const std::vector<int> percents = bits == 10 || bits == 12 ? std::vector<int>{10, 50, 99} : std::vector<int>{50};
      for (const int percent : percents) {
        SCOPED_TRACE(std::to_string(bits) + " bits, size declared " + std::to_string(size_declared) + ", " +
                     std::to_string(percent) + " %");
        fs::copy_file(dir_ / "whole.dpx", dir_ / "cut.dpx", fs::copy_options::overwrite_existing);
        fs::resize_file(dir_ / "cut.dpx", whole * static_cast<unsigned>(percent) / 100);
        fs::remove(dir_ / "out.tif");
        const ToolRun run = RunTool(dir_.path(), {"render", "cut.dpx", "-o", "out.tif"});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_THAT(run.err, StartsWith("quorvandile: cannot read cut.dpx: "));
        EXPECT_FALSE(fs::exists(dir_ / "out.tif"));
      }
    }
  }
  // Where the size is declared, the message says by how much the file falls short.
  WriteDpx(dir_ / "whole.dpx", picture, 10);
  fs::copy_file(dir_ / "whole.dpx", dir_ / "cut.dpx", fs::copy_options::overwrite_existing);
  fs::resize_file(dir_ / "cut.dpx", 10000);
  EXPECT_THAT(RunTool(dir_.path(), {"render", "cut.dpx", "-o", "out.tif"}).err,
              HasSubstr("the file is cut short: 10000 bytes of the " +
                        std::to_string(fs::file_size(dir_ / "whole.dpx")) + " its header declares"));
}

}  // namespace
}  // namespace qv::cli::test
