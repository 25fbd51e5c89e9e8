// The shell as the host sees it: every command goes through EntryPointFunc,
// driven by the simulated host in strict mode. The expected values are written
// out here on purpose: this file is a second statement of what the host stores
// in projects and reads from the resource, independent of the shell's tables.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host_driver.h"
#include "shell/plugin_facts.h"

namespace qv::testing {
namespace {

using simhost::Fault;
using simhost::FaultScope;
using simhost::Host;
using simhost::HostOptions;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Each;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

constexpr PF_ParamFlags kCollapsed = 0x20;
constexpr PF_ParamUIFlags kDisabled = 0x20;

class ShellHostTest : public ::testing::Test {
 protected:
  void SetUpThroughParams() {
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  }

  Host host = LinkedHost();
};

// ---- About, global setup and setdown --------------------------------------------

TEST_F(ShellHostTest, AboutNamesTheVersionThenTheNoticeOnASecondLine) {
  const std::string text = host.About();
  EXPECT_EQ(host.LastError(), PF_Err_NONE);
  const std::string first_line = "Quorvandile, v1.0.0\r";
  ASSERT_EQ(text.substr(0, first_line.size()), first_line);
  const std::string notice = text.substr(first_line.size());
  EXPECT_EQ(notice, facts::kAboutNotice);
  EXPECT_FALSE(notice.empty());
  EXPECT_EQ(notice.find_first_of("\r\n"), std::string::npos) << "the notice is one line";
  // Formatted by the host's sprintf, and nothing else asked of the host.
  EXPECT_THAT(Ops(CallsIn(host, LastCall(host))), ElementsAre("sprintf"));
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, GlobalSetupDeclaresItselfAndKeepsTheRegisteredIdInAHandle) {
  host.options().plugin_id = 0x0BADF00D;
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  const PF_OutData& out = host.LastOutData();
  EXPECT_EQ(out.my_version, 0x80601u);
  EXPECT_EQ(out.out_flags, 0x06000000);  // deep colour aware, sends UI updates
  EXPECT_EQ(out.out_flags2, 0x1400);     // smart render, float colour aware

  ASSERT_NE(host.GlobalData(), nullptr);
  const auto bytes = host.HandleBytes(host.GlobalData());
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 4u);
  AEGP_PluginID id = 0;
  std::memcpy(&id, bytes->data(), 4);
  EXPECT_EQ(id, 0x0BADF00Du);
  ASSERT_EQ(host.LiveHandles().size(), 1u);
  EXPECT_EQ(host.LiveHandles()[0].lock_count, 0) << "handed over unlocked";

