// The finished plug-in library, loaded from its file as the host loads it: a
// whole run in strict mode, and a frame of each depth.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "frame_support.h"

namespace qv::testing {
namespace {

using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using simhost::World;
using ::testing::IsEmpty;

std::unique_ptr<Host> LoadPlugin(HostOptions options = {}) {
  std::string error;
  auto host = Host::Load(QV_PLUGIN_FILE, &error, std::move(options));
  EXPECT_TRUE(host) << error;
  return host;
}

TEST(LoadedPlugin, AWholeRunIsCleanInStrictMode) {
  const auto host = LoadPlugin();
  ASSERT_TRUE(host);
  host->SetInput(RandomLayer(33, 17, PF_PixelFormat_ARGB32, 31));
  host->SetParamKey(kParamGamma, 0, 1.0);
  host->SetParamKey(kParamGamma, 4, 3.0);
  int frames = 0;
  EXPECT_EQ(host->Run(0, 5,
                      [&](const FrameReport& frame) {
                        EXPECT_EQ(frame.err(), PF_Err_NONE);
                        EXPECT_TRUE(frame.delete_called);
                        ++frames;
                      }),
            PF_Err_NONE);
  EXPECT_EQ(frames, 5);
  EXPECT_THAT(host->LiveHandles(), IsEmpty());
  EXPECT_THAT(host->Violations(), IsEmpty());
}

class LoadedPluginDepth : public ::testing::TestWithParam<PF_PixelFormat> {};

TEST_P(LoadedPluginDepth, AFrameIsTheEnginesToning) {
  HostOptions options;
  options.num_threads = 3;
  options.row_padding_bytes = 32;
  const auto host = LoadPlugin(options);
  ASSERT_TRUE(host);
  const World layer = RandomLayer(31, 11, GetParam(), 41);
  host->SetInput(layer);
  ASSERT_EQ(host->GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host->ParamsSetup(), PF_Err_NONE);
  HostValues values;
  values.tones = 4;
  values.gamma = 1.8;
  values.blend = 25 * 65536;
  Apply(*host, values);
  const FrameReport frame = host->RenderFrame(0);
  ASSERT_EQ(frame.err(), PF_Err_NONE);
  ASSERT_TRUE(frame.output);
  EXPECT_TRUE(frame.output->SamePixels(EngineToned(layer, ExpectedParams(values))));
  EXPECT_EQ(host->GlobalSetdown(), PF_Err_NONE);
  EXPECT_THAT(host->LiveHandles(), IsEmpty());
  EXPECT_THAT(host->Violations(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Depths, LoadedPluginDepth,
                         ::testing::Values(PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128),
                         [](const auto& info) { return FormatName(info.param); });

}  // namespace
}  // namespace qv::testing
