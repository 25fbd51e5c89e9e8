// quorvandile params, info, demo and --help, run as processes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <filesystem>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// The effect's controls as a user reads them: written out here, not taken
// from the catalog the tool prints from.
TEST(ParamsCommand, ListsEveryControlAsThePluginRegisteredIt) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"params"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "#   name                 kind        range                                default\n"
            "1   Base On              popup       1 to 6                               Lightness\n"
            "    items: 1 Lightness, 2 Luminance, 3 Red, 4 Green, 5 Blue, 6 Alpha\n"
            "2   Tones                popup       1 to 4                               Tritone\n"
            "    items: 1 Monotone, 2 Duotone, 3 Tritone, 4 Pentone\n"
            "3   Highlights           colour      0 to 255 per channel                 #FFFFFF\n"
            "4   Brights              colour      0 to 255 per channel                 #C0AA78\n"
            "5   Midtones             colour      0 to 255 per channel                 #806446\n"
            "6   Darktones            colour      0 to 255 per channel                 #40320A\n"
            "7   Shadows              colour      0 to 255 per channel                 #000000\n"
            "8   Levels               group                                            \n"
            "9   Input Black          slider      -100 to 100 (slider 0 to 1)          0\n"
            "10  Input White          slider      -100 to 100 (slider 0 to 1)          1\n"
            "11  Gamma                slider      0.01 to 50 (slider 0.01 to 10)       1\n"
            "12  Output Black         slider      -100 to 100 (slider 0 to 1)          0\n"
            "13  Output White         slider      -100 to 100 (slider 0 to 1)          1\n"
            "14  (unnamed)            group end                                        \n"
            "15  Highlights Opacity   percentage  0 to 100 % (slider 0 to 100)         100\n"
            "16  Shadows Opacity      percentage  0 to 100 % (slider 0 to 100)         0\n"
            "17  Blend with Original  percentage  0 to 100 % (slider 0 to 100)         0\n"
            "\n"
            "Set a value with --set \"NAME=VALUE\": popups by item, colours as #RRGGBB or R,G,B,\n"
            "sliders and percentages as numbers; keyframes as VALUE@FRAME,VALUE@FRAME.\n");
}

TEST(InfoCommand, ShowsTheAboutTextAndTheDecodedRegistration) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"info"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("Quorvandile, v1.0.0\nZenthi tone recolouring effect.\n\n"
                                  "Plug-in library: " QV_PLUGIN_FILE "\n"));
  for (const char* line : {"  Kind                   eFKT (effect)\n", "  Name                   Quorvandile\n",
                           "  Category               Zenthi\n", "  Entry point (Win64)    EntryPointFunc\n",
                           "  Match name             Quorvandile\n",
                           "  Effect version         0x00080601 = 1.0.0 release, build 1\n"}) {
    EXPECT_THAT(run.out, HasSubstr(line));
  }
  EXPECT_THAT(run.out, HasSubstr("PF_OutFlag_DEEP_COLOR_AWARE"));
  EXPECT_THAT(run.out, HasSubstr("PF_OutFlag2_SUPPORTS_SMART_RENDER"));
}

TEST(DemoCommand, WritesAContactSheetOfTheChart) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"demo", "-o", "sheet.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Wrote sheet.png"));
  OIIO::ImageSpec image_spec;
  const Image<std::uint8_t> sheet = ReadFile<std::uint8_t>(dir / "sheet.png", &image_spec);
  EXPECT_EQ(image_spec.format, OIIO::TypeDesc::UINT8);
  EXPECT_EQ(sheet.channels, 3);
  EXPECT_GE(sheet.width, 4 * 320);  // four panels side by side
  EXPECT_GE(sheet.height, 3 * 216);  // three rows
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"sheet.png"});
}

TEST(DemoCommand, UsesAGivenPicture) {
  TempDir dir;
  WriteFile(dir / "photo.tif", VariedImage<std::uint16_t>(64, 32, 3, 5), OIIO::TypeDesc::UINT16);
  const ToolRun run = RunTool(dir.path(), {"demo", "photo.tif", "-o", "sheet.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Image<std::uint8_t> chart = ReadFile<std::uint8_t>(dir / "sheet.png");
  ASSERT_EQ(RunTool(dir.path(), {"demo", "-o", "chart.png"}).status, 0);
  EXPECT_NE(chart.samples, ReadFile<std::uint8_t>(dir / "chart.png").samples);
}

TEST(Version, NamesTheToolAndThePluginItLoads) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"--version"});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_THAT(lines[0], StartsWith("quorvandile "));
  EXPECT_EQ(lines[1], "plug-in Quorvandile, v" + lines[0].substr(12) + " (" QV_PLUGIN_FILE ")");
  const ToolRun missing = RunTool(dir.path(), {"--version", "--plugin", "missing.so"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("cannot load missing.so"));
}

TEST(Help, DocumentsTheAlphaConventions) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"render", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("--alpha"));
  EXPECT_THAT(run.out, HasSubstr("OpenEXR holds associated (premultiplied) colour"));
  EXPECT_THAT(run.out, HasSubstr("never premultiplied"));
  EXPECT_THAT(run.out, HasSubstr("--set"));
  const ToolRun top = RunTool(dir.path(), {"--help"});
  EXPECT_EQ(top.status, 0);
  for (const char* command : {"render", "params", "info", "demo"}) EXPECT_THAT(top.out, HasSubstr(command));
  EXPECT_THAT(top.out, HasSubstr("stop on misuse (on by default)"));
}

// The host's threads and the frames in flight default to the cores the tool
// may run on (a Slurm task's, taskset's), not to the node's, and --help says
// how many that is.
TEST(Help, DefaultsFollowTheCoresTheToolMayRunOn) {
  cpu_set_t own;
  ASSERT_EQ(sched_getaffinity(0, sizeof own, &own), 0);
  std::vector<int> allowed;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &own)) allowed.push_back(cpu);
  }
  TempDir dir;
  for (std::size_t count = 1; count <= std::min<std::size_t>(2, allowed.size()); ++count) {
    SCOPED_TRACE(std::to_string(count) + " CPUs");
    ProcessSetup setup;
    setup.cpus.assign(allowed.begin(), allowed.begin() + static_cast<std::ptrdiff_t>(count));
    const ToolRun run = RunTool(dir.path(), {"render", "--help"}, {}, setup);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("--threads INT:INT in [1 - 1024]=" + std::to_string(count) + "\n"));
    EXPECT_THAT(run.out, HasSubstr("as --threads counts them (" + std::to_string(count) + ")"));
    EXPECT_THAT(run.out, HasSubstr("the CPUs of its affinity mask, under its cgroup's CPU quota"));
  }
}

}  // namespace
}  // namespace qv::cli::test
