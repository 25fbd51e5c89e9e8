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
  const ToolRun missing = Render({"-o", "out.png", "--settings", "none.json"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("cannot read none.json"));
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
