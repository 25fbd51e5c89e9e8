// quorvandile render run as a process on real files: the pixels it writes are
// the engine's for the same input and settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "cli_support.h"
#include "image_description.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

class Render : public ::testing::Test {
 protected:
  ToolRun Run(const std::vector<std::string>& args) {
    ToolRun run = RunTool(dir_.path(), args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, IsEmpty());
    return run;
  }

  TempDir dir_;
};

template <class T>
void ExpectSamples(const Image<T>& actual, const Image<T>& expected, double tolerance = 0) {
  ASSERT_EQ(actual.width, expected.width);
  ASSERT_EQ(actual.height, expected.height);
  ASSERT_EQ(actual.channels, expected.channels);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < actual.samples.size(); ++i) {
    const double a = actual.samples[i], e = expected.samples[i];
    if (!(std::fabs(a - e) <= tolerance)) {
      if (++mismatches <= 5) ADD_FAILURE() << "sample " << i << " (channel " << i % actual.channels << "): " << a << " vs " << e;
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST_F(Render, Png8WithDefaultsIsTheEngines) {
  const Image<std::uint8_t> input = VariedImage<std::uint8_t>(37, 23, 4, 1);
  WriteFile(dir_ / "in.png", input, OIIO::TypeDesc::UINT8);
  const ToolRun run = Run({"render", "in.png", "-o", "out.png"});
  EXPECT_THAT(run.out, HasSubstr("1 frame, 851 pixels"));
  OIIO::ImageSpec image_spec;
  const auto output = ReadFile<std::uint8_t>(dir_ / "out.png", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::UINT8);
  ExpectSamples(output, EngineRender(input, DefaultToneParams()));
  EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"in.png", "out.png"}));
}

TEST_F(Render, Png8WithSettingsIsTheEngines) {
  const Image<std::uint8_t> input = VariedImage<std::uint8_t>(31, 17, 4, 2);
  WriteFile(dir_ / "in.png", input, OIIO::TypeDesc::UINT8);
  Run({"render", "in.png", "-o", "out.png", "--set", "Tones=Pentone", "--set", "Base On=Luminance", "--set",
       "Gamma=1.4", "--set", "Midtones=#806446", "--set", "Blend with Original=25", "--set", "Brights=10,200,30",
       "--set", "Shadows Opacity=40"});
  ToneParams params = DefaultToneParams();
  params.tones = kPentone;
  params.baseOn = kBaseLuminance;
  params.gamma = 1.4;
  params.midtones = Colour(0x80, 0x64, 0x46);
  params.brights = Colour(10, 200, 30);
  params.blend = 0.25;
  params.shadowsOpacity = 0.4;
  ExpectSamples(ReadFile<std::uint8_t>(dir_ / "out.png"), EngineRender(input, params));
}

TEST_F(Render, Tiff16IsTheEnginesAtSixteenBits) {
  const Image<std::uint16_t> input = VariedImage<std::uint16_t>(29, 19, 4, 3);
  WriteFile(dir_ / "in.tif", input, OIIO::TypeDesc::UINT16);
  Run({"render", "in.tif", "-o", "out.tif", "--set", "Tones=Duotone", "--set", "Input White=0.8"});
  ToneParams params = DefaultToneParams();
  params.tones = kDuotone;
  params.inputWhite = 0.8;
  OIIO::ImageSpec image_spec;
  const auto output = ReadFile<std::uint16_t>(dir_ / "out.tif", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::UINT16);
  ExpectSamples(output, EngineRender(input, params));
}

TEST_F(Render, GreyAndAlphaPngStaysGreyWhenTheResultIsGrey) {
  const Image<std::uint16_t> input = VariedImage<std::uint16_t>(16, 9, 2, 4);
  WriteFile(dir_ / "in.png", input, OIIO::TypeDesc::UINT16);
  Run({"render", "in.png", "-o", "out.png", "--set", "Tones=Monotone", "--set", "Midtones=#808080"});
  ToneParams params = DefaultToneParams();
  params.tones = kMonotone;
  params.midtones = Colour(128, 128, 128);
  const Image<std::uint16_t> rgba = EngineRender(input, params);
  Image<std::uint16_t> expected(rgba.width, rgba.height, 2);
  for (std::size_t i = 0, j = 0; i < rgba.samples.size(); i += 4, j += 2) {
    expected.samples[j] = rgba.samples[i];
    expected.samples[j + 1] = rgba.samples[i + 3];
  }
  OIIO::ImageSpec image_spec;
  const auto output = ReadFile<std::uint16_t>(dir_ / "out.png", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::UINT16);
  ExpectSamples(output, expected);
}

