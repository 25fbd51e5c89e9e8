// Frames for the render tests: parameter values as the host holds them, what
// pre-render must make of them, input layers, and the engine's own toning of
// a layer to compare the host's output with.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/tone_mapper.h"
#include "host_driver.h"
#include "shell/param_index.h"

namespace qv::testing {

// The fifteen value parameters as the host's store holds them, at their
// registered defaults unless a test changes them.
struct HostValues {
  A_long base_on = 1;
  A_long tones = 3;
  PF_Pixel highlights{255, 255, 255, 255};  // alpha, red, green, blue
  PF_Pixel brights{255, 192, 170, 120};
  PF_Pixel midtones{255, 128, 100, 70};
  PF_Pixel darktones{255, 64, 50, 10};
  PF_Pixel shadows{255, 0, 0, 0};
  double input_black = 0;
  double input_white = 1;
  double gamma = 1;
  double output_black = 0;
  double output_white = 1;
  PF_Fixed highlights_opacity = 100 * 65536;  // 16.16 percent
  PF_Fixed shadows_opacity = 0;
  PF_Fixed blend = 0;
};

// Every value into the host's store, as constants.
inline void Apply(simhost::Host& host, const HostValues& v) {
  host.SetParam(kParamBaseOn, simhost::PopupValue{v.base_on});
  host.SetParam(kParamTones, simhost::PopupValue{v.tones});
  host.SetParam(kParamHighlights, v.highlights);
  host.SetParam(kParamBrights, v.brights);
  host.SetParam(kParamMidtones, v.midtones);
  host.SetParam(kParamDarktones, v.darktones);
  host.SetParam(kParamShadows, v.shadows);
  host.SetParam(kParamInputBlack, v.input_black);
  host.SetParam(kParamInputWhite, v.input_white);
  host.SetParam(kParamGamma, v.gamma);
  host.SetParam(kParamOutputBlack, v.output_black);
  host.SetParam(kParamOutputWhite, v.output_white);
  host.SetParam(kParamHighlightsOpacity, simhost::FixedValue{v.highlights_opacity});
  host.SetParam(kParamShadowsOpacity, simhost::FixedValue{v.shadows_opacity});
  host.SetParam(kParamBlend, simhost::FixedValue{v.blend});
}

// The record pre-render must make of the values: colours channel by channel
// divided by 255 in single precision, percentages divided by 65536 and then
// multiplied by 0.01 in double precision, everything else unchanged.
inline PixelFloat ExpectedColour(const PF_Pixel& c) {
  PixelFloat p;
  p.alpha = c.alpha / 255.0f;
  p.red = c.red / 255.0f;
  p.green = c.green / 255.0f;
  p.blue = c.blue / 255.0f;
  return p;
}
inline double ExpectedFraction(PF_Fixed v) { return static_cast<double>(v) / 65536.0 * 0.01; }

inline ToneParams ExpectedParams(const HostValues& v) {
  ToneParams p{};  // no padding in the record: a byte comparison sees every field
  p.baseOn = v.base_on;
  p.tones = v.tones;
  p.highlights = ExpectedColour(v.highlights);
  p.brights = ExpectedColour(v.brights);
  p.midtones = ExpectedColour(v.midtones);
  p.darktones = ExpectedColour(v.darktones);
  p.shadows = ExpectedColour(v.shadows);
  p.inputBlack = v.input_black;
  p.inputWhite = v.input_white;
  p.gamma = v.gamma;
  p.outputBlack = v.output_black;
  p.outputWhite = v.output_white;
  p.highlightsOpacity = ExpectedFraction(v.highlights_opacity);
  p.shadowsOpacity = ExpectedFraction(v.shadows_opacity);
  p.blend = ExpectedFraction(v.blend);
  return p;
}

// Settings within the host's ranges: every Base On and tone count, levels that
// have a real curve, blend on or off.
inline HostValues RandomValues(std::mt19937& rng) {
  auto integer = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  auto colour = [&] {
    return PF_Pixel{255, static_cast<A_u_char>(integer(0, 255)), static_cast<A_u_char>(integer(0, 255)),
                    static_cast<A_u_char>(integer(0, 255))};
  };
  HostValues v;
  v.base_on = integer(1, 6);
  v.tones = integer(1, 4);
  v.highlights = colour();
  v.brights = colour();
  v.midtones = colour();
  v.darktones = colour();
  v.shadows = colour();
  v.input_black = real(0, 0.4);
  v.input_white = real(0.6, 1);
  v.gamma = integer(0, 1) ? 1.0 : real(0.3, 3);
  v.output_black = real(-0.1, 0.4);
  v.output_white = real(0.6, 1.1);
  v.highlights_opacity = integer(0, 100) * 65536;
  v.shadows_opacity = integer(0, 100) * 65536;
  v.blend = integer(0, 1) ? 0 : integer(1, 100) * 65536;
  return v;
}

inline PixelDepth DepthOfTestFormat(PF_PixelFormat format) {
  switch (simhost::BytesPerPixel(format)) {
    case 4: return kDepth8;
    case 8: return kDepth16;
    default: return kDepthFloat;
  }
}

inline std::string FormatName(PF_PixelFormat format) {
  std::string name(4, ' ');
  for (int i = 0; i < 4; ++i) name[static_cast<std::size_t>(i)] = static_cast<char>((format >> (8 * i)) & 0xFF);
  return name;
}

// Random pixels over each depth's whole range: 8-bit 0 to 255, 16-bit 0 to
// 32768, float -0.25 to 1.25 (out-of-range values pass through the float path).
inline simhost::World RandomLayer(A_long width, A_long height, PF_PixelFormat format, std::uint32_t seed,
                                  A_long row_padding_bytes = 0) {
  simhost::World world(width, height, format, row_padding_bytes);
  std::mt19937 rng(seed);
  for (A_long y = 0; y < height; ++y) {
    switch (DepthOfTestFormat(format)) {
      case kDepth8:
        for (PF_Pixel8& p : world.Row<PF_Pixel8>(y)) {
          std::uniform_int_distribution<int> d(0, 255);
          p = {static_cast<A_u_char>(d(rng)), static_cast<A_u_char>(d(rng)), static_cast<A_u_char>(d(rng)),
               static_cast<A_u_char>(d(rng))};
        }
        break;
      case kDepth16:
        for (PF_Pixel16& p : world.Row<PF_Pixel16>(y)) {
          std::uniform_int_distribution<int> d(0, 32768);
          p = {static_cast<A_u_short>(d(rng)), static_cast<A_u_short>(d(rng)), static_cast<A_u_short>(d(rng)),
               static_cast<A_u_short>(d(rng))};
        }
        break;
      default:
        for (PF_PixelFloat& p : world.Row<PF_PixelFloat>(y)) {
          std::uniform_real_distribution<float> d(-0.25f, 1.25f);
          p = {d(rng), d(rng), d(rng), d(rng)};
        }
    }
  }
  return world;
}

// RandomLayer, with the float tones of every other pixel (alpha too) at a
// subnormal or tiny value or its negative: where flush-to-zero and
// denormals-are-zero change what the float pass computes.
inline simhost::World TinyTonesLayer(A_long width, A_long height, PF_PixelFormat format, std::uint32_t seed) {
  simhost::World world = RandomLayer(width, height, format, seed);
  if (DepthOfTestFormat(format) != kDepthFloat) return world;
  constexpr float kTiny[] = {0x1p-149f, 1e-40f, 3e-39f, 0x1p-126f, 1.5e-38f, 1e-30f, 1e-12f, 0.0f};
  constexpr std::size_t kCount = sizeof kTiny / sizeof kTiny[0];
  std::size_t k = 0;
  for (A_long y = 0; y < height; ++y) {
    A_long x = 0;
    for (PF_PixelFloat& p : world.Row<PF_PixelFloat>(y)) {
      if ((x++ + y) % 2 != 0) continue;
      const float tiny = kTiny[k % kCount] * (k % (2 * kCount) < kCount ? 1.0f : -1.0f);
      ++k;
      p = {k % 3 == 0 ? tiny : 1.0f, tiny, tiny, k % 5 == 0 ? 0.5f : tiny};
    }
  }
  return world;
}

// A world of the same size and format whose pixel bytes all hold `fill`.
inline simhost::World Filled(const simhost::World& like, unsigned char fill) {
  simhost::World world(like.width(), like.height(), like.format());
  world.FillPixelBytes(fill);
  return world;
}

inline ImageView ViewOf(const simhost::World& world) {
  const PF_EffectWorld& w = *world.effect_world();
  return {DepthOfTestFormat(world.format()), static_cast<void*>(w.data), w.width, w.height,
          w.rowbytes / world.bytes_per_pixel()};
}

// The engine's own toning of the whole of `input`, in one pass on this thread.
inline simhost::World EngineToned(const simhost::World& input, const ToneParams& params) {
  simhost::World output(input.width(), input.height(), input.format());
  const ToneMapper mapper(ToneMapperSettings{DepthOfTestFormat(input.format()), params});
  mapper.Process(ViewOf(input), ViewOf(output), PixelRect{0, 0, input.width(), input.height()});
  return output;
}

// The frames a host whose threads flush subnormals to zero, read them as
// zero and round toward zero (kHostileFloatControl, x87 included) gets from
// the effect are an ordinary host's, byte for byte: the effect's toning of
// TinyTonesLayer under settings that take the power function (Gamma 2.2 and
// 0.45), a blend and every tone count. Both hosts are strict, so every call,
// on the calling thread and on the workers, must also give its thread back in
// the state it was called in. `make` makes a host with the options it is given.
template <class MakeHost>
void ExpectTheThreadsFloatStateChangesNothing(MakeHost make, PF_PixelFormat format) {
  simhost::HostOptions ordinary;
  ordinary.num_threads = 3;
  simhost::HostOptions hostile = ordinary;
  hostile.thread_float_control = simhost::kHostileFloatControl;
  const auto plain_host = make(ordinary);
  const auto hostile_host = make(hostile);
  ASSERT_TRUE(plain_host && hostile_host);
  const simhost::World layer = TinyTonesLayer(37, 11, format, 17);
  const HostValues settings[] = {
      {.gamma = 2.2, .blend = 25 * 65536},
      {.base_on = 2, .tones = 4, .input_black = 0.1, .gamma = 0.45, .shadows_opacity = 30 * 65536},
      {.base_on = 4, .tones = 2, .gamma = 1.7, .output_black = 0.05},
      {.tones = 1, .highlights_opacity = 70 * 65536},
  };
  // The control bits, not the flags this thread's own arithmetic raises.
  const auto controls = [] { return simhost::ControlsOf(simhost::CurrentFloatControl()); };
  const simhost::FloatControl own = controls();
  for (simhost::Host* host : {&*plain_host, &*hostile_host}) {
    host->SetInput(layer);
    ASSERT_EQ(host->GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host->ParamsSetup(), PF_Err_NONE);
  }
  for (const HostValues& values : settings) {
    SCOPED_TRACE("Tones " + std::to_string(values.tones) + ", Gamma " + std::to_string(values.gamma));
    Apply(*plain_host, values);
    Apply(*hostile_host, values);
    const simhost::FrameReport plain = plain_host->RenderFrame(0);
    const simhost::FrameReport frame = hostile_host->RenderFrame(0);
    ASSERT_EQ(plain.err(), PF_Err_NONE);
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    ASSERT_TRUE(plain.output && frame.output);
    EXPECT_TRUE(frame.output->SamePixels(*plain.output));
    EXPECT_TRUE(frame.output->SamePixels(EngineToned(layer, ExpectedParams(values))));
  }
  EXPECT_EQ(controls(), own) << "the host's thread keeps its own state between calls";
  for (simhost::Host* host : {&*plain_host, &*hostile_host}) {
    EXPECT_EQ(host->GlobalSetdown(), PF_Err_NONE);
    EXPECT_THAT(host->Violations(), ::testing::IsEmpty());
  }
}

// The ToneParams record in a pre-render data handle, while the host holds it.
inline std::optional<ToneParams> RecordIn(const simhost::Host& host, const void* handle) {
  const auto bytes = host.HandleBytes(handle);
  if (!bytes || bytes->size() != sizeof(ToneParams)) return std::nullopt;
  ToneParams record;
  std::memcpy(&record, bytes->data(), sizeof record);
  return record;
}

// The record the pending frame's pre-render made.
inline std::optional<ToneParams> PendingRecord(const simhost::Host& host) {
  const simhost::FrameReport* pending = host.Pending();
  if (pending == nullptr) return std::nullopt;
  return RecordIn(host, pending->pre_render_output.pre_render_data);
}

inline bool SameRecord(const ToneParams& a, const ToneParams& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline std::vector<A_long> Rect(const PF_LRect& r) { return {r.left, r.top, r.right, r.bottom}; }

// The indices pre-render reads, in order: every control but the group's ends.
inline const std::vector<long long>& ValueParamIndices() {
  static const std::vector<long long> indices = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 15, 16, 17};
  return indices;
}

}  // namespace qv::testing
