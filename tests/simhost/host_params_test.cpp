// Parameter registration, checkout at a time (keyframes), UI updates, and the
// ANSI callbacks the effect uses to fill names and messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "fake_effect.h"
#include "simhost/host.h"

namespace {

using simhost::FixedFromDouble;
using simhost::FixedValue;
using simhost::Host;
using simhost::PopupValue;
using simhost_test::CommandArgs;
using simhost_test::FakeEffect;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::SizeIs;

constexpr PF_Cmd kPlainCmd = PF_Cmd_USER_CHANGED_PARAM;

class HostParamsTest : public testing::Test {
 protected:
  void SetUp() override {
    effect.On(PF_Cmd_PARAMS_SETUP, [this](const CommandArgs& a) {
      PF_Err err = simhost_test::AddPopup(a.in, "Mode", choices, 3, 2);
      if (!err) err = simhost_test::AddColor(a.in, "Tint", PF_Pixel{255, 10, 20, 30});
      if (!err) err = simhost_test::AddFloat(a.in, "Gain", 0, 10, 1);
      if (!err) err = simhost_test::AddFixed(a.in, "Mix", 0, 100 << 16, 50 << 16);
      a.out->num_params = 5;
      return err;
    });
  }

  // Checks `index` out at `what_time` (in 1/time_scale s) during a command, and back in.
  PF_ParamDef Checkout(PF_ParamIndex index, A_long what_time = 0, A_u_long time_scale = 24, PF_Err* err = nullptr) {
    PF_ParamDef def{};
    PF_Err result = -1;
    effect.On(kPlainCmd, [&](const CommandArgs& a) {
      result = a.in->inter.checkout_param(a.in->effect_ref, index, what_time, 1, time_scale, &def);
      if (result == PF_Err_NONE) a.in->inter.checkin_param(a.in->effect_ref, &def);
      return PF_Err_NONE;
    });
    host.SendCommand(kPlainCmd);
    if (err) *err = result;
    return def;
  }