TEST_F(Render, GreyPngGainsColourAndAlphaFromTheResultUnlessKept) {
  const Image<std::uint8_t> input = VariedImage<std::uint8_t>(12, 8, 1, 5);
  WriteFile(dir_ / "grey.png", input, OIIO::TypeDesc::UINT8);
  Run({"render", "grey.png", "-o", "auto.png"});
  const Image<std::uint8_t> expected = EngineRender(input, DefaultToneParams());
  ExpectSamples(ReadFile<std::uint8_t>(dir_ / "auto.png"), expected);

  Run({"render", "grey.png", "-o", "kept.png", "--channels", "keep"});
  Image<std::uint8_t> luma(expected.width, expected.height, 1);
  for (std::size_t i = 0, j = 0; i < expected.samples.size(); i += 4, ++j) {
    const auto* p = &expected.samples[i];
    luma.samples[j] = p[0] == p[1] && p[1] == p[2]
                          ? p[0]
                          : static_cast<std::uint8_t>(std::lround(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]));
  }
  ExpectSamples(ReadFile<std::uint8_t>(dir_ / "kept.png"), luma);
}

TEST_F(Render, RgbPngGainsAlphaOnlyWhenTheResultIsTransparent) {
  const Image<std::uint8_t> input = VariedImage<std::uint8_t>(12, 8, 3, 6);
  WriteFile(dir_ / "rgb.png", input, OIIO::TypeDesc::UINT8);
  Run({"render", "rgb.png", "-o", "opaque.png", "--set", "Shadows Opacity=100"});
  ToneParams params = DefaultToneParams();
  params.shadowsOpacity = 1;
  const Image<std::uint8_t> rgba = EngineRender(input, params);
  Image<std::uint8_t> rgb(rgba.width, rgba.height, 3);
  for (std::size_t i = 0, j = 0; i < rgba.samples.size(); i += 4, j += 3) {
    ASSERT_EQ(rgba.samples[i + 3], 255);
    std::copy_n(&rgba.samples[i], 3, &rgb.samples[j]);
  }
  ExpectSamples(ReadFile<std::uint8_t>(dir_ / "opaque.png"), rgb);

  Run({"render", "rgb.png", "-o", "default.png"});
  ExpectSamples(ReadFile<std::uint8_t>(dir_ / "default.png"), EngineRender(input, DefaultToneParams()));
}

TEST_F(Render, ExrColourIsUnpremultipliedForTheEffectAndPremultipliedAgain) {
  Image<float> straight = VariedImage<float>(21, 13, 4, 7);
  straight.samples[4 * 5 + 3] = 0.0f;  // one pixel with no alpha at all
  straight.samples[4 * 6 + 0] = 1.75f;  // and one brighter than white
  const Image<float> associated = Premultiplied(straight);
  WriteFile(dir_ / "in.exr", associated, OIIO::TypeDesc::FLOAT);
  Run({"render", "in.exr", "-o", "out.exr", "--set", "Tones=Pentone"});
  ToneParams params = DefaultToneParams();
  params.tones = kPentone;
  OIIO::ImageSpec image_spec;
  const auto output = ReadFile<float>(dir_ / "out.exr", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::FLOAT);
  ExpectSamples(output, Premultiplied(EngineRender(Unpremultiplied(associated), params)), 1e-6);
}

