// quorvandile render reads what a file says it holds: a file cut short
// fails, however its reader takes it; colour under alpha is taken in the
// file's own convention and written back in it; colour and alpha are the
// channels so named, and every other channel passes through; of a file of
// several parts, the one holding colour is graded and the others carried.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/encode.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "cli_support.h"
#include "core/errors.h"
#include "image_description.h"

namespace qv::cli::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class Reading : public ::testing::Test {
 protected:
  TempDir dir_;
};

// Whether this machine's OpenImageIO writes the formats of these extensions;
// a test of a format it lacks is skipped, saying so.
std::string MissingWriters(const std::vector<std::string>& extensions) {
  std::vector<std::string> missing;
  for (const std::string& extension : extensions) {
    if (!OIIO::ImageOutput::create("probe." + extension)) missing.push_back(extension);
  }
  OIIO::geterror();
  return Joined(missing);
}

#define QV_SKIP_WITHOUT_WRITERS(...)                                                                   \
  if (const std::string missing = MissingWriters({__VA_ARGS__}); !missing.empty()) {                  \
    GTEST_SKIP() << "this machine's OpenImageIO writes no " << missing;                              \
  }

// Runs oiiotool with `args` in `directory`: the pipeline's own way of making
// a file. Fails the test, saying so, where oiiotool is not installed.
void Oiiotool(const fs::path& directory, const std::string& args) {
  ASSERT_EQ(std::system("command -v oiiotool > /dev/null"), 0)
      << "oiiotool is not on the PATH: install openimageio-tools";
  const std::string command = "cd '" + directory.string() + "' && oiiotool " + args;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Runs ImageMagick's convert with `args` in `directory`, as users make
// files from their photographs. Fails the test, saying so, where it is not
// installed.
void Convert(const fs::path& directory, const std::string& args) {
  ASSERT_EQ(std::system("command -v convert > /dev/null"), 0) << "convert is not on the PATH: install imagemagick";
  const std::string command = "cd '" + directory.string() + "' && convert " + args;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The look that changes nothing: every pixel as it came in.
const std::vector<std::string> kNoOpLook = {"--set", "Blend with Original=100", "--set", "Shadows Opacity=100"};

std::vector<std::string> Args(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// A file's samples as stored, in its own sample type, and its description
// as read with straight colour asked for.
struct Stored {
  OIIO::ImageSpec image_spec;
  std::vector<unsigned char> bytes;
};

Stored ReadStored(const fs::path& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto input = OIIO::ImageInput::open(path.string(), &config);
  if (!input) throw std::runtime_error("cannot read " + path.string() + ": " + OIIO::geterror());
  Stored stored{DescriptionOf(*input), {}};
  stored.bytes.resize(stored.image_spec.image_bytes(true));
  if (!input->read_image(0, 0, 0, stored.image_spec.nchannels, OIIO::TypeUnknown, stored.bytes.data())) {
    throw std::runtime_error("cannot read " + path.string() + ": " + input->geterror());
  }
  return stored;
}

// Whether a file read as above holds associated colour: its reader marks straight colour.
bool Associated(const Stored& stored) { return stored.image_spec.get_int_attribute("oiio:UnassociatedAlpha") == 0; }

// Writes `samples` (RGBA in `type`) as they are, marked as associated or straight colour.
template <class T>
void WriteMarked(const fs::path& path, const Image<T>& image, OIIO::TypeDesc type, bool associated) {
  auto output = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(output);
  OIIO::ImageSpec image_spec(image.width, image.height, image.channels, type);
  if (!associated) image_spec.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(output->open(path.string(), image_spec) &&
              output->write_image(OIIO::BaseTypeFromC<T>::value, image.samples.data()) && output->close())
      << output->geterror();
}

// 8-bit straight colour as associated colour, rounded.
Image<std::uint8_t> Premultiplied8(Image<std::uint8_t> image) {
  for (std::size_t i = 0; i < image.samples.size(); i += 4) {
    for (std::size_t c = 0; c < 3; ++c) {
      const double associated = image.samples[i + c] * image.samples[i + 3] / 255.0;
      image.samples[i + c] = static_cast<std::uint8_t>(std::lround(associated));
    }
  }
  return image;
}

// A lossless WebP file of straight RGBA, as libwebp stores it.
void WriteWebp(const fs::path& path, const Image<std::uint8_t>& rgba) {
  std::uint8_t* encoded = nullptr;
  const std::size_t size =
      WebPEncodeLosslessRGBA(rgba.samples.data(), rgba.width, rgba.height, 4 * rgba.width, &encoded);
  ASSERT_GT(size, 0u);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(encoded), static_cast<std::streamsize>(size));
  WebPFree(encoded);
}

Image<std::uint8_t> ReadWebp(const fs::path& path) {
  const std::string bytes = Contents(path);
  int width = 0, height = 0;
  const std::unique_ptr<std::uint8_t, decltype(&WebPFree)> decoded(
      WebPDecodeRGBA(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &width, &height), &WebPFree);
  Image<std::uint8_t> image(width, height, 4);
  if (decoded) std::copy(decoded.get(), decoded.get() + image.samples.size(), image.samples.begin());
  return image;
}

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
  QV_SKIP_WITHOUT_WRITERS("dpx", "tif")
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

TEST_F(Reading, TheNoOpLookKeepsEveryAlphaConventionAsStored) {
  QV_SKIP_WITHOUT_WRITERS("tif", "png", "tga", "exr")
  const Image<std::uint8_t> straight = VariedImage<std::uint8_t>(23, 11, 4, 21);
  WriteMarked(dir_ / "associated.tif", Premultiplied8(straight), OIIO::TypeDesc::UINT8, true);
  WriteMarked(dir_ / "straight.tif", straight, OIIO::TypeDesc::UINT8, false);
  WriteMarked(dir_ / "straight.png", straight, OIIO::TypeDesc::UINT8, false);
  WriteMarked(dir_ / "straight.tga", straight, OIIO::TypeDesc::UINT8, false);
  WriteMarked(dir_ / "associated.exr", Premultiplied(VariedImage<float>(23, 11, 4, 22)), OIIO::TypeDesc::HALF, true);
  // As oiiotool writes a TIFF with alpha: associated colour, ExtraSamples 1.
  Oiiotool(dir_.path(), "--pattern noise 23x11 4 --premult -d uint8 -o associated-by-oiiotool.tif");
  for (const char* name :
       {"associated.tif", "associated-by-oiiotool.tif", "straight.tif", "straight.png", "straight.tga",
        "associated.exr"}) {
    SCOPED_TRACE(name);
    const std::string out = std::string("out.") + fs::path(name).extension().string().substr(1);
    const ToolRun run = RunTool(dir_.path(), Args({"render", name, "-o", out, "-q"}, kNoOpLook));
    ASSERT_EQ(run.status, 0) << run.err;
    const Stored in = ReadStored(dir_ / name), got = ReadStored(dir_ / out);
    EXPECT_EQ(Associated(got), Associated(in));
    EXPECT_EQ(Associated(in), std::string(name).rfind("associated", 0) == 0);  // the file was made so
    EXPECT_EQ(got.image_spec.format, in.image_spec.format);
    EXPECT_TRUE(got.bytes == in.bytes);
  }
  // --alpha still says how every file is read and written, when given.
  ASSERT_EQ(RunTool(dir_.path(), Args({"render", "associated.tif", "-o", "out.tif", "--alpha", "straight"}, kNoOpLook))
                .status,
            0);
  EXPECT_FALSE(Associated(ReadStored(dir_ / "out.tif")));
}

TEST_F(Reading, AnAssociatedTiffIsGradedAsStraightColourAndWrittenBackAssociated) {
  QV_SKIP_WITHOUT_WRITERS("tif")
  const Image<float> associated = Premultiplied(VariedImage<float>(19, 7, 4, 23));
  WriteMarked(dir_ / "in.tif", associated, OIIO::TypeDesc::FLOAT, true);
  const ToolRun run = RunTool(dir_.path(), {"render", "in.tif", "-o", "out.tif", "--set", "Shadows Opacity=100"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Associated(ReadStored(dir_ / "out.tif")));
  ToneParams params = DefaultToneParams();
  params.shadowsOpacity = 1.0;
  const Image<float> expected = Premultiplied(EngineRender(Unpremultiplied(associated), params));
  const Image<float> got = ReadFile<float>(dir_ / "out.tif");
  ASSERT_EQ(got.samples.size(), expected.samples.size());
  for (std::size_t i = 0; i < got.samples.size(); ++i) EXPECT_NEAR(got.samples[i], expected.samples[i], 1e-6) << i;
}

TEST_F(Reading, WebpColourIsReadAsStoredAndWrittenStraight) {
  QV_SKIP_WITHOUT_WRITERS("webp", "png")
  const Image<std::uint8_t> straight = VariedImage<std::uint8_t>(17, 9, 4, 24);
  WriteWebp(dir_ / "in.webp", straight);
  ASSERT_EQ(ReadWebp(dir_ / "in.webp").samples, straight.samples);  // lossless, as libwebp reads it
  ASSERT_EQ(RunTool(dir_.path(), Args({"render", "in.webp", "-o", "same.png", "-q"}, kNoOpLook)).status, 0);
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "same.png").samples, straight.samples);
  ASSERT_EQ(RunTool(dir_.path(), {"render", "in.webp", "-o", "toned.png", "-q"}).status, 0);
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "toned.png").samples, EngineRender(straight, DefaultToneParams()).samples);
  // Into WebP again, which this machine's writer always encodes lossily:
  // blocks of flat colour, under alpha from 64 up. What the encoding loses
  // at the blocks' edges averages a few steps, without bias; colour divided
  // by alpha once too often comes out brighter on average by tens of steps.
  Image<std::uint8_t> blocks(32, 16, 4);
  for (int y = 0; y < blocks.height; ++y) {
    for (int x = 0; x < blocks.width; ++x) {
      const std::size_t block = static_cast<std::size_t>(4 * (y / 8) + x / 8) * 4;
      for (std::size_t c = 0; c < 4; ++c) blocks.Pixel(x, y)[c] = straight.samples[block + c];
      blocks.Pixel(x, y)[3] = static_cast<std::uint8_t>(64 + straight.samples[block + 3] * 191 / 255);
    }
  }
  WriteWebp(dir_ / "blocks.webp", blocks);
  ASSERT_EQ(RunTool(dir_.path(), Args({"render", "blocks.webp", "-o", "same.webp", "-q"}, kNoOpLook)).status, 0);
  const Image<std::uint8_t> back = ReadWebp(dir_ / "same.webp");
  ASSERT_EQ(back.samples.size(), blocks.samples.size());
  double bias = 0, spread = 0;
  for (std::size_t i = 0; i < back.samples.size(); ++i) {
    bias += back.samples[i] - blocks.samples[i];
    spread += std::fabs(back.samples[i] - blocks.samples[i]);
  }
  EXPECT_LT(std::fabs(bias) / static_cast<double>(back.samples.size()), 1.0);
  EXPECT_LT(spread / static_cast<double>(back.samples.size()), 5.0);
}

