// Whole frames through the entry point: the output is the engine's toning of
// the input, pixel for pixel, in every format the host renders in, on any
// number of host threads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "frame_support.h"
#include "reference.h"
#include "support.h"

namespace qv::testing {
namespace {

using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using simhost::World;
using ::testing::IsEmpty;

const std::vector<A_long> kThreadCounts = {1, 2, 3, 4, 7, 64};

// Rows padded by 48 bytes, a multiple of every pixel size, so that a pass
// that walks rows by width instead of rowbytes reads and writes the wrong
// pixels, and the host sees any write into the padding.
constexpr A_long kPadding = 48;

HostOptions FrameOptions() {
  HostOptions options;
  options.row_padding_bytes = kPadding;
  options.output_fill = 0xEE;
  return options;
}

// The pixels of `output` that differ from the reference's toning of `layer`
// (float pixels by value, any NaN equal to any other).
int ReferenceMismatches(const World& layer, const World& output, const test::Reference& reference) {
  int mismatches = 0;
  for (A_long y = 0; y < layer.height(); ++y) {
    for (A_long x = 0; x < layer.width(); ++x) {
      switch (DepthOfTestFormat(layer.format())) {
        case kDepth8: {
          const PF_Pixel8& s = layer.At<PF_Pixel8>(x, y);
          const Pixel8 want = reference.ToneInteger(Pixel8{s.alpha, s.red, s.green, s.blue});
          mismatches += std::memcmp(&want, &output.At<PF_Pixel8>(x, y), sizeof want) != 0;
          break;
        }
        case kDepth16: {
          const PF_Pixel16& s = layer.At<PF_Pixel16>(x, y);
          const Pixel16 want = reference.ToneInteger(Pixel16{s.alpha, s.red, s.green, s.blue});
          mismatches += std::memcmp(&want, &output.At<PF_Pixel16>(x, y), sizeof want) != 0;
          break;
        }
        default: {
          const PF_PixelFloat& s = layer.At<PF_PixelFloat>(x, y);
          const PF_PixelFloat& got = output.At<PF_PixelFloat>(x, y);
          mismatches += !test::SameValue(reference.ToneFloat(PixelFloat{s.alpha, s.red, s.green, s.blue}),
                                         PixelFloat{got.alpha, got.red, got.green, got.blue});
        }
      }
    }
  }
  return mismatches;
}

class FrameTest : public ::testing::TestWithParam<PF_PixelFormat> {
 protected:
  void SetUp() override {
    ASSERT_EQ(host_.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host_.ParamsSetup(), PF_Err_NONE);
  }

  Host& host() { return host_; }

