// From the host's parameter store to the pixels: pre-render reads every value
// at the frame's time into the record that render tones with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "frame_support.h"

namespace qv::testing {
namespace {

using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using simhost::World;
using ::testing::Each;
using ::testing::IsEmpty;

class ParamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  }

  // Renders `layer` and returns its output (empty on failure).
  std::optional<World> Render(const World& layer, A_long frame = 0) {
    host.SetInput(layer);
    FrameReport report = host.RenderFrame(frame);
    EXPECT_EQ(report.err(), PF_Err_NONE);
    return std::move(report.output);
  }

  Host host = LinkedHost();
};

TEST_F(ParamsTest, DefaultsGiveTheDocumentedRecord) {
  ASSERT_EQ(host.PreRender(0), PF_Err_NONE);
  const auto record = PendingRecord(host);
  ASSERT_TRUE(record);
  const ToneParams& r = *record;
  EXPECT_EQ(r.baseOn, 1);
  EXPECT_EQ(r.tones, 3);
  auto expect_colour = [](const PixelFloat& c, float a, float red, float green, float blue, const char* name) {
    EXPECT_EQ(c.alpha, a) << name;
    EXPECT_EQ(c.red, red) << name;
    EXPECT_EQ(c.green, green) << name;
    EXPECT_EQ(c.blue, blue) << name;
  };
  expect_colour(r.highlights, 1, 1, 1, 1, "Highlights");
  expect_colour(r.brights, 1, 192 / 255.0f, 170 / 255.0f, 120 / 255.0f, "Brights");
  expect_colour(r.midtones, 1, 128 / 255.0f, 100 / 255.0f, 70 / 255.0f, "Midtones");
  expect_colour(r.darktones, 1, 64 / 255.0f, 50 / 255.0f, 10 / 255.0f, "Darktones");
  expect_colour(r.shadows, 1, 0, 0, 0, "Shadows");
  EXPECT_EQ(r.midtones.red, 0.50196081f) << "128 as the float nearest 128/255, by division";
  EXPECT_EQ(r.inputBlack, 0.0);
  EXPECT_EQ(r.inputWhite, 1.0);
  EXPECT_EQ(r.gamma, 1.0);
  EXPECT_EQ(r.outputBlack, 0.0);
  EXPECT_EQ(r.outputWhite, 1.0);
  EXPECT_EQ(r.highlightsOpacity, 1.0);
  EXPECT_EQ(r.shadowsOpacity, 0.0);
  EXPECT_EQ(r.blend, 0.0);
  EXPECT_TRUE(SameRecord(r, ExpectedParams(HostValues{})));
  host.DropPending();
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(ParamsTest, PercentagesBecomeExactFractions) {
  struct Case {
    PF_Fixed percent;
    double fraction;
  };
  for (const Case& c : {Case{50 * 65536, 0.5}, Case{100 * 65536, 1.0}, Case{0, 0.0}, Case{0x8000, 0.005}}) {
    host.SetParam(kParamBlend, simhost::FixedValue{c.percent});
    host.SetParam(kParamShadowsOpacity, simhost::FixedValue{c.percent});
    host.SetParam(kParamHighlightsOpacity, simhost::FixedValue{c.percent});
    ASSERT_EQ(host.PreRender(0), PF_Err_NONE);
    const auto record = PendingRecord(host);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->blend, c.fraction) << c.percent;
    EXPECT_EQ(record->shadowsOpacity, c.fraction) << c.percent;
    EXPECT_EQ(record->highlightsOpacity, c.fraction) << c.percent;
    host.DropPending();
  }
}

struct ValueCase {
  std::string name;
  std::function<void(HostValues&)> base;    // a setting in which the value shows
  std::function<void(HostValues&)> change;  // the value under test, away from it
};

std::vector<ValueCase> ValueCases() {
  auto none = [](HostValues&) {};
  auto pentone = [](HostValues& v) { v.tones = 4; };
  return {
      {"Base On", none, [](HostValues& v) { v.base_on = 2; }},
      {"Tones", none, [](HostValues& v) { v.tones = 4; }},
      {"Highlights", none, [](HostValues& v) { v.highlights = {255, 200, 30, 90}; }},
      {"Brights", pentone, [](HostValues& v) { v.brights = {255, 10, 240, 33}; }},
      {"Midtones", none, [](HostValues& v) { v.midtones = {255, 1, 2, 250}; }},
      {"Darktones", pentone, [](HostValues& v) { v.darktones = {255, 250, 128, 3}; }},
      {"Shadows", none, [](HostValues& v) { v.shadows = {255, 90, 91, 92}; }},
      {"Input Black", none, [](HostValues& v) { v.input_black = 0.2; }},
      {"Input White", none, [](HostValues& v) { v.input_white = 0.7; }},
      {"Gamma", none, [](HostValues& v) { v.gamma = 2.2; }},
      {"Output Black", none, [](HostValues& v) { v.output_black = 0.15; }},
      {"Output White", none, [](HostValues& v) { v.output_white = 0.8; }},
      {"Highlights Opacity", none, [](HostValues& v) { v.highlights_opacity = 40 * 65536; }},
      {"Shadows Opacity", none, [](HostValues& v) { v.shadows_opacity = 30 * 65536; }},
      {"Blend with Original", none, [](HostValues& v) { v.blend = 50 * 65536; }},
  };
}

