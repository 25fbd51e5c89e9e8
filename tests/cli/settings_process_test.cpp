// Looks saved as JSON files: loaded under --set, saved as used, errors that
// point at the file, the line and the key; the controls listed as JSON.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "cli_support.h"

namespace qv::cli::test {
namespace {

using ::testing::HasSubstr;

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "in.png", VariedImage<std::uint8_t>(16, 12, 4, 21), OIIO::TypeDesc::UINT8);
  }
  void WriteText(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  ToolRun Render(std::vector<std::string> extra) {
    std::vector<std::string> args = {"render", "in.png", "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(dir_.path(), args);
  }

  TempDir dir_;
};

TEST_F(Settings, ASavedLookRendersAsTheFlagsItCameFrom) {
  const std::vector<std::string> flags = {"--set", "Tones=Pentone", "--set", "Gamma=0.8@0,2.2@3",
                                          "--set", "Midtones=#806446", "--set", "Shadows Opacity=40"};
  std::vector<std::string> save = {"-o", "flags.##.png", "--frames", "0-3", "--save-settings", "look.json"};
  save.insert(save.end(), flags.begin(), flags.end());
  ASSERT_EQ(Render(save).status, 0);
  const nlohmann::json look = nlohmann::json::parse(Contents(dir_ / "look.json"));
  EXPECT_EQ(look["quorvandile-settings"], 1);
  EXPECT_EQ(look["parameters"]["Gamma"], "0.8@0,2.2@3");
  EXPECT_EQ(look["parameters"]["Highlights"], "#FFFFFF");  // defaults are pinned too

  ASSERT_EQ(Render({"-o", "file.##.png", "--frames", "0-3", "--settings", "look.json"}).status, 0);
  for (const char* frame : {"00", "01", "02", "03"}) {
    EXPECT_EQ(Contents(dir_ / ("file." + std::string(frame) + ".png")),
              Contents(dir_ / ("flags." + std::string(frame) + ".png")))
        << frame;
  }
}

TEST_F(Settings, SetOverridesTheFileAndNumbersMayBeNumbers) {
  WriteText("look.json", R"({"quorvandile-settings": 1, "parameters": {"tones": "Duotone", "Gamma": 2.5}})");
  ASSERT_EQ(Render({"-o", "a.png", "--settings", "look.json", "--set", "Gamma=1.5", "--save-settings", "used.json"})
                .status,
            0);
  const nlohmann::json used = nlohmann::json::parse(Contents(dir_ / "used.json"));
  EXPECT_EQ(used["parameters"]["Tones"], "Duotone");
  EXPECT_EQ(used["parameters"]["Gamma"], "1.5");
  ASSERT_EQ(Render({"-o", "b.png", "--set", "Tones=Duotone", "--set", "Gamma=1.5"}).status, 0);
  EXPECT_EQ(Contents(dir_ / "a.png"), Contents(dir_ / "b.png"));
}

TEST_F(Settings, ErrorsNameTheFileTheLineAndTheKey) {
  struct Bad {
    const char* text;
    const char* says;
  };
  const Bad cases[] = {
      {"{\n  \"quorvandile-settings\": 1,\n  \"parameters\": {\n    \"Gamma\": \"fast\"\n  }\n}\n",
       "look.json:4: \"Gamma\": "},
      {"{\n  \"quorvandile-settings\": 1,\n  \"parameters\": {\n    \"Gamma\": 1.2,\n    \"Colour\": \"#000000\"\n}}",
       "look.json:5: \"Colour\": no parameter named"},
      {"{\n  \"quorvandile-settings\": 1,\n  \"parameters\": {\n    \"Gamma\": 1.2,\n  }\n}", "look.json:5: not JSON"},
      {"{\"quorvandile-settings\": 2}", "look.json:1: \"quorvandile-settings\": version 2 is not one this tool reads"},
      {"{\"parameters\": {}}", "the format version, a whole number, is missing"},
      {"{\"quorvandile-settings\": 1,\n \"paramters\": {}}", "look.json:2: \"paramters\": not a settings key"},
      {"{\"quorvandile-settings\": 1, \"parameters\": {\"Gamma\": true}}", "a value is a string as --set takes it"},
      // A number no double holds, at its own line, whatever follows it.
      {"{\n  \"quorvandile-settings\": 1,\n  \"parameters\": {\n    \"Gamma\": 1e400\n  }\n}\n",
       "look.json:4: 1e400: a number too large to hold"},
      {"{\"quorvandile-settings\": 1,\n\"parameters\": {\"Gamma\": -1E+999}}",
       "look.json:2: -1E+999: a number too large"},
      // A key given twice is refused, not taken last-wins; so is a control named twice in other cases.
      {"{\n  \"quorvandile-settings\": 1,\n  \"parameters\": {\n    \"Gamma\": 1.2,\n    \"Gamma\": 2\n  }\n}\n",
       "look.json:5: \"Gamma\": given twice in one object (first on line 4)"},
      {"{\"quorvandile-settings\": 1,\n \"quorvandile-settings\": 1}",
       "look.json:2: \"quorvandile-settings\": given twice"},
      {"{\"quorvandile-settings\": 1, \"parameters\": {\n\"Gamma\": 1.2,\n\"gAMMA\": 2}}",
       "look.json:3: \"gAMMA\": names the same control as \"Gamma\""},
  };
  for (const Bad& bad : cases) {
    SCOPED_TRACE(bad.text);
    WriteText("look.json", bad.text);
    const ToolRun run = Render({"-o", "out.png", "--settings", "look.json"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr(bad.says));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.png"));
  }
  // A settings file is an argument, as the manual page says: a missing one is status 2.
  const ToolRun missing = Render({"-o", "out.png", "--settings", "none.json"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "quorvandile: cannot read none.json: no such file or not readable\n");
}

TEST_F(Settings, AWholeNumberIsTheSameWrittenWithAFraction) {
  // 2.0 and 2e0 are the number 2: a popup's second item, as "2" is.
  ASSERT_EQ(Render({"-o", "item.png", "--set", "Tones=2"}).status, 0);
  for (const char* two : {"2", "2.0", "2e0", "20e-1"}) {
    SCOPED_TRACE(two);
    WriteText("look.json", std::string("{\"quorvandile-settings\": 1, \"parameters\": {\"Tones\": ") + two + "}}");
    const ToolRun run = Render({"-o", "number.png", "--settings", "look.json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Contents(dir_ / "number.png"), Contents(dir_ / "item.png"));
  }
  WriteText("look.json", "{\"quorvandile-settings\": 1, \"parameters\": {\"Tones\": 2.5}}");
  const ToolRun fraction = Render({"-o", "number.png", "--settings", "look.json"});
  EXPECT_EQ(fraction.status, 2);
  EXPECT_THAT(fraction.err, HasSubstr("\"2.5\""));
}

TEST(ParamsJson, ListsTheControlsAsRegistered) {
  TempDir dir;
  const ToolRun run = RunTool(dir.path(), {"params", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json controls = nlohmann::json::parse(run.out)["controls"];
  ASSERT_TRUE(controls.is_array());
  const auto find = [&](const std::string& name) {
    for (const auto& control : controls) {
      if (control["name"] == name) return control;
    }
    return nlohmann::json();
  };
  EXPECT_EQ(find("Tones")["items"], (nlohmann::json{"Monotone", "Duotone", "Tritone", "Pentone"}));
  EXPECT_EQ(find("Tones")["default"], "Tritone");
  EXPECT_EQ(find("Gamma")["kind"], "slider");
  EXPECT_EQ(find("Gamma")["min"], 0.01);
  EXPECT_EQ(find("Gamma")["max"], 50);
  EXPECT_EQ(find("Shadows Opacity")["kind"], "percentage");
  EXPECT_EQ(find("Shadows Opacity")["default"], "0");
}

}  // namespace
}  // namespace qv::cli::test
