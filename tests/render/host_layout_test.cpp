// The effect reads nothing of the host's records beyond the members it relies
// on. A real host fills every member (num_params, version, extent hints, GPU
// members, ...); ours writes its pattern into those the effect must not
// read, or clears them. A whole strict session must come out the same either
// way: the same results, host calls and pixels, and no violation. A read at a
// wrong offset meets the pattern in one of the runs and not in the other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "frame_support.h"

namespace qv::testing {
namespace {

using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using ::testing::IsEmpty;

// What one session shows of the effect.
struct Session {
  std::string about;
  std::vector<std::string> results;  // "<command> <result>", in order
  std::vector<std::string> calls;    // every host call, "op detail arg"
  std::vector<std::vector<unsigned char>> frames;  // each output world's bytes, padding and guards included
  std::vector<A_long> ui_flags;      // of every UI update, in order
  std::vector<std::string> violations;
};

// About, global setup, parameters, the UI refresh for every tone count, a
// frame at each depth, global setdown.
Session RunSession(Host& host) {
  Session s;
  s.about = host.About();
  host.GlobalSetup();
  host.ParamsSetup();
  for (A_long tones = 1; tones <= 4; ++tones) {
    host.SetParam(kParamTones, simhost::PopupValue{tones});
    host.UpdateParamsUI();
  }
  HostValues values;
  values.base_on = 2;
  values.tones = 4;
  values.gamma = 1.7;
  values.blend = 30 * 65536;
  values.shadows_opacity = 20 * 65536;
  Apply(host, values);
  A_long frame = 0;
  for (PF_PixelFormat format : {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128}) {
    host.SetInput(RandomLayer(29, 13, format, static_cast<std::uint32_t>(format)));
    const FrameReport report = host.RenderFrame(frame++);
    s.frames.push_back(report.output ? report.output->raw_bytes() : std::vector<unsigned char>{});
  }
  host.GlobalSetdown();
  for (const simhost::CommandRecord& command : host.Commands()) {
    s.results.push_back(command.name + " " + std::to_string(command.err));
  }
  s.calls = Trace(host.Calls());
  for (PF_ParamIndex index = kParamHighlights; index <= kParamShadows; ++index) {
    for (const PF_ParamDef& def : host.UiUpdates(index)) s.ui_flags.push_back(def.ui_flags);
  }
  s.violations = host.Violations();
  return s;
}

// Where two logs part: "" when they agree, else the first entry that differs.
std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const std::string x = i < a.size() ? a[i] : "(nothing)";
    const std::string y = i < b.size() ? b[i] : "(nothing)";
    if (x != y) return "entry " + std::to_string(i) + ": \"" + x + "\" against \"" + y + "\"";
  }
  return "";
}

enum class Plugin { kLinked, kLoaded };

class HostLayout : public ::testing::TestWithParam<Plugin> {
 protected:
  std::unique_ptr<Host> MakeHost(bool patterned) const {
    HostOptions options;
    options.patterned_records = patterned;
    options.num_threads = 3;
    options.row_padding_bytes = 16;
    if (GetParam() == Plugin::kLinked) return std::make_unique<Host>(&EntryPointFunc, PiplSpan(), options);
    std::string error;
    auto host = Host::Load(QV_PLUGIN_FILE, &error, options);
    EXPECT_TRUE(host) << error;
    return host;
  }
};

TEST_P(HostLayout, AStrictSessionIsTheSameWhateverTheUnusedMembersHold) {
  const auto patterned_host = MakeHost(true);
  const auto cleared_host = MakeHost(false);
  ASSERT_TRUE(patterned_host && cleared_host);
  const Session patterned = RunSession(*patterned_host);
  const Session cleared = RunSession(*cleared_host);

  EXPECT_THAT(patterned.violations, IsEmpty());
  EXPECT_THAT(cleared.violations, IsEmpty());
  EXPECT_EQ(patterned.about, cleared.about);
  EXPECT_EQ(FirstDifference(patterned.results, cleared.results), "");
  EXPECT_EQ(FirstDifference(patterned.calls, cleared.calls), "");
  EXPECT_EQ(patterned.ui_flags, cleared.ui_flags);
  ASSERT_EQ(patterned.frames.size(), 3u);
  for (std::size_t i = 0; i < patterned.frames.size(); ++i) {
    EXPECT_FALSE(patterned.frames[i].empty()) << "frame " << i << " has no output";
    EXPECT_TRUE(patterned.frames[i] == cleared.frames[i]) << "frame " << i << " differs";
  }
  // The session did what it says: every command succeeded, each tone count's
  // refresh updated the five colours, the frames were rendered.
  for (const std::string& result : patterned.results) EXPECT_TRUE(result.ends_with(" 0")) << result;
  EXPECT_EQ(patterned.ui_flags.size(), 4u * 5u);
  EXPECT_EQ(patterned_host->CountOf("checkout_output"), 3u);
}

INSTANTIATE_TEST_SUITE_P(Plugins, HostLayout, ::testing::Values(Plugin::kLinked, Plugin::kLoaded),
                         [](const ::testing::TestParamInfo<Plugin>& info) {
                           return info.param == Plugin::kLinked ? "Linked" : "LoadedFromFile";
                         });

}  // namespace
}  // namespace qv::testing