// Each of the fifteen values, changed on its own, lands in its own field of
// the record and changes the pixels exactly as the engine says it should.
TEST_F(ParamsTest, EachValueReachesTheRecordAndThePixels) {
  const std::vector<ValueCase> cases = ValueCases();
  ASSERT_EQ(cases.size(), 15u);
  const std::vector<World> layers = {RandomLayer(17, 6, PF_PixelFormat_ARGB32, 1),
                                     RandomLayer(17, 6, PF_PixelFormat_ARGB64, 2),
                                     RandomLayer(17, 6, PF_PixelFormat_ARGB128, 3)};
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NO_THROW(host.ParamIndex(c.name)) << "a control of that name exists";
    HostValues base;
    c.base(base);
    HostValues changed = base;
    c.change(changed);

    Apply(host, changed);
    ASSERT_EQ(host.PreRender(0), PF_Err_NONE);
    const auto record = PendingRecord(host);
    ASSERT_TRUE(record);
    EXPECT_TRUE(SameRecord(*record, ExpectedParams(changed)));
    EXPECT_FALSE(SameRecord(*record, ExpectedParams(base)));
    host.DropPending();

    for (const World& layer : layers) {
      SCOPED_TRACE(FormatName(layer.format()));
      Apply(host, base);
      const auto before = Render(layer);
      Apply(host, changed);
      const auto after = Render(layer);
      ASSERT_TRUE(before && after);
      EXPECT_TRUE(after->SamePixels(EngineToned(layer, ExpectedParams(changed))));
      EXPECT_FALSE(after->SamePixels(*before)) << "the value changes the output";
    }
  }
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// Keys at times 0 and 24: the frame between them gets the host's interpolated
// values (sliders linear, colours rounded per channel, popups held), and each
// frame reads its own time.
TEST_F(ParamsTest, KeyframesAreReadAtTheFramesTime) {
  host.SetParamKey(kParamGamma, 0, 1.0);
  host.SetParamKey(kParamGamma, 24, 2.0);
  host.SetParamKey(kParamMidtones, 0, PF_Pixel{255, 0, 0, 0});
  host.SetParamKey(kParamMidtones, 24, PF_Pixel{255, 200, 100, 50});
  host.SetParamKey(kParamTones, 0, simhost::PopupValue{3});
  host.SetParamKey(kParamTones, 24, simhost::PopupValue{4});
  host.SetParamKey(kParamShadowsOpacity, 0, simhost::FixedValue{0});
  host.SetParamKey(kParamShadowsOpacity, 24, simhost::FixedValue{40 * 65536});

  auto at = [](double gamma, PF_Pixel midtones, A_long tones, PF_Fixed shadows_opacity) {
    HostValues v;
    v.gamma = gamma;
    v.midtones = midtones;
    v.tones = tones;
    v.shadows_opacity = shadows_opacity;
    return v;
  };
  struct Case {
    A_long frame;
    HostValues values;
  };
  const std::vector<Case> cases = {
      {0, at(1.0, {255, 0, 0, 0}, 3, 0)},
      {12, at(1.5, {255, 100, 50, 25}, 3, 20 * 65536)},
      {24, at(2.0, {255, 200, 100, 50}, 4, 40 * 65536)},
  };
  const World layer = RandomLayer(16, 4, PF_PixelFormat_ARGB128, 9);
  host.SetInput(layer);
  for (const Case& c : cases) {
    SCOPED_TRACE("frame " + std::to_string(c.frame));
    ASSERT_EQ(host.PreRender(c.frame), PF_Err_NONE);
    const auto record = PendingRecord(host);
    ASSERT_TRUE(record);
    EXPECT_TRUE(SameRecord(*record, ExpectedParams(c.values)));
    const FrameReport frame = host.RenderPending();
    ASSERT_TRUE(frame.output);
    EXPECT_TRUE(frame.output->SamePixels(EngineToned(layer, ExpectedParams(c.values))));
    std::vector<std::string> times;
    for (const auto& call : CallsIn(host, LastCallNamed(host, "SMART_PRE_RENDER"))) {
      if (call.op == "checkout_param") times.push_back(call.detail.substr(0, call.detail.find(' ')));
    }
    EXPECT_EQ(times.size(), 15u);
    EXPECT_THAT(times, Each("time=" + std::to_string(c.frame)));
  }

  // Time is the host's, not the frame number: with two units per frame,
  // frame 6 is at time 12.
  host.options().time_step = 2;
  ASSERT_EQ(host.PreRender(6), PF_Err_NONE);
  const auto record = PendingRecord(host);
  ASSERT_TRUE(record);
  EXPECT_TRUE(SameRecord(*record, ExpectedParams(cases[1].values)));
  host.DropPending();
  EXPECT_THAT(host.Violations(), IsEmpty());
}

}  // namespace
}  // namespace qv::testing