TEST_F(Render, ExrLightWithoutCoverageSurvivesAndIsTonedAsIfCovered) {
  Image<float> associated = Premultiplied(VariedImage<float>(11, 7, 4, 9));
  for (std::size_t pixel : {3u, 20u, 40u}) {
    float* p = associated.samples.data() + 4 * pixel;
    p[0] = 0.6f, p[1] = 0.3f, p[2] = 2.5f, p[3] = 0.0f;  // colour, no alpha: a glow
  }
  WriteFile(dir_ / "in.exr", associated, OIIO::TypeDesc::FLOAT);
  Run({"render", "in.exr", "-o", "original.exr", "--set", "Blend with Original=100"});
  ExpectSamples(ReadFile<float>(dir_ / "original.exr"), associated);

  Run({"render", "in.exr", "-o", "toned.exr", "--set", "Shadows Opacity=100"});
  ToneParams params = DefaultToneParams();
  params.shadowsOpacity = 1.0;
  Image<float> straight = Unpremultiplied(associated);
  Image<float> covered = straight;
  for (std::size_t pixel : {3u, 20u, 40u}) covered.samples[4 * pixel + 3] = 1.0f;
  const Image<float> toned = EngineRender(covered, params);
  Image<float> expected = Premultiplied(EngineRender(straight, params));
  for (std::size_t pixel : {3u, 20u, 40u}) {
    for (std::size_t c = 0; c < 3; ++c) expected.samples[4 * pixel + c] = toned.samples[4 * pixel + c];
    expected.samples[4 * pixel + 3] = 0.0f;
  }
  ExpectSamples(ReadFile<float>(dir_ / "toned.exr"), expected, 1e-6);
}

// Writes a small RGB picture with the metadata `attributes` (name, value).
void WriteWithMetadata(const std::filesystem::path& path, OIIO::TypeDesc type,
                       const std::vector<std::pair<std::string, std::string>>& attributes) {
  const Image<std::uint8_t> image = VariedImage<std::uint8_t>(12, 8, 3, 11);
  OIIO::ImageSpec image_spec(image.width, image.height, image.channels, type);
  for (const auto& [name, value] : attributes) image_spec.attribute(name, value);
  auto output = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(output && output->open(path.string(), image_spec) &&
              output->write_image(OIIO::TypeDesc::UINT8, image.samples.data()) && output->close());
}

TEST_F(Render, MetadataCarriesOverWhereTheFormatHoldsIt) {
  struct Case {
    const char* input;
    OIIO::TypeDesc type;
    std::vector<std::pair<std::string, std::string>> attributes;
  };
  const std::pair<std::string, std::string> description{"ImageDescription", "a picture"}, copyright{"Copyright", "us"};
  const Case cases[] = {
      {"in.png", OIIO::TypeDesc::UINT8, {description, copyright}},
      {"in.jpg", OIIO::TypeDesc::UINT8, {description, copyright, {"jpeg:subsampling", "4:4:4"}}},
      {"in.tif", OIIO::TypeDesc::UINT16, {description, copyright, {"compression", "lzw"}}},
      {"in.exr", OIIO::TypeDesc::HALF, {description, copyright, {"compression", "piz"}, {"shot:take", "A12"}}},
  };
  const std::string kOpaque = "Shadows Opacity=100";  // a JPEG holds no alpha
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    WriteWithMetadata(dir_ / c.input, c.type, c.attributes);
    const std::string output = std::string("out") + std::filesystem::path(c.input).extension().string();
    Run({"render", c.input, "-o", output, "--set", kOpaque});
    OIIO::ImageSpec image_spec;
    ReadFile<std::uint8_t>(dir_ / output, &image_spec);
    for (const auto& [name, value] : c.attributes) EXPECT_EQ(image_spec.get_string_attribute(name), value) << name;
    EXPECT_EQ(image_spec.get_string_attribute("Software"), "quorvandile");

    Run({"render", c.input, "-o", "stripped" + output.substr(3), "--strip-metadata", "--set", kOpaque});
    ReadFile<std::uint8_t>(dir_ / ("stripped" + output.substr(3)), &image_spec);
    EXPECT_EQ(image_spec.get_string_attribute("ImageDescription"), "");
    EXPECT_EQ(image_spec.get_string_attribute("Copyright"), "");
  }
  // Into another format: what it holds comes along, the encoding does not.
  Run({"render", "in.exr", "-o", "cross.tif"});
  OIIO::ImageSpec image_spec;
  ReadFile<std::uint8_t>(dir_ / "cross.tif", &image_spec);
  EXPECT_EQ(image_spec.get_string_attribute("ImageDescription"), "a picture");
  EXPECT_NE(image_spec.get_string_attribute("compression"), "piz");
  // What the render makes untrue is the writer's to say: 8 bits in, 16 out.
  Run({"render", "in.png", "-o", "deeper.tif", "--type", "uint16"});
  ReadFile<std::uint8_t>(dir_ / "deeper.tif", &image_spec);
  EXPECT_EQ(image_spec.get_int_attribute("oiio:BitsPerSample"), 16);
}