  char choices[16] = "A|B|C";
  FakeEffect effect;
  Host host{&FakeEffect::Entry};
};

TEST_F(HostParamsTest, CheckoutGivesTheRegisteredDefinitionWithTheCurrentValue) {
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  std::strcpy(choices, "X|Y|Z");  // the host keeps its own copy of the choices
  EXPECT_EQ(host.NumParams(), 5);
  EXPECT_STREQ(host.Param(1).name_do_not_use_directly, "Mode");
  EXPECT_EQ(host.ParamIndex("Mix"), 4);

  const PF_ParamDef mode = Checkout(1);
  EXPECT_EQ(mode.param_type, PF_Param_POPUP);
  EXPECT_EQ(mode.u.pd.value, 2);  // the default
  EXPECT_STREQ(mode.u.pd.u.namesptr, "A|B|C");
  EXPECT_EQ(Checkout(2).u.cd.value.blue, 30);
  EXPECT_EQ(Checkout(3).u.fs_d.value, 1.0);
  EXPECT_EQ(Checkout(4).u.fd.value, 50 << 16);
  const PF_ParamDef layer = Checkout(0);
  EXPECT_EQ(layer.param_type, PF_Param_LAYER);
  EXPECT_EQ(layer.u.ld.width, host.options().layer_width);

  host.SetParam("Mode", PopupValue{3});
  host.SetParam(2, PF_Pixel{255, 1, 2, 3});
  host.SetParam("Gain", 2.5);
  host.SetParam("Mix", FixedFromDouble(12.5));
  EXPECT_EQ(Checkout(1).u.pd.value, 3);
  EXPECT_EQ(Checkout(2).u.cd.value.red, 1);
  EXPECT_EQ(Checkout(3).u.fs_d.value, 2.5);
  EXPECT_EQ(Checkout(4).u.fd.value, 12.5 * 65536);
  EXPECT_EQ(Checkout(3).u.fs_d.valid_max, 10.0f);  // the rest of the definition comes along

  PF_Err err = PF_Err_NONE;
  Checkout(5, 0, 24, &err);
  EXPECT_EQ(err, PF_Err_INVALID_INDEX);
  Checkout(-1, 0, 24, &err);
  EXPECT_EQ(err, PF_Err_INVALID_INDEX);
  EXPECT_THROW(host.SetParam("Gain", PopupValue{1}), std::invalid_argument);
  EXPECT_THROW(host.SetParam("Nothing", 1.0), std::invalid_argument);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(HostParamsTest, KeyframesInterpolateByKindAndHoldOutsideTheKeys) {
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  host.SetParamKey(1, 0, PopupValue{1});
  host.SetParamKey(1, 10, PopupValue{3});
  host.SetParamKey(2, 0, PF_Pixel{0, 0, 0, 0});
  host.SetParamKey(2, 10, PF_Pixel{255, 10, 101, 3});
  host.SetParamKey(3, 0, 0.0);
  host.SetParamKey(3, 10, 1.0);
  host.SetParamKey(4, 10, FixedValue{100 << 16});  // keys may come in any order
  host.SetParamKey(4, 0, FixedValue{0});

  // Halfway, at 5/24 s.
  EXPECT_EQ(Checkout(1, 5).u.pd.value, 1);  // popups hold until the next key
  const PF_Pixel half = Checkout(2, 5).u.cd.value;
  EXPECT_THAT((std::vector<int>{half.alpha, half.red, half.green, half.blue}), ElementsAre(128, 5, 51, 2));
  EXPECT_EQ(Checkout(3, 5).u.fs_d.value, 0.5);
  EXPECT_EQ(Checkout(4, 5).u.fd.value, 50 << 16);

  // A quarter of the way, asked in a finer time scale: 5/48 s.
  const PF_Pixel quarter = Checkout(2, 5, 48).u.cd.value;
  EXPECT_THAT((std::vector<int>{quarter.alpha, quarter.red, quarter.green, quarter.blue}),
              ElementsAre(64, 3, 25, 1));
  EXPECT_EQ(Checkout(3, 5, 48).u.fs_d.value, 0.25);
  EXPECT_EQ(Checkout(4, 1).u.fd.value, 10 << 16);

  EXPECT_EQ(Checkout(1, 10).u.pd.value, 3);
  EXPECT_EQ(Checkout(3, -3).u.fs_d.value, 0.0);  // before the first key
  EXPECT_EQ(Checkout(3, 20).u.fs_d.value, 1.0);  // after the last
  EXPECT_EQ(std::get<double>(host.ParamValueAt(3, 5)), 0.5);

  host.SetParam(3, 0.75);  // a constant value replaces the keys
  EXPECT_EQ(Checkout(3, 0).u.fs_d.value, 0.75);
  EXPECT_EQ(Checkout(3, 10).u.fs_d.value, 0.75);
}

TEST_F(HostParamsTest, AValueSetBeforeRegistrationMustFitTheParameter) {
  host.SetParam(3, 2.0);
  EXPECT_NO_THROW(host.ParamsSetup());
  EXPECT_EQ(Checkout(3).u.fs_d.value, 2.0);
  EXPECT_THROW(host.SetParam(1, 2.0), std::invalid_argument);  // registered: refused at once

  Host fresh{&FakeEffect::Entry};
  fresh.SetParam(1, 2.0);  // "Mode" is a popup
  EXPECT_THROW(fresh.ParamsSetup(), std::invalid_argument);
}

TEST_F(HostParamsTest, EveryCheckoutMustBeCheckedIn) {
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  effect.On(kPlainCmd, [](const CommandArgs& a) {
    PF_ParamDef one{}, two{}, stray{};
    a.in->inter.checkout_param(a.in->effect_ref, 1, 0, 1, 24, &one);
    a.in->inter.checkout_param(a.in->effect_ref, 2, 0, 1, 24, &two);
    a.in->inter.checkin_param(a.in->effect_ref, &one);
    EXPECT_NE(a.in->inter.checkin_param(a.in->effect_ref, &stray), PF_Err_NONE);
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(host.Violations(),
              ElementsAre("USER_CHANGED_PARAM: checkin_param of a definition that is not checked out",
                          "USER_CHANGED_PARAM: parameter 2 checked out and not checked in"));
}

TEST_F(HostParamsTest, AddParamIsCheckedAsTheHostChecksIt) {
  std::vector<PF_Err> results;
  effect.On(PF_Cmd_PARAMS_SETUP, [&](const CommandArgs& a) {
    PF_ParamDef def{};
    def.param_type = 99;
    results.push_back(a.in->inter.add_param(a.in->effect_ref, -1, &def));
    def.param_type = PF_Param_COLOR;
    results.push_back(a.in->inter.add_param(a.in->effect_ref, 7, &def));
    std::memset(def.name_do_not_use_directly, 'x', sizeof def.name_do_not_use_directly);  // no terminating NUL
    results.push_back(a.in->inter.add_param(a.in->effect_ref, -1, &def));
    results.push_back(simhost_test::AddPopup(a.in, "Two", "A|B", 3, 1));
    results.push_back(simhost_test::AddFloat(a.in, "Wide", 0, 10, 20));
    PF_ParamDef group{};
    group.param_type = PF_Param_GROUP_START;
    results.push_back(simhost_test::AddDef(a.in, group, "Open"));
    a.out->num_params = 10;
    return PF_Err_NONE;
  });
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    results.push_back(simhost_test::AddColor(a.in, "Late", PF_Pixel{}));
    return PF_Err_NONE;
  });
  host.ParamsSetup();
  host.SendCommand(kPlainCmd);
  EXPECT_THAT(results, ElementsAre(PF_Err_UNRECOGNIZED_PARAM_TYPE, PF_Err_INVALID_INDEX, PF_Err_NONE, PF_Err_NONE,
                                   PF_Err_NONE, PF_Err_NONE, PF_Err_INVALID_CALLBACK));
  EXPECT_EQ(std::string(host.Param(1).name_do_not_use_directly), std::string(31, 'x'));
  EXPECT_EQ(host.NumParams(), 5);
  EXPECT_THAT(host.Violations(),
              ElementsAre(HasSubstr("unknown parameter type 99"), HasSubstr("appended with index -1"),
                          HasSubstr("not terminated within 32 bytes"), HasSubstr("num_choices 3 but 2 choices"),
                          HasSubstr("default lies outside the valid range"),
                          "PARAMS_SETUP: num_params is 10, but 1 + 4 parameters were added",
                          "PARAMS_SETUP: 1 parameter group(s) not closed by a group end",
                          "USER_CHANGED_PARAM: add_param outside PARAMS_SETUP"));
}

TEST_F(HostParamsTest, UiUpdatesAreRecordedAndChangeOnlyTheUi) {
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  std::vector<PF_Err> results;
  std::vector<PF_ParamUIFlags> seen_flags;
  effect.On(PF_Cmd_UPDATE_PARAMS_UI, [&](const CommandArgs& a) {
    const auto* pu = simhost_test::Acquire<PF_ParamUtilsSuite1>(a.in, kPFParamUtilsSuite, 2);
    seen_flags.push_back(a.params[2]->ui_flags);
    PF_ParamDef tint = *a.params[2];
    tint.ui_flags ^= PF_PUI_DISABLED;
    tint.u.cd.value = PF_Pixel{0, 0, 0, 0};  // ignored: the UI call changes no value
    results.push_back(pu->PF_UpdateParamUI(a.in->effect_ref, 2, &tint));
    results.push_back(pu->PF_UpdateParamUI(a.in->effect_ref, 0, &tint));
    simhost_test::Release(a.in, kPFParamUtilsSuite, 2);
    return PF_Err_NONE;
  });
  host.UpdateParamsUI();
  host.UpdateParamsUI();
  EXPECT_THAT(seen_flags, ElementsAre(0, PF_PUI_DISABLED));
  EXPECT_THAT(results, ElementsAre(PF_Err_NONE, PF_Err_INVALID_INDEX, PF_Err_NONE, PF_Err_INVALID_INDEX));
  const auto updates = host.UiUpdates(2);
  ASSERT_THAT(updates, SizeIs(2));
  EXPECT_EQ(updates[0].ui_flags, PF_PUI_DISABLED);
  EXPECT_EQ(updates[1].ui_flags, 0);
  EXPECT_EQ(Checkout(2).u.cd.value.red, 10);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(HostParamsTest, SprintfAndStrcpyStayWithinTheirFields) {
  const std::string long_text(400, 'a');
  A_long written = 0;
  effect.On(PF_Cmd_ABOUT, [&](const CommandArgs& a) {
    a.out->out_flags2 = 0x1234;  // the field after return_msg
    written = a.in->utils->ansi.sprintf(a.out->return_msg, "%s", long_text.c_str());
    return PF_Err_NONE;
  });
  EXPECT_EQ(host.About(), std::string(PF_MAX_EFFECT_MSG_LEN, 'a'));
  EXPECT_EQ(written, PF_MAX_EFFECT_MSG_LEN);
  EXPECT_EQ(host.LastOutData().out_flags2, 0x1234);

  PF_ParamDef def{};
  effect.On(kPlainCmd, [&](const CommandArgs& a) {
    def.flags = 0x77;  // the field after the name
    a.in->utils->ansi.strcpy(def.name_do_not_use_directly, "A name much longer than thirty-one characters");
    return PF_Err_NONE;
  });
  host.SendCommand(kPlainCmd);
  EXPECT_STREQ(def.name_do_not_use_directly, "A name much longer than thirty-");
  EXPECT_EQ(def.flags, 0x77);
  EXPECT_THAT(host.Violations(), ElementsAre(HasSubstr("sprintf of 400 characters cut to 255"),
                                             HasSubstr("strcpy of a source longer than 31 characters")));
}

}  // namespace