  Host host_ = LinkedHost(FrameOptions());
};

// 13 rows: 64 threads cut them into more bands than rows, 7 into uneven ones.
TEST_P(FrameTest, OutputIsTheEnginesToningOnAnyNumberOfThreads) {
  const PF_PixelFormat format = GetParam();
  const World layer = RandomLayer(29, 13, format, 11, 16);
  host().SetInput(layer);
  std::mt19937 rng(7);
  std::vector<HostValues> settings = {HostValues{}};
  for (int i = 0; i < 4; ++i) settings.push_back(RandomValues(rng));
  for (std::size_t s = 0; s < settings.size(); ++s) {
    SCOPED_TRACE("settings " + std::to_string(s));
    Apply(host(), settings[s]);
    const World expected = EngineToned(layer, ExpectedParams(settings[s]));
    ASSERT_FALSE(expected.SamePixels(Filled(layer, 0xEE)));
    std::optional<World> first;
    for (A_long threads : kThreadCounts) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      host().options().num_threads = threads;
      FrameReport frame = host().RenderFrame(static_cast<A_long>(s));
      ASSERT_EQ(frame.err(), PF_Err_NONE);
      ASSERT_TRUE(frame.output);
      EXPECT_EQ(frame.output->rowbytes(), layer.width() * layer.bytes_per_pixel() + kPadding);
      EXPECT_TRUE(frame.output->SamePixels(expected));
      if (!first) {
        first = std::move(frame.output);
      } else {
        EXPECT_EQ(frame.output->raw_bytes(), first->raw_bytes()) << "byte for byte, padding included";
      }
    }
  }
  EXPECT_THAT(host().Violations(), IsEmpty()) << "no write outside the pixels, none to the input";
}

// The same frames agree with the independent per-pixel transcription of the
// toning rules, so a fault shared by the engine and the pipeline shows too.
TEST_P(FrameTest, OutputAgreesWithTheReferenceTranscription) {
  const PF_PixelFormat format = GetParam();
  const World layer = RandomLayer(23, 9, format, 5);
  host().SetInput(layer);
  std::mt19937 rng(3);
  for (int s = 0; s < 4; ++s) {
    const HostValues values = s == 0 ? HostValues{} : RandomValues(rng);
    Apply(host(), values);
    const test::Reference reference(ExpectedParams(values));
    const FrameReport frame = host().RenderFrame(s);
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    ASSERT_TRUE(frame.output);
    EXPECT_EQ(ReferenceMismatches(layer, *frame.output, reference), 0) << "settings " << s;
  }
  EXPECT_THAT(host().Violations(), IsEmpty());
}

// Settings at the ends of the host's ranges and beyond a real curve, and float
// pixels that are not a number, infinite, negative or above 1, against the
// independent transcription: Gamma 0.01 and 50, equal black and white
// points, a negative black point under a fractional exponent, the output
// turned around.
TEST_P(FrameTest, ExtremeSettingsAndPixelsAgreeWithTheReferenceTranscription) {
  const PF_PixelFormat format = GetParam();
  World layer = RandomLayer(21, 7, format, 11);
  if (DepthOfTestFormat(format) == kDepthFloat) {
    constexpr float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(), -2.5f, 7.0f, -0.0f};
    std::mt19937 rng(17);
    for (A_long y = 0; y < layer.height(); ++y) {
      for (PF_PixelFloat& px : layer.Row<PF_PixelFloat>(y)) {
        float* channels[] = {&px.alpha, &px.red, &px.green, &px.blue};
        if (rng() % 3 == 0) *channels[rng() % 4] = kSpecial[rng() % std::size(kSpecial)];
      }
    }
  }
  host().SetInput(layer);
  std::vector<HostValues> cases(5);
  cases[0].gamma = 0.01;
  cases[0].tones = 4;
  cases[1].gamma = 50;
  cases[1].base_on = 2;
  cases[2].input_black = cases[2].input_white = 0.5;
  cases[2].tones = 2;
  cases[3].input_black = -0.3;
  cases[3].gamma = 2.2;
  cases[3].tones = 4;
  cases[4].output_black = 0.9;
  cases[4].output_white = 0.1;
  cases[4].blend = 40 * 65536;
  cases[4].shadows_opacity = 30 * 65536;
  for (std::size_t c = 0; c < cases.size(); ++c) {
    Apply(host(), cases[c]);
    const test::Reference reference(ExpectedParams(cases[c]));
    const FrameReport frame = host().RenderFrame(static_cast<A_long>(c));
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    ASSERT_TRUE(frame.output);
    EXPECT_EQ(ReferenceMismatches(layer, *frame.output, reference), 0) << "case " << c;
  }
  EXPECT_THAT(host().Violations(), IsEmpty());
}

