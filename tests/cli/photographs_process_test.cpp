// Photographs as cameras and image editors write them, with an embedded ICC
// profile and camera metadata, rendered as sequences with frames in flight:
// every run ends well, and every frame is, byte for byte, what a run of one
// frame at a time writes. The image library decodes each profile as it opens
// a file; two threads doing so at once once corrupted its memory, at the
// start of a run, so the runs are repeated (--gtest_repeat repeats them more).
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli_support.h"
#include "image_description.h"

namespace qv::cli::test {
namespace {

namespace fs = std::filesystem;

// Photographs that Debian's python3-skimage ships: a cat from a camera, with
// its Exif data and an sRGB profile; a picture tagged with an Apple display's
// profile; a rocket tagged Adobe RGB (1998).
const fs::path kPhotographs = "/usr/lib/python3/dist-packages/skimage/data";

constexpr int kFrames = 24;
constexpr int kJobs = 4;
#ifdef QV_SANITIZED
constexpr int kRunsInFlight = 1;  // each run several times slower; the release build repeats them
#else
constexpr int kRunsInFlight = 4;
#endif

std::string FileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string FrameName(const std::string& stem, int frame, const std::string& extension) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.%s", stem.c_str(), frame, extension.c_str());
  return name;
}

class Photographs : public ::testing::Test {
 protected:
  // Frames 1 to kFrames of in.####.EXTENSION: the photographs in turn.
  void MakeSequence(const std::vector<fs::path>& photographs, const std::string& extension) {
    for (const fs::path& photograph : photographs) {
      ASSERT_TRUE(HasProfile(photograph)) << photograph << " carries no ICC profile (is python3-skimage installed?)";
    }
    for (int f = 1; f <= kFrames; ++f) {
      fs::copy_file(photographs[static_cast<std::size_t>(f - 1) % photographs.size()],
                    dir_ / FrameName("in", f, extension));
    }
  }

  // The photograph at `from` as a 16-bit TIFF, its profile and camera
  // metadata carried, as a conversion by an image editor keeps them.
  fs::path SixteenBitTiff(const fs::path& from) {
    auto input = OIIO::ImageInput::open(from.string());
    EXPECT_TRUE(input) << OIIO::geterror();
    if (!input) return {};
    OIIO::ImageSpec image_spec = DescriptionOf(*input);
    std::vector<std::uint16_t> samples(image_spec.image_pixels() * static_cast<std::size_t>(image_spec.nchannels));
    EXPECT_TRUE(input->read_image(0, 0, 0, image_spec.nchannels, OIIO::TypeDesc::UINT16, samples.data()));
    image_spec.set_format(OIIO::TypeDesc::UINT16);
    const fs::path to = dir_ / (from.stem().string() + "16.tif");
    auto output = OIIO::ImageOutput::create(to.string());
    EXPECT_TRUE(output && output->open(to.string(), image_spec) &&
                output->write_image(OIIO::TypeDesc::UINT16, samples.data()) && output->close());
    return to;
  }

  static bool HasProfile(const fs::path& path) {
    auto input = OIIO::ImageInput::open(path.string());
    return input && DescriptionOf(*input).find_attribute("ICCProfile") != nullptr;
  }

  // Renders in.####.EXTENSION one frame at a time, then kRunsInFlight times
  // with kJobs frames in flight: each run must end well and write every
  // frame as the first did.
  void ExpectTheSameWithFramesInFlight(const std::string& extension) {
    const std::string in = "in.####." + extension;
    const ToolRun one = RunTool(dir_.path(), {"render", in, "-o", "one.####." + extension, "--jobs", "1", "-q"});
    ASSERT_EQ(one.status, 0) << one.err;
    std::vector<std::string> expected;
    for (int f = 1; f <= kFrames; ++f) expected.push_back(FileBytes(dir_ / FrameName("one", f, extension)));
    for (int run = 0; run < kRunsInFlight; ++run) {
      for (int f = 1; f <= kFrames; ++f) fs::remove(dir_ / FrameName("many", f, extension));
      const ToolRun many = RunTool(dir_.path(), {"render", in, "-o", "many.####." + extension, "--jobs",
                                                 std::to_string(kJobs), "-q"});
      ASSERT_EQ(many.status, 0) << "run " << run << ", signal " << many.signal << ": " << many.err;
      EXPECT_EQ(many.err, "");
      for (int f = 1; f <= kFrames; ++f) {
        ASSERT_EQ(FileBytes(dir_ / FrameName("many", f, extension)), expected[static_cast<std::size_t>(f - 1)])
            << "run " << run << ", frame " << f;
      }
    }
  }

  TempDir dir_;
};

TEST_F(Photographs, PngSequencesOfSeveralProfiles) {
  MakeSequence({kPhotographs / "chelsea.png", kPhotographs / "color.png", kPhotographs / "astronaut.png"}, "png");
  ExpectTheSameWithFramesInFlight("png");
}

TEST_F(Photographs, JpegSequences) {
  MakeSequence({kPhotographs / "rocket.jpg"}, "jpg");
  ExpectTheSameWithFramesInFlight("jpg");
}

TEST_F(Photographs, SixteenBitTiffSequences) {
  const fs::path tiff = SixteenBitTiff(kPhotographs / "chelsea.png");
  ASSERT_FALSE(HasFailure());
  MakeSequence({tiff}, "tif");
  ExpectTheSameWithFramesInFlight("tif");
}

}  // namespace
}  // namespace qv::cli::test
