// Colour management through OpenColorIO: a configuration of our own, with
// linear, sRGB and a log space defined by transforms in the file itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;

constexpr const char* kConfig = R"(ocio_profile_version: 2

roles:
  default: linear
  scene_linear: linear

colorspaces:
  - !<ColorSpace>
    name: linear
    encoding: scene-linear

  - !<ColorSpace>
    name: sRGB
    encoding: sdr-video
    to_scene_reference: !<ExponentWithLinearTransform> {gamma: 2.4, offset: 0.055}

  - !<ColorSpace>
    name: log
    encoding: log
    to_scene_reference: !<LogAffineTransform>
      {base: 2, log_side_slope: 0.1, log_side_offset: 0.5, lin_side_slope: 1, lin_side_offset: 0.01,
       direction: inverse}
)";

// The sRGB curve, from its definition.
float SrgbToLinear(float v) {
  return v <= 0.04045f ? v / 12.92f : static_cast<float>(std::pow((v + 0.055) / 1.055, 2.4));
}

class Colour : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "config.ocio") << kConfig;
    // An sRGB picture, and the same picture in linear light.
    srgb_ = VariedImage<float>(24, 16, 3, 31);
    linear_ = srgb_;
    for (float& v : linear_.samples) v = SrgbToLinear(v);
    WriteFile(dir_ / "srgb.exr", srgb_, OIIO::TypeDesc::FLOAT);
    WriteFile(dir_ / "linear.exr", linear_, OIIO::TypeDesc::FLOAT);
  }

  ToolRun Render(std::vector<std::string> extra) {
    std::vector<std::string> args = {"render", "-q", "--colorconfig", "config.ocio", "--set", "Shadows Opacity=100"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(dir_.path(), args);
  }

  static float MaxDifference(const Image<float>& a, const Image<float>& b) {
    EXPECT_EQ(a.samples.size(), b.samples.size());
    float worst = 0;
    for (std::size_t i = 0; i < std::min(a.samples.size(), b.samples.size()); ++i) {
      worst = std::max(worst, std::fabs(a.samples[i] - b.samples[i]));
    }
    return worst;
  }

  TempDir dir_;
  Image<float> srgb_, linear_;
};

TEST_F(Colour, ALinearPictureGradedInSrgbLooksLikeTheSrgbPictureGraded) {
  const std::vector<std::string> look = {"--set", "Tones=Pentone", "--set", "Gamma=1.4"};
  std::vector<std::string> direct = {"srgb.exr", "-o", "direct.exr", "--input-space", "sRGB"};
  std::vector<std::string> managed = {"linear.exr", "-o",       "managed.exr", "--input-space",
                                      "linear",     "--working-space", "sRGB", "--output-space", "sRGB"};
  direct.insert(direct.end(), look.begin(), look.end());
  managed.insert(managed.end(), look.begin(), look.end());
  ASSERT_EQ(Render(direct).status, 0);
  const ToolRun run = Render(managed);
  ASSERT_EQ(run.status, 0) << run.err;
  const Image<float> result = ReadFile<float>(dir_ / "managed.exr");
  EXPECT_LE(MaxDifference(result, ReadFile<float>(dir_ / "direct.exr")), 1e-3f);
  // Graded in its own linear light instead, the same look is another picture.
  ASSERT_EQ(Render({"linear.exr", "-o", "raw.exr", "--input-space", "linear", "--output-space", "sRGB", "--set",
                    "Tones=Pentone", "--set", "Gamma=1.4"})
                .status,
            0);
  EXPECT_GT(MaxDifference(ReadFile<float>(dir_ / "raw.exr"), result), 0.05f);
}

TEST_F(Colour, ConversionsRoundTripWithinTheTransformsPrecision) {
  // The original blended back whole: only the two conversions remain.
  for (const char* working : {"sRGB", "log"}) {
    SCOPED_TRACE(working);
    const ToolRun run = Render({"linear.exr", "-o", "back.exr", "--input-space", "linear", "--working-space", working,
                                "--set", "Blend with Original=100"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LE(MaxDifference(ReadFile<float>(dir_ / "back.exr"), linear_), 2e-6f);
  }
}

TEST_F(Colour, TheOutputIsTaggedWithItsSpaceWhereTheFormatHoldsIt) {
  ASSERT_EQ(Render({"linear.exr", "-o", "log.png", "--input-space", "linear", "--output-space", "log"}).status, 0);
  OIIO::ImageSpec image_spec;
  ReadFile<float>(dir_ / "log.png", &image_spec);
  EXPECT_EQ(image_spec.get_string_attribute("oiio:ColorSpace"), "log");
}

TEST_F(Colour, UnknownSpacesAreNamedWithTheKnownOnes) {
  const ToolRun run = Render({"linear.exr", "-o", "out.exr", "--working-space", "ACEScg"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("--working-space \"ACEScg\": the configuration has no such space; it has linear, "
                                 "sRGB, log"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.exr"));
}

}  // namespace
}  // namespace qv::cli::test