// A file of `names` in `type` (one sample type for all, or one per channel),
// of samples counting up from `seed` (as the type holds them), as written.
void WriteChannels(const fs::path& path, const std::vector<std::string>& names, std::vector<OIIO::TypeDesc> types,
                   int alpha_channel = -1, int seed = 0) {
  auto output = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(output);
  OIIO::ImageSpec image_spec(5, 3, static_cast<int>(names.size()), types.front());
  image_spec.channelnames = names;
  if (types.size() > 1) image_spec.channelformats = types;
  image_spec.alpha_channel = alpha_channel;
  image_spec.attribute("oiio:UnassociatedAlpha", 1);
  std::vector<unsigned char> samples(image_spec.image_bytes(true));
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<unsigned char>(seed + 37 * i % 251);
  if (types.front() == OIIO::TypeDesc::HALF) {  // finite halves: no exponent of all ones
    for (std::size_t i = 1; i < samples.size(); i += 2) samples[i] &= 0x3f;
  }
  ASSERT_TRUE(output->open(path.string(), image_spec) && output->write_image(OIIO::TypeUnknown, samples.data()) &&
              output->close())
      << output->geterror();
}

TEST_F(Reading, ColourAndAlphaAreFoundByNameAndEveryOtherChannelPassesThrough) {
  QV_SKIP_WITHOUT_WRITERS("exr", "tif")
  using OIIO::TypeDesc;
  WriteChannels(dir_ / "depth.exr", {"R", "G", "B", "Z"},
                {TypeDesc::HALF, TypeDesc::HALF, TypeDesc::HALF, TypeDesc::FLOAT});
  WriteChannels(dir_ / "layer.exr", {"beauty.R", "beauty.G", "beauty.B", "beauty.A"}, {TypeDesc::HALF}, 3);
  WriteChannels(dir_ / "matte.tif", {"R", "G", "B", "mask"}, {TypeDesc::UINT8});  // a fourth sample, not alpha
  for (const char* name : {"depth.exr", "layer.exr", "matte.tif"}) {
    SCOPED_TRACE(name);
    const std::string out = std::string("out.") + fs::path(name).extension().string().substr(1);
    const ToolRun run = RunTool(dir_.path(), Args({"render", name, "-o", out}, kNoOpLook));
    ASSERT_EQ(run.status, 0) << run.err;
    const Stored in = ReadStored(dir_ / name), got = ReadStored(dir_ / out);
    EXPECT_EQ(got.image_spec.channelnames, in.image_spec.channelnames);
    EXPECT_EQ(got.image_spec.alpha_channel, in.image_spec.alpha_channel);
    EXPECT_TRUE(got.bytes == in.bytes);
  }
  // Graded, the colour is the effect's from RGB with alpha 1 (the default
  // look makes some of it transparent, which adds alpha): the fourth channel
  // is not alpha, and comes out after it as it went in.
  ASSERT_EQ(RunTool(dir_.path(), {"render", "matte.tif", "-o", "toned.tif", "-q"}).status, 0);
  const Image<std::uint8_t> in = ReadFile<std::uint8_t>(dir_ / "matte.tif");
  const Image<std::uint8_t> got = ReadFile<std::uint8_t>(dir_ / "toned.tif");
  Image<std::uint8_t> colour(in.width, in.height, 3);
  const std::size_t pixels = colour.samples.size() / 3;
  for (std::size_t p = 0; p < pixels; ++p) {
    for (std::size_t c = 0; c < 3; ++c) colour.samples[3 * p + c] = in.samples[4 * p + c];
  }
  const Image<std::uint8_t> toned = EngineRender(colour, DefaultToneParams());
  ASSERT_EQ(got.channels, 5);
  for (std::size_t p = 0; p < pixels; ++p) {
    for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(got.samples[5 * p + c], toned.samples[4 * p + c]) << p;
    EXPECT_EQ(got.samples[5 * p + 4], in.samples[4 * p + 3]) << p;
  }
}

