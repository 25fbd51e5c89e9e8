// Every way a frame can fail, made to happen by the host: the code that comes
// back, which host calls were made and which were not, and what is left
// behind: nothing written, every suite given back, no handle but the global one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "frame_support.h"

namespace qv::testing {
namespace {

using simhost::Fault;
using simhost::FrameReport;
using simhost::Host;
using simhost::World;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr unsigned char kFill = 0x5A;
constexpr PF_Err kHostCode = 0x1234;  // any code a host callback may return

class FailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.options().output_fill = kFill;
    host.SetInput(layer);
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
    ASSERT_EQ(host.LiveHandles().size(), 1u);
    global_handle = host.LiveHandles()[0].id;
  }

  std::vector<simhost::CallRecord> PreRenderCalls() const {
    return CallsIn(host, LastCallNamed(host, "SMART_PRE_RENDER"));
  }
  std::vector<simhost::CallRecord> RenderCalls() const { return CallsIn(host, LastCallNamed(host, "SMART_RENDER")); }

  // Pre-renders a frame that succeeds, then fails render with `fault`.
  FrameReport RenderWith(const Fault& fault) {
    EXPECT_EQ(host.PreRender(0), PF_Err_NONE);
    host.InjectFault(fault);
    return host.RenderPending();
  }

  // Nothing of the frame is left: the output (if the effect checked one out)
  // is as the host filled it, the strict host saw nothing wrong (suites given
  // back, checkouts checked in), and only the global handle lives.
  void ExpectNothingLeft(const FrameReport& frame) {
    if (frame.output) {
      EXPECT_TRUE(frame.output->SamePixels(Filled(*frame.output, kFill))) << "nothing written";
    }
    EXPECT_THAT(host.Violations(), IsEmpty());
    ASSERT_EQ(host.LiveHandles().size(), 1u);
    EXPECT_EQ(host.LiveHandles()[0].id, global_handle);
    for (const auto& command : host.Commands()) {
      for (const auto& [suite, balance] : command.suites) {
        EXPECT_EQ(balance.acquired, balance.released) << command.name << " " << suite.first;
      }
    }
  }

  // A pre-render that fails hands the host no data and no delete function,
  // and leaves the host's output rectangles alone.
  void ExpectNoPreRenderData(const FrameReport& frame) {
    EXPECT_EQ(frame.pre_render_output.pre_render_data, nullptr);
    EXPECT_EQ(frame.pre_render_output.delete_pre_render_data_func, nullptr);
    EXPECT_THAT(Rect(frame.pre_render_output.result_rect), ElementsAre(0, 0, 0, 0));
    EXPECT_THAT(Rect(frame.pre_render_output.max_result_rect), ElementsAre(0, 0, 0, 0));
    EXPECT_FALSE(frame.rendered);
  }

  Host host = LinkedHost();
  const World layer = RandomLayer(8, 4, PF_PixelFormat_ARGB32, 8);
  int global_handle = 0;
};

// ---- Pre-render ------------------------------------------------------------------------

TEST_F(FailureTest, NoHandleIsOutOfMemoryAndReadsNothing) {
  host.InjectFault({.op = "host_new_handle"});
  const FrameReport frame = host.RenderFrame(0);
  EXPECT_EQ(frame.pre_render_err, PF_Err_OUT_OF_MEMORY);
  ExpectNoPreRenderData(frame);
  EXPECT_THAT(Ops(PreRenderCalls()), ElementsAre("AcquireSuite", "host_new_handle", "ReleaseSuite"));
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, ALockWithoutAnAddressIsOutOfMemoryAndTheHandleGoesBackAtOnce) {
  host.InjectFault({.op = "host_lock_handle"});
  const FrameReport frame = host.RenderFrame(0);
  EXPECT_EQ(frame.pre_render_err, PF_Err_OUT_OF_MEMORY);
  ExpectNoPreRenderData(frame);
  EXPECT_THAT(Ops(PreRenderCalls()), ElementsAre("AcquireSuite", "host_new_handle", "host_lock_handle",
                                                 "host_dispose_handle", "ReleaseSuite"));
  ExpectNothingLeft(frame);
}