std::uint16_t HalfBits(float value) {
  std::uint16_t bits = 0;
  OIIO::convert_pixel_values(OIIO::TypeDesc::FLOAT, &value, OIIO::TypeDesc::HALF, &bits);
  return bits;
}

float FromHalfBits(std::uint16_t bits) {
  float value = 0;
  OIIO::convert_pixel_values(OIIO::TypeDesc::HALF, &bits, OIIO::TypeDesc::FLOAT, &value);
  return value;
}

TEST_F(Render, ExrChannelsBeyondRgbaPassThroughAsTheyAre) {
  // R, G, B, A in half, then depth in float, an object id in 32-bit integers
  // and a layer in half: each kept in its own type.
  const int width = 9, height = 5;
  OIIO::ImageSpec image_spec(width, height, 8, OIIO::TypeDesc::HALF);
  image_spec.channelnames = {"R", "G", "B", "A", "Z", "id", "diffuse.R", "diffuse.G"};
  image_spec.channelformats = {OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF,   OIIO::TypeDesc::HALF,
                               OIIO::TypeDesc::HALF,  OIIO::TypeDesc::FLOAT,  OIIO::TypeDesc::UINT32,
                               OIIO::TypeDesc::HALF,  OIIO::TypeDesc::HALF};
  image_spec.alpha_channel = 3;
  image_spec.z_channel = 4;
  const Image<float> colour = VariedImage<float>(width, height, 4, 12);
  struct Extra {
    float z;
    std::uint32_t id;
    std::uint16_t diffuse[2];  // half bits
  };
  std::vector<unsigned char> samples;
  std::vector<Extra> extras;
  for (int p = 0; p < width * height; ++p) {
    for (int c = 0; c < 4; ++c) {
      const std::uint16_t h = HalfBits(colour.samples[static_cast<std::size_t>(4 * p + c)]);
      const auto* bytes = reinterpret_cast<const unsigned char*>(&h);
      samples.insert(samples.end(), bytes, bytes + 2);
    }
    const Extra extra{1000.0f + 0.001f * static_cast<float>(p), 16777217u + static_cast<std::uint32_t>(p),
                      {static_cast<std::uint16_t>(0x3c00 + p), static_cast<std::uint16_t>(0x7c00)}};  // 1+, infinity
    const auto* bytes = reinterpret_cast<const unsigned char*>(&extra);
    samples.insert(samples.end(), bytes, bytes + 4 + 4 + 2 + 2);
    extras.push_back(extra);
  }
  auto output = OIIO::ImageOutput::create((dir_ / "in.exr").string());
  ASSERT_TRUE(output->open((dir_ / "in.exr").string(), image_spec) &&
              output->write_image(OIIO::TypeUnknown, samples.data()) && output->close());

  Run({"render", "in.exr", "-o", "out.exr", "--set", "Shadows Opacity=100"});
  auto input = OIIO::ImageInput::open((dir_ / "out.exr").string());
  ASSERT_TRUE(input);
  const OIIO::ImageSpec& got = DescriptionOf(*input);
  EXPECT_EQ(got.channelnames, image_spec.channelnames);
  ASSERT_EQ(got.pixel_bytes(true), 4u * 2 + sizeof(float) + sizeof(std::uint32_t) + 2u * 2);
  std::vector<unsigned char> written(got.image_bytes(true));
  ASSERT_TRUE(input->read_image(0, 0, 0, got.nchannels, OIIO::TypeUnknown, written.data()));
  for (std::size_t p = 0; p < extras.size(); ++p) {
    EXPECT_EQ(std::memcmp(written.data() + p * got.pixel_bytes(true) + 8, &extras[p], 12), 0) << "pixel " << p;
  }
  // The colour is the effect's, as without the extra channels.
  ToneParams params = DefaultToneParams();
  params.shadowsOpacity = 1.0;
  Image<float> stored = colour;  // as the file holds it, in half
  for (float& sample : stored.samples) sample = FromHalfBits(HalfBits(sample));
  const Image<float> expected = Premultiplied(EngineRender(Unpremultiplied(stored), params));
  Image<float> toned(width, height, 4);
  for (std::size_t p = 0; p < extras.size(); ++p) {
    for (std::size_t c = 0; c < 4; ++c) {
      std::uint16_t h = 0;
      std::memcpy(&h, written.data() + p * got.pixel_bytes(true) + 2 * c, 2);
      toned.samples[4 * p + c] = FromHalfBits(h);
    }
  }
  ExpectSamples(toned, expected, 1e-3);
}