TEST_F(Reading, ChannelsNoFormatHoldsOrNoColourAreRefusedInOneLine) {
  QV_SKIP_WITHOUT_WRITERS("exr", "tif", "png")
  using OIIO::TypeDesc;
  WriteChannels(dir_ / "matte.exr", {"A"}, {TypeDesc::HALF}, 0);
  WriteChannels(dir_ / "motion.exr", {"u", "v"}, {TypeDesc::HALF});
  WriteChannels(dir_ / "depth.exr", {"R", "G", "B", "Z"}, {TypeDesc::FLOAT});
  WriteChannels(dir_ / "mask.tif", {"R", "G", "B", "mask"}, {TypeDesc::UINT8});
  const struct {
    const char* in;
    const char* out;
    const char* says;
  } refusals[] = {
      {"matte.exr", "out.exr", "cannot render matte.exr: unsupported layout of 1 channels (A): no colour"},
      {"motion.exr", "out.exr", "cannot render motion.exr: unsupported layout of 2 channels (u, v): no colour"},
      // OpenEXR's names have nowhere to go in a TIFF; nor any fourth channel in a PNG.
      {"depth.exr", "out.tif", "cannot write out.tif: the input's channels beyond colour and alpha (Z) need a format"},
      {"mask.tif", "out.png", "cannot write out.png: the input's channels beyond colour and alpha (channel3) need"},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.in);
    const ToolRun run = RunTool(dir_.path(), {"render", refusal.in, "-o", refusal.out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr(refusal.says));
    EXPECT_FALSE(fs::exists(dir_ / refusal.out));
  }
}

