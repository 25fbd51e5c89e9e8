// Every way a run can fail: one line on standard error, the exit status that
// says whose mistake it was, and no file written, not even a temporary one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Failure {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* says;  // a part of the message
  std::vector<std::string> environment = {};
};

void PrintTo(const Failure& failure, std::ostream* os) { *os << failure.name; }

class Fails : public ::testing::TestWithParam<Failure> {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "in.png", VariedImage<std::uint8_t>(8, 6, 4, 1), OIIO::TypeDesc::UINT8);
    WriteFile(dir_ / "five.tif", VariedImage<std::uint8_t>(4, 4, 5, 2), OIIO::TypeDesc::UINT8);
    {
      OIIO::ImageSpec image_spec(4, 4, 5, OIIO::TypeDesc::HALF);
      image_spec.channelnames = {"P", "Q", "R", "S", "T"};
      const std::vector<float> samples(4 * 4 * 5, 0.5f);
      auto output = OIIO::ImageOutput::create((dir_ / "noname.exr").string());
      ASSERT_TRUE(output->open((dir_ / "noname.exr").string(), image_spec) &&
                  output->write_image(OIIO::TypeDesc::FLOAT, samples.data()) && output->close());
    }
    std::ofstream(dir_ / "garbage.png") << "not an image at all";
    // Damaged files: the first half of a whole one. Their readers fill what
    // is missing and say so only in their error state or on standard error.
    for (const char* name : {"cut.png", "cut.jpg", "cut.tif", "cut.exr"}) {
      WriteFile(dir_ / name, VariedImage<std::uint8_t>(64, 48, 3, 4), OIIO::TypeDesc::UINT8);
      std::filesystem::resize_file(dir_ / name, std::filesystem::file_size(dir_ / name) / 2);
    }
    std::filesystem::create_directory(dir_ / "sub");
    before_ = dir_.Files();
  }

  TempDir dir_;
  std::vector<std::string> before_;
};

TEST_P(Fails, WithOneLineAndNothingWritten) {
  const Failure& failure = GetParam();
  const ToolRun run = RunTool(dir_.path(), failure.args, failure.environment);
  EXPECT_EQ(run.status, failure.status) << run.err;
  const auto lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_THAT(lines[0], StartsWith("quorvandile: "));
  EXPECT_THAT(lines[0], HasSubstr(failure.says));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(dir_.Files(), before_);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "sub"));
}

const std::string kFailing = QV_FAILING_PLUGIN_FILE;

