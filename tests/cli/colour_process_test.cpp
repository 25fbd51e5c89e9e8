// Colour management through OpenColorIO: a configuration of our own, with
// linear, sRGB and a log space defined by transforms in the file itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
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

// Writes `image` as float with the attributes `describe` gives it.
void WriteDescribed(const std::filesystem::path& path, const Image<float>& image,
                    const std::function<void(OIIO::ImageSpec&)>& describe) {
  OIIO::ImageSpec image_spec(image.width, image.height, image.channels, OIIO::TypeDesc::FLOAT);
  describe(image_spec);
  const auto output = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(output && output->open(path.string(), image_spec)) << OIIO::geterror();
  ASSERT_TRUE(output->write_image(OIIO::TypeDesc::FLOAT, image.samples.data()));
  ASSERT_TRUE(output->close());
}

// x,y of the red, green and blue primaries and the white point.
void Chromaticities(OIIO::ImageSpec& image_spec, const std::array<float, 8>& xy) {
  image_spec.attribute("chromaticities", OIIO::TypeDesc(OIIO::TypeDesc::FLOAT, 8), xy.data());
}

constexpr std::array<float, 8> kAcesPrimaries = {0.7347f, 0.2653f, 0.0f, 1.0f, 0.0001f, -0.077f, 0.32168f, 0.33767f};
constexpr std::array<float, 8> kRec709Primaries = {0.64f, 0.33f, 0.30f, 0.60f, 0.15f, 0.06f, 0.3127f, 0.3290f};

TEST_F(Colour, AConfigurationThatDoesNotLoadIsRefusedWhereverItIsNamed) {
  // $OCIO naming no file, where the library would grade in its built-in configuration.
  const ToolRun missing = RunTool(dir_.path(), {"render", "linear.exr", "-o", "out.exr", "--working-space", "sRGB"},
                                  {"OCIO=missing.ocio"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(Lines(missing.err).size(), 1u) << missing.err;
  EXPECT_THAT(missing.err, HasSubstr("quorvandile: $OCIO missing.ocio: "));
  // --colorconfig alone converts nothing, and is checked all the same.
  const ToolRun alone = RunTool(dir_.path(), {"render", "linear.exr", "-o", "out.exr", "--colorconfig", "no.ocio"});
  EXPECT_EQ(alone.status, 2);
  EXPECT_THAT(alone.err, HasSubstr("quorvandile: --colorconfig no.ocio: "));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.exr"));
  // A configuration that loads, from either: "log" is a space of ours alone.
  EXPECT_EQ(RunTool(dir_.path(), {"render", "-q", "linear.exr", "-o", "a.exr", "--working-space", "log",
                                  "--input-space", "linear"}, {"OCIO=config.ocio"}).status, 0);
  EXPECT_EQ(RunTool(dir_.path(), {"render", "-q", "linear.exr", "-o", "b.exr", "--working-space", "log",
                                  "--input-space", "linear", "--colorconfig", "config.ocio"}, {"OCIO=missing.ocio"})
                .status,
            0);
  EXPECT_EQ(Contents(dir_ / "a.exr"), Contents(dir_ / "b.exr"));
}

TEST_F(Colour, EverySpaceNameIsCheckedWhetherItConvertsOrNot) {
  for (const char* option : {"--input-space", "--output-space", "--working-space"}) {
    SCOPED_TRACE(option);
    const ToolRun run = Render({"linear.exr", "-o", "out.exr", option, "ACEScg"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, std::string("quorvandile: ") + option +
                           " \"ACEScg\": the configuration has no such space; it has linear, sRGB, log\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.exr"));
}

TEST_F(Colour, AFileWhoseOwnDescriptionDisagreesIsWarnedOfOnce) {
  for (const char* name : {"aces.0001.exr", "aces.0002.exr"}) {
    WriteDescribed(dir_ / name, linear_, [](OIIO::ImageSpec& s) { Chromaticities(s, kAcesPrimaries); });
  }
  WriteDescribed(dir_ / "rec709.exr", linear_, [](OIIO::ImageSpec& s) { Chromaticities(s, kRec709Primaries); });
  WriteDescribed(dir_ / "srgb.tif", srgb_, [](OIIO::ImageSpec& s) { s.attribute("oiio:ColorSpace", "sRGB"); });
  struct Case {
    std::vector<std::string> args;
    std::string warning;  // empty: none
  };
  const std::string config = "config.ocio";
  const std::vector<Case> cases = {
      // Read as its metadata's "Linear", in primaries the file says are not Rec. 709's: two frames, one line.
      {{"aces.####.exr", "-o", "out.####.exr", "--colorconfig", config, "--working-space", "sRGB"},
       "aces.0001.exr: its chromaticities give primaries other than Rec. 709's, but it is read as \"Linear\", "
       "from its metadata: give its space with --input-space"},
      // The built-in configuration's spaces are all Rec. 709's.
      {{"aces.0001.exr", "-o", "out.exr", "--input-space", "linear", "--working-space", "sRGB"},
       "aces.0001.exr: its chromaticities give primaries other than Rec. 709's, but it is read as \"linear\", whose "
       "primaries are Rec. 709's: give a configuration that has its space with --colorconfig"},
      {{"srgb.tif", "-o", "out.tif", "--colorconfig", config, "--input-space", "linear"},
       "srgb.tif: its metadata gives its colour space as \"sRGB\", but it is read as \"linear\" (--input-space)"},
      // Nothing that disagrees.
      {{"aces.0001.exr", "-o", "out.exr", "--colorconfig", config, "--input-space", "linear"}, ""},
      {{"rec709.exr", "-o", "out.exr", "--colorconfig", config, "--working-space", "sRGB"}, ""},
      {{"srgb.tif", "-o", "out.tif", "--colorconfig", config, "--input-space", "SRGB"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    std::vector<std::string> args = {"render"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolRun run = RunTool(dir_.path(), args);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> warnings;
    for (std::string line : Lines(run.err)) {
      if (line.find("warning") == std::string::npos) continue;
      // Frames in flight: whichever frame is read first is the one named.
      if (const std::size_t second = line.find("aces.0002.exr"); second != std::string::npos) line[second + 8] = '1';
      warnings.push_back(line);
    }
    if (c.warning.empty()) {
      EXPECT_THAT(warnings, ::testing::IsEmpty());
    } else {
      EXPECT_THAT(warnings, ::testing::ElementsAre("quorvandile: warning: " + c.warning));
    }
    args.push_back("-q");
    EXPECT_EQ(RunTool(dir_.path(), args).err, "");
  }
}

}  // namespace
}  // namespace qv::cli::test