// The k-th value checkout fails: the ones before it are checked in, none after
// it is asked for, the layer is not checked out, and the handle goes back.
TEST_F(FailureTest, AFailingParameterCheckoutStopsThereAndChecksInTheEarlierOnes) {
  const std::vector<long long>& indices = ValueParamIndices();
  for (std::size_t k = 1; k <= indices.size(); ++k) {
    SCOPED_TRACE("checkout " + std::to_string(k) + " fails");
    const PF_Err code = kHostCode + static_cast<PF_Err>(k);
    host.InjectFault({.op = "checkout_param", .occurrence = static_cast<int>(k), .error = code});
    const FrameReport frame = host.RenderFrame(static_cast<A_long>(k));
    EXPECT_EQ(frame.pre_render_err, code);
    ExpectNoPreRenderData(frame);
    std::vector<long long> out, in;
    for (const auto& call : PreRenderCalls()) {
      if (call.op == "checkout_param") out.push_back(call.arg);
      if (call.op == "checkin_param") in.push_back(call.arg);
    }
    EXPECT_EQ(out, std::vector<long long>(indices.begin(), indices.begin() + static_cast<std::ptrdiff_t>(k)));
    EXPECT_THAT(in, ::testing::UnorderedElementsAreArray(indices.begin(),
                                                         indices.begin() + static_cast<std::ptrdiff_t>(k - 1)));
    EXPECT_EQ(CountOp(PreRenderCalls(), "checkout_layer"), 0);
    EXPECT_EQ(CountOp(PreRenderCalls(), "host_dispose_handle"), 1);
    ExpectNothingLeft(frame);
  }
}

TEST_F(FailureTest, AFailingLayerCheckoutReturnsItsCodeAndLeavesTheRectanglesAlone) {
  host.InjectFault({.op = "checkout_layer", .error = kHostCode});
  const FrameReport frame = host.RenderFrame(0);
  EXPECT_EQ(frame.pre_render_err, kHostCode);
  ExpectNoPreRenderData(frame);
  EXPECT_EQ(CountOp(PreRenderCalls(), "checkout_param"), 15);
  EXPECT_EQ(CountOp(PreRenderCalls(), "checkin_param"), 15);
  EXPECT_EQ(CountOp(PreRenderCalls(), "host_dispose_handle"), 1);
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, ARefusedHandleSuiteInPreRenderIs516) {
  host.InjectFault({.op = "AcquireSuite", .detail = kPFHandleSuite, .error = kSPSuiteNotFoundError});
  const FrameReport frame = host.RenderFrame(0);
  EXPECT_EQ(frame.pre_render_err, PF_Err_BAD_CALLBACK_PARAM);
  ExpectNoPreRenderData(frame);
  EXPECT_THAT(Ops(PreRenderCalls()), ElementsAre("AcquireSuite"));
  ExpectNothingLeft(frame);
}

// ---- Render ------------------------------------------------------------------------------
// In every case below the frame's data still goes back through the delete
// function, which the host calls after the render.

