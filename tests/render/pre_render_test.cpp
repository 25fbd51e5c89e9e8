// Pre-render as the host sees it: what it asks of the input layer, when, and
// which output area it reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "frame_support.h"

namespace qv::testing {
namespace {

using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using simhost::World;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class PreRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.options().output_fill = 0x77;
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
    host.SetInput(layer);
  }

  Host host = LinkedHost();
  const World layer = RandomLayer(40, 30, PF_PixelFormat_ARGB64, 4);
};

TEST_F(PreRenderTest, AsksForTheOutputRequestWithZeroAlphaColourKept) {
  host.options().request_rect = PF_LRect{3, 4, 25, 17};
  const FrameReport frame = host.RenderFrame(0);
  ASSERT_EQ(frame.err(), PF_Err_NONE);
  ASSERT_EQ(frame.layer_checkouts.size(), 1u);
  // The host's output request, as it sends it, with the one change.
  PF_RenderRequest expected;
  std::memset(&expected, 0, sizeof expected);
  expected.rect = PF_LRect{3, 4, 25, 17};
  expected.field = PF_Field_FRAME;
  expected.channel_mask = PF_ChannelMask_ARGB;
  expected.preserve_rgb_of_zero_alpha = true;
  EXPECT_EQ(std::memcmp(&frame.layer_checkouts[0].request, &expected, sizeof expected), 0);
  EXPECT_THAT(host.Violations(), IsEmpty()) << "the host's own request is left as it was";
}

// The effect's own layer (index 0) under checkout id 0, at the frame's time in
// the host's units; render checks the pixels out under the same id.
TEST_F(PreRenderTest, ChecksOutItsOwnLayerAtTheFramesTime) {
  host.options().time_step = 3;
  const FrameReport frame = host.RenderFrame(7);
  ASSERT_EQ(frame.err(), PF_Err_NONE);
  ASSERT_EQ(frame.layer_checkouts.size(), 1u);
  const simhost::LayerCheckout& checkout = frame.layer_checkouts[0];
  EXPECT_EQ(checkout.index, 0);
  EXPECT_EQ(checkout.checkout_id, 0);
  EXPECT_EQ(checkout.what_time, 21);
  EXPECT_EQ(checkout.time_step, 3);
  EXPECT_EQ(checkout.time_scale, 24u);

  // Pre-render: one handle of one record, the fifteen values, the layer, then
  // every value checked in, and the record unlocked before the host gets it.
  const auto pre = CallsIn(host, LastCallNamed(host, "SMART_PRE_RENDER"));
  std::vector<std::string> expected_ops = {"AcquireSuite", "host_new_handle", "host_lock_handle"};
  expected_ops.insert(expected_ops.end(), 15, "checkout_param");
  expected_ops.push_back("checkout_layer");
  expected_ops.insert(expected_ops.end(), 15, "checkin_param");
  expected_ops.insert(expected_ops.end(), {"host_unlock_handle", "ReleaseSuite"});
  EXPECT_THAT(Ops(pre), ElementsAreArray(expected_ops));
  EXPECT_EQ(pre[1].arg, static_cast<long long>(sizeof(ToneParams)));
  EXPECT_EQ(pre[18].detail, "id=0 time=21 step=3 scale=24");
  std::vector<long long> out, in;
  for (const auto& call : pre) {
    if (call.op == "checkout_param") {
      out.push_back(call.arg);
      EXPECT_EQ(call.detail, "time=21 step=3 scale=24");
    }
    if (call.op == "checkin_param") in.push_back(call.arg);
  }
  EXPECT_EQ(out, ValueParamIndices());
  EXPECT_THAT(in, ::testing::UnorderedElementsAreArray(ValueParamIndices()));

  const auto render = CallsIn(host, LastCallNamed(host, "SMART_RENDER"));
  for (const auto& call : render) {
    if (call.op == "checkout_layer_pixels") {
      EXPECT_EQ(call.arg, 0);
    }
    EXPECT_NE(call.op, "PF_SmartRenderCallbacks.checkin_layer_pixels") << "the input pixels go back with the render";
  }
  EXPECT_EQ(CountOp(render, "checkout_layer_pixels"), 1);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// The host usually sends empty output rectangles: they become the granted
// input rectangles, and the output world is made to the result.
TEST_F(PreRenderTest, EmptyOutputRectanglesBecomeTheGrantedOnes) {
  struct Case {
    PF_LRect request;
    std::vector<A_long> result;
  };
  const std::vector<Case> cases = {
      {PF_LRect{0, 0, 40, 30}, {0, 0, 40, 30}},
      {PF_LRect{5, 6, 20, 25}, {5, 6, 20, 25}},
      {PF_LRect{-10, 5, 30, 100}, {0, 5, 30, 30}},  // clipped to the layer by the host
  };
  for (const Case& c : cases) {
    host.options().request_rect = c.request;
    const FrameReport frame = host.RenderFrame(0);
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    EXPECT_EQ(Rect(frame.pre_render_output.result_rect), c.result);
    EXPECT_THAT(Rect(frame.pre_render_output.max_result_rect), ElementsAre(0, 0, 40, 30));
    // The input and the output cover the same area: the whole output is toned.
    ASSERT_TRUE(frame.output);
    const PF_LRect granted{c.result[0], c.result[1], c.result[2], c.result[3]};
    EXPECT_TRUE(frame.output->SamePixels(EngineToned(layer.Crop(granted, 0), ExpectedParams(HostValues{}))));
  }
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(PreRenderTest, TheHostsOwnOutputRectanglesTakePartInTheMerge) {
  host.options().initial_output_rect = PF_LRect{10, 10, 20, 20};
  host.options().request_rect = PF_LRect{0, 5, 15, 30};
  FrameReport frame = host.RenderFrame(0);
  ASSERT_EQ(frame.pre_render_err, PF_Err_NONE);
  EXPECT_THAT(Rect(frame.pre_render_output.result_rect), ElementsAre(0, 5, 20, 30));
  EXPECT_THAT(Rect(frame.pre_render_output.max_result_rect), ElementsAre(0, 0, 40, 30));
  // The output (20 x 25) is then larger than the input (15 x 25): worlds of
  // different sizes are left as the host gave them, and that is no error.
  EXPECT_EQ(frame.render_err, PF_Err_NONE);
  ASSERT_TRUE(frame.output);
  EXPECT_EQ(frame.output->width(), 20);
  EXPECT_TRUE(frame.output->SamePixels(Filled(*frame.output, 0x77)));

  // Nothing granted (the request misses the layer): the host's rectangle stays.
  host.options().request_rect = PF_LRect{50, 50, 60, 60};
  frame = host.RenderFrame(1);
  ASSERT_EQ(frame.pre_render_err, PF_Err_NONE);
  EXPECT_THAT(Rect(frame.pre_render_output.result_rect), ElementsAre(10, 10, 20, 20));
  EXPECT_THAT(host.Violations(), IsEmpty());
}

}  // namespace
}  // namespace qv::testing