// Both views take the input's depth, whatever the output world's own format.
// An output of wider pixels gets the input depth's pixels at the start of
// each row, walked by its rowbytes, and nothing past them; an output whose
// rows are too short for them is refused before any pixel is written.
TEST(FrameFormats, TheOutputWorldIsWalkedAtTheInputsDepth) {
  struct Case {
    PF_PixelFormat input, output;
    bool fits;
  };
  for (const Case c : {Case{PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB128, true},
                       Case{PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128, true},
                       Case{PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, true},
                       Case{PF_PixelFormat_ARGB128, PF_PixelFormat_ARGB32, false},
                       Case{PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB32, false}}) {
    SCOPED_TRACE(FormatName(c.input) + " into " + FormatName(c.output));
    HostOptions options = FrameOptions();
    options.output_format = c.output;
    options.num_threads = 3;
    Host host = LinkedHost(options);
    ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
    const World layer = RandomLayer(13, 6, c.input, 23);
    host.SetInput(layer);
    HostValues values;
    values.tones = 4;
    values.gamma = 1.6;
    Apply(host, values);
    const FrameReport frame = host.RenderFrame(0);
    ASSERT_TRUE(frame.output);
    ASSERT_EQ(frame.output->format(), c.output);
    const World toned = EngineToned(layer, ExpectedParams(values));
    const auto pixel_bytes = static_cast<std::size_t>(layer.bytes_per_pixel() * layer.width());
    const auto row_bytes = static_cast<std::size_t>(frame.output->bytes_per_pixel() * frame.output->width());
    for (A_long y = 0; y < layer.height(); ++y) {
      const auto row_at = [y](const World& w) {
        return w.raw_bytes().data() + World::kGuardBytes +
               static_cast<std::size_t>(y) * static_cast<std::size_t>(w.rowbytes());
      };
      const unsigned char* row = row_at(*frame.output);
      const unsigned char* want = row_at(toned);
      if (c.fits) {
        EXPECT_EQ(std::memcmp(row, want, pixel_bytes), 0) << "row " << y;
        EXPECT_TRUE(std::all_of(row + pixel_bytes, row + row_bytes, [](unsigned char b) { return b == 0xEE; }))
            << "row " << y << " past the input depth's pixels";
      } else {
        EXPECT_TRUE(std::all_of(row, row + row_bytes, [](unsigned char b) { return b == 0xEE; })) << "row " << y;
      }
    }
    EXPECT_EQ(frame.err(), c.fits ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_THAT(host.Violations(), IsEmpty());
  }
}

// The thread count goes to the host's iteration exactly as the host reported
// it, a negative one too: no band runs, nothing is written, and the result is
// the iteration's own (this host refuses a negative count).
TEST(FrameThreads, ANegativeThreadCountRunsNoBand) {
  HostOptions options = FrameOptions();
  options.num_threads = -3;
  Host host = LinkedHost(options);
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);
  const World layer = RandomLayer(9, 4, PF_PixelFormat_ARGB64, 29);
  host.SetInput(layer);
  const FrameReport frame = host.RenderFrame(0);
  EXPECT_EQ(frame.err(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host.CountOf("iterate_generic"), 1u);
  for (const simhost::CallRecord& call : host.Calls()) {
    if (call.op == "iterate_generic") {
      EXPECT_EQ(call.arg, -3);
    }
  }
  ASSERT_TRUE(frame.output);
  EXPECT_TRUE(frame.output->SamePixels(Filled(*frame.output, 0xEE)));
  EXPECT_THAT(host.Violations(), ::testing::ElementsAre(::testing::HasSubstr("iterate_generic with -3 iterations")));
}

// No thread asked for: the host runs no band, the output stays as the host
// filled it, and the result is the iteration's own.
TEST_P(FrameTest, ZeroThreadsWriteNothingAndReturnTheIterationsResult) {
  const World layer = RandomLayer(8, 5, GetParam(), 2);
  host().SetInput(layer);
  host().options().num_threads = 0;
  FrameReport frame = host().RenderFrame(0);
  EXPECT_EQ(frame.err(), PF_Err_NONE);
  ASSERT_TRUE(frame.output);
  EXPECT_TRUE(frame.output->SamePixels(Filled(layer, 0xEE)));
  EXPECT_EQ(host().CountOf("iterate_generic"), 1u);

  host().InjectFault({.op = "iterate_generic", .error = 0x99});
  frame = host().RenderFrame(1);
  EXPECT_EQ(frame.err(), 0x99);
  ASSERT_TRUE(frame.output);
  EXPECT_TRUE(frame.output->SamePixels(Filled(layer, 0xEE)));
  EXPECT_THAT(host().Violations(), IsEmpty());
}

// The benchmark's host keeps its worlds between frames: the frames it renders
// must still be the right ones, a new input image must reach them, and the
// output world must really be kept.
TEST_P(FrameTest, KeptWorldsStillGiveTheRightFrames) {
  const World first = RandomLayer(12, 6, GetParam(), 3);
  const World second = RandomLayer(12, 6, GetParam(), 4);
  host().options().reuse_worlds = true;
  host().SetInput(first);
  ASSERT_EQ(host().RenderFrame(0).err(), PF_Err_NONE);
  const World* kept = host().KeptOutput();
  ASSERT_NE(kept, nullptr);
  EXPECT_TRUE(kept->SamePixels(EngineToned(first, ExpectedParams(HostValues{}))));

  host().SetInput(second);
  const FrameReport frame = host().RenderFrame(1);
  ASSERT_EQ(frame.err(), PF_Err_NONE);
  EXPECT_FALSE(frame.output) << "the output stays with the host";
  EXPECT_EQ(host().KeptOutput(), kept);
  EXPECT_TRUE(kept->SamePixels(EngineToned(second, ExpectedParams(HostValues{}))));

  host().options().request_rect = PF_LRect{2, 1, 12, 6};
  ASSERT_EQ(host().RenderFrame(2).err(), PF_Err_NONE);
  ASSERT_NE(host().KeptOutput(), nullptr);
  EXPECT_TRUE(host().KeptOutput()->SamePixels(
      EngineToned(second.Crop(PF_LRect{2, 1, 12, 6}, 0), ExpectedParams(HostValues{}))));
  EXPECT_THAT(host().Violations(), IsEmpty());
}

// `world` with its rows in the opposite order.
World UpsideDown(const World& world) {
  World flipped(world.width(), world.height(), world.format());
  const auto row_bytes = static_cast<std::size_t>(world.width() * world.bytes_per_pixel());
  const auto row = [](const World& w, A_long y) {
    return reinterpret_cast<unsigned char*>(w.effect_world()->data) + static_cast<std::ptrdiff_t>(y) * w.rowbytes();
  };
  for (A_long y = 0; y < world.height(); ++y) {
    std::memcpy(row(flipped, world.height() - 1 - y), row(world, y), row_bytes);
  }
  return flipped;
}

// The record of a world stored bottom-up over the same rows: its first pixel
// on the last row in memory, its rowbytes negative.
void StoreBottomUp(PF_EffectWorld& w) {
  w.data = reinterpret_cast<PF_PixelPtr>(reinterpret_cast<unsigned char*>(w.data) +
                                         static_cast<std::ptrdiff_t>(w.height - 1) * w.rowbytes);
  w.rowbytes = -w.rowbytes;
}

// A host that stores frames bottom-up gets them rendered, each world walked
// by its own stride: with the input, the output or both handed out bottom-up,
// the host's memory holds the top-down frame flipped as many times, and no
// byte of the padding or the guards is written.
TEST_P(FrameTest, BottomUpWorldsRenderAsTheSameFrameTopDown) {
  const World layer = RandomLayer(29, 13, GetParam(), 5, 16);
  host().SetInput(layer);
  const HostValues values{.tones = 4, .gamma = 2.2, .blend = 25 * 65536};
  Apply(host(), values);
  host().options().num_threads = 3;
  const World top_down = EngineToned(layer, ExpectedParams(values));
  const World flipped = UpsideDown(top_down);
  ASSERT_FALSE(flipped.SamePixels(top_down));
  for (const auto& sides : {std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
    const bool input = sides.first, output = sides.second;  // named, so that the lambda below may capture them
    SCOPED_TRACE(std::string(input ? "input " : "") + (output ? "output " : "") + "bottom-up");
    host().options().alter_world = [&](PF_EffectWorld& w, bool is_output) {
      if (is_output ? output : input) StoreBottomUp(w);
    };
    const FrameReport frame = host().RenderFrame(0);
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    ASSERT_TRUE(frame.output);
    EXPECT_TRUE(frame.output->SamePixels(input == output ? top_down : flipped));
  }
  host().options().alter_world = nullptr;
  EXPECT_THAT(host().Violations(), IsEmpty()) << "no write outside the pixels, none to the input";
}

// Whatever floating-point state the host keeps its threads in, the effect
// renders in its own and gives the threads back as they were.
TEST_P(FrameTest, TheHostThreadsFloatingPointStateChangesNoByte) {
  ExpectTheThreadsFloatStateChangesNothing(
      [](HostOptions options) { return std::make_unique<Host>(&EntryPointFunc, PiplSpan(), std::move(options)); },
      GetParam());
}

// All five formats of the table: "argb" and "bgra" render as 8 bits, "ae16"
// as 16 bits, "ae32" and "BGra" as float.
INSTANTIATE_TEST_SUITE_P(Formats, FrameTest,
                         ::testing::Values(PF_PixelFormat_ARGB32, PF_PixelFormat_BGRA32, PF_PixelFormat_ARGB64,
                                           PF_PixelFormat_ARGB128, QV_PixelFormat_BGRA128),
                         [](const auto& info) { return FormatName(info.param); });

}  // namespace
}  // namespace qv::testing
