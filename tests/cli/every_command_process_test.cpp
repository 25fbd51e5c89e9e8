// The options every command takes, given to each command before and after
// its name: --quiet leaves a command's errors and its result, and takes away
// only what it says about its work; each command's help lists them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// `args` with -q before the command's name and --quiet after its arguments.
std::vector<std::string> Quiet(std::vector<std::string> args, const char* where) {
  if (std::string(where) == "before") {
    args.insert(args.begin(), "-q");
  } else {
    args.push_back("--quiet");
  }
  return args;
}

class EveryCommand : public ::testing::Test {
 protected:
  // Runs `args`, then quiet (-q before the command and --quiet after its
  // arguments): every run succeeds and writes `files`; the quiet ones say
  // nothing and write the same bytes. Returns the first run; the files are
  // removed.
  ToolRun ExpectQuietWritesTheSame(const std::vector<std::string>& args, const std::vector<std::string>& files) {
    const ToolRun said = RunTool(dir_.path(), args);
    EXPECT_EQ(said.status, 0) << said.err;
    std::vector<std::string> written;
    for (const std::string& name : files) {
      written.push_back(Contents(dir_ / name));
      EXPECT_THAT(written.back(), Not(IsEmpty())) << name;
      std::filesystem::remove(dir_ / name);
    }
    for (const char* where : {"before", "after"}) {
      SCOPED_TRACE(where);
      const ToolRun run = RunTool(dir_.path(), Quiet(args, where));
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, "");
      for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(Contents(dir_ / files[i]), written[i]) << files[i];
        std::filesystem::remove(dir_ / files[i]);
      }
    }
    return said;
  }

  TempDir dir_;
};

TEST_F(EveryCommand, QuietRenderSaysNothingOfASequenceItsNotesOrItsSummary) {
  for (int f = 1; f <= 3; ++f) {
    WriteFile(dir_ / ("in.000" + std::to_string(f) + ".png"), VariedImage<std::uint8_t>(13, 9, 4, 40u + f),
              OIIO::TypeDesc::UINT8);
  }
  // The frames found on disk, one line a frame and the summary.
  const ToolRun sequence = ExpectQuietWritesTheSame({"render", "in.####.png", "-o", "out.####.png"},
                                                    {"out.0001.png", "out.0002.png", "out.0003.png"});
  EXPECT_THAT(sequence.err, StartsWith("quorvandile: frames 1-3: the files of in.####.png on disk\n"));
  EXPECT_THAT(sequence.err, HasSubstr("3/3 out.0003.png\n"));
  EXPECT_THAT(sequence.out, StartsWith("3 frames, "));

  // Frames skipped because their output exists: a note, and nothing to render.
  for (int f = 1; f <= 3; ++f) std::ofstream(dir_ / ("out.000" + std::to_string(f) + ".png")) << "done";
  const std::vector<std::string> skip = {"render", "in.####.png", "-o", "out.####.png", "--skip-existing"};
  const ToolRun skipped = RunTool(dir_.path(), skip);
  EXPECT_EQ(skipped.status, 0) << skipped.err;
  EXPECT_THAT(skipped.err, HasSubstr("frames 1-3: skipped, their output exists"));
  for (const char* where : {"before", "after"}) {
    const ToolRun quietly = RunTool(dir_.path(), Quiet(skip, where));
    EXPECT_EQ(quietly.status, 0) << quietly.err;
    EXPECT_EQ(quietly.out + quietly.err, "") << where;
  }

  // One frame: a warning of transparency the format cannot hold, and the summary.
  const ToolRun jpeg =
      ExpectQuietWritesTheSame({"render", "in.0001.png", "-o", "out.jpg", "--set", "Highlights Opacity=50"},
                               {"out.jpg"});
  EXPECT_EQ(jpeg.err, "quorvandile: warning: out.jpg holds no alpha; the result's transparency is dropped\n");
  EXPECT_THAT(jpeg.out, StartsWith("1 frame, "));
}

TEST_F(EveryCommand, QuietDemoAndLutWriteTheSameAndSayNothing) {
  const ToolRun demo = ExpectQuietWritesTheSame({"demo", "-o", "sheet.png"}, {"sheet.png"});
  EXPECT_EQ(demo.out, "Wrote sheet.png\n");
  // lut prints nothing on success: quiet is taken, and changes nothing.
  const ToolRun lut =
      ExpectQuietWritesTheSame({"lut", "-o", "look.cube", "--size", "17", "--set", "Tones=Duotone"}, {"look.cube"});
  EXPECT_EQ(lut.out + lut.err, "");
}

TEST_F(EveryCommand, QuietLeavesWhatACommandIsAskedToPrint) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"params"}, {"params", "--json"}, {"info"}, {"--version"}}) {
    SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
    const ToolRun loud = RunTool(dir_.path(), args);
    ASSERT_EQ(loud.status, 0) << loud.err;
    ASSERT_THAT(loud.out, Not(IsEmpty()));
    for (const char* where : {"before", "after"}) {
      const ToolRun quiet = RunTool(dir_.path(), Quiet(args, where));
      EXPECT_EQ(quiet.status, 0) << quiet.err;
      EXPECT_EQ(quiet.out, loud.out) << where;
      EXPECT_EQ(quiet.err, "") << where;
    }
  }
}

TEST_F(EveryCommand, QuietLeavesErrors) {
  // A missing settings file is a mistake in the arguments (2); a missing input or plug-in, a failed run (1).
  for (const auto& [args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
           {{"render", "missing.png", "-o", "out.png"}, 1}, {{"demo", "missing.png", "-o", "sheet.png"}, 1},
           {{"lut", "-o", "look.cube", "--settings", "missing.json"}, 2}, {{"params", "--plugin", "missing.so"}, 1}}) {
    SCOPED_TRACE(args.front());
    for (const char* where : {"before", "after"}) {
      const ToolRun run = RunTool(dir_.path(), Quiet(args, where));
      EXPECT_EQ(run.status, status) << where;
      EXPECT_THAT(run.err, StartsWith("quorvandile: ")) << where;
      EXPECT_THAT(run.err, HasSubstr("missing")) << where;
      EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    }
  }
  EXPECT_TRUE(dir_.Files().empty());
}

TEST_F(EveryCommand, EachCommandsHelpListsTheOptionsOfEveryCommand) {
  const ToolRun top = RunTool(dir_.path(), {"--help"});
  ASSERT_EQ(top.status, 0);
  for (const char* command : {"render", "lut", "params", "info", "demo"}) {
    SCOPED_TRACE(command);
    EXPECT_THAT(top.out, HasSubstr(command));
    const ToolRun help = RunTool(dir_.path(), {command, "--help"});
    ASSERT_EQ(help.status, 0) << help.err;
    EXPECT_THAT(help.out, HasSubstr("Options of every command (before or after it):"));
    for (const char* option : {"--plugin", "--threads", "--no-strict", "-q,--quiet", "--version"}) {
      EXPECT_THAT(help.out, HasSubstr(option));
      EXPECT_THAT(top.out, HasSubstr(option));
    }
  }
}

}  // namespace
}  // namespace qv::cli::test
