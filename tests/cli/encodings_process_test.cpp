// quorvandile render run as a process on files that say how they are
// stored (their bits per sample, their encoding, their colour profile): what
// the output keeps of it, and what it refuses to pretend.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <zlib.h>

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
  ASSERT_TRUE(output->open(path.string(), image_spec) &&
              output->write_image(OIIO::BaseTypeFromC<T>::value, image.samples.data()) && output->close())
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

// The quantisation tables (DQT segments) of a JPEG file, in order.
std::vector<std::string> QuantisationTables(const std::filesystem::path& path) {
  const std::string bytes = Contents(path);
  std::vector<std::string> tables;
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t i = 2; i + 4 <= bytes.size() && at(i) == 0xFF && at(i + 1) != 0xDA;) {
    const std::size_t length = at(i + 2) << 8 | at(i + 3);
    if (at(i + 1) == 0xDB) tables.push_back(bytes.substr(i + 4, length - 2));
    i += 2 + length;
  }
  return tables;
}

TEST_F(Encodings, AJpegKeepsItsQualityAndTheNoOpLookStaysWithinTheCodecsLoss) {
  REQUIRE_WRITERS("jpg");
  const Image<std::uint8_t> picture = VariedImage<std::uint8_t>(48, 40, 3, 5);
  for (int quality : {30, 60, 90}) {
    SCOPED_TRACE("quality " + std::to_string(quality));
    WriteDescribed(dir_ / "in.jpg", picture, OIIO::TypeDesc::UINT8,
                   [&](OIIO::ImageSpec& s) { s.attribute("CompressionQuality", quality); });
    const std::vector<std::string> tables = QuantisationTables(dir_ / "in.jpg");
    ASSERT_FALSE(tables.empty());
    const ToolRun run = RenderNoOp("in.jpg", "out.jpg");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(QuantisationTables(dir_ / "out.jpg"), tables);
    // The codec's own loss: the picture decoded and coded again at the same
    // quality, as the no-op look hands it to the writer.
    WriteDescribed(dir_ / "again.jpg", ReadFile<std::uint8_t>(dir_ / "in.jpg"), OIIO::TypeDesc::UINT8,
                   [&](OIIO::ImageSpec& s) { s.attribute("CompressionQuality", quality); });
    EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "out.jpg").samples, ReadFile<std::uint8_t>(dir_ / "again.jpg").samples);
  }
}

TEST_F(Encodings, TiledFilesStayTiledAndTheNoOpLookReturnsThemUnchanged) {
  REQUIRE_WRITERS("exr", "tif");
  struct Case {
    const char* name;
    OIIO::TypeDesc type;
  };
  for (const Case& c : {Case{"tiled.exr", OIIO::TypeDesc::HALF}, Case{"tiled.tif", OIIO::TypeDesc::UINT8}}) {
    SCOPED_TRACE(c.name);
    WriteDescribed(dir_ / c.name, VariedImage<float>(40, 24, 3, 11), c.type, [](OIIO::ImageSpec& s) {
      s.tile_width = 16;
      s.tile_height = 16;
    });
    const std::string out = std::string("out-") + c.name;
    const ToolRun run = RenderNoOp(c.name, out);
    ASSERT_EQ(run.status, 0) << run.err;
    OIIO::ImageSpec input_spec, output_spec;
    const Image<float> input = ReadFile<float>(dir_ / c.name, &input_spec);
    const Image<float> output = ReadFile<float>(dir_ / out, &output_spec);
    ASSERT_EQ(input_spec.tile_width, 16);  // the test's own file is what it says
    EXPECT_EQ(output_spec.tile_width, 16);
    EXPECT_EQ(output_spec.tile_height, 16);
    EXPECT_EQ(output_spec.format, c.type);
    EXPECT_EQ(output.samples, input.samples);
  }
}

