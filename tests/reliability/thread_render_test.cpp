// Renders through the simulated host, whose iterate_generic runs the bands on
// as many worker threads as it reports. These are the effect's only
// concurrent code paths, so the ThreadSanitizer build builds and runs this
// program on its own. Whatever the thread count, the output must be the same
// bytes, and equal to the engine toning the whole frame at once.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "engine/tone_mapper.h"
#include "shell/entry_point.h"
#include "shell/param_index.h"
#include "shell/params.h"
#include "shell/pipl.h"
#include "simhost/host.h"
#include "worlds.h"

namespace qv::reliability {
namespace {

using simhost::Host;

struct Format {
  PF_PixelFormat format;
  PixelDepth depth;
  const char* name;
};

constexpr Format kFormats[] = {{PF_PixelFormat_ARGB32, kDepth8, "8bit"},
                               {PF_PixelFormat_ARGB64, kDepth16, "16bit"},
                               {PF_PixelFormat_ARGB128, kDepthFloat, "float"}};

simhost::World Layer(const Format& f, A_long width, A_long height) {
  return fuzz::MakeWorld(width, height, f.format, 0, fuzz::PixelSource{false, 0x7EAD5ull, {}});
}

// Pentone with every colour in use and a blend, so that each pixel takes the
// longest path through the pass. Host values, and the settings they become.
constexpr PF_Pixel kColours[] = {
    {255, 250, 240, 230}, {255, 200, 150, 100}, {255, 120, 130, 140}, {255, 60, 40, 80}, {255, 10, 0, 20}};
constexpr ParamIndex kColourIndices[] = {kParamHighlights, kParamBrights, kParamMidtones, kParamDarktones,
                                         kParamShadows};
constexpr struct {
  ParamIndex index;
  double value;
} kLevels[] = {{kParamInputBlack, 0.1},
               {kParamInputWhite, 0.9},
               {kParamGamma, 1.3},
               {kParamOutputBlack, 0.05},
               {kParamOutputWhite, 0.95}};
constexpr A_long kHighlightsOpacity = 80, kShadowsOpacity = 20, kBlend = 30;

double Fraction(A_long percent) { return static_cast<double>(FixedFromWhole(percent)) / 65536.0 * 0.01; }

ToneParams Params() {
  const auto colour = [](const PF_Pixel& c) { return FromPixel8({c.alpha, c.red, c.green, c.blue}); };
  ToneParams p{};
  p.baseOn = kBaseLuminance;
  p.tones = kPentone;
  p.highlights = colour(kColours[0]);
  p.brights = colour(kColours[1]);
  p.midtones = colour(kColours[2]);
  p.darktones = colour(kColours[3]);
  p.shadows = colour(kColours[4]);
  p.inputBlack = kLevels[0].value;
  p.inputWhite = kLevels[1].value;
  p.gamma = kLevels[2].value;
  p.outputBlack = kLevels[3].value;
  p.outputWhite = kLevels[4].value;
  p.highlightsOpacity = Fraction(kHighlightsOpacity);
  p.shadowsOpacity = Fraction(kShadowsOpacity);
  p.blend = Fraction(kBlend);
  return p;
}

void SetParams(Host& host) {
  host.SetParam(kParamBaseOn, simhost::PopupValue{kBaseLuminance});
  host.SetParam(kParamTones, simhost::PopupValue{kPentone});
  for (std::size_t i = 0; i < std::size(kColours); ++i) host.SetParam(kColourIndices[i], kColours[i]);
  for (const auto& level : kLevels) host.SetParam(level.index, level.value);
  host.SetParam(kParamHighlightsOpacity, simhost::FixedValue{FixedFromWhole(kHighlightsOpacity)});
  host.SetParam(kParamShadowsOpacity, simhost::FixedValue{FixedFromWhole(kShadowsOpacity)});
  host.SetParam(kParamBlend, simhost::FixedValue{FixedFromWhole(kBlend)});
}

simhost::World Render(const Format& f, const simhost::World& layer, A_long threads) {
  simhost::HostOptions options;
  options.num_threads = threads;
  options.row_padding_bytes = 48;
  options.output_fill = 0x3C;
  Host host(&EntryPointFunc, PiplBytes(), options);
  host.SetInput(layer);
  SetParams(host);
  EXPECT_EQ(host.GlobalSetup(), PF_Err_NONE);
  EXPECT_EQ(host.ParamsSetup(), PF_Err_NONE);
  simhost::FrameReport frame = host.RenderFrame(0);
  EXPECT_EQ(frame.err(), PF_Err_NONE) << f.name << ", " << threads << " threads";
  EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);
  EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
  return frame.output ? std::move(*frame.output) : simhost::World(0, 0, f.format);
}

// The engine toning the whole layer in one call, with no bands and no host.
simhost::World Direct(const Format& f, const simhost::World& layer) {
  simhost::World expected(layer.width(), layer.height(), f.format);
  expected.FillPixelBytes(0x3C);
  simhost::World input = layer;
  const auto view = [&f](simhost::World& w) {
    const PF_EffectWorld& e = *w.effect_world();
    return ImageView{f.depth, e.data, e.width, e.height, e.rowbytes / w.bytes_per_pixel()};
  };
  const ImageView in = view(input);
  ToneMapper({f.depth, Params()}).Process(in, view(expected), in.Bounds());
  return expected;
}

// Test names and messages show the depth's name, not the record's bytes.
void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

class ThreadedRender : public ::testing::TestWithParam<Format> {};

// Large enough that every band takes longer than starting a worker thread,
// so the bands really run side by side (ThreadSanitizer only sees races
// between accesses that are not ordered by the host's own synchronisation).
TEST_P(ThreadedRender, EveryThreadCountGivesTheSameBytes) {
  const Format& f = GetParam();
  const simhost::World layer = Layer(f, 960, 540);
  const simhost::World expected = Direct(f, layer);
  for (A_long threads : {1, 2, 3, 4, 7, 16, 64}) {
    EXPECT_TRUE(Render(f, layer, threads).SamePixels(expected)) << threads << " threads";
  }
}

// More bands than rows: most bands are empty and must write nothing, while
// the others still cover every row exactly once.
TEST_P(ThreadedRender, MoreThreadsThanRows) {
  const Format& f = GetParam();
  const simhost::World layer = Layer(f, 11, 3);
  EXPECT_TRUE(Render(f, layer, 64).SamePixels(Direct(f, layer)));
}

INSTANTIATE_TEST_SUITE_P(Depths, ThreadedRender, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::reliability
