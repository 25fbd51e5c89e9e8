// The LUT of a look, applied by a consumer that is not ours (OpenColorIO's
// file transform, through oiiotool), against the tool's render of the same
// picture.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// A picture-like 8-bit RGB frame: soft gradients, a few hard edges, grain.
Image<std::uint8_t> PictureLike(int width, int height) {
  Image<std::uint8_t> image(width, height, 3);
  std::mt19937 random(7);
  std::normal_distribution<double> grain(0.0, 4.0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      const bool patch = (x / 40 + y / 40) % 3 == 0;
      const double rgb[3] = {255 * (0.15 + 0.7 * u) + (patch ? 40 : 0), 255 * (0.1 + 0.8 * v * u),
                             255 * (0.9 - 0.6 * v) - (patch ? 50 : 0)};
      for (int c = 0; c < 3; ++c) {
        image.Pixel(x, y)[c] = static_cast<std::uint8_t>(std::clamp(std::lround(rgb[c] + grain(random)), 0L, 255L));
      }
    }
  }
  return image;
}

// Differences in 1/255, sorted.
std::vector<double> Differences(const Image<std::uint8_t>& a, const Image<std::uint8_t>& b) {
  std::vector<double> differences;
  for (std::size_t i = 0; i < a.samples.size() && i < b.samples.size(); ++i) {
    differences.push_back(std::fabs(static_cast<double>(a.samples[i]) - b.samples[i]));
  }
  std::sort(differences.begin(), differences.end());
  return differences;
}

class Lut : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "photo.png", PictureLike(320, 200), OIIO::TypeDesc::UINT8);
    // oiiotool applies a file transform within a configuration: the least one.
    std::ofstream(dir_ / "raw.ocio") << "ocio_profile_version: 2\nroles:\n  default: linear\n"
                                        "  scene_linear: linear\ncolorspaces:\n  - !<ColorSpace>\n    name: linear\n";
  }
  TempDir dir_;
};

TEST_F(Lut, TheLutAppliedElsewhereMatchesTheRender) {
  struct Bound {
    const char* tones;
    int size;
    double max, p999, mean;  // in 1/255: measured, with margin
  };
  // Measured here (max, 99.9th percentile, mean): Monotone 0, 0, 0 at both
  // sizes; Duotone 1, 1, 0.25; Tritone 2, 1, 0.24; Pentone 2, 1, 0.16 at 33.
  const Bound bounds[] = {
      {"Monotone", 33, 1, 1, 0.05}, {"Duotone", 33, 2, 2, 0.4}, {"Tritone", 33, 3, 2, 0.4}, {"Pentone", 33, 3, 2, 0.3},
      {"Monotone", 65, 1, 1, 0.05}, {"Duotone", 65, 2, 2, 0.4}, {"Tritone", 65, 3, 2, 0.4}, {"Pentone", 65, 3, 2, 0.3},
  };
  for (const Bound& bound : bounds) {
    SCOPED_TRACE(std::string(bound.tones) + " at " + std::to_string(bound.size));
    const std::vector<std::string> look = {"--set", std::string("Tones=") + bound.tones, "--set", "Gamma=1.3",
                                           "--set", "Shadows Opacity=100"};
    std::vector<std::string> lut = {"lut", "-o", "look.cube", "--size", std::to_string(bound.size)};
    std::vector<std::string> render = {"render", "photo.png", "-o", "rendered.png", "-q"};
    lut.insert(lut.end(), look.begin(), look.end());
    render.insert(render.end(), look.begin(), look.end());
    ASSERT_EQ(RunTool(dir_.path(), lut).status, 0);
    ASSERT_EQ(RunTool(dir_.path(), render).status, 0);
    const std::string apply = "cd '" + dir_.path().string() +
                              "' && oiiotool --colorconfig raw.ocio photo.png --ociofiletransform '" +
                              (dir_ / "look.cube").string() + "' -d uint8 -o applied.png";
    ASSERT_EQ(std::system(apply.c_str()), 0) << apply;

    const std::vector<double> d =
        Differences(ReadFile<std::uint8_t>(dir_ / "applied.png"), ReadFile<std::uint8_t>(dir_ / "rendered.png"));
    ASSERT_FALSE(d.empty());
    double mean = 0;
    for (double v : d) mean += v;
    mean /= static_cast<double>(d.size());
    const double p999 = d[std::min(d.size() - 1, d.size() * 999 / 1000)];
    std::printf("%s, %d points: max %.0f, 99.9th percentile %.0f, mean %.3f (1/255)\n", bound.tones, bound.size,
                d.back(), p999, mean);
    EXPECT_LE(d.back(), bound.max);
    EXPECT_LE(p999, bound.p999);
    EXPECT_LE(mean, bound.mean);
  }
}

