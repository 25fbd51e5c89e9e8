// Parameter values as typed on the command line, checked against the
// plug-in's own registration.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "core/errors.h"
#include "core/param_parse.h"
#include "core/plugin_session.h"

// Colour values compare channel by channel.
inline bool operator==(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
inline std::ostream& operator<<(std::ostream& os, const PF_Pixel& p) {
  return os << "PF_Pixel{" << int(p.alpha) << ", " << int(p.red) << ", " << int(p.green) << ", " << int(p.blue) << "}";
}

namespace qv::cli {
namespace {

using ::testing::HasSubstr;

class ParamParse : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { session_ = new PluginSession(SessionOptions{QV_PLUGIN_FILE, 1, true}); }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }

  static const ParamCatalog& Catalog() { return session_->params(); }
  static const ParamEntry& Param(const char* name) {
    const ParamEntry* param = Catalog().Find(name);
    if (!param) throw std::logic_error(std::string("the plug-in registers no ") + name);
    return *param;
  }
  static std::optional<simhost::ParamValue> Value(const char* name, const char* text) {
    return ParseValue(Param(name), text);
  }
  // The message of the UsageError that `text` raises, or "" when it parses.
  static std::string ErrorOf(const std::string& text) {
    try {
      ParseSetting(Catalog(), text);
      return "";
    } catch (const UsageError& e) {
      return e.what();
    }
  }

  static PluginSession* session_;
};

PluginSession* ParamParse::session_ = nullptr;

TEST_F(ParamParse, CatalogHoldsWhatThePluginRegistered) {
  ASSERT_FALSE(Catalog().entries().empty());
  PF_ParamIndex expected_index = 1;
  for (const ParamEntry& param : Catalog().entries()) {
    EXPECT_EQ(param.index, expected_index++);
    EXPECT_STREQ(param.name.c_str(), param.def.name_do_not_use_directly);
    if (param.kind == ParamKind::kPopup) {
      EXPECT_EQ(static_cast<A_short>(param.items.size()), param.def.u.pd.num_choices) << param.name;
    }
  }
}

TEST_F(ParamParse, EveryDefaultAsListedReadsBackAsTheDefault) {
  for (const ParamEntry& param : Catalog().entries()) {
    if (!param.HasValue()) continue;
    const simhost::ParamValue fallback = DefaultValue(param);
    const std::string shown = FormatValue(param, fallback);
    const auto parsed = ParseValue(param, shown);
    ASSERT_TRUE(parsed.has_value()) << param.name << " default shown as " << shown;
    EXPECT_EQ(*parsed, fallback) << param.name << " default shown as " << shown;
  }
}

TEST_F(ParamParse, NamesAndPopupItemsMatchInAnyCase) {
  const ParamSetting setting = ParseSetting(Catalog(), "tones=PENTONE");
  EXPECT_EQ(setting.name, "Tones");
  ASSERT_EQ(setting.keys.size(), 1u);
  EXPECT_FALSE(setting.keys[0].frame);
  EXPECT_EQ(setting.keys[0].value, simhost::ParamValue(simhost::PopupValue{4}));
  EXPECT_EQ(Value("Base On", "luminance"), simhost::ParamValue(simhost::PopupValue{2}));
  EXPECT_EQ(Value("Base On", " Alpha "), simhost::ParamValue(simhost::PopupValue{6}));
}

TEST_F(ParamParse, PopupsTakeItemNumbersWithinTheirChoices) {
  EXPECT_EQ(Value("Tones", "1"), simhost::ParamValue(simhost::PopupValue{1}));
  EXPECT_EQ(Value("Tones", "4"), simhost::ParamValue(simhost::PopupValue{4}));
  for (const char* text : {"0", "5", "-1", "Hextone", "", "Penton"}) EXPECT_FALSE(Value("Tones", text)) << text;
}

TEST_F(ParamParse, ColoursAsHexInEitherCaseOrAsChannels) {
  EXPECT_EQ(Value("Midtones", "#806446"), simhost::ParamValue(PF_Pixel{255, 0x80, 0x64, 0x46}));
  EXPECT_EQ(Value("Midtones", "#a0B0c0"), simhost::ParamValue(PF_Pixel{255, 0xA0, 0xB0, 0xC0}));
  EXPECT_EQ(Value("Midtones", "10, 20 ,30"), simhost::ParamValue(PF_Pixel{255, 10, 20, 30}));
  EXPECT_EQ(Value("Midtones", "0,0,255"), simhost::ParamValue(PF_Pixel{255, 0, 0, 255}));
  for (const char* text : {"#80644", "#8064466", "#GG0000", "806446", "1,2", "1,2,3,4", "1,2,256", "1,-2,3",
                           "1,,3", "red"}) {
    EXPECT_FALSE(Value("Midtones", text)) << text;
  }
}

TEST_F(ParamParse, SlidersTakeNumbersWithinTheirValidRangeBoundsIncluded) {
  EXPECT_EQ(Value("Gamma", "1.4"), simhost::ParamValue(1.4));
  EXPECT_EQ(Value("Gamma", "0.01"), simhost::ParamValue(0.01));
  EXPECT_EQ(Value("Gamma", "50"), simhost::ParamValue(50.0));
  EXPECT_EQ(Value("Input Black", "-100"), simhost::ParamValue(-100.0));
  for (const char* text : {"0.0099", "50.01", "0", "-1", "abc", "1.4x", "nan", "inf", "1e400", ""}) {
    EXPECT_FALSE(Value("Gamma", text)) << text;
  }
}

TEST_F(ParamParse, PercentagesAreStoredAsTheHostsFixedValue) {
  EXPECT_EQ(Value("Blend with Original", "25"), simhost::ParamValue(simhost::FixedValue{25 << 16}));
  EXPECT_EQ(Value("Blend with Original", "12.5%"), simhost::ParamValue(simhost::FixedValue{0xC8000}));
  EXPECT_EQ(Value("Blend with Original", "100"), simhost::ParamValue(simhost::FixedValue{100 << 16}));
  EXPECT_EQ(Value("Shadows Opacity", "0"), simhost::ParamValue(simhost::FixedValue{0}));
  // The smallest step of a 16.16 value.
  EXPECT_EQ(Value("Blend with Original", "0.0000152587890625"), simhost::ParamValue(simhost::FixedValue{1}));
  for (const char* text : {"100.01", "-1", "101", "%", "25%%", "1e9"}) {
    EXPECT_FALSE(Value("Blend with Original", text)) << text;
  }
}

TEST_F(ParamParse, KeyframesComeSortedByFrame) {
  const ParamSetting setting = ParseSetting(Catalog(), "Gamma=2.2@240, 1@1");
  ASSERT_EQ(setting.keys.size(), 2u);
  EXPECT_EQ(setting.keys[0], (ParamKey{1, 1.0}));
  EXPECT_EQ(setting.keys[1], (ParamKey{240, 2.2}));
}

TEST_F(ParamParse, ColourKeyframesKeepTheirCommas) {
  const ParamSetting setting = ParseSetting(Catalog(), "Shadows=10,20,30@0,200,100,50@24,#FFFFFF@48");
  ASSERT_EQ(setting.keys.size(), 3u);
  EXPECT_EQ(setting.keys[0], (ParamKey{0, PF_Pixel{255, 10, 20, 30}}));
  EXPECT_EQ(setting.keys[1], (ParamKey{24, PF_Pixel{255, 200, 100, 50}}));
  EXPECT_EQ(setting.keys[2], (ParamKey{48, PF_Pixel{255, 255, 255, 255}}));
}

TEST_F(ParamParse, PopupKeyframesAreItems) {
  const ParamSetting setting = ParseSetting(Catalog(), "Tones=Monotone@1,Pentone@10");
  ASSERT_EQ(setting.keys.size(), 2u);
  EXPECT_EQ(setting.keys[1], (ParamKey{10, simhost::PopupValue{4}}));
}

TEST_F(ParamParse, FormattedKeysReadBackAsTheSameSetting) {
  for (const char* text : {"Gamma=2.2", "Gamma=1@1,2.2@240", "Shadows=10,20,30@0,#C8643C@24",
                           "Tones=Monotone@1,Pentone@10", "Blend with Original=25", "Shadows Opacity=12.5@0,100@3"}) {
    const ParamSetting setting = ParseSetting(Catalog(), text);
    const std::string formatted = FormatKeys(Param(setting.name.c_str()), setting.keys);
    EXPECT_EQ(ParseSetting(Catalog(), setting.name + "=" + formatted).keys, setting.keys)
        << text << " -> " << formatted;
  }
  EXPECT_EQ(FormatKeys(Param("Gamma"), ParseSetting(Catalog(), "Gamma=2.2@240,1@1").keys), "1@1,2.2@240");
}

TEST_F(ParamParse, MalformedKeyframesSayHowToWriteThem) {
  for (const char* text : {"Gamma=1@", "Gamma=@1", "Gamma=1@1,2", "Gamma=1@x", "Gamma=1@-3", "Gamma=1@1@2",
                           "Gamma=1@1.5"}) {
    const std::string error = ErrorOf(text);
    EXPECT_THAT(error, HasSubstr("\"Gamma\"")) << text;
    EXPECT_THAT(error, HasSubstr(std::string("--set \"") + text + "\"")) << text;
  }
  EXPECT_THAT(ErrorOf("Gamma=1@1,2@1"), HasSubstr("two keyframes at frame 1"));
  EXPECT_THAT(ErrorOf("Gamma=1@1,99@2"), HasSubstr("\"99\" is not one"));
}

TEST_F(ParamParse, ErrorsNameTheParameterAndWhatItAccepts) {
  EXPECT_THAT(ErrorOf("Gamma=0"), HasSubstr("\"Gamma\" takes a number from 0.01 to 50"));
  EXPECT_THAT(ErrorOf("Tones=Hextone"), HasSubstr("one of Monotone, Duotone, Tritone, Pentone"));
  EXPECT_THAT(ErrorOf("Blend with Original=150"), HasSubstr("a percentage from 0 to 100"));
  EXPECT_THAT(ErrorOf("Midtones=#12"), HasSubstr("#RRGGBB or R,G,B"));
  const std::string unknown = ErrorOf("Gama=2");
  EXPECT_THAT(unknown, HasSubstr("no parameter named \"Gama\""));
  EXPECT_THAT(unknown, HasSubstr("Gamma"));  // the list of names to choose from
  EXPECT_THAT(ErrorOf("Gamma"), HasSubstr("NAME=VALUE"));
  EXPECT_THAT(ErrorOf("Levels=1"), HasSubstr("no parameter named \"Levels\""));  // a group holds no value
  for (const char* text : {"Gamma=0", "Gama=2", "Gamma=1@x"}) {
    EXPECT_EQ(ErrorOf(text).find('\n'), std::string::npos) << text;
  }
}

// Control characters in a setting (a line break, a NUL) are written as
// escapes where the message quotes the setting: the message stays one whole
// line, its end included.
TEST_F(ParamParse, ErrorsQuoteControlCharactersAsEscapes) {
  const std::string newline = ErrorOf("Gamma=1\n2");
  EXPECT_THAT(newline, HasSubstr("--set \"Gamma=1\\n2\""));
  EXPECT_THAT(newline, HasSubstr("\"1\\n2\" is not one"));
  EXPECT_THAT(ErrorOf("Gam\rma=1"), HasSubstr("no parameter named \"Gam\\rma\""));
  const std::string nul = ErrorOf(std::string("Tones=\0\x1F", 8));
  EXPECT_THAT(nul, HasSubstr("\"\\x00\\x1F\" is not one"));
  for (const std::string& message : {newline, nul, ErrorOf("Gamma=1@\r2"), ErrorOf("\n")}) {
    EXPECT_EQ(message.find_first_of("\n\r"), std::string::npos) << message;
    EXPECT_EQ(message.find('\0'), std::string::npos) << message;
  }
}

TEST_F(ParamParse, ALaterSettingOfAParameterReplacesAnEarlierOne) {
  const auto settings = ParseSettings(Catalog(), {"Gamma=2", "Tones=Duotone", "gamma=1@0,3@10"});
  ASSERT_EQ(settings.size(), 2u);
  EXPECT_EQ(settings[0].name, "Tones");
  EXPECT_EQ(settings[1].name, "Gamma");
  EXPECT_EQ(settings[1].keys.size(), 2u);
}

}  // namespace
}  // namespace qv::cli