// A file of several parts (pages), each of `names` in `type`, samples
// counting up from a seed of its own.
void WriteParts(const fs::path& path, const std::vector<std::pair<std::vector<std::string>, OIIO::TypeDesc>>& parts,
                const std::vector<std::string>& part_names = {}) {
  auto output = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(output);
  std::vector<OIIO::ImageSpec> specs;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    OIIO::ImageSpec image_spec(5, 3, static_cast<int>(parts[i].first.size()), parts[i].second);
    image_spec.channelnames = parts[i].first;
    image_spec.alpha_channel = static_cast<int>(std::find(parts[i].first.begin(), parts[i].first.end(), "A") -
                                                parts[i].first.begin());
    if (image_spec.alpha_channel == image_spec.nchannels) image_spec.alpha_channel = -1;
    image_spec.attribute("oiio:UnassociatedAlpha", 1);
    if (!part_names.empty()) image_spec.attribute("name", part_names[i]);
    specs.push_back(image_spec);
  }
  ASSERT_TRUE(output->open(path.string(), static_cast<int>(specs.size()), specs.data())) << output->geterror();
  for (std::size_t i = 0; i < specs.size(); ++i) {
    if (i > 0) {
      ASSERT_TRUE(output->open(path.string(), specs[i], OIIO::ImageOutput::AppendSubimage));
    }
    std::vector<unsigned char> samples(specs[i].image_bytes(true));
    for (std::size_t s = 0; s < samples.size(); ++s) samples[s] = static_cast<unsigned char>((11 * i + 37 * s) % 251);
    if (specs[i].format == OIIO::TypeDesc::HALF) {  // finite halves
      for (std::size_t s = 1; s < samples.size(); s += 2) samples[s] &= 0x3f;
    }
    ASSERT_TRUE(output->write_image(OIIO::TypeUnknown, samples.data())) << output->geterror();
  }
  ASSERT_TRUE(output->close());
}