TEST_F(FailureTest, ARecordThatCannotBeLockedIs516BeforeAnyCheckout) {
  const FrameReport frame = RenderWith({.op = "host_lock_handle"});
  EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_THAT(Ops(RenderCalls()), ElementsAre("AcquireSuite", "host_lock_handle", "ReleaseSuite"));
  EXPECT_FALSE(frame.output);
  EXPECT_TRUE(frame.delete_called);
  EXPECT_EQ(host.LastOutData().out_flags, 0) << "no message";
  EXPECT_STREQ(host.LastOutData().return_msg, "");
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, ARefusedHandleSuiteInRenderIs516) {
  const FrameReport frame =
      RenderWith({.op = "AcquireSuite", .detail = kPFHandleSuite, .error = kSPSuiteNotFoundError});
  EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_THAT(Ops(RenderCalls()), ElementsAre("AcquireSuite"));
  EXPECT_TRUE(frame.delete_called);
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, FailingInputPixelsStopBeforeTheOutputAndTheWorldSuite) {
  const FrameReport frame = RenderWith({.op = "checkout_layer_pixels", .error = kHostCode});
  EXPECT_EQ(frame.render_err, kHostCode);
  const auto calls = RenderCalls();
  EXPECT_EQ(CountOp(calls, "checkout_output"), 0);
  EXPECT_THAT(Trace(calls), Not(Contains("AcquireSuite PF World Suite 2")));
  EXPECT_EQ(CountOp(calls, "AEGP_GetNumThreads"), 0);
  EXPECT_FALSE(frame.output);
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, AFailingOutputCheckoutStopsBeforeTheWorldSuite) {
  const FrameReport frame = RenderWith({.op = "checkout_output", .error = kHostCode});
  EXPECT_EQ(frame.render_err, kHostCode);
  EXPECT_THAT(Trace(RenderCalls()), Not(Contains("AcquireSuite PF World Suite 2")));
  EXPECT_EQ(CountOp(RenderCalls(), "AEGP_GetNumThreads"), 0);
  EXPECT_FALSE(frame.output);
  ExpectNothingLeft(frame);
}

// The world suite goes through the scoped acquire, which reports to the user
// instead of raising.
TEST_F(FailureTest, ARefusedWorldSuiteIs516WithAMessageAndNothingHandedBack) {
  const FrameReport frame =
      RenderWith({.op = "AcquireSuite", .detail = kPFWorldSuite, .error = kSPSuiteNotFoundError});
  EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_STREQ(host.LastOutData().return_msg, "Couldn't load suite.");
  EXPECT_NE(host.LastOutData().out_flags & 0x100, 0) << "PF_OutFlag_DISPLAY_ERROR_MESSAGE";
  const auto calls = RenderCalls();
  EXPECT_THAT(Trace(calls), Not(Contains("ReleaseSuite PF World Suite 2")));
  EXPECT_EQ(CountOp(calls, "PF_GetPixelFormat"), 0);
  EXPECT_EQ(CountOp(calls, "AEGP_GetNumThreads"), 0);
  ASSERT_TRUE(frame.output);
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, AFailingFormatQueryReturnsItsCodeAndGivesTheSuiteBack) {
  const FrameReport frame = RenderWith({.op = "PF_GetPixelFormat", .error = kHostCode});
  EXPECT_EQ(frame.render_err, kHostCode);
  const std::vector<std::string> trace = Trace(RenderCalls());
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "ReleaseSuite PF World Suite 2"), 1);
  EXPECT_EQ(CountOp(RenderCalls(), "AEGP_GetNumThreads"), 0);
  ASSERT_TRUE(frame.output);
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, AFormatOutsideTheTableIs516AndWritesNothing) {
  for (PF_PixelFormat format : {PF_PixelFormat{PF_PixelFormat_INVALID}, PF_PixelFormat{0}, PF_PixelFormat{0x3436656B}}) {
    SCOPED_TRACE(FormatName(format));
    host.SetPixelFormatAnswer(format);
    ASSERT_EQ(host.PreRender(0), PF_Err_NONE);
    const FrameReport frame = host.RenderPending();
    EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(CountOp(RenderCalls(), "iterate_generic"), 0);
    ASSERT_TRUE(frame.output);
    ExpectNothingLeft(frame);
  }
}

// A checkout that reports success but hands over no world.
TEST_F(FailureTest, ANullWorldFromASuccessfulCheckoutIs516) {
  for (const char* op : {"checkout_layer_pixels", "checkout_output"}) {
    SCOPED_TRACE(op);
    const FrameReport frame = RenderWith({.op = op, .null_result = true});
    EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_THAT(Trace(RenderCalls()), Not(Contains("AcquireSuite PF World Suite 2")));
    EXPECT_EQ(CountOp(RenderCalls(), "iterate_generic"), 0);
    ExpectNothingLeft(frame);
  }
}