INSTANTIATE_TEST_SUITE_P(
    Render, Fails,
    ::testing::Values(
        Failure{"MissingInput", {"render", "nope.png", "-o", "out.png"}, 1, "cannot read nope.png: no such file"},
        Failure{"UnreadableInput", {"render", "garbage.png", "-o", "out.png"}, 1, "cannot read garbage.png"},
        Failure{"TruncatedPng", {"render", "cut.png", "-o", "out.png"}, 1, "cannot read cut.png: "},
        Failure{"TruncatedJpeg", {"render", "cut.jpg", "-o", "out.png"}, 1, "cannot read cut.jpg: "},
        Failure{"TruncatedTiff", {"render", "cut.tif", "-o", "out.png"}, 1, "cannot read cut.tif: "},
        Failure{"TruncatedExr", {"render", "cut.exr", "-o", "out.png"}, 1, "cannot read cut.exr: "},
        Failure{"InputIsADirectory", {"render", "sub", "-o", "out.png"}, 1, "it is a directory"},
        Failure{"ExtraChannelsIntoAFormatWithoutThem", {"render", "five.tif", "-o", "out.png"}, 1,
                "cannot write out.png: the input's channels beyond colour and alpha (channel4) need a format"},
        Failure{"ManyChannelsWithoutColour", {"render", "noname.exr", "-o", "out.exr"}, 1,
                "unsupported layout of 5 channels ("},
        Failure{"OutputDirectoryMissing", {"render", "in.png", "-o", "none/out.png"}, 1, "no directory none"},
        Failure{"OutputIsADirectory", {"render", "in.png", "-o", "sub"}, 1, "cannot write sub: it is a directory"},
        Failure{"OutputFormatUnknown", {"render", "in.png", "-o", "out.qqq"}, 1, "no image format for the extension"},
        Failure{"UnknownParameter", {"render", "in.png", "-o", "out.png", "--set", "Gama=2"}, 2,
                "no parameter named \"Gama\""},
        Failure{"BadPopupItem", {"render", "in.png", "-o", "out.png", "--set", "Tones=Hextone"}, 2,
                "\"Tones\" takes one of Monotone, Duotone, Tritone, Pentone"},
        Failure{"BadColour", {"render", "in.png", "-o", "out.png", "--set", "Midtones=#8064"}, 2,
                "\"Midtones\" takes a colour"},
        Failure{"SliderOutOfRange", {"render", "in.png", "-o", "out.png", "--set", "Gamma=51"}, 2,
                "\"Gamma\" takes a number from 0.01 to 50"},
        Failure{"PercentageOutOfRange", {"render", "in.png", "-o", "out.png", "--set", "Blend with Original=101"}, 2,
                "a percentage from 0 to 100"},
        Failure{"BadKeyframes", {"render", "in.png", "-o", "out.png", "--set", "Gamma=1@1,2"}, 2, "VALUE@FRAME"},
        // A bad value is reported before an unwritable output: nothing is tried.
        Failure{"BadValueBeforeBadOutput", {"render", "in.png", "-o", "none/out.png", "--set", "Gamma=0"}, 2,
                "\"Gamma\""},
        Failure{"NoOutput", {"render", "in.png"}, 2, "--output is required"},
        Failure{"BadDepth", {"render", "in.png", "-o", "out.png", "--depth", "12"}, 2, "--depth"},
        Failure{"BadThreads", {"render", "in.png", "-o", "out.png", "--threads", "0"}, 2, "--threads"},
        Failure{"NoCommand", {}, 2, "no command given; the commands are render, lut, params, info, demo"},
        Failure{"UnknownCommand", {"--threads", "2", "rendr", "in.png"}, 2,
                "unknown command 'rendr'; the commands are render, lut, params, info, demo"},
        Failure{"OutputPatternWithoutFrames", {"render", "in.png", "-o", "out.####.png"}, 2, "needs --frames"},
        Failure{"PatternMatchingNothing", {"render", "in.####.png", "-o", "out.####.png"}, 1,
                "no files match the input pattern \"in.####.png\""},
        Failure{"PatternIntoOneFile", {"render", "in.####.png", "-o", "out.png", "--frames", "1-2"}, 2,
                "--frames 1-2 asks for 2 frames, but the output \"out.png\" names one file"},
        Failure{"ManyFramesIntoOneFile", {"render", "in.png", "-o", "out.png", "--frames", "1-2"}, 2,
                "names one file"},
        Failure{"BadFrames", {"render", "in.png", "-o", "out.##.png", "--frames", "2-1"}, 2, "--frames \"2-1\""},
        Failure{"PluginMissing", {"render", "in.png", "-o", "out.png", "--plugin", "missing.so"}, 1,
                "cannot load missing.so"},
        Failure{"PluginFromTheEnvironmentMissing", {"render", "in.png", "-o", "out.png"}, 1,
                "cannot load /nowhere/Q.so", {"QUORVANDILE_PLUGIN=/nowhere/Q.so"}},
        Failure{"PluginNotALibrary", {"render", "in.png", "-o", "out.png", "--plugin", "garbage.png"}, 1,
                "cannot load garbage.png"},
        Failure{"PluginFailsGlobalSetup", {"render", "in.png", "-o", "out.png", "--plugin", kFailing}, 1,
                "failed in GLOBAL_SETUP with error 4 (out of memory): No tone memory left at setup.",
                {"QV_TEST_FAIL_AT=global_setup"}},
        Failure{"PluginFailsParamsSetup", {"params", "--plugin", kFailing}, 1,
                "failed in PARAMS_SETUP with error 4 (out of memory): Cannot register the tone controls.",
                {"QV_TEST_FAIL_AT=params_setup"}},
        Failure{"PluginFailsTheFrame", {"render", "in.png", "-o", "out.png", "--plugin", kFailing}, 1,
                "failed in SMART_PRE_RENDER with error 4 (out of memory): Cannot tone this frame.",
                {"QV_TEST_FAIL_AT=render"}},
        Failure{"PluginMisusesTheHost", {"info", "--plugin", kFailing}, 1,
                "the plug-in misused the host: PARAMS_SETUP: num_params is 5",
                {"QV_TEST_FAIL_AT=misuse"}},
        Failure{"DemoOutputDirectoryMissing", {"demo", "-o", "none/sheet.png"}, 1, "no directory none"},
        Failure{"DemoInputMissing", {"demo", "nope.png", "-o", "sheet.png"}, 1, "cannot read nope.png"}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

// A fatal end is not a failure the tool reports: its own report, and what
// the plug-in printed before it, reach standard error as they were written.
TEST(FatalEnd, ItsDiagnosticsReachStandardError) {
  TempDir dir;
  WriteFile(dir / "in.png", VariedImage<std::uint8_t>(8, 6, 4, 1), OIIO::TypeDesc::UINT8);
  const struct {
    const char* where;
    const char* says;
  } kEnds[] = {{"terminate", "terminate called without an active exception"},
               {"abort", "The tone table is corrupt.\n"}};
  for (const auto& end : kEnds) {
    SCOPED_TRACE(end.where);
    const ToolRun run = RunTool(dir.path(), {"render", "in.png", "-o", "out.png", "--plugin", QV_FAILING_PLUGIN_FILE},
                                {std::string("QV_TEST_FAIL_AT=") + end.where});
    EXPECT_EQ(run.signal, SIGABRT) << run.status << ": " << run.err;
    EXPECT_THAT(run.err, HasSubstr(end.says));
  }
}

TEST(Strictness, MisuseIsOverlookedWhenNotStrict) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"params", "--no-strict", "--plugin", QV_FAILING_PLUGIN_FILE},
                              {"QV_TEST_FAIL_AT=misuse"});
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST(Strictness, TheCommandLinePluginWinsOverTheEnvironment) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"params", "--plugin", QV_PLUGIN_FILE}, {"QUORVANDILE_PLUGIN=/nowhere/Q.so"});
  EXPECT_EQ(run.status, 0) << run.err;
}

}  // namespace
}  // namespace qv::cli::test
