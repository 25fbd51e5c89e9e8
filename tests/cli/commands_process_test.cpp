// quorvandile params, info, demo and --help, run as processes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <filesystem>

#include "cli_support.h"
#include "core/plugin_session.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(ParamsCommand, ListsEveryControlAsThePluginRegisteredIt) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"params"});
  ASSERT_EQ(run.status, 0) << run.err;
  PluginSession session(SessionOptions{QV_PLUGIN_FILE, 1, true});
  const auto lines = Lines(run.out);
  for (const ParamEntry& param : session.params().entries()) {
    const std::string index = std::to_string(param.index) + " ";
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(index, 0) == 0; });
    ASSERT_NE(line, lines.end()) << param.name;
    if (!param.name.empty()) {
      EXPECT_THAT(*line, HasSubstr(param.name));
    }
    EXPECT_THAT(*line, HasSubstr(KindName(param)));
    if (param.HasValue()) {
      EXPECT_THAT(*line, HasSubstr(FormatValue(param, DefaultValue(param)))) << param.name;
    }
    for (const std::string& item : param.items) EXPECT_THAT(run.out, HasSubstr(item));
  }
}

TEST(InfoCommand, ShowsTheAboutTextAndTheDecodedRegistration) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"info"});
  ASSERT_EQ(run.status, 0) << run.err;
  PluginSession session(SessionOptions{QV_PLUGIN_FILE, 1, true});
  const std::string about = session.About();
  EXPECT_THAT(run.out, StartsWith(about.substr(0, about.find('\n')) + "\n"));
  EXPECT_THAT(run.out, HasSubstr(about.substr(about.find('\n') + 1)));
  const simhost::PiplInfo& pipl = session.pipl();
  for (const std::string& text : {pipl.name, pipl.category, pipl.match_name, pipl.entry_point}) {
    EXPECT_THAT(run.out, HasSubstr(text));
  }
  EXPECT_THAT(run.out, HasSubstr("= 1.0.0 release, build 1"));
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