  // Registered under "Error!" with the locked handle as the place for the id.
  EXPECT_THAT(Trace(CallsIn(host, LastCall(host))),
              ElementsAre("AcquireSuite PF Handle Suite 2", "host_new_handle h1 4", "host_lock_handle h1 1",
                          "AcquireSuite AEGP Utility Suite 7", "AEGP_RegisterWithAEGP Error! 0",
                          "host_unlock_handle h1 1", ::testing::_, ::testing::_));
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, GlobalSetupWithoutAHandleFailsAndKeepsNothing) {
  host.InjectFault({.op = "host_new_handle"});
  EXPECT_EQ(host.GlobalSetup(), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host.GlobalData(), nullptr);
  EXPECT_EQ(host.CountOf("AEGP_RegisterWithAEGP"), 0u);
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, FailedRegistrationReturnsItsCodeAndLeaksNothing) {
  host.InjectFault({.op = "AEGP_RegisterWithAEGP", .error = 0x1234});
  EXPECT_EQ(host.GlobalSetup(), 0x1234);
  EXPECT_EQ(host.GlobalData(), nullptr);
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_EQ(host.CountOf("host_dispose_handle"), 1u);
  // Setdown then has nothing to give back and asks the host for nothing.
  EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);
  EXPECT_THAT(CallsIn(host, LastCall(host)), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, ALockWithoutAnAddressRegistersNothingAndKeepsNothing) {
  host.InjectFault({.op = "host_lock_handle"});
  EXPECT_EQ(host.GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(host.CountOf("AEGP_RegisterWithAEGP"), 0u);
  EXPECT_EQ(host.CountOf("host_unlock_handle"), 1u);
  EXPECT_EQ(host.GlobalData(), nullptr);
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, SetdownDisposesOfTheGlobalHandle) {
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);
  EXPECT_THAT(Ops(CallsIn(host, LastCall(host))),
              ElementsAre("AcquireSuite", "host_dispose_handle", "ReleaseSuite"));
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// ---- Parameters -------------------------------------------------------------------

PF_ParamDef Definition(A_long id, PF_ParamType type, const char* name, PF_ParamFlags flags) {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof def);
  def.uu.id = id;
  def.param_type = type;
  std::strcpy(def.name_do_not_use_directly, name);
  def.flags = flags;
  return def;
}

struct ExpectedParam {
  PF_ParamDef def;
  std::string choices;  // popups only
};

ExpectedParam Popup(A_long id, const char* name, const char* choices, A_short count, A_short dephault) {
  PF_ParamDef def = Definition(id, PF_Param_POPUP, name, 0);
  def.u.pd.value = dephault;
  def.u.pd.num_choices = count;
  def.u.pd.dephault = dephault;
  return {def, choices};
}

ExpectedParam Colour(A_long id, const char* name, A_u_char red, A_u_char green, A_u_char blue) {
  PF_ParamDef def = Definition(id, PF_Param_COLOR, name, kCollapsed);
  def.u.cd.value = def.u.cd.dephault = PF_Pixel{255, red, green, blue};
  return {def, ""};
}

ExpectedParam FloatSlider(A_long id, const char* name, float valid_min, float valid_max, float slider_min,
                          float slider_max, float dephault, A_short precision, A_short display_flags) {
  PF_ParamDef def = Definition(id, PF_Param_FLOAT_SLIDER, name, kCollapsed);
  PF_FloatSliderDef& s = def.u.fs_d;
  s.value = dephault;
  s.valid_min = valid_min;
  s.valid_max = valid_max;
  s.slider_min = slider_min;
  s.slider_max = slider_max;
  s.dephault = dephault;
  s.precision = precision;
  s.display_flags = display_flags;
  s.curve_tolerance = 0.05f;
  return {def, ""};
}

// 16.16 values: 100 % is 0x640000.
ExpectedParam Percent(A_long id, const char* name, PF_Fixed dephault) {
  PF_ParamDef def = Definition(id, PF_Param_FIX_SLIDER, name, kCollapsed);
  PF_FixedSliderDef& s = def.u.fd;
  s.value = s.dephault = dephault;
  s.valid_min = s.slider_min = 0;
  s.valid_max = s.slider_max = 0x640000;
  s.precision = 1;
  s.display_flags = 1;  // percent
  return {def, ""};
}

// The saved-project contract, control by control.
std::vector<ExpectedParam> ExpectedParams() {
  return {
      Popup(1, "Base On", "Lightness|Luminance|Red|Green|Blue|Alpha", 6, 1),
      Popup(2, "Tones", "Monotone|Duotone|Tritone|Pentone", 4, 3),
      Colour(3, "Highlights", 255, 255, 255),
      Colour(4, "Brights", 192, 170, 120),
      Colour(5, "Midtones", 128, 100, 70),
      Colour(6, "Darktones", 64, 50, 10),
      Colour(7, "Shadows", 0, 0, 0),
      {Definition(8, PF_Param_GROUP_START, "Levels", kCollapsed), ""},
      FloatSlider(9, "Input Black", -100, 100, 0, 1, 0, 1, 2),
      FloatSlider(10, "Input White", -100, 100, 0, 1, 1, 1, 2),
      FloatSlider(11, "Gamma", 0.01f, 50, 0.01f, 10, 1, 2, 0),
      FloatSlider(12, "Output Black", -100, 100, 0, 1, 0, 1, 2),
      FloatSlider(13, "Output White", -100, 100, 0, 1, 1, 1, 2),
      {Definition(14, PF_Param_GROUP_END, "", 0), ""},
      Percent(15, "Highlights Opacity", 0x640000),
      Percent(16, "Shadows Opacity", 0),
      Percent(17, "Blend with Original", 0),
  };
}

std::string Text(const char* chars, std::size_t size) { return std::string(chars, strnlen(chars, size)); }

void ExpectSameDefinition(const PF_ParamDef& got, const ExpectedParam& expected) {
  const PF_ParamDef& want = expected.def;
  EXPECT_EQ(got.uu.id, want.uu.id);
  EXPECT_EQ(got.ui_flags, 0);
  EXPECT_EQ(got.ui_width, 0);
  EXPECT_EQ(got.ui_height, 0);
  EXPECT_EQ(got.param_type, want.param_type);
  EXPECT_EQ(Text(got.name_do_not_use_directly, sizeof got.name_do_not_use_directly),
            Text(want.name_do_not_use_directly, sizeof want.name_do_not_use_directly));
  EXPECT_EQ(got.flags, want.flags);
  EXPECT_EQ(got.unused, 0);
  switch (want.param_type) {
    case PF_Param_POPUP:
      EXPECT_EQ(got.u.pd.value, want.u.pd.value);
      EXPECT_EQ(got.u.pd.num_choices, want.u.pd.num_choices);
      EXPECT_EQ(got.u.pd.dephault, want.u.pd.dephault);
      ASSERT_NE(got.u.pd.u.namesptr, nullptr);
      EXPECT_EQ(std::string(got.u.pd.u.namesptr), expected.choices);
      break;
    case PF_Param_COLOR:
      EXPECT_EQ(std::memcmp(&got.u.cd.value, &want.u.cd.value, sizeof(PF_Pixel)), 0) << "value";
      EXPECT_EQ(std::memcmp(&got.u.cd.dephault, &want.u.cd.dephault, sizeof(PF_Pixel)), 0) << "default";
      break;
    case PF_Param_FLOAT_SLIDER: {
      const PF_FloatSliderDef &g = got.u.fs_d, &w = want.u.fs_d;
      EXPECT_EQ(g.value, w.value);
      EXPECT_EQ(g.phase, 0.0);
      EXPECT_EQ(Text(g.value_desc, sizeof g.value_desc), "");
      EXPECT_EQ(g.valid_min, w.valid_min);
      EXPECT_EQ(g.valid_max, w.valid_max);
      EXPECT_EQ(g.slider_min, w.slider_min);
      EXPECT_EQ(g.slider_max, w.slider_max);
      EXPECT_EQ(g.dephault, w.dephault);
      EXPECT_EQ(g.precision, w.precision);
      EXPECT_EQ(g.display_flags, w.display_flags);
      EXPECT_EQ(g.fs_flags, 0);
      EXPECT_EQ(g.curve_tolerance, w.curve_tolerance);
      EXPECT_EQ(g.useExponent, 0);
      EXPECT_EQ(g.exponent, 0.0f);
      break;
    }
    case PF_Param_FIX_SLIDER: {
      const PF_FixedSliderDef &g = got.u.fd, &w = want.u.fd;
      EXPECT_EQ(g.value, w.value);
      EXPECT_EQ(Text(g.value_str, sizeof g.value_str), "");
      EXPECT_EQ(Text(g.value_desc, sizeof g.value_desc), "");
      EXPECT_EQ(g.valid_min, w.valid_min);
      EXPECT_EQ(g.valid_max, w.valid_max);
      EXPECT_EQ(g.slider_min, w.slider_min);
      EXPECT_EQ(g.slider_max, w.slider_max);
      EXPECT_EQ(g.dephault, w.dephault);
      EXPECT_EQ(g.precision, w.precision);
      EXPECT_EQ(g.display_flags, w.display_flags);
      break;
    }
    default: {
      // Group start and end carry no value: the whole value union stays zero.
      const auto* bytes = reinterpret_cast<const unsigned char*>(&got.u);
      EXPECT_TRUE(std::all_of(bytes, bytes + sizeof got.u, [](unsigned char b) { return b == 0; }));
    }
  }
}

TEST_F(ShellHostTest, EveryParameterIsRegisteredAsTheProjectsExpectIt) {
  SetUpThroughParams();
  EXPECT_EQ(host.LastOutData().num_params, 18);
  const std::vector<ExpectedParam> expected = ExpectedParams();
  ASSERT_EQ(host.NumParams(), 1 + static_cast<A_long>(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto index = static_cast<PF_ParamIndex>(i + 1);
    SCOPED_TRACE("parameter " + std::to_string(index) + " \"" + expected[i].def.name_do_not_use_directly + "\"");
    ExpectSameDefinition(host.Param(index), expected[i]);
  }
  // Each appended (index -1), names copied with the host's strcpy, in order;
  // no suite is needed for registration.
  std::vector<std::string> added, copied;
  for (const auto& call : CallsIn(host, LastCall(host))) {
    if (call.op == "add_param") {
      EXPECT_EQ(call.arg, -1) << call.detail;
      added.push_back(call.detail);
    }
    if (call.op == "strcpy") copied.push_back(call.detail);
    EXPECT_NE(call.op, "AcquireSuite");
  }
  std::vector<std::string> names;
  for (const auto& p : expected) names.push_back(p.def.name_do_not_use_directly);
  EXPECT_EQ(added, names);
  EXPECT_EQ(copied, names);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, AFailingAddParamStopsRegistrationWithItsCode) {
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  host.InjectFault({.op = "add_param", .occurrence = 5, .error = 0x77});
  EXPECT_EQ(host.ParamsSetup(), 0x77);
  EXPECT_EQ(host.CountOf("add_param"), 5u);
  EXPECT_EQ(host.LastOutData().num_params, 0) << "num_params is set only when every control was added";
}

// ---- Parameter UI ------------------------------------------------------------------

struct UiCase {
  A_long tones;
  std::vector<bool> disabled;  // Highlights, Brights, Midtones, Darktones, Shadows
};

TEST_F(ShellHostTest, UiGreysOutTheColoursTheToneCountDoesNotUse) {
  SetUpThroughParams();
  const std::vector<UiCase> cases = {
      {4, {false, false, false, false, false}},  // Pentone first: then every other case disables
      {1, {true, true, false, true, true}},      // Monotone
      {4, {false, false, false, false, false}},  // and back
      {2, {false, true, true, true, false}},     // Duotone
      {3, {false, true, false, true, false}},    // Tritone
  };
  const PF_Pixel midtones{255, 9, 8, 7};
  host.SetParam("Midtones", midtones);
  for (const UiCase& c : cases) {
    SCOPED_TRACE("Tones " + std::to_string(c.tones));
    host.SetParam("Tones", simhost::PopupValue{c.tones});
    ASSERT_EQ(host.UpdateParamsUI(), PF_Err_NONE);
    EXPECT_NE(host.LastOutData().out_flags & 0x20000, 0) << "refresh requested";
    std::vector<long long> indices;
    for (const auto& call : CallsIn(host, LastCall(host))) {
      if (call.op == "PF_UpdateParamUI") indices.push_back(call.arg);
    }
    EXPECT_THAT(indices, ElementsAre(3, 4, 5, 6, 7));
    for (PF_ParamIndex index = 3; index <= 7; ++index) {
      const PF_ParamDef def = host.UiUpdates(index).back();
      EXPECT_EQ((def.ui_flags & kDisabled) != 0, c.disabled[static_cast<std::size_t>(index - 3)]) << index;
      EXPECT_EQ(def.param_type, PF_Param_COLOR) << "the host's own definition, greyed, not hidden";
    }
    EXPECT_EQ(std::memcmp(&host.UiUpdates(5).back().u.cd.value, &midtones, sizeof midtones), 0)
        << "values stay as they were";
  }
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, AnUnknownToneCountChangesNoControl) {
  SetUpThroughParams();
  host.SetParam("Tones", simhost::PopupValue{7});
  EXPECT_EQ(host.UpdateParamsUI(), PF_Err_NONE);
  EXPECT_EQ(host.CountOf("PF_UpdateParamUI"), 0u);
  EXPECT_NE(host.LastOutData().out_flags & 0x20000, 0);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ShellHostTest, AFailingUiUpdateStopsTheRestAndStillAsksForARefresh) {
  SetUpThroughParams();
  for (int failing : {1, 3}) {
    SCOPED_TRACE(failing);
    host.ClearCalls();
    host.InjectFault({.op = "PF_UpdateParamUI", .occurrence = failing, .error = 0x2A});
    EXPECT_EQ(host.UpdateParamsUI(), 0x2A);
    EXPECT_EQ(host.CountOf("PF_UpdateParamUI"), static_cast<std::size_t>(failing));
    EXPECT_NE(host.LastOutData().out_flags & 0x20000, 0);
  }
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// The refresh is the last step: a refused suite (or no basic suite) raises
// before it, so nothing is refreshed and no control was touched.
TEST_F(ShellHostTest, ARefusedSuiteFailsTheUiRefreshWithoutAskingForARefresh) {
  SetUpThroughParams();
  host.RefuseSuite(kPFParamUtilsSuite);
  EXPECT_EQ(host.UpdateParamsUI(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.LastOutData().out_flags & PF_OutFlag_REFRESH_UI, 0);
  EXPECT_EQ(host.CountOf("PF_UpdateParamUI"), 0u);
  host.ClearFaults();
  host.options().provide_basic_suite = false;
  EXPECT_EQ(host.UpdateParamsUI(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.LastOutData().out_flags & PF_OutFlag_REFRESH_UI, 0);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// ---- Dispatch and suites ------------------------------------------------------------

// PF_OutData as the host hands it in: its pattern wherever the effect has no
// business, zeros in what the effect writes, the global data.
PF_OutData HandedIn(const Host& host) {
  PF_OutData out;
  std::memset(&out, simhost::kUnusedBytePattern, sizeof out);
  out.my_version = 0;
  out.global_data = host.GlobalData();
  out.num_params = 0;
  out.out_flags = 0;
  std::memset(out.return_msg, 0, sizeof out.return_msg);
  out.out_flags2 = 0;
  return out;
}

// The output world of the last command still holds the host's fill.
bool OutputUntouched(const Host& host, unsigned char fill) {
  const simhost::World* output = host.RawOutput();
  if (output == nullptr) return false;
  simhost::World filled(output->width(), output->height(), output->format());
  filled.FillPixelBytes(fill);
  return output->SamePixels(filled);
}

TEST_F(ShellHostTest, CommandsOutsideTheTableReturnZeroAndTouchNothing) {
  SetUpThroughParams();
  host.options().output_fill = 0x3C;
  const std::set<PF_Cmd> handled = {0, 1, 3, 4, 11, 14, 23, 24};
  std::vector<PF_Cmd> others;
  for (PF_Cmd cmd = 0; cmd < PF_Cmd_NUM_CMDS; ++cmd) {
    if (!handled.contains(cmd)) others.push_back(cmd);
  }
  others.push_back(PF_Cmd_NUM_CMDS);
  others.push_back(1000);
  for (PF_Cmd cmd : others) {
    SCOPED_TRACE(cmd);
    EXPECT_EQ(host.SendCommand(cmd), PF_Err_NONE);
    EXPECT_THAT(CallsIn(host, LastCall(host)), IsEmpty());
    const PF_OutData untouched = HandedIn(host);
    EXPECT_EQ(std::memcmp(&host.LastOutData(), &untouched, sizeof untouched), 0);
    EXPECT_TRUE(OutputUntouched(host, 0x3C)) << "only smart render renders";
  }
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// A host that sends the plain render (11) expects its output filled: the
// effect fails it, says why through the host and writes no pixel.
TEST_F(ShellHostTest, ThePlainRenderFailsWithAMessageAndWritesNoPixel) {
  SetUpThroughParams();
  host.options().output_fill = 0xA7;
  EXPECT_EQ(host.SendCommand(11), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_THAT(Ops(CallsIn(host, LastCall(host))), ElementsAre("sprintf"));
  PF_OutData expected = HandedIn(host);
  expected.out_flags = PF_OutFlag_DISPLAY_ERROR_MESSAGE;
  const std::string message =
      "Quorvandile renders only in After Effects' smart render, not in this host's plain render.";
  std::memcpy(expected.return_msg, message.c_str(), message.size() + 1);
  EXPECT_EQ(host.LastOutData().return_msg, message);
  EXPECT_EQ(std::memcmp(&host.LastOutData(), &expected, sizeof expected), 0) << "nothing else in out_data";
  EXPECT_TRUE(OutputUntouched(host, 0xA7));
  // And the effect goes on: the same frame through smart render.
  EXPECT_EQ(host.RenderFrame(0).err(), PF_Err_NONE);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

using Step = std::function<PF_Err(Host&)>;
struct NamedStep {
  std::string command;
  Step run;
};

// A whole life of the effect: setup, parameters, UI, one frame, setdown.
std::vector<NamedStep> LifeSteps() {
  return {
      {"GLOBAL_SETUP", [](Host& h) { return h.GlobalSetup(); }},
      {"PARAMS_SETUP", [](Host& h) { return h.ParamsSetup(); }},
      {"UPDATE_PARAMS_UI", [](Host& h) { return h.UpdateParamsUI(); }},
      {"SMART_PRE_RENDER", [](Host& h) { return h.PreRender(0); }},
      {"SMART_RENDER", [](Host& h) { return h.RenderPending().render_err; }},
      {"GLOBAL_SETDOWN", [](Host& h) { return h.GlobalSetdown(); }},
  };
}

using SuiteSet = std::set<std::string>;

TEST(ShellSuites, EachCommandTakesOnlyItsOwnSuitesAndGivesThemAllBack) {
  Host host = LinkedHost();
  for (const NamedStep& step : LifeSteps()) ASSERT_EQ(step.run(host), PF_Err_NONE) << step.command;
  host.About();
  std::map<std::string, SuiteSet> taken;
  for (const simhost::CommandRecord& record : host.Commands()) {
    SuiteSet& suites = taken[record.name];
    for (const auto& [key, balance] : record.suites) {
      suites.insert(key.first + " " + std::to_string(key.second));
      EXPECT_EQ(balance.acquired, 1) << record.name << " " << key.first;
      EXPECT_EQ(balance.released, 1) << record.name << " " << key.first;
    }
  }
  const std::map<std::string, SuiteSet> expected = {
      {"ABOUT", {}},
      {"GLOBAL_SETUP", {"PF Handle Suite 2", "AEGP Utility Suite 7"}},
      {"PARAMS_SETUP", {}},
      {"UPDATE_PARAMS_UI", {"PF Param Utils Suite 2"}},
      {"SMART_PRE_RENDER", {"PF Handle Suite 2"}},
      {"SMART_RENDER", {"PF Handle Suite 2", "AEGP Iterate Suite 1", "PF Iterate8 Suite 1", "PF World Suite 2"}},
      {"delete_pre_render_data_func", {"PF Handle Suite 2"}},
      {"GLOBAL_SETDOWN", {"PF Handle Suite 2"}},
  };
  EXPECT_EQ(taken, expected);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// Refusing each suite in each command that takes it: the entry point returns
// 516 and every suite it did get goes back.
TEST(ShellSuites, ASuiteRefusedAnywhereComesBackAs516) {
  const std::vector<NamedStep> steps = LifeSteps();
  const std::map<std::string, std::vector<std::pair<std::string, A_long>>> uses = {
      {"GLOBAL_SETUP", {{kPFHandleSuite, 2}, {kAEGPUtilitySuite, 7}}},
      {"UPDATE_PARAMS_UI", {{kPFParamUtilsSuite, 2}}},
      {"SMART_PRE_RENDER", {{kPFHandleSuite, 2}}},
      {"SMART_RENDER", {{kPFHandleSuite, 2}, {kAEGPIterateSuite, 1}, {kPFIterate8Suite, 1}, {kPFWorldSuite, 2}}},
      {"GLOBAL_SETDOWN", {{kPFHandleSuite, 2}}},
  };
  int cases = 0;
  for (std::size_t s = 0; s < steps.size(); ++s) {
    const auto found = uses.find(steps[s].command);
    if (found == uses.end()) continue;
    for (const auto& [suite, version] : found->second) {
      SCOPED_TRACE(steps[s].command + " refused \"" + suite + "\"");
      Host host = LinkedHost();
      for (std::size_t before = 0; before < s; ++before) ASSERT_EQ(steps[before].run(host), PF_Err_NONE);
      host.InjectFault({.op = "AcquireSuite", .detail = suite, .arg = version, .occurrence = 0,
                        .error = kSPSuiteNotFoundError});
      EXPECT_EQ(steps[s].run(host), PF_Err_BAD_CALLBACK_PARAM);
      EXPECT_EQ(host.Commands()[static_cast<std::size_t>(LastCallNamed(host, steps[s].command))].err,
                PF_Err_BAD_CALLBACK_PARAM);
      EXPECT_THAT(host.Violations(), Each(Not(HasSubstr("suite"))));
      ++cases;
    }
  }
  EXPECT_EQ(cases, 9);
}

// A host that passes no basic suite: every command that needs a suite says
// 516, the two that need none still work.
TEST(ShellSuites, NoBasicSuiteIs516WhereASuiteIsNeeded) {
  Host host = LinkedHost();
  host.options().provide_basic_suite = false;
  EXPECT_EQ(host.GlobalSetup(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.About(), std::string("Quorvandile, v1.0.0\r") + facts::kAboutNotice);
  EXPECT_EQ(host.ParamsSetup(), PF_Err_NONE);
  EXPECT_EQ(host.UpdateParamsUI(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.PreRender(0), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.DropPending().pre_render_output.pre_render_data, nullptr);

  // Render, and setdown with global data, on their own.
  host.options().provide_basic_suite = true;
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.PreRender(1), PF_Err_NONE);
  host.options().provide_basic_suite = false;
  const simhost::FrameReport frame = host.RenderPending();
  EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(frame.delete_called);
  EXPECT_EQ(host.GlobalSetdown(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.LiveHandles().size(), 1u) << "only the global handle, which setdown could not give back";
}

// ---- Registration resource ------------------------------------------------------------

void ExpectResourceTable(const simhost::PiplInfo& pipl) {
  EXPECT_EQ(pipl.kind, "eFKT");
  EXPECT_EQ(pipl.name, "Quorvandile");
  EXPECT_EQ(pipl.category, "Zenthi");
  EXPECT_EQ(pipl.entry_point, "EntryPointFunc");
  EXPECT_EQ(pipl.pipl_version, (simhost::PiplVersion{2, 0}));
  EXPECT_EQ(pipl.spec_version, (simhost::PiplVersion{13, 0}));
  EXPECT_EQ(pipl.effect_version, 0x80601u);
  EXPECT_EQ(pipl.info_flags, 0u);
  EXPECT_EQ(pipl.global_out_flags, 0x06000000u);
  EXPECT_EQ(pipl.global_out_flags2, 0x1400u);
  EXPECT_EQ(pipl.match_name, "Quorvandile");
  EXPECT_EQ(pipl.reserved_info, 8u);
  EXPECT_THAT(pipl.keys, ElementsAre("kind", "name", "catg", "8664", "ePVR", "eSVR", "eVER", "eINF", "eGLO",
                                     "eGL2", "eMNA", "aeFL"));
}

TEST(ShellResource, ParsesToTheDeclaredTableAndAgreesWithGlobalSetup) {
  std::string why;
  const auto pipl = simhost::ParsePipl(PiplSpan(), &why);
  ASSERT_TRUE(pipl) << why;
  ExpectResourceTable(*pipl);

  Host host = LinkedHost();
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(static_cast<std::uint32_t>(host.LastOutData().out_flags), pipl->global_out_flags);
  EXPECT_EQ(static_cast<std::uint32_t>(host.LastOutData().out_flags2), pipl->global_out_flags2);
  EXPECT_EQ(host.LastOutData().my_version, pipl->effect_version);
  EXPECT_THAT(host.Violations(), IsEmpty()) << "the host compares them too";
}

TEST(ShellRun, AWholeRunInStrictModeIsClean) {
  Host host = LinkedHost();
  ASSERT_TRUE(host.options().strict);
  EXPECT_EQ(host.Run(0, 3), PF_Err_NONE);
  EXPECT_EQ(host.CountOf("EntryPointFunc", "SMART_RENDER"), 3u);
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

#if defined(QV_PLUGIN_FILE)
// The finished library, loaded as the host loads it.
TEST(ShellLoaded, TheLibraryFileDeclaresTheSameAndRunsClean) {
  std::string error;
  auto host = Host::Load(QV_PLUGIN_FILE, &error);
  ASSERT_TRUE(host) << error;
  ASSERT_TRUE(host->pipl());
  ExpectResourceTable(*host->pipl());
  EXPECT_EQ(host->About(), std::string("Quorvandile, v1.0.0\r") + facts::kAboutNotice);
  EXPECT_EQ(host->Run(0, 2), PF_Err_NONE);
  EXPECT_THAT(host->LiveHandles(), IsEmpty());
  EXPECT_THAT(host->Violations(), IsEmpty());
}
#endif

}  // namespace
}  // namespace qv::testing