// Every part of a file as stored, read as ReadStored reads one.
std::vector<Stored> ReadParts(const fs::path& path) {
  std::vector<Stored> parts;
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto input = OIIO::ImageInput::open(path.string(), &config);
  if (!input) throw std::runtime_error("cannot read " + path.string() + ": " + OIIO::geterror());
  for (int i = 0; input->seek_subimage(i, 0); ++i) {
    Stored part{DescriptionOf(*input), {}};
    part.bytes.resize(part.image_spec.image_bytes(true));
    if (!input->read_image(i, 0, 0, part.image_spec.nchannels, OIIO::TypeUnknown, part.bytes.data())) {
      throw std::runtime_error("cannot read " + path.string() + ": " + input->geterror());
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

TEST_F(Reading, ThePartHoldingColourIsGradedAndEveryOtherCarried) {
  QV_SKIP_WITHOUT_WRITERS("exr", "tif")
  using OIIO::TypeDesc;
  WriteParts(dir_ / "parts.exr", {{{"Z"}, TypeDesc::FLOAT}, {{"R", "G", "B", "A"}, TypeDesc::HALF}},
             {"depth", "beauty"});
  WriteParts(dir_ / "pages.tif", {{{"R", "G", "B"}, TypeDesc::UINT8}, {{"R", "G", "B", "A"}, TypeDesc::UINT8}});
  for (const char* name : {"parts.exr", "pages.tif"}) {
    SCOPED_TRACE(name);
    const std::string out = std::string("out.") + fs::path(name).extension().string().substr(1);
    const ToolRun run = RunTool(dir_.path(), Args({"render", name, "-o", out}, kNoOpLook));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Stored> in = ReadParts(dir_ / name), got = ReadParts(dir_ / out);
    ASSERT_EQ(got.size(), 2u);
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].image_spec.channelnames, in[i].image_spec.channelnames) << i;
      EXPECT_TRUE(got[i].bytes == in[i].bytes) << i;
    }
  }
  // Graded, the depth part stays as it was and the beauty part is toned; the
  // run says which part it graded.
  const ToolRun run = RunTool(dir_.path(), {"render", "parts.exr", "-o", "toned.exr", "--set", "Shadows Opacity=100"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("parts.exr: grading beauty of its 2 parts; the others pass through"));
  const std::vector<Stored> in = ReadParts(dir_ / "parts.exr"), toned = ReadParts(dir_ / "toned.exr");
  ASSERT_EQ(toned.size(), 2u);
  EXPECT_TRUE(toned[0].bytes == in[0].bytes);
  EXPECT_FALSE(toned[1].bytes == in[1].bytes);
  EXPECT_EQ(toned[1].image_spec.get_string_attribute("name"), "beauty");
}

TEST_F(Reading, PartsAFormatCannotHoldAreRefusedUnlessOneIsChosen) {
  QV_SKIP_WITHOUT_WRITERS("exr", "tif", "png")
  using OIIO::TypeDesc;
  WriteParts(dir_ / "parts.exr", {{{"Z"}, TypeDesc::FLOAT}, {{"R", "G", "B", "A"}, TypeDesc::HALF}},
             {"depth", "beauty"});
  WriteParts(dir_ / "pages.tif", {{{"R", "G", "B"}, TypeDesc::UINT8}, {{"R", "G", "B", "A"}, TypeDesc::UINT8}});
  const struct {
    std::vector<std::string> args;
    const char* says;
  } refusals[] = {
      {{"pages.tif", "-o", "out.png"},
       "cannot write out.png: the input's other parts (part 1) need a format that holds several"},
      {{"parts.exr", "-o", "out.png"}, "cannot write out.png: the input's other parts (depth) need a format"},
      {{"parts.exr", "--part", "depth", "-o", "out.exr"}, "cannot render parts.exr: unsupported layout"},
      {{"parts.exr", "--part", "2", "-o", "out.exr"},
       "cannot render parts.exr: no part \"2\"; its parts are depth, beauty"},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.says);
    const ToolRun run = RunTool(dir_.path(), Args({"render"}, refusal.args));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr(refusal.says));
    EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"pages.tif", "parts.exr"}));
  }
  // Chosen, one page goes alone where only one fits, as it was.
  const ToolRun chosen =
      RunTool(dir_.path(), Args({"render", "pages.tif", "--part", "1", "-o", "page.png", "-q"}, kNoOpLook));
  ASSERT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_TRUE(ReadStored(dir_ / "page.png").bytes == ReadParts(dir_ / "pages.tif")[1].bytes);
}