TEST_F(Render, AlphaOptionReadsAndWritesExrAsStraightColour) {
  const Image<float> input = VariedImage<float>(9, 7, 4, 8);
  WriteFile(dir_ / "in.exr", input, OIIO::TypeDesc::HALF);
  Run({"render", "in.exr", "-o", "out.exr", "--alpha", "straight"});
  OIIO::ImageSpec image_spec;
  const auto stored = ReadFile<float>(dir_ / "in.exr");
  const auto output = ReadFile<float>(dir_ / "out.exr", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::HALF);  // half stays half
  ExpectSamples(output, EngineRender(stored, DefaultToneParams()), 1.0 / 1024);
}

TEST_F(Render, DepthOptionRendersAnEightBitFileAsFloat) {
  const Image<std::uint8_t> input = VariedImage<std::uint8_t>(16, 16, 4, 9);
  WriteFile(dir_ / "in.png", input, OIIO::TypeDesc::UINT8);
  Run({"render", "in.png", "-o", "out.png", "--depth", "32", "--set", "Gamma=2.2"});
  Image<float> as_float(input.width, input.height, 4);
  for (std::size_t i = 0; i < input.samples.size(); ++i) as_float.samples[i] = input.samples[i] / 255.0f;
  ToneParams params = DefaultToneParams();
  params.gamma = 2.2;
  const Image<float> rendered = EngineRender(as_float, params);
  Image<std::uint8_t> expected(input.width, input.height, 4);
  for (std::size_t i = 0; i < rendered.samples.size(); ++i) {
    expected.samples[i] = static_cast<std::uint8_t>(std::lround(std::clamp(rendered.samples[i], 0.0f, 1.0f) * 255));
  }
  OIIO::ImageSpec image_spec;
  const auto output = ReadFile<std::uint8_t>(dir_ / "out.png", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::UINT8);  // the file's type is kept
  ExpectSamples(output, expected, 1);
}

TEST_F(Render, TypeOptionChoosesTheOutputSampleType) {
  const Image<std::uint8_t> input = VariedImage<std::uint8_t>(8, 8, 4, 10);
  WriteFile(dir_ / "in.png", input, OIIO::TypeDesc::UINT8);
  Run({"render", "in.png", "-o", "out.tif", "--type", "float"});
  OIIO::ImageSpec image_spec;
  const auto output = ReadFile<float>(dir_ / "out.tif", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::FLOAT);
  const Image<std::uint8_t> expected = EngineRender(input, DefaultToneParams());
  for (std::size_t i = 0; i < output.samples.size(); ++i) {
    ASSERT_NEAR(output.samples[i], expected.samples[i] / 255.0f, 1e-6) << i;
  }
}

TEST_F(Render, ThreadCountDoesNotChangeThePixels) {
  const Image<std::uint16_t> input = VariedImage<std::uint16_t>(40, 33, 4, 11);
  WriteFile(dir_ / "in.png", input, OIIO::TypeDesc::UINT16);
  Run({"render", "in.png", "-o", "one.png", "--threads", "1", "--set", "Tones=Pentone"});
  Run({"--threads", "7", "render", "in.png", "-o", "seven.png", "--set", "Tones=Pentone"});
  EXPECT_EQ(ReadFile<std::uint16_t>(dir_ / "one.png").samples, ReadFile<std::uint16_t>(dir_ / "seven.png").samples);
}

TEST_F(Render, JpegOutputGetsTheColourAloneAndSaysSo) {
  const Image<std::uint8_t> input = VariedImage<std::uint8_t>(8, 8, 3, 12);
  WriteFile(dir_ / "in.png", input, OIIO::TypeDesc::UINT8);
  const ToolRun run = RunTool(dir_.path(), {"render", "in.png", "-o", "out.jpg"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err, HasSubstr("out.jpg holds no alpha"));
  OIIO::ImageSpec image_spec;
  ReadFile<std::uint8_t>(dir_ / "out.jpg", &image_spec);
  EXPECT_EQ(image_spec.nchannels, 3);
}

}  // namespace
}  // namespace qv::cli::test