TEST_F(Lut, TheHeaderNamesTheSettingsAndLeavesOpacityOut) {
  ASSERT_EQ(RunTool(dir_.path(), {"lut", "-o", "look.cube", "--size", "17", "--set", "Tones=Duotone", "--set",
                                  "Gamma=1@0,2@10", "--frame", "5"})
                .status,
            0);
  std::ifstream file(dir_ / "look.cube");
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_THAT(text.str(), HasSubstr("Opacity (Shadows Opacity, Highlights Opacity) is not a colour transform"));
  EXPECT_THAT(text.str(), HasSubstr("#   Tones=Duotone\n"));
  EXPECT_THAT(text.str(), HasSubstr("#   Gamma=1@0,2@10\n"));
  EXPECT_THAT(text.str(), HasSubstr("at frame 5"));
  EXPECT_THAT(text.str(), HasSubstr("LUT_3D_SIZE 17\n"));
  std::size_t points = 0;
  for (std::string line; std::getline(text, line);) points += !line.empty() && (line[0] == '0' || line[0] == '1');
  EXPECT_EQ(points, 17u * 17 * 17);
}

TEST_F(Lut, AnOutputNamedForAnotherFormatOrForNoneIsRefused) {
  struct Case {
    std::vector<std::string> output;
    const char* says;
  };
  const Case cases[] = {
      {{"-o", "look.3dl"}, "cannot write look.3dl: lut writes .cube files, not .3dl"},
      {{"-o", "look.png"}, "cannot write look.png: lut writes .cube files, not .png"},
      {{"-o", "look.3dl", "--format", "cube"}, "cannot write look.3dl: lut writes .cube files, not .3dl"},
      {{"-o", "look"}, "cannot write look: its name has no extension to say the LUT's format; give --format cube"},
      {{"-o", "-"}, "cannot write -: its name has no extension to say the LUT's format; give --format cube"},
      {{"-o", "look.cube", "--format", "3dl"}, "--format: 3dl not in {cube}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output[1]);
    std::vector<std::string> args = {"lut", "--size", "17"};
    args.insert(args.end(), c.output.begin(), c.output.end());
    const ToolRun run = RunTool(dir_.path(), args);
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr(c.says));
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.out, ::testing::IsEmpty());
    EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"photo.png", "raw.ocio"}));
  }
  EXPECT_EQ(RunTool(dir_.path(), {"lut", "-o", "LOOK.CUBE", "--size", "17"}).status, 0);  // any case
}

// What the named pipe at `pipe` receives while `run` runs: read as it comes,
// so that a writer never waits on a full pipe, and without waiting for one
// that never opens it.
std::string ReadPipeWhile(const std::filesystem::path& pipe, const std::function<void()>& run) {
  const int fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_GE(fd, 0);
  std::atomic<bool> ended{false};
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        received.append(buffer, static_cast<std::size_t>(n));
      } else if (ended) {
        return;  // drained after the writer ended
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  });
  run();
  ended = true;
  reader.join();
  close(fd);
  return received;
}

TEST_F(Lut, StandardOutputAndAPipeTakeTheLutAndThePipeStaysAPipe) {
  ASSERT_EQ(RunTool(dir_.path(), {"lut", "-o", "look.cube", "--size", "17"}).status, 0);
  const std::string expected = Contents(dir_ / "look.cube");
  ASSERT_FALSE(expected.empty());

  const ToolRun out = RunTool(dir_.path(), {"lut", "-o", "-", "--format", "cube", "--size", "17"});
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(out.out, expected);

  // A sink named without an extension, as /dev/null is: a named pipe, so
  // that a tool that replaced it with a file would harm nothing beyond the test.
  ASSERT_EQ(mkfifo((dir_ / "sink").c_str(), 0600), 0);
  ToolRun piped;
  const std::string received = ReadPipeWhile(dir_ / "sink", [&] {
    piped = RunTool(dir_.path(), {"lut", "-o", "sink", "--format", "cube", "--size", "17"});
  });
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(received, expected);
  EXPECT_TRUE(std::filesystem::is_fifo(dir_ / "sink"));
  EXPECT_EQ(dir_.Files(), (std::vector<std::string>{"look.cube", "photo.png", "raw.ocio", "sink"}));
}

}  // namespace
}  // namespace qv::cli::test