// Files as users' tools write them: ImageMagick's CMYK, planar and
// multi-page TIFF files, a camera's turned JPEG, an unnamed extra sample.

TEST_F(Reading, ACmykTiffComesOutAsTheRgbItsReaderGives) {
  QV_SKIP_WITHOUT_WRITERS("tif")
  Convert(dir_.path(), "-size 40x30 gradient:orange-navy -depth 8 -colorspace CMYK cmyk.tif");
  const ToolRun run = RunTool(dir_.path(), Args({"render", "cmyk.tif", "-o", "out.tif", "-q"}, kNoOpLook));
  ASSERT_EQ(run.status, 0) << run.err;
  const Stored in = ReadStored(dir_ / "cmyk.tif"), got = ReadStored(dir_ / "out.tif");
  ASSERT_EQ(in.image_spec.get_string_attribute("tiff:ColorSpace"), "CMYK");  // as made
  EXPECT_EQ(got.image_spec.get_int_attribute("tiff:PhotometricInterpretation"), 2);  // RGB, not inks
  EXPECT_EQ(got.image_spec.channelnames, (std::vector<std::string>{"R", "G", "B"}));
  EXPECT_TRUE(got.bytes == in.bytes);
}

TEST_F(Reading, PagesOfDifferentSizesGoToOpenExrInOneDisplayWindow) {
  QV_SKIP_WITHOUT_WRITERS("tif", "exr")
  Convert(dir_.path(), "-size 40x30 gradient:red-blue -depth 8 \\( -size 24x50 gradient:green-yellow \\) pages.tif");
  for (const std::vector<std::string>& part : {std::vector<std::string>{}, {"--part", "1"}}) {
    SCOPED_TRACE(Joined(part));
    const ToolRun run = RunTool(dir_.path(), Args({"render", "pages.tif", "-o", "out.exr", "-q"}, part));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Stored> got = ReadParts(dir_ / "out.exr");
    ASSERT_EQ(got.size(), 2u);
    const int sizes[2][2] = {{40, 30}, {24, 50}};
    for (std::size_t i = 0; i < got.size(); ++i) {
      const OIIO::ImageSpec& page = got[i].image_spec;
      EXPECT_EQ(page.width, sizes[i][0]) << i;
      EXPECT_EQ(page.height, sizes[i][1]) << i;
      EXPECT_EQ(std::vector<int>({page.full_x, page.full_y, page.full_width, page.full_height}),
                std::vector<int>({0, 0, 40, 50})) << i;
    }
  }
}

