// A long session, as a user scrubbing through a composition makes one: many
// frames at every depth, most rendered, some pre-rendered and dropped, with
// parameters keyframed across them and the UI refreshed now and then. Nothing
// may be left behind: the host finds every handle it made disposed of and
// every suite given back, and in the sanitizer build the leak checker finds
// none of the effect's memory still allocated when the process ends.
#include <gtest/gtest.h>

#include "shell/entry_point.h"
#include "shell/param_index.h"
#include "shell/params.h"
#include "shell/pipl.h"
#include "simhost/host.h"
#include "worlds.h"

namespace qv::reliability {
namespace {

using simhost::Host;

constexpr A_long kFrames = 60;

constexpr PF_PixelFormat kFormats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128,
                                       PF_PixelFormat_BGRA32, QV_PixelFormat_BGRA128};

void RunSession(std::uint64_t seed) {
  simhost::HostOptions options;
  options.num_threads = 4;
  options.row_padding_bytes = 16;
  Host host(&EntryPointFunc, PiplBytes(), options);
  for (A_long f = 0; f < kFrames; ++f) {
    const PF_PixelFormat format = kFormats[static_cast<std::size_t>(f) % std::size(kFormats)];
    host.SetInputAt(
        host.TimeOf(f),
        fuzz::MakeWorld(40, 24, format, 0, fuzz::PixelSource{false, seed + static_cast<std::uint64_t>(f), {}}));
  }
  host.SetParamKey(kParamTones, 0, simhost::PopupValue{1});
  host.SetParamKey(kParamTones, host.TimeOf(kFrames / 3), simhost::PopupValue{3});
  host.SetParamKey(kParamTones, host.TimeOf(2 * kFrames / 3), simhost::PopupValue{4});
  host.SetParamKey(kParamGamma, 0, 0.4);
  host.SetParamKey(kParamGamma, host.TimeOf(kFrames), 3.0);
  host.SetParamKey(kParamBlend, 0, simhost::FixedValue{FixedFromWhole(0)});
  host.SetParamKey(kParamBlend, host.TimeOf(kFrames), simhost::FixedValue{FixedFromWhole(100)});

  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  int rendered = 0, dropped = 0;
  for (A_long f = 0; f < kFrames; ++f) {
    if (f % 10 == 0) {
      host.SetCurrentFrame(f);
      EXPECT_EQ(host.UpdateParamsUI(), PF_Err_NONE) << "frame " << f;
    }
    const bool drop = f % 7 == 3;
    const simhost::FrameReport frame = drop ? host.PreRenderOnly(f) : host.RenderFrame(f);
    EXPECT_EQ(frame.err(), PF_Err_NONE) << "frame " << f;
    EXPECT_TRUE(frame.delete_called) << "frame " << f;
    (drop ? dropped : rendered)++;
  }
  EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);

  EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
  EXPECT_TRUE(host.LiveHandles().empty());
  // The global handle and one per frame, each disposed of once.
  EXPECT_EQ(host.CountOf("host_new_handle"), static_cast<std::size_t>(1 + kFrames));
  EXPECT_EQ(host.CountOf("host_dispose_handle"), host.CountOf("host_new_handle"));
  EXPECT_EQ(host.CountOf("AcquireSuite"), host.CountOf("ReleaseSuite"));
  EXPECT_EQ(rendered + dropped, kFrames);
  EXPECT_GT(dropped, 0);
}

TEST(LeakRun, ManyFramesLeaveNothingBehind) {
  // Two sessions one after the other, as a host that unloads and reloads the
  // effect runs them.
  RunSession(1);
  RunSession(2);
}

}  // namespace
}  // namespace qv::reliability