// Channels beyond colour are written a band at a time: in a tiled file, a
// row of tiles at a time (the last one short), each channel as it came.
TEST_F(Encodings, ATiledFileWithChannelsBeyondColourStaysTiledAndKeepsThem) {
  REQUIRE_WRITERS("exr");
  Image<float> input = VariedImage<float>(40, 37, 5, 17);
  for (std::size_t p = 0; p < input.samples.size(); p += 5) input.samples[p + 3] = 1.0f;  // opaque
  WriteDescribed(dir_ / "in.exr", input, OIIO::TypeDesc::FLOAT, [](OIIO::ImageSpec& s) {
    s.channelnames = {"R", "G", "B", "A", "Z"};
    s.alpha_channel = 3;
    s.tile_width = 16;
    s.tile_height = 16;
  });
  const ToolRun run = RenderNoOp("in.exr", "out.exr");
  ASSERT_EQ(run.status, 0) << run.err;
  OIIO::ImageSpec output_spec;
  const Image<float> output = ReadFile<float>(dir_ / "out.exr", &output_spec);
  EXPECT_EQ(output_spec.tile_width, 16);
  EXPECT_EQ(output_spec.tile_height, 16);
  EXPECT_EQ(output_spec.channelnames, (std::vector<std::string>{"R", "G", "B", "A", "Z"}));
  EXPECT_EQ(output.samples, ReadFile<float>(dir_ / "in.exr").samples);
}

// The tiles past the picture's right and bottom edges are written whole,
// their padding the same every run: a file never carries stray memory.
TEST_F(Encodings, ATiledTiffIsTheSameBytesEveryRun) {
  REQUIRE_WRITERS("tif");
  WriteDescribed(dir_ / "in.tif", VariedImage<float>(451, 70, 3, 12), OIIO::TypeDesc::UINT8, [](OIIO::ImageSpec& s) {
    s.tile_width = 64;
    s.tile_height = 64;
  });
  for (const char* out : {"a.tif", "b.tif", "c.tif"}) {
    const ToolRun run = Render("in.tif", out);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const std::string first = Contents(dir_ / "a.tif");
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(Contents(dir_ / "b.tif") == first);
  EXPECT_TRUE(Contents(dir_ / "c.tif") == first);
}

// A DPX header names its file: the one written, not the hidden partial file
// it was written as, whose name differs from run to run.
TEST_F(Encodings, ADpxHeaderNamesTheFileItIs) {
  REQUIRE_WRITERS("dpx", "png");
  WriteFile(dir_ / "in.png", VariedImage<std::uint8_t>(9, 5, 3, 13), OIIO::TypeDesc::UINT8);
  const ToolRun run = Render("in.png", "shot.dpx", {"--type", "uint10"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The generic file header's file name: 100 bytes from byte 36, ended by a NUL.
  const std::string header = Contents(dir_ / "shot.dpx").substr(0, 136);
  ASSERT_EQ(header.size(), 136u);
  EXPECT_EQ(std::string(header.c_str() + 36), "shot.dpx");
}

TEST_F(Encodings, ATexturesFirstLevelStaysTiledAsOneLevelWithoutTheTexturesDigest) {
  REQUIRE_WRITERS("exr");
  ASSERT_EQ(std::system("command -v oiiotool > /dev/null"), 0) << "oiiotool, which makes the texture, is not installed";
  const std::string make = "cd '" + dir_.path().string() +
                           "' && oiiotool --pattern fill:top=0.1,0.2,0.3:bottom=0.9,0.7,0.5 40x24 3 -d half"
                           " -otex in.exr";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  const ToolRun run = RenderNoOp("in.exr", "out.exr");
  ASSERT_EQ(run.status, 0) << run.err;
  OIIO::ImageSpec input_spec, output_spec;
  const Image<float> input = ReadFile<float>(dir_ / "in.exr", &input_spec);
  const Image<float> output = ReadFile<float>(dir_ / "out.exr", &output_spec);
  ASSERT_TRUE(input_spec.find_attribute("oiio:SHA-1"));  // the test's own file is a texture
  EXPECT_EQ(output_spec.tile_width, input_spec.tile_width);
  EXPECT_EQ(output.samples, input.samples);
  EXPECT_FALSE(output_spec.find_attribute("oiio:SHA-1"));
  EXPECT_FALSE(output_spec.find_attribute("textureformat"));
  auto file = OIIO::ImageInput::open((dir_ / "out.exr").string());
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->seek_subimage(0, 1)) << "the output claims MIP levels the render did not make";
}

TEST_F(Encodings, ALosslessWebpStaysLosslessAndTheNoOpLookReturnsItUnchanged) {
  REQUIRE_WRITERS("webp");
  // RGB: OpenImageIO writes no grey WebP, and reads an RGBA one premultiplied.
  WriteDescribed(dir_ / "in.webp", VariedImage<std::uint8_t>(45, 31, 3, 13), OIIO::TypeDesc::UINT8,
                 [](OIIO::ImageSpec& s) { s.attribute("compression", "lossless"); });
  ASSERT_EQ(Contents(dir_ / "in.webp").substr(12, 4), "VP8L");  // the test's own file is coded losslessly
  const ToolRun run = RenderNoOp("in.webp", "out.webp");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Contents(dir_ / "out.webp").substr(12, 4), "VP8L");
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "out.webp").samples, ReadFile<std::uint8_t>(dir_ / "in.webp").samples);
}