TEST_F(Reading, APlanarTiffOfCompressedStripsIsReadWhole) {
  QV_SKIP_WITHOUT_WRITERS("tif", "png")
  for (const char* compression : {"zip", "lzw"}) {
    SCOPED_TRACE(compression);
    const std::string name = std::string("planar-") + compression + ".tif";
    Convert(dir_.path(), "-size 37x150 gradient:red-blue -depth 8 -interlace Plane -compress " +
                             std::string(compression) + " " + name);
    const Stored in = ReadStored(dir_ / name);
    ASSERT_EQ(in.image_spec.get_int_attribute("tiff:PlanarConfiguration"), 2);  // as made: one strip a plane
    ASSERT_GT(in.image_spec.get_int_attribute("tiff:RowsPerStrip"), 64);
    const ToolRun run = RunTool(dir_.path(), Args({"render", name, "-o", "out.png", "-q"}, kNoOpLook));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadStored(dir_ / "out.png").bytes == in.bytes);
  }
}

TEST_F(Reading, AnOrientationIsKeptWhereTheFormatCanAndElseDroppedWithANote) {
  QV_SKIP_WITHOUT_WRITERS("jpg", "dpx", "png", "tif")
  // As a camera writes a picture taken upright: stored sideways, Exif orientation 6.
  Oiiotool(dir_.path(), "--pattern fill:top=0.9,0.6,0.2:bottom=0.1,0.2,0.5 45x30 3 -d uint8 --orientation 6 "
                        "-o turned.jpg");
  const std::string note = "the input's orientation (Exif 6) cannot be kept in this format; written as stored";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-o", "out.dpx"}, {"-o", "out.dpx", "--strip-metadata"}, {"-o", "out.png"}}) {
    SCOPED_TRACE(Joined(args));
    const ToolRun run = RunTool(dir_.path(), Args({"render", "turned.jpg"}, args));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr(args[1] + ": " + note));
    const Stored got = ReadStored(dir_ / args[1]);
    EXPECT_EQ(got.image_spec.width, 45);
    EXPECT_EQ(got.image_spec.height, 30);
    EXPECT_EQ(got.image_spec.get_int_attribute("Orientation", 1), 1);
  }
  EXPECT_THAT(RunTool(dir_.path(), {"render", "turned.jpg", "-o", "quiet.png", "-q"}).err, Not(HasSubstr(note)));
  // Kept where the format holds it, without a word.
  const ToolRun kept = RunTool(dir_.path(), {"render", "turned.jpg", "-o", "out.tif"});
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_THAT(kept.err, Not(HasSubstr("orientation")));
  EXPECT_EQ(ReadStored(dir_ / "out.tif").image_spec.get_int_attribute("Orientation", 1), 6);
}

TEST_F(Reading, AnExtraSampleOfATypeTheOutputLacksIsRefusedNamingIt) {
  QV_SKIP_WITHOUT_WRITERS("tif", "exr")
  Convert(dir_.path(), "-size 30x20 gradient:red-blue -depth 8 -alpha set -define tiff:alpha=unspecified extra.tif");
  ASSERT_EQ(ReadStored(dir_ / "extra.tif").image_spec.channelnames,
            (std::vector<std::string>{"R", "G", "B", "channel3"}));  // as made: an unspecified fourth sample
  for (const std::vector<std::string>& type : {std::vector<std::string>{}, {"--type", "half"}}) {
    SCOPED_TRACE(Joined(type));
    const ToolRun run = RunTool(dir_.path(), Args({"render", "extra.tif", "-o", "out.exr"}, type));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr("cannot write out.exr: the input's channel channel3 holds uint8 samples, which "
                                   "openexr files do not hold as they are"));
    EXPECT_EQ(dir_.Files(), std::vector<std::string>{"extra.tif"});
  }
  // A TIFF holds it as it is.
  ASSERT_EQ(RunTool(dir_.path(), {"render", "extra.tif", "-o", "out.tif", "-q"}).status, 0);
  EXPECT_EQ(ReadStored(dir_ / "out.tif").image_spec.nchannels, 5);
}

}  // namespace
}  // namespace qv::cli::test
