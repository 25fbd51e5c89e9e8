// Smart rendering as the host drives it, the command sequence of a run, and
// the checks the host makes of the effect's conduct around them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include "fake_effect.h"
#include "simhost/host.h"
#include "test_pipl.h"

namespace {

using simhost::Fault;
using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using simhost::World;
using simhost_test::Acquire;
using simhost_test::CommandArgs;
using simhost_test::FakeEffect;
using simhost_test::Release;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

std::vector<A_long> R(const PF_LRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// The delete function gets no PF_InData: like an effect, keep the basic suite.
SPBasicSuite* g_basic = nullptr;

void DeleteTimeHandle(void* data) {
  const void* suite = nullptr;
  g_basic->AcquireSuite(kPFHandleSuite, kPFHandleSuiteVersion1, &suite);
  static_cast<const PF_HandleSuite1*>(suite)->host_dispose_handle(static_cast<PF_Handle>(data));
  g_basic->ReleaseSuite(kPFHandleSuite, kPFHandleSuiteVersion1);
}

struct CopyJob {
  const PF_EffectWorld* in;
  PF_EffectWorld* out;
  A_long bytes_per_pixel;
};

// An effect that copies its input to its output, one row per iteration, and
// keeps the frame's time in a handle as its pre-render data.
class CopyEffectTest : public testing::Test {
 protected:
  void SetUp() override {
    effect.On(PF_Cmd_SMART_PRE_RENDER, [this](const CommandArgs& a) { return PreRender(a); });
    effect.On(PF_Cmd_SMART_RENDER, [this](const CommandArgs& a) { return Render(a); });
  }

  PF_Err PreRender(const CommandArgs& a) {
    auto* extra = static_cast<PF_PreRenderExtra*>(a.extra);
    g_basic = a.in->pica_basicP;
    bitdepths.push_back(extra->input->bitdepth);
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    PF_Handle h = hs->host_new_handle(sizeof(A_long));
    *static_cast<A_long*>(hs->host_lock_handle(h)) = a.in->current_time;
    hs->host_unlock_handle(h);
    Release(a.in, kPFHandleSuite, 2);
    extra->output->pre_render_data = h;
    extra->output->delete_pre_render_data_func = DeleteTimeHandle;
    if (pre_render_result != PF_Err_NONE) return pre_render_result;
    PF_RenderRequest req = extra->input->output_request;
    PF_CheckoutResult result{};
    const PF_Err err = extra->cb->checkout_layer(a.in->effect_ref, 0, 0, &req, a.in->current_time,
                                                 a.in->time_step, a.in->time_scale, &result);
    if (err == PF_Err_NONE) {
      extra->output->result_rect = result.result_rect;
      extra->output->max_result_rect = result.max_result_rect;
    }
    return err;
  }

  PF_Err Render(const CommandArgs& a) {
    auto* extra = static_cast<PF_SmartRenderExtra*>(a.extra);
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    auto handle = static_cast<PF_Handle>(extra->input->pre_render_data);
    render_times.push_back(*static_cast<const A_long*>(hs->host_lock_handle(handle)));
    hs->host_unlock_handle(handle);
    Release(a.in, kPFHandleSuite, 2);
    PF_EffectWorld* in = nullptr;
    PF_EffectWorld* out = nullptr;
    PF_Err err = extra->cb->checkout_layer_pixels(a.in->effect_ref, 0, &in);
    if (err == PF_Err_NONE) err = extra->cb->checkout_output(a.in->effect_ref, &out);
    if (err != PF_Err_NONE) return err;
    if (!in || !out) return PF_Err_BAD_CALLBACK_PARAM;
    input_rowbytes = in->rowbytes;
    const auto* ws = Acquire<PF_WorldSuite2>(a.in, kPFWorldSuite, 2);
    PF_PixelFormat format = PF_PixelFormat_INVALID;
    err = ws->PF_GetPixelFormat(in, &format);
    formats.push_back(format);
    Release(a.in, kPFWorldSuite, 2);
    if (err != PF_Err_NONE) return err;
    if (tamper) tamper(a, in, out);
    CopyJob job{in, out, simhost::BytesPerPixel(format)};
    const auto* it = Acquire<PF_Iterate8Suite1>(a.in, kPFIterate8Suite, 1);
    const PF_IterateGenericFunc copy_row = [](void* refcon, A_long, A_long y, A_long) -> PF_Err {
      const auto* j = static_cast<const CopyJob*>(refcon);
      std::memcpy(reinterpret_cast<char*>(j->out->data) + y * j->out->rowbytes,
                  reinterpret_cast<const char*>(j->in->data) + y * j->in->rowbytes,
                  static_cast<std::size_t>(std::min(j->in->width, j->out->width) * j->bytes_per_pixel));
      return PF_Err_NONE;
    };
    err = it->iterate_generic(std::min(in->height, out->height), &job, copy_row);
    Release(a.in, kPFIterate8Suite, 1);
    return err;
  }

  std::size_t Sent(const char* command) const { return host.CountOf("EntryPointFunc", command); }

  FakeEffect effect;
  Host host{&FakeEffect::Entry};
  PF_Err pre_render_result = PF_Err_NONE;
  std::function<void(const CommandArgs&, PF_EffectWorld*, PF_EffectWorld*)> tamper;
  std::vector<A_short> bitdepths;
  std::vector<A_long> render_times;
  std::vector<PF_PixelFormat> formats;
  A_long input_rowbytes = 0;
};

TEST_F(CopyEffectTest, PreRenderAsksForTheWholeLayerAndIsGrantedItClipped) {
  const FrameReport whole = host.RenderFrame(0);
  ASSERT_EQ(whole.err(), PF_Err_NONE);
  ASSERT_EQ(whole.layer_checkouts.size(), 1u);
  EXPECT_THAT(R(whole.layer_checkouts[0].request.rect), ElementsAre(0, 0, 64, 48));
  EXPECT_THAT(R(whole.layer_checkouts[0].result.result_rect), ElementsAre(0, 0, 64, 48));
  EXPECT_THAT(R(whole.layer_checkouts[0].result.max_result_rect), ElementsAre(0, 0, 64, 48));
  ASSERT_TRUE(whole.output);
  EXPECT_EQ(whole.output->width(), 64);

  host.options().request_rect = PF_LRect{-10, 5, 30, 100};
  const FrameReport part = host.RenderFrame(1);
  EXPECT_THAT(R(part.layer_checkouts[0].result.result_rect), ElementsAre(0, 5, 30, 48));
  EXPECT_THAT(R(part.layer_checkouts[0].result.max_result_rect), ElementsAre(0, 0, 64, 48));
  ASSERT_TRUE(part.output);
  EXPECT_EQ(part.output->width(), 30);
  EXPECT_EQ(part.output->height(), 43);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(CopyEffectTest, RenderHandsOutPaddedWorldsCoveringTheGrantedArea) {
  World image(20, 10, PF_PixelFormat_ARGB64);
  for (A_long y = 0; y < 10; ++y) {
    for (A_long x = 0; x < 20; ++x) {
      image.At<PF_Pixel16>(x, y) = PF_Pixel16{7, static_cast<A_u_short>(x), static_cast<A_u_short>(y), 32768};
    }
  }
  host.SetInput(image);
  host.options().request_rect = PF_LRect{2, 3, 12, 8};
  host.options().row_padding_bytes = 48;
  const FrameReport r = host.RenderFrame(0);
  ASSERT_EQ(r.err(), PF_Err_NONE);
  EXPECT_EQ(input_rowbytes, 10 * 8 + 48);
  ASSERT_TRUE(r.output);
  EXPECT_EQ(r.output->rowbytes(), 10 * 8 + 48);
  EXPECT_TRUE(r.output->SamePixels(image.Crop(PF_LRect{2, 3, 12, 8}, 0)));
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(CopyEffectTest, InputImagesFollowTheFramesTime) {
  host.options().time_step = 2;
  host.options().time_scale = 48;
  World blue(4, 4, PF_PixelFormat_ARGB32);
  blue.FillPixelBytes(0x20);
  World red(4, 4, PF_PixelFormat_ARGB32);
  red.FillPixelBytes(0x80);
  host.SetInput(blue);
  host.SetInputAt(6, red);  // frame 3
  EXPECT_TRUE(host.RenderFrame(2).output->SamePixels(blue));
  EXPECT_TRUE(host.RenderFrame(3).output->SamePixels(red));
  EXPECT_THAT(render_times, ElementsAre(4, 6));  // time = frame * time_step
}

class EveryFormatTest : public CopyEffectTest, public testing::WithParamInterface<PF_PixelFormat> {};

TEST_P(EveryFormatTest, RendersAndReportsTheInputsFormat) {
  World image(6, 4, GetParam());
  for (A_long y = 0; y < 4; ++y) {
    std::memset(reinterpret_cast<char*>(image.effect_world()->data) + y * image.rowbytes(), 0x11 * (y + 1),
                static_cast<std::size_t>(6 * image.bytes_per_pixel()));
  }
  host.SetInput(image);
  const FrameReport r = host.RenderFrame(0);
  ASSERT_EQ(r.err(), PF_Err_NONE);
  EXPECT_THAT(formats, ElementsAre(GetParam()));
  // The effect has no use for the request's bit depth: the host writes its
  // pattern there, so that a plug-in relying on it shows.
  constexpr auto kPattern = static_cast<A_short>(simhost::kUnusedBytePattern * 0x0101);
  EXPECT_THAT(bitdepths, ElementsAre(kPattern));
  ASSERT_TRUE(r.output);
  EXPECT_EQ(r.output->format(), GetParam());
  EXPECT_TRUE(r.output->SamePixels(image));
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// Test names from the codes' characters: argb, bgra, ae16, ae32, BGra.
std::string FormatName(const testing::TestParamInfo<PF_PixelFormat>& info) {
  std::string name;
  for (int shift = 0; shift < 32; shift += 8) name += static_cast<char>((info.param >> shift) & 0xFF);
  return name;
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormatTest,
                         testing::Values(PF_PixelFormat_ARGB32, PF_PixelFormat_BGRA32, PF_PixelFormat_ARGB64,
                                         PF_PixelFormat_ARGB128, QV_PixelFormat_BGRA128),
                         FormatName);

TEST_F(CopyEffectTest, DeleteFunctionRunsOnceForEveryFrameRenderedOrNot) {
  const FrameReport rendered = host.RenderFrame(0);
  EXPECT_TRUE(rendered.rendered);
  EXPECT_TRUE(rendered.delete_called);
  EXPECT_EQ(host.CountOf("delete_pre_render_data_func"), 1u);

  const FrameReport dropped = host.PreRenderOnly(1);
  EXPECT_FALSE(dropped.rendered);
  EXPECT_TRUE(dropped.delete_called);
  EXPECT_EQ(Sent("SMART_RENDER"), 1u);
  EXPECT_EQ(host.CountOf("delete_pre_render_data_func"), 2u);

  host.PreRender(2);
  host.PreRender(3);  // frame 2 is dropped for frame 3
  EXPECT_EQ(host.CountOf("delete_pre_render_data_func"), 3u);
  EXPECT_EQ(host.RenderPending().frame, 3);
  EXPECT_EQ(host.Pending(), nullptr);
  EXPECT_EQ(host.CountOf("delete_pre_render_data_func"), 4u);

  pre_render_result = PF_Err_OUT_OF_MEMORY;  // fails after setting its data
  const FrameReport failed = host.RenderFrame(4);
  EXPECT_EQ(failed.err(), PF_Err_OUT_OF_MEMORY);
  EXPECT_FALSE(failed.rendered);
  EXPECT_TRUE(failed.delete_called);
  EXPECT_EQ(Sent("SMART_RENDER"), 2u);
  EXPECT_EQ(host.CountOf("delete_pre_render_data_func"), 5u);

  host.GlobalSetdown();
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(CopyEffectTest, RenderReceivesThePreRenderDataOfItsFrame) {
  void* seen = nullptr;
  tamper = [&](const CommandArgs& a, PF_EffectWorld*, PF_EffectWorld*) {
    seen = static_cast<PF_SmartRenderExtra*>(a.extra)->input->pre_render_data;
  };
  const FrameReport r = host.RenderFrame(5);
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(seen, r.pre_render_output.pre_render_data);
  EXPECT_THAT(render_times, ElementsAre(5));
}

TEST_F(CopyEffectTest, WritesOutsideTheOutputOrIntoTheInputAreViolations) {
  tamper = [](const CommandArgs&, PF_EffectWorld*, PF_EffectWorld* out) {
    reinterpret_cast<char*>(out->data)[2 * out->rowbytes + out->width * 4] = 1;  // row 2's padding
  };
  host.RenderFrame(0);
  tamper = [](const CommandArgs&, PF_EffectWorld*, PF_EffectWorld* out) { reinterpret_cast<char*>(out->data)[-1] = 1; };
  host.RenderFrame(1);
  tamper = [](const CommandArgs&, PF_EffectWorld* in, PF_EffectWorld*) { reinterpret_cast<char*>(in->data)[5] = 1; };
  host.RenderFrame(2);
  EXPECT_THAT(host.Violations(),
              ElementsAre("SMART_RENDER: the effect wrote outside the output world: 1 padding bytes changed in 1 rows "
                          "(first row 2)",
                          "SMART_RENDER: the effect wrote outside the output world: 1 guard bytes before the first "
                          "row changed",
                          "SMART_RENDER: the effect changed 1 bytes of the input world of checkout id 0"));
}

TEST_F(CopyEffectTest, PixelFormatIsAnsweredOnlyForWorldsTheHostMade) {
  std::vector<PF_Err> results;
  std::vector<PF_PixelFormat> answers;
  tamper = [&](const CommandArgs& a, PF_EffectWorld* in, PF_EffectWorld*) {
    const auto* ws = Acquire<PF_WorldSuite2>(a.in, kPFWorldSuite, 2);
    PF_EffectWorld foreign{};
    PF_EffectWorld copy = *in;  // a copy of the record still names the host's world
    for (const PF_EffectWorld* w : {&foreign, &copy}) {
      PF_PixelFormat f = PF_PixelFormat_INVALID;
      results.push_back(ws->PF_GetPixelFormat(w, &f));
      answers.push_back(f);
    }
    Release(a.in, kPFWorldSuite, 2);
  };
  host.RenderFrame(0);
  EXPECT_THAT(results, ElementsAre(PF_Err_BAD_CALLBACK_PARAM, PF_Err_NONE));
  EXPECT_THAT(answers, ElementsAre(PF_PixelFormat_INVALID, PF_PixelFormat_ARGB32));
  EXPECT_THAT(host.Violations(), ElementsAre(HasSubstr("PF_GetPixelFormat of a world this host did not hand out")));

  tamper = nullptr;
  host.SetPixelFormatAnswer(0x12345678);
  host.RenderFrame(1);
  EXPECT_EQ(formats.back(), 0x12345678);
}

TEST_F(CopyEffectTest, CheckoutFaultsReachTheEffect) {
  host.InjectFault(Fault{.op = "checkout_output", .null_result = true});
  FrameReport r = host.RenderFrame(0);
  EXPECT_EQ(r.render_err, PF_Err_BAD_CALLBACK_PARAM);  // the effect saw 0 and no world
  EXPECT_FALSE(r.output);

  host.InjectFault(Fault{.op = "checkout_layer_pixels", .error = 7});
  r = host.RenderFrame(1);
  EXPECT_EQ(r.render_err, 7);
  EXPECT_TRUE(r.delete_called);

  host.InjectFault(Fault{.op = "checkout_layer", .error = 9});
  r = host.RenderFrame(2);
  EXPECT_EQ(r.pre_render_err, 9);
  EXPECT_FALSE(r.rendered);
  EXPECT_TRUE(r.delete_called);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

TEST_F(CopyEffectTest, RunSendsTheCommandsOfAHostRunWithTheGlobalData) {
  std::vector<PF_Handle> seen_global;
  auto note_global = [&](const CommandArgs& a) {
    seen_global.push_back(a.in->global_data);
    return PF_Err_NONE;
  };
  effect.On(PF_Cmd_GLOBAL_SETUP, [&](const CommandArgs& a) {
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    a.out->global_data = hs->host_new_handle(4);
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  effect.On(PF_Cmd_PARAMS_SETUP, [&](const CommandArgs& a) {
    a.out->num_params = 1;
    return note_global(a);
  });
  effect.On(PF_Cmd_UPDATE_PARAMS_UI, note_global);
  effect.On(PF_Cmd_GLOBAL_SETDOWN, [&](const CommandArgs& a) {
    note_global(a);
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    hs->host_dispose_handle(a.in->global_data);
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  std::vector<A_long> frames;
  EXPECT_EQ(host.Run(0, 2, [&](const FrameReport& r) { frames.push_back(r.frame); }), PF_Err_NONE);
  std::vector<std::string> names;
  for (const auto& c : host.Commands()) names.push_back(c.name);
  EXPECT_THAT(names, ElementsAre("GLOBAL_SETUP", "PARAMS_SETUP", "UPDATE_PARAMS_UI", "SMART_PRE_RENDER",
                                 "SMART_RENDER", "delete_pre_render_data_func", "SMART_PRE_RENDER", "SMART_RENDER",
                                 "delete_pre_render_data_func", "GLOBAL_SETDOWN"));
  EXPECT_THAT(frames, ElementsAre(0, 1));
  ASSERT_EQ(seen_global.size(), 3u);
  EXPECT_NE(seen_global[0], nullptr);
  EXPECT_THAT(seen_global, testing::Each(seen_global[0]));
  EXPECT_EQ(host.GlobalData(), nullptr);
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// Disposed handles stay known to the host, so that a second dispose is
// caught, but only the live ones are listed: in order of creation, after the
// call that made them and not after the one that disposed of them.
TEST_F(CopyEffectTest, LiveHandlesAreTheUndisposedOnesInOrderOfCreation) {
  effect.On(PF_Cmd_GLOBAL_SETUP, [&](const CommandArgs& a) {
    const auto* hs = Acquire<PF_HandleSuite1>(a.in, kPFHandleSuite, 2);
    a.out->global_data = hs->host_new_handle(4);
    Release(a.in, kPFHandleSuite, 2);
    return PF_Err_NONE;
  });
  const auto ids = [](const std::vector<simhost::HandleInfo>& handles) {
    std::vector<int> out;
    for (const auto& h : handles) out.push_back(h.id);
    return out;
  };
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  for (A_long frame = 0; frame < 3; ++frame) host.RenderFrame(frame);  // h2 to h4, each disposed
  host.PreRender(3);
  EXPECT_THAT(ids(host.LiveHandles()), ElementsAre(1, 5));
  EXPECT_THAT(ids(host.Commands().back().live_handles), ElementsAre(1, 5));
  host.RenderPending();
  EXPECT_THAT(ids(host.LiveHandles()), ElementsAre(1));
  EXPECT_THAT(ids(host.Commands().back().live_handles), ElementsAre(1));  // after the delete function
  EXPECT_THAT(host.Violations(), IsEmpty());
}

// ---- Checks against the registration resource -------------------------------------

std::span<const std::uint8_t> Pipl() { return simhost_test::kTestPipl; }

TEST(ResourceChecks, GlobalSetupFlagsMustEqualThePipls) {
  FakeEffect effect;
  A_long out_flags = static_cast<A_long>(simhost_test::kPiplGlobalOutFlags);
  effect.On(PF_Cmd_GLOBAL_SETUP, [&](const CommandArgs& a) {
    a.out->my_version = simhost_test::kPiplEffectVersion;
    a.out->out_flags = out_flags;
    a.out->out_flags2 = static_cast<A_long>(simhost_test::kPiplGlobalOutFlags2);
    return PF_Err_NONE;
  });
  Host matching(&FakeEffect::Entry, Pipl());
  matching.GlobalSetup();
  EXPECT_THAT(matching.Violations(), IsEmpty());

  out_flags = PF_OutFlag_DEEP_COLOR_AWARE;
  Host differing(&FakeEffect::Entry, Pipl());
  differing.GlobalSetup();
  EXPECT_THAT(differing.Violations(),
              ElementsAre("GLOBAL_SETUP: out_flags 0x02000000 differ from the PiPL's AE_Effect_Global_OutFlags "
                          "0x06000000"));
}

TEST(ResourceChecks, AResourceThatIsNoEffectOrMalformedIsAViolation) {
  FakeEffect effect;
  std::vector<std::uint8_t> filter(Pipl().begin(), Pipl().end());
  filter[simhost_test::kFirstPropertyOffset + 16] = 'X';  // kind "eFKX"
  EXPECT_THAT(Host(&FakeEffect::Entry, filter).Violations(), ElementsAre(HasSubstr("not an effect")));
  EXPECT_THAT(Host(&FakeEffect::Entry, Pipl().first(40)).Violations(), ElementsAre(HasSubstr("malformed")));
}

TEST(HostConduct, AnExceptionLeavingTheEntryPointIsAViolation) {
  FakeEffect effect;
  effect.On(PF_Cmd_SEQUENCE_SETUP, [](const CommandArgs&) -> PF_Err { throw std::runtime_error("oops"); });
  Host host(&FakeEffect::Entry);
  EXPECT_EQ(host.SendCommand(PF_Cmd_SEQUENCE_SETUP), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_THAT(host.Violations(), ElementsAre("SEQUENCE_SETUP: an exception left EntryPointFunc"));
}

// Calls the host's sprintf in `state` (none: the state the thread came in),
// with exception flags raised too when asked, and puts the thread back.
void CallBackIn(PF_InData* in, PF_OutData* out, std::optional<simhost::FloatControl> state, bool raise_flags) {
  const simhost::FloatControl given = simhost::CurrentFloatControl();
  simhost::FloatControl during = state.value_or(given);
  if (raise_flags) during.mxcsr |= 0x21;  // inexact and invalid, as arithmetic leaves them
  simhost::SetFloatControl(during);
  in->utils->ansi.sprintf(out->return_msg, "%s", "called back");
  simhost::SetFloatControl(given);
}

// A callback must come in the state the host gave its thread for the call:
// the host runs its own code, upstream renders included, in that state. The
// exception flags that arithmetic raises are no change of state.
TEST(HostConduct, CallbacksComeInTheFloatingPointStateTheirThreadWasGiven) {
  const simhost::FloatControl ordinary{}, own_ftz{0x1F80 | 0x8040, 0x037F};
  struct Case {
    const char* what;
    bool hostile_host;
    std::optional<simhost::FloatControl> call_back_in;
    bool raise_flags;
    bool violation;
  };
  const Case cases[] = {
      {"in the ordinary state it was given", false, std::nullopt, false, false},
      {"in the hostile state it was given", true, std::nullopt, false, false},
      {"with flags raised", true, std::nullopt, true, false},
      {"in the ordinary state, given the hostile one", true, ordinary, false, true},
      {"with flush-to-zero, given the ordinary state", false, own_ftz, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeEffect effect;
    effect.On(PF_Cmd_SEQUENCE_SETUP, [&](const CommandArgs& a) {
      CallBackIn(a.in, a.out, c.call_back_in, c.raise_flags);
      return PF_Err_NONE;
    });
    HostOptions options;
    if (c.hostile_host) options.thread_float_control = simhost::kHostileFloatControl;
    Host host(&FakeEffect::Entry, options);
    EXPECT_EQ(host.SendCommand(PF_Cmd_SEQUENCE_SETUP), PF_Err_NONE);
    const simhost::FloatControl expected = c.call_back_in.value_or(c.hostile_host ? simhost::kHostileFloatControl
                                                                                   : ordinary);
    const std::vector<simhost::CallRecord> calls = host.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].float_control, std::nullopt);  // the host's own call into the effect
    ASSERT_TRUE(calls[1].float_control.has_value());
    EXPECT_EQ(simhost::ControlsOf(*calls[1].float_control), expected);
    if (c.violation) {
      EXPECT_THAT(host.Violations(),
                  ElementsAre(AllOf(HasSubstr("SEQUENCE_SETUP: sprintf called in another floating-point state"),
                                    HasSubstr(simhost::Describe(expected)))));
    } else {
      EXPECT_THAT(host.Violations(), IsEmpty());
    }
  }
}

// The effect must give its thread back in the control state it was called
// in; exception flags raised meanwhile (the host's callbacks raise them too)
// are no change of state.
TEST(HostConduct, TheThreadGoesBackInTheControlStateItCameIn) {
  for (const bool flags_only : {true, false}) {
    SCOPED_TRACE(flags_only ? "flags raised" : "flush-to-zero left on");
    FakeEffect effect;
    effect.On(PF_Cmd_SEQUENCE_SETUP, [&](const CommandArgs&) {
      simhost::FloatControl state = simhost::CurrentFloatControl();
      state.mxcsr |= flags_only ? 0x20 : 0x8000;
      simhost::SetFloatControl(state);
      return PF_Err_NONE;
    });
    HostOptions options;
    options.thread_float_control = simhost::FloatControl{};
    Host host(&FakeEffect::Entry, options);
    EXPECT_EQ(host.SendCommand(PF_Cmd_SEQUENCE_SETUP), PF_Err_NONE);
    if (flags_only) {
      EXPECT_THAT(host.Violations(), IsEmpty());
    } else {
      EXPECT_THAT(host.Violations(),
                  ElementsAre(HasSubstr("SEQUENCE_SETUP: EntryPointFunc gave its thread back in another")));
    }
  }
}

// The same holds on the workers that iterate_generic runs the effect's
// callback on: each was given the host's state for that iteration.
TEST(HostConduct, CallbacksFromIterationsComeInTheStateTheirWorkerWasGiven) {
  struct Job {
    PF_InData* in;
    PF_OutData* out;
    std::optional<simhost::FloatControl> call_back_in;
  };
  for (const bool switches : {false, true}) {
    SCOPED_TRACE(switches ? "switching" : "keeping");
    FakeEffect effect;
    effect.On(PF_Cmd_SEQUENCE_SETUP, [&](const CommandArgs& a) -> PF_Err {
      const auto* suite = Acquire<PF_Iterate8Suite1>(a.in, kPFIterate8Suite, kPFIterate8SuiteVersion1);
      if (!suite) return PF_Err_BAD_CALLBACK_PARAM;
      Job job{a.in, a.out, switches ? std::optional(simhost::FloatControl{}) : std::nullopt};
      const PF_Err err = suite->iterate_generic(4, &job, [](void* refcon, A_long, A_long, A_long) -> PF_Err {
        const auto* j = static_cast<const Job*>(refcon);
        CallBackIn(j->in, j->out, j->call_back_in, false);
        return PF_Err_NONE;
      });
      Release(a.in, kPFIterate8Suite, kPFIterate8SuiteVersion1);
      return err;
    });
    HostOptions options;
    options.num_threads = 2;
    options.thread_float_control = simhost::kHostileFloatControl;
    Host host(&FakeEffect::Entry, options);
    EXPECT_EQ(host.SendCommand(PF_Cmd_SEQUENCE_SETUP), PF_Err_NONE);
    EXPECT_EQ(host.CountOf("sprintf"), 4u);
    EXPECT_EQ(host.Violations().size(), switches ? 4u : 0u);
  }
}

TEST(HostConduct, RawCommandsGetTheParametersAndAnOutputWorld) {
  FakeEffect effect;
  bool as_a_host_sends_it = false;
  effect.On(PF_Cmd_RENDER, [&](const CommandArgs& a) {
    as_a_host_sends_it = a.extra == nullptr && a.output && a.output->width == 64 &&
                         a.params[0]->param_type == PF_Param_LAYER && a.in->pica_basicP && a.in->utils;
    return PF_Err_NONE;
  });
  Host host(&FakeEffect::Entry);
  EXPECT_EQ(host.SendCommand(PF_Cmd_RENDER), PF_Err_NONE);
  EXPECT_TRUE(as_a_host_sends_it);
  ASSERT_NE(host.RawOutput(), nullptr);
  EXPECT_THROW(host.SendCommand(PF_Cmd_SMART_RENDER), std::invalid_argument);
}

}  // namespace