// With alpha, the colour a lossless WebP stores (straight, as the format
// holds it) is read as stored and written back as it was, under every alpha.
TEST_F(Encodings, ALosslessWebpWithAlphaComesBackAsStored) {
  REQUIRE_WRITERS("webp", "png");
  WriteDescribed(dir_ / "in.webp", VariedImage<std::uint8_t>(45, 31, 4, 21), OIIO::TypeDesc::UINT8,
                 [](OIIO::ImageSpec& s) { s.attribute("compression", "lossless"); });
  ASSERT_EQ(Contents(dir_ / "in.webp").substr(12, 4), "VP8L");
  ASSERT_EQ(RenderNoOp("in.webp", "out.webp").status, 0);
  EXPECT_EQ(Contents(dir_ / "out.webp").substr(12, 4), "VP8L");
  // PNG holds straight colour: each file's stored colour, decoded as stored.
  ASSERT_EQ(RenderNoOp("in.webp", "in.png").status, 0);
  ASSERT_EQ(RenderNoOp("out.webp", "out.png").status, 0);
  EXPECT_EQ(ReadFile<std::uint8_t>(dir_ / "out.png").samples, ReadFile<std::uint8_t>(dir_ / "in.png").samples);
}

// A minimal ICC profile (a display profile whose pixels are in `space`,
// "GRAY", "RGB " or "CMYK") as bytes: the header, and a tag table of one
// identity curve.
std::vector<unsigned char> IccProfile(const char* space) {
  std::vector<unsigned char> profile(156, 0);
  const auto put = [&](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) profile[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
  };
  const auto text = [&](std::size_t at, const char* four) { std::memcpy(&profile[at], four, 4); };
  put(0, 156);
  put(8, 0x04300000);  // version 4.3
  text(12, "mntr");
  text(16, space);
  text(20, "XYZ ");
  text(36, "acsp");
  put(68, 0xF6D6), put(72, 0x10000), put(76, 0xD32D);  // the D50 illuminant
  put(128, 1);
  text(132, "kTRC"), put(136, 144), put(140, 12);
  text(144, "curv");
  return profile;
}

