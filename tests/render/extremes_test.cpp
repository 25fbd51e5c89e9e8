// Settings and worlds at the edges of what the host can send: every one
// renders, as the engine says, with no crash and no undefined behaviour (these
// tests are meant to run under the sanitizers too, so they stay small).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
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
using ::testing::IsEmpty;

struct Extreme {
  std::string name;
  std::function<void(HostValues&)> set;
};

std::vector<Extreme> Extremes() {
  return {
      {"gamma 0.01", [](HostValues& v) { v.gamma = 0.01; }},
      {"gamma 50", [](HostValues& v) { v.gamma = 50; }},
      {"input black == input white", [](HostValues& v) { v.input_black = v.input_white = 0.5; }},
      {"both input points 0", [](HostValues& v) { v.input_black = v.input_white = 0; }},
      // No real power of a negative point: the levels have no curve at all.
      {"negative black point, fractional exponent", [](HostValues& v) { v.input_black = -0.5; v.gamma = 2.2; }},
      {"both points negative", [](HostValues& v) { v.input_black = -0.6; v.input_white = -0.3; v.gamma = 3; }},
      {"valid range ends, reversed", [](HostValues& v) { v.input_black = 100; v.input_white = -100; }},
      {"output reversed", [](HostValues& v) { v.output_black = 1; v.output_white = 0; }},
      {"output far outside", [](HostValues& v) { v.output_black = -100; v.output_white = 100; }},
      {"opacities 0 %", [](HostValues& v) { v.highlights_opacity = v.shadows_opacity = 0; }},
      {"opacities 100 %", [](HostValues& v) { v.highlights_opacity = v.shadows_opacity = 100 * 65536; }},
      {"blend 100 %", [](HostValues& v) { v.blend = 100 * 65536; }},
  };
}

bool AnyNan(const World& world) {
  if (DepthOfTestFormat(world.format()) != kDepthFloat) return false;
  for (A_long y = 0; y < world.height(); ++y) {
    for (const PF_PixelFloat& p : world.Row<PF_PixelFloat>(y)) {
      if (std::isnan(p.alpha) || std::isnan(p.red) || std::isnan(p.green) || std::isnan(p.blue)) return true;
    }
  }
  return false;
}

class ExtremesTest : public ::testing::TestWithParam<PF_PixelFormat> {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  }
  Host host = LinkedHost();
};

TEST_P(ExtremesTest, ExtremeSettingsRenderAsTheEngineSays) {
  const World layer = RandomLayer(6, 5, GetParam(), 21);
  host.SetInput(layer);
  host.options().num_threads = 7;
  for (const Extreme& extreme : Extremes()) {
    for (A_long tones = 1; tones <= 4; ++tones) {
      SCOPED_TRACE(extreme.name + ", tones " + std::to_string(tones));
      HostValues values;
      values.tones = tones;
      extreme.set(values);
      Apply(host, values);
      const FrameReport frame = host.RenderFrame(tones);
      ASSERT_EQ(frame.err(), PF_Err_NONE);
      ASSERT_TRUE(frame.output);
      EXPECT_TRUE(frame.output->SamePixels(EngineToned(layer, ExpectedParams(values))));
      EXPECT_FALSE(AnyNan(*frame.output)) << "finite input gives finite output";
    }
  }
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// Worlds one pixel wide or high, and more bands than rows, on any number of
// threads; worlds with no pixels at all ask the host for nothing.
TEST_P(ExtremesTest, TinyWorldsRenderAndEmptyOnesAskForNothing) {
  struct Size {
    A_long width, height;
  };
  for (const Size size : {Size{1, 1}, Size{1, 7}, Size{7, 1}, Size{2, 3}}) {
    const World layer = RandomLayer(size.width, size.height, GetParam(), 5);
    host.SetInput(layer);
    const World expected = EngineToned(layer, ExpectedParams(HostValues{}));
    for (A_long threads : {1, 3, 64}) {
      SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + " on " +
                   std::to_string(threads) + " threads");
      host.options().num_threads = threads;
      const FrameReport frame = host.RenderFrame(0);
      ASSERT_EQ(frame.err(), PF_Err_NONE);
      ASSERT_TRUE(frame.output);
      EXPECT_TRUE(frame.output->SamePixels(expected));
    }
  }
  for (const Size size : {Size{0, 0}, Size{0, 5}, Size{5, 0}}) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    host.SetInput(World(size.width, size.height, GetParam()));
    const FrameReport frame = host.RenderFrame(0);
    EXPECT_EQ(frame.err(), PF_Err_NONE);
    const auto calls = CallsIn(host, LastCallNamed(host, "SMART_RENDER"));
    EXPECT_EQ(CountOp(calls, "AEGP_GetNumThreads"), 0);
    EXPECT_EQ(CountOp(calls, "iterate_generic"), 0);
  }
  EXPECT_THAT(host.Violations(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Depths, ExtremesTest,
                         ::testing::Values(PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128),
                         [](const auto& info) { return FormatName(info.param); });

}  // namespace
}  // namespace qv::testing
