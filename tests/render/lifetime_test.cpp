// The per-frame record handle never outlives its frame: a long run mixing
// rendered, dropped, replaced and failing frames leaves only the global
// handle, and setdown leaves none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_support.h"

namespace qv::testing {
namespace {

using simhost::Fault;
using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using simhost::World;
using ::testing::IsEmpty;

// Render-time faults, taken in turn by the frames that fail half-way.
std::vector<Fault> RenderFaults() {
  return {
      {.op = "host_lock_handle"},
      {.op = "checkout_layer_pixels", .error = 0x51},
      {.op = "checkout_output", .error = 0x52},
      {.op = "checkout_output", .null_result = true},
      {.op = "AcquireSuite", .detail = kPFWorldSuite, .error = kSPSuiteNotFoundError},
      {.op = "PF_GetPixelFormat", .error = 0x53},
      {.op = "AEGP_GetNumThreads", .error = 0x54},
      {.op = "AcquireSuite", .detail = kPFIterate8Suite, .error = kSPSuiteNotFoundError},
      {.op = "iterate_generic", .error = 0x55},
  };
}

// The host may move an unlocked handle between the two halves of a frame, so
// the record is handed over unlocked, and render reads it under a lock of its
// own that ends before the first checkout. The host disposes of it through the
// effect's delete function.
TEST(HandleLifetime, TheRecordIsLockedOnlyWhileItIsReadOrWritten) {
  Host host = LinkedHost();
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  ASSERT_EQ(host.PreRender(0), PF_Err_NONE);
  const PF_PreRenderOutput handed = host.Pending()->pre_render_output;
  ASSERT_NE(handed.pre_render_data, nullptr);
  EXPECT_NE(handed.delete_pre_render_data_func, nullptr);
  ASSERT_TRUE(host.HandleBytes(handed.pre_render_data)) << "a live handle of the host's";
  ASSERT_EQ(host.LiveHandles().size(), 2u);
  const simhost::HandleInfo record = host.LiveHandles()[1];
  EXPECT_EQ(record.size, sizeof(ToneParams));
  EXPECT_EQ(record.lock_count, 0);

  const FrameReport frame = host.RenderPending();
  ASSERT_EQ(frame.err(), PF_Err_NONE);
  std::string name = "h";  // the host's name for the handle in its log
  name += std::to_string(record.id);
  std::vector<std::string> uses;
  for (const auto& call : CallsIn(host, LastCallNamed(host, "SMART_RENDER"))) {
    if (call.detail == name || call.op == "checkout_layer_pixels") uses.push_back(call.op);
  }
  EXPECT_THAT(uses, ::testing::ElementsAre("host_lock_handle", "host_unlock_handle", "checkout_layer_pixels"));
  const simhost::CommandRecord render = host.Commands()[static_cast<std::size_t>(LastCallNamed(host, "SMART_RENDER"))];
  ASSERT_EQ(render.live_handles.size(), 2u);
  EXPECT_EQ(render.live_handles[1].lock_count, 0);

  EXPECT_TRUE(frame.delete_called);
  EXPECT_FALSE(host.HandleBytes(handed.pre_render_data));
  EXPECT_EQ(host.CountOf("host_dispose_handle", name), 1u);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST(HandleLifetime, AThousandFramesLeaveOnlyTheGlobalHandle) {
  HostOptions options;
  options.layer_width = 8;
  options.layer_height = 4;
  Host host = LinkedHost(options);
  const World layer = RandomLayer(8, 4, PF_PixelFormat_ARGB32, 12);
  host.SetInput(layer);
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  ASSERT_EQ(host.UpdateParamsUI(), PF_Err_NONE);
  const World expected = EngineToned(layer, ExpectedParams(HostValues{}));
  const std::vector<Fault> render_faults = RenderFaults();

  int rendered = 0, failed = 0;
  for (A_long f = 0; f < 1000; ++f) {
    host.options().num_threads = f % 4;
    switch (f % 10) {
      case 4:  // pre-rendered, never rendered
        ASSERT_EQ(host.PreRenderOnly(f).pre_render_err, PF_Err_NONE);
        break;
      case 5:  // pre-rendered twice: the host drops the first
        ASSERT_EQ(host.PreRender(f), PF_Err_NONE);
        ASSERT_EQ(host.PreRender(f), PF_Err_NONE);
        ASSERT_EQ(host.RenderPending().err(), PF_Err_NONE);
        break;
      case 6:  // pre-render fails on a value
        host.InjectFault({.op = "checkout_param", .occurrence = 1 + f % 15});
        failed += host.RenderFrame(f).err() != PF_Err_NONE;
        break;
      case 7:  // pre-render fails on the layer, on the handle or on its lock
        host.InjectFault({.op = f % 3 == 0 ? "checkout_layer" : f % 3 == 1 ? "host_lock_handle" : "host_new_handle"});
        failed += host.RenderFrame(f).err() != PF_Err_NONE;
        break;
      case 8: {  // render fails half-way
        ASSERT_EQ(host.PreRender(f), PF_Err_NONE);
        host.InjectFault(render_faults[static_cast<std::size_t>(f / 10) % render_faults.size()]);
        failed += host.RenderPending().err() != PF_Err_NONE;
        break;
      }
      default: {
        const FrameReport frame = host.RenderFrame(f);
        ASSERT_EQ(frame.err(), PF_Err_NONE) << "frame " << f;
        ASSERT_TRUE(frame.output);
        if (host.options().num_threads > 0) {
          ASSERT_TRUE(frame.output->SamePixels(expected)) << "frame " << f;
        }
        ++rendered;
      }
    }
    if (f % 100 == 99) {
      ASSERT_THAT(host.Violations(), IsEmpty()) << "by frame " << f;
      host.ClearCalls();  // the log would only grow
    }
  }
  EXPECT_EQ(failed, 300);
  EXPECT_EQ(rendered, 500);

  // Every pre-render that succeeded handed over one record, and the host gave
  // each back through the delete function exactly once.
  int handed_over = 0, deleted = 0;
  for (const simhost::CommandRecord& command : host.Commands()) {
    handed_over += command.name == "SMART_PRE_RENDER" && command.err == PF_Err_NONE;
    deleted += command.name == "delete_pre_render_data_func";
  }
  EXPECT_EQ(handed_over, 1000 - 200 + 100);  // case 5 pre-renders twice; cases 6 and 7 fail
  EXPECT_EQ(deleted, handed_over);
  ASSERT_EQ(host.LiveHandles().size(), 1u);
  EXPECT_EQ(host.LiveHandles()[0].size, 4u) << "the global handle";

  EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

}  // namespace
}  // namespace qv::testing
