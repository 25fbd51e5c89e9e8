// What an output file keeps of its source's description, asked of the image
// libraries this machine has: an ICC profile that no longer fits is dropped
// with everything its reader said of it, and a WebP file's lossless coding
// is told from its lossy one whatever chunks come before its picture.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <webp/encode.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "image_metadata.h"
#include "webp_files.h"

namespace qv::cli::test {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> AttributeNames(const OIIO::ImageSpec& image_spec) {
  std::vector<std::string> names;
  for (const OIIO::ParamValue& value : image_spec.extra_attribs) names.push_back(value.name().string());
  return names;
}

TEST(FileMetadata, DroppingAProfileDropsWhatItsReaderSaidOfItAndNothingElse) {
  // As the JPEG, PNG and TIFF readers describe a profile, among attributes
  // whose names only look like it.
  OIIO::ImageSpec image_spec(4, 4, 3, OIIO::TypeDesc::UINT8);
  const std::vector<unsigned char> profile(132, 1);
  for (const char* name : {"Orientation", "Exif:ICCProfileOffset", "XICCProfile"}) image_spec.attribute(name, 1);
  image_spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, profile.size()), profile.data());
  image_spec.attribute("ICCProfile:profile_version", "4.3.0");
  image_spec.attribute("ICCProfile:device_class", "Display device profile");
  image_spec.attribute("ICCProfileName", "not the profile's");
  DropProfile(image_spec);
  EXPECT_THAT(AttributeNames(image_spec),
              ElementsAre("Orientation", "Exif:ICCProfileOffset", "XICCProfile", "ICCProfileName"));
}

// `bitstream` (a "VP8 " or "VP8L" chunk, as a simple WebP file holds it) in
// an extended file whose first chunk after the header is `chunk`, as a file
// carrying an ICC profile or Exif data has it.
std::string Extended(const std::string& simple, const std::string& chunk_tag, const std::string& chunk_data,
                     int width, int height) {
  const auto le = [](std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
  };
  const std::string bitstream = simple.substr(12);  // the picture's chunk, its header included
  const char flags = chunk_tag == "ICCP" ? 0x20 : 0x08;
  std::string body = "WEBP";
  body += "VP8X" + le(10, 4) + std::string(1, flags) + std::string(3, '\0') + le(width - 1, 3) + le(height - 1, 3);
  body += chunk_tag + le(static_cast<std::uint32_t>(chunk_data.size()), 4) + chunk_data;
  if (chunk_data.size() % 2 != 0) body += '\0';
  body += bitstream;
  return "RIFF" + le(static_cast<std::uint32_t>(body.size()), 4) + body;
}

TEST(FileMetadata, AWebpFilesLosslessCodingIsCarriedWhateverComesBeforeItsPicture) {
  constexpr int kWidth = 9, kHeight = 5;
  std::vector<std::uint8_t> rgba(kWidth * kHeight * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>(i * 37);
  const auto coded = [&](bool lossless, bool alpha) {
    std::uint8_t* out = nullptr;
    const std::size_t size =
        lossless ? (alpha ? WebPEncodeLosslessRGBA(rgba.data(), kWidth, kHeight, kWidth * 4, &out)
                          : WebPEncodeLosslessRGB(rgba.data(), kWidth, kHeight, kWidth * 3, &out))
                 : (alpha ? WebPEncodeRGBA(rgba.data(), kWidth, kHeight, kWidth * 4, 90, &out)
                          : WebPEncodeRGB(rgba.data(), kWidth, kHeight, kWidth * 3, 90, &out));
    std::string file(reinterpret_cast<const char*>(out), size);
    WebPFree(out);
    return file;
  };
  const std::string lossless = coded(true, false), lossy = coded(false, false);
  const std::string profile(301, 'p');  // an odd size: the chunk is padded
  struct Case {
    const char* name;
    std::string file;
    bool lossless;
  };
  const Case cases[] = {
      {"lossless", lossless, true},
      {"lossy", lossy, false},
      {"lossless with alpha", coded(true, true), true},
      {"lossy with alpha (an alpha chunk first)", coded(false, true), false},
      {"lossless under a profile", Extended(lossless, "ICCP", profile, kWidth, kHeight), true},
      {"lossy under a profile", Extended(lossy, "ICCP", profile, kWidth, kHeight), false},
      {"lossless after Exif data", Extended(lossless, "EXIF", "Exif", kWidth, kHeight), true},
      {"not a WebP file", "RIFF\x04\0\0\0WAVE", false},
      {"empty", "", false},
  };
  const TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path path = dir / "in.webp";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.file;
    OIIO::ImageSpec to(kWidth, kHeight, 3, OIIO::TypeDesc::UINT8);
    CarryWebpCoding(path.string(), to);
    EXPECT_EQ(to.get_string_attribute("compression"), c.lossless ? "lossless" : "");
  }
}

}  // namespace
}  // namespace qv::cli::test
