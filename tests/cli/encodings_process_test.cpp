// quorvandile render run as a process on files that say how they are
// stored (their bits per sample, their encoding, their colour profile): what
// the output keeps of it, and what it refuses to pretend.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "cli_support.h"
#include "image_description.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The look that hands every pixel back as it came: all of the original, and
// no transparency in the shadows.
const std::vector<std::string> kNoOpLook = {"--set", "Blend with Original=100", "--set", "Shadows Opacity=100"};

// Skips the test, saying why, unless this OpenImageIO writes files with each
// of `extensions`.
#define REQUIRE_WRITERS(...)                                                                  \
  for (const char* extension : {__VA_ARGS__}) {                                               \
    if (!OIIO::ImageOutput::create(std::string("probe.") + extension)) {                      \
      OIIO::geterror();                                                                       \
      GTEST_SKIP() << "this OpenImageIO has no writer for ." << extension << " files";        \
    }                                                                                         \
  }

// The integer values of `bits` bits that a file's samples, read as float, stand for.
std::vector<long> Codes(const Image<float>& image, int bits) {
  std::vector<long> codes;
  for (float sample : image.samples) codes.push_back(std::lround(sample * static_cast<float>((1 << bits) - 1)));
  return codes;
}

// Writes `image` in `type`, its description completed by `describe`
// (bits per sample, compression, tiles, a profile).
template <class T>
void WriteDescribed(const std::filesystem::path& path, const Image<T>& image, OIIO::TypeDesc type,
                    const std::function<void(OIIO::ImageSpec&)>& describe) {
  auto output = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(output) << path;
  OIIO::ImageSpec image_spec(image.width, image.height, image.channels, type);
  describe(image_spec);
  ASSERT_TRUE(output->open(path.string(), image_spec) && output->write_image(OIIO::BaseTypeFromC<T>::value, image.samples.data()) &&
              output->close())
      << output->geterror();
}

class Encodings : public ::testing::Test {
 protected:
  ToolRun Render(const std::string& in, const std::string& out, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"render", in, "-o", out, "-q"};
    args.insert(args.end(), more.begin(), more.end());
    return RunTool(dir_.path(), args);
  }
  ToolRun RenderNoOp(const std::string& in, const std::string& out, std::vector<std::string> more = {}) {
    more.insert(more.end(), kNoOpLook.begin(), kNoOpLook.end());
    return Render(in, out, more);
  }

  TempDir dir_;
};

TEST_F(Encodings, PackedBitsPerSampleAreKeptAndTheNoOpLookReturnsThemUnchanged) {
  REQUIRE_WRITERS("dpx", "tif");
  struct Case {
    const char* in;
    const char* out;
    int bits;
  };
  for (const Case& c : {Case{"in.dpx", "out.dpx", 10}, Case{"in.dpx", "out.tif", 10}, Case{"in.tif", "out.tif", 12},
                        Case{"in.tif", "out.dpx", 12}}) {
    SCOPED_TRACE(std::string(c.in) + " -> " + c.out);
    WriteDescribed(dir_ / c.in, VariedImage<std::uint16_t>(29, 13, 3, 7), OIIO::TypeDesc::UINT16,
                   [&](OIIO::ImageSpec& s) { s.attribute("oiio:BitsPerSample", c.bits); });
    OIIO::ImageSpec written;
    const std::vector<long> input = Codes(ReadFile<float>(dir_ / c.in, &written), c.bits);
    ASSERT_EQ(written.get_int_attribute("oiio:BitsPerSample"), c.bits);  // the test's own file is what it says

    const ToolRun run = RenderNoOp(c.in, c.out);
    ASSERT_EQ(run.status, 0) << run.err;
    OIIO::ImageSpec output_spec;
    const std::vector<long> output = Codes(ReadFile<float>(dir_ / c.out, &output_spec), c.bits);
    EXPECT_EQ(output_spec.format, OIIO::TypeDesc::UINT16);
    EXPECT_EQ(output_spec.get_int_attribute("oiio:BitsPerSample"), c.bits);
    EXPECT_EQ(output, input);
  }
}

TEST_F(Encodings, PackedTypesCanBeAskedForWhereTheFormatHoldsThem) {
  REQUIRE_WRITERS("dpx", "tif", "png");
  WriteFile(dir_ / "in.png", VariedImage<std::uint16_t>(17, 9, 3, 3), OIIO::TypeDesc::UINT16);
  for (const auto& [type, bits] : {std::pair{"uint10", 10}, std::pair{"uint12", 12}}) {
    for (const char* out : {"out.dpx", "out.tif"}) {
      SCOPED_TRACE(std::string(type) + " to " + out);
      const ToolRun run = Render("in.png", out, {"--type", type});
      ASSERT_EQ(run.status, 0) << run.err;
      OIIO::ImageSpec output_spec;
      ReadFile<std::uint16_t>(dir_ / out, &output_spec);
      EXPECT_EQ(output_spec.get_int_attribute("oiio:BitsPerSample"), bits);
    }
  }
}

TEST_F(Encodings, ATypeTheFormatCannotHoldIsRefusedNamingTheTypesItHolds) {
  REQUIRE_WRITERS("png", "jpg", "exr");
  WriteFile(dir_ / "in.png", VariedImage<std::uint8_t>(8, 8, 3, 1), OIIO::TypeDesc::UINT8);
  struct Case {
    const char* out;
    const char* type;
    const char* says;
  };
  for (const Case& c : {Case{"out.png", "half", "--type half: png files hold uint8 or uint16 samples, not half"},
                        Case{"out.png", "uint10", "png files hold uint8 or uint16 samples, not uint10"},
                        Case{"out.jpg", "uint16", "--type uint16: jpeg files hold uint8 samples, not uint16"},
                        Case{"out.exr", "uint16", "--type uint16: openexr files hold half or float samples"}}) {
    SCOPED_TRACE(std::string(c.type) + " to " + c.out);
    const ToolRun run = Render("in.png", c.out, {"--type", c.type});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(dir_.Files(), std::vector<std::string>{"in.png"});
  }
}

}  // namespace
}  // namespace qv::cli::test