// The ICC profile a file carries, as bytes; empty when it carries none. A
// PNG file's is taken from its iCCP chunk, since libpng reads back no
// profile as small as the test's ("iCCP: too short").
std::vector<unsigned char> ProfileOf(const std::filesystem::path& path) {
  if (path.extension() == ".png") {
    const std::string bytes = Contents(path);
    const auto number = [&](std::size_t at) {
      std::uint32_t value = 0;
      for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
      return value;
    };
    for (std::size_t at = 8; at + 8 <= bytes.size(); at += 12 + number(at)) {
      if (bytes.compare(at + 4, 4, "iCCP") != 0) continue;
      // The chunk: a name, its terminating 0, the compression method, then the zlib stream.
      const std::string chunk = bytes.substr(at + 8, number(at));
      const std::size_t stream = chunk.find('\0') + 2;
      std::vector<unsigned char> profile(1 << 16);
      uLongf size = profile.size();
      EXPECT_EQ(uncompress(profile.data(), &size, reinterpret_cast<const Bytef*>(chunk.data() + stream),
                           chunk.size() - stream),
                Z_OK);
      profile.resize(size);
      return profile;
    }
    return {};
  }
  OIIO::ImageSpec image_spec;
  ReadFile<std::uint8_t>(path, &image_spec);
  const OIIO::ParamValue* profile = image_spec.find_attribute("ICCProfile");
  if (!profile) return {};
  const auto* bytes = static_cast<const unsigned char*>(profile->data());
  return {bytes, bytes + profile->type().size()};
}

TEST_F(Encodings, AProfileIsCarriedOnlyWhereItDescribesTheOutputsPixels) {
  REQUIRE_WRITERS("tif", "jpg", "png");
  struct Input {
    const char* name;
    int channels;
    const char* space;
  };
  // A CMYK JPEG reads as RGB; an RGB JPEG under a CMYK profile stands for it.
  const Input inputs[] = {{"grey.tif", 1, "GRAY"}, {"grey.jpg", 1, "GRAY"}, {"cmyk.jpg", 3, "CMYK"},
                          {"rgb.tif", 3, "RGB "}};
  for (const Input& in : inputs) {
    const std::vector<unsigned char> profile = IccProfile(in.space);
    WriteDescribed(dir_ / in.name, VariedImage<std::uint8_t>(19, 11, in.channels, 17), OIIO::TypeDesc::UINT8,
                   [&](OIIO::ImageSpec& s) {
                     s.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, profile.size()), profile.data());
                   });
    ASSERT_EQ(ProfileOf(dir_ / in.name), profile) << in.name;  // the test's own file carries it
  }
  struct Case {
    const char* in;
    std::vector<std::string> options;
    bool keeps;      // the profile still describes the output
    const char* says;  // the note, when it does not
  };
  const std::vector<std::string> rgb = {"--set", "Shadows Opacity=100"};  // toned, opaque: RGB
  const std::vector<std::string> grey = {"--set", "Shadows Opacity=100", "--channels", "keep"};
  const Case cases[] = {
      {"grey.tif", rgb, false, "the input's Gray ICC profile does not describe the RGB result; written without"},
      {"grey.jpg", rgb, false, "the input's Gray ICC profile does not describe the RGB result"},
      {"cmyk.jpg", rgb, false, "the input's CMYK ICC profile does not describe the RGB result"},
      {"grey.tif", grey, true, ""},
      {"rgb.tif", rgb, true, ""},
      {"rgb.tif", {"--set", "Shadows Opacity=100", "--channels", "grey"}, false,
       "the input's RGB ICC profile does not describe the grey result"},
  };
  for (const Case& c : cases) {
    for (const char* out : {"out.png", "out.tif", "out.jpg"}) {
      SCOPED_TRACE(std::string(c.in) + " -> " + out + (c.options.size() > 2 ? " " + c.options[3] : ""));
      std::vector<std::string> args = {"render", c.in, "-o", out};
      args.insert(args.end(), c.options.begin(), c.options.end());
      const ToolRun run = RunTool(dir_.path(), args);
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(ProfileOf(dir_ / out), c.keeps ? ProfileOf(dir_ / c.in) : std::vector<unsigned char>{});
      if (c.keeps) {
        EXPECT_THAT(run.err, IsEmpty());
      } else {
        EXPECT_THAT(run.err, HasSubstr(std::string("quorvandile: note: ") + out + ": " + c.says));
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        if (std::string(out) != "out.png") continue;  // once per case is enough for -q
        args.push_back("-q");
        const ToolRun quiet = RunTool(dir_.path(), args);
        EXPECT_EQ(quiet.status, 0);
        EXPECT_THAT(quiet.err, IsEmpty());
      }
    }
  }
}

}  // namespace
}  // namespace qv::cli::test