// Worlds that cannot be walked safely are refused before any pixel is read;
// the host's own world (and its guard bytes) stays untouched.
TEST_F(FailureTest, AWorldThatCannotBeWalkedIs516) {
  struct Case {
    const char* what;
    std::function<void(PF_EffectWorld&)> alter;
  };
  const std::vector<Case> cases = {
      {"negative width", [](PF_EffectWorld& w) { w.width = -w.width; }},
      {"negative height", [](PF_EffectWorld& w) { w.height = -1; }},
      {"null data", [](PF_EffectWorld& w) { w.data = nullptr; }},
      {"rows shorter than the pixels", [](PF_EffectWorld& w) { w.rowbytes = w.width * 4 - 4; }},
      {"rowbytes not whole pixels", [](PF_EffectWorld& w) { w.rowbytes += 2; }},
      // Negative rowbytes (a world stored bottom-up) are measured by their length.
      {"negative rowbytes shorter than the pixels", [](PF_EffectWorld& w) { w.rowbytes = 4 - w.width * 4; }},
      {"negative rowbytes not whole pixels", [](PF_EffectWorld& w) { w.rowbytes = -w.rowbytes - 2; }},
  };
  for (const Case& c : cases) {
    for (bool output : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (output ? " (output)" : " (input)"));
      host.options().alter_world = [&](PF_EffectWorld& w, bool is_output) {
        if (is_output == output) c.alter(w);
      };
      ASSERT_EQ(host.PreRender(0), PF_Err_NONE);
      const FrameReport frame = host.RenderPending();
      EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
      EXPECT_EQ(CountOp(RenderCalls(), "iterate_generic"), 0);
      ASSERT_TRUE(frame.output);
      ExpectNothingLeft(frame);
    }
  }
  host.options().alter_world = nullptr;
}

TEST_F(FailureTest, AFailingThreadCountReturnsItsCodeBeforeAnyToning) {
  const FrameReport frame = RenderWith({.op = "AEGP_GetNumThreads", .error = kHostCode});
  EXPECT_EQ(frame.render_err, kHostCode);
  EXPECT_EQ(CountOp(RenderCalls(), "iterate_generic"), 0);
  EXPECT_THAT(Trace(RenderCalls()), Not(Contains("AcquireSuite PF Iterate8 Suite 1")));
  ASSERT_TRUE(frame.output);
  ExpectNothingLeft(frame);
}

TEST_F(FailureTest, RefusedIterationSuitesAre516) {
  for (const char* suite : {kAEGPIterateSuite, kPFIterate8Suite}) {
    SCOPED_TRACE(suite);
    const FrameReport frame = RenderWith({.op = "AcquireSuite", .detail = suite, .error = kSPSuiteNotFoundError});
    EXPECT_EQ(frame.render_err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(CountOp(RenderCalls(), "iterate_generic"), 0);
    ASSERT_TRUE(frame.output);
    ExpectNothingLeft(frame);
  }
}

TEST_F(FailureTest, AFailingIterationReturnsItsCode) {
  const FrameReport frame = RenderWith({.op = "iterate_generic", .error = kHostCode});
  EXPECT_EQ(frame.render_err, kHostCode);
  ASSERT_TRUE(frame.output);
  ExpectNothingLeft(frame);
}

// After all that, the same host still renders a good frame.
TEST_F(FailureTest, AFailedFrameLeavesNothingThatSpoilsTheNextOne) {
  RenderWith({.op = "iterate_generic", .error = kHostCode});
  host.InjectFault({.op = "checkout_param", .occurrence = 7});
  host.RenderFrame(1);
  const FrameReport frame = host.RenderFrame(2);
  ASSERT_EQ(frame.err(), PF_Err_NONE);
  ASSERT_TRUE(frame.output);
  EXPECT_TRUE(frame.output->SamePixels(EngineToned(layer, ExpectedParams(HostValues{}))));
  ExpectNothingLeft(FrameReport{});
}

}  // namespace
}  // namespace qv::testing
