#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>

#include "reference.h"
#include "support.h"

namespace qv {
namespace {

using test::BaseParams;
using test::Image;
using test::MakeMapper;
using test::RandomInt;
using test::Same;

template <class Pixel>
struct Depth;
template <>
struct Depth<Pixel8> {
  static constexpr PixelDepth kValue = kDepth8;
  static constexpr Pixel8 kSentinel{0xAB, 0xCD, 0xEF, 0x12};
  static Pixel8 Random() {
    auto c = [] { return std::uint8_t(RandomInt(0, 255)); };
    return {c(), c(), c(), c()};
  }
};
template <>
struct Depth<Pixel16> {
  static constexpr PixelDepth kValue = kDepth16;
  static constexpr Pixel16 kSentinel{0xABCD, 0xEF12, 0x3456, 0x789A};
  static Pixel16 Random() {
    auto c = [] { return std::uint16_t(RandomInt(0, 32768)); };
    return {c(), c(), c(), c()};
  }
};
template <>
struct Depth<PixelFloat> {
  static constexpr PixelDepth kValue = kDepthFloat;
  static constexpr PixelFloat kSentinel{-123.25f, 456.5f, -789.75f, 1e30f};
  // Infinite, NaN and far-off channels among ordinary ones.
  static PixelFloat Random() {
    return {test::RandomFloatChannel(), test::RandomFloatChannel(), test::RandomFloatChannel(),
            test::RandomFloatChannel()};
  }
  // Finite channels, -0.25 to 1.25.
  static PixelFloat Ordinary() {
    auto c = [] { return float(test::RandomReal(-0.25, 1.25)); };
    return {c(), c(), c(), c()};
  }
};

template <class Pixel>
Pixel Expected(const test::Reference& ref, Pixel s) {
  if constexpr (std::is_same_v<Pixel, PixelFloat>) return ref.ToneFloat(s);
  else return ref.ToneInteger(s);
}

// Float images hold infinite and NaN channels too, unless `ordinary`.
template <class Pixel>
Image<Pixel> RandomImage(std::int32_t w, std::int32_t h, std::int32_t padding, bool ordinary = false) {
  Image<Pixel> image(w, h, padding, Depth<Pixel>::kSentinel);
  for (Pixel& p : image.pixels) {
    if constexpr (std::is_same_v<Pixel, PixelFloat>) p = ordinary ? Depth<Pixel>::Ordinary() : Depth<Pixel>::Random();
    else p = Depth<Pixel>::Random();
  }
  return image;
}

// Tones `in` over `rect` into a sentinel-filled image of the same layout.
template <class Pixel>
Image<Pixel> ToneInto(const ToneMapper& m, Image<Pixel>& in, const PixelRect& rect) {
  Image<Pixel> out(in.width, in.height, in.stride - in.width, Depth<Pixel>::kSentinel);
  m.Process(in.View(Depth<Pixel>::kValue), out.View(Depth<Pixel>::kValue), rect);
  return out;
}

template <class Pixel>
bool Untouched(const Image<Pixel>& out) {
  return std::all_of(out.pixels.begin(), out.pixels.end(), [](const Pixel& p) { return Same(p, Depth<Pixel>::kSentinel); });
}

// Every pixel of the clipped rectangle is the reference's; every other pixel
// of the buffer, padding included, keeps the sentinel.
template <class Pixel>
void ExpectToned(const ToneParams& p, Image<Pixel>& in, Image<Pixel>& out, const PixelRect& rect) {
  const test::Reference ref(p);
  for (std::int32_t y = 0; y < in.height; ++y) {
    for (std::int32_t x = 0; x < in.stride; ++x) {
      const bool inside = x < in.width && x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
      const Pixel want = inside ? Expected(ref, in.At(x, y)) : Depth<Pixel>::kSentinel;
      ASSERT_TRUE(test::SameValue(out.At(x, y), want)) << "x " << x << " y " << y;
    }
  }
  ASSERT_TRUE(Same(out.pixels.back(), Depth<Pixel>::kSentinel));
}

template <class Pixel>
void CheckRandomFrames() {
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const ToneParams p = test::RandomParams();
    const std::int32_t w = RandomInt(1, 40), h = RandomInt(1, 20);
    Image<Pixel> in = RandomImage<Pixel>(w, h, RandomInt(0, 4));
    const PixelRect rect{RandomInt(-8, w + 2), RandomInt(-8, h + 2), RandomInt(-2, w + 8), RandomInt(-2, h + 8)};
    Image<Pixel> out = ToneInto(MakeMapper(Depth<Pixel>::kValue, p), in, rect);
    ExpectToned(p, in, out, rect);
  }
}

TEST(Passes, EightBitMatchesTheReference) { CheckRandomFrames<Pixel8>(); }
TEST(Passes, SixteenBitMatchesTheReference) { CheckRandomFrames<Pixel16>(); }
TEST(Passes, FloatMatchesTheReference) { CheckRandomFrames<PixelFloat>(); }

TEST(PassesClip, WritesExactlyTheClippedRectangle) {
  const ToneParams p = BaseParams();
  const PixelRect rects[] = {{-5, -5, 10, 10}, {15, 12, 100, 100}, {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                             {INT_MAX, 0, INT_MIN, 20}, {5, 5, 5, 10}, {0, 20, 20, 40}};
  for (const PixelRect& r : rects) {
    Image<Pixel8> in = RandomImage<Pixel8>(20, 20, 2);
    Image<Pixel8> out = ToneInto(MakeMapper(kDepth8, p), in, r);
    ExpectToned(p, in, out, r);
  }
}

template <class Pixel>
void CheckBlendOneIsTheSource() {
  for (int round = 0; round < 50; ++round) {
    ToneParams p = test::RandomParams();
    p.blend = 1;
    // An infinite alpha times an opacity of 0 is NaN, so only finite pixels
    // come back unchanged.
    Image<Pixel> in = RandomImage<Pixel>(17, 5, 3, true);
    Image<Pixel> out = ToneInto(MakeMapper(Depth<Pixel>::kValue, p), in, {0, 0, 17, 5});
    for (std::int32_t y = 0; y < 5; ++y) {
      for (std::int32_t x = 0; x < 17; ++x) ASSERT_TRUE(Same(out.At(x, y), in.At(x, y))) << x << " " << y;
    }
  }
}

TEST(PassesBlend, BlendOneGivesTheSourceAtEveryDepth) {
  CheckBlendOneIsTheSource<Pixel8>();
  CheckBlendOneIsTheSource<Pixel16>();
  CheckBlendOneIsTheSource<PixelFloat>();
}

// Base On Alpha with a transparent white source: the entry is black with
// opacity 0, so the red channel shows the blend weight directly.
TEST(PassesBlend, IntegerWeights) {
  ToneParams p = BaseParams();
  p.baseOn = kBaseAlpha;
  auto red = [&](PixelDepth depth, double blend) -> int {
    p.blend = blend;
    if (depth == kDepth8) {
      Image<Pixel8> in(1, 1, 0, Pixel8{0, 255, 255, 255});
      return ToneInto(MakeMapper(depth, p), in, {0, 0, 1, 1}).At(0, 0).red;
    }
    Image<Pixel16> in(1, 1, 0, Pixel16{0, 32768, 32768, 32768});
    return ToneInto(MakeMapper(depth, p), in, {0, 0, 1, 1}).At(0, 0).red;
  };
  EXPECT_EQ(red(kDepth8, 0.5), 128);  // k = 128
  EXPECT_EQ(red(kDepth8, 0.001), 0);  // k = 0: no mix
  EXPECT_EQ(red(kDepth16, 0.5), 16384);
  EXPECT_EQ(red(kDepth16, 0.00001), 0);
  // Weights from blends the host never sends are defined: NaN is no blend.
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(red(kDepth8, nan), 0);
  EXPECT_EQ(red(kDepth8, -inf), 0);
  EXPECT_EQ(red(kDepth8, 1e300), 255);
  EXPECT_EQ(red(kDepth16, nan), 0);
  EXPECT_EQ(red(kDepth16, inf), 32768);
}

TEST(PassesBlend, FloatThresholdAndAlpha) {
  ToneParams p = BaseParams();
  p.baseOn = kBaseAlpha;
  p.highlightsOpacity = p.shadowsOpacity = 0.25;
  p.blend = 0.000001;  // below the threshold once in single precision
  Image<PixelFloat> in(1, 1, 0, PixelFloat{2.0f, 0.7f, 0.7f, 0.7f});
  const PixelFloat d = ToneInto(MakeMapper(kDepthFloat, p), in, {0, 0, 1, 1}).At(0, 0);
  EXPECT_EQ(d.alpha, 0.5f);  // 0.25 * 2.0, unblended
  EXPECT_EQ(d.red, 1.0f);    // tone 2.0 gives Highlights, white
}

TEST(PassesWriteNothing, SizeMismatch) {
  Image<Pixel8> in = RandomImage<Pixel8>(100, 50, 0);
  Image<Pixel8> out(100, 51, 0, Depth<Pixel8>::kSentinel);
  MakeMapper(kDepth8, BaseParams()).Process(in.View(kDepth8), out.View(kDepth8), {INT_MIN, INT_MIN, INT_MAX, INT_MAX});
  EXPECT_TRUE(Untouched(out));
}

// Unknown depths, and views whose depth is not the mapper's (whose table would
// be empty), leave the output alone.
TEST(PassesWriteNothing, DepthMismatchOrUnknown) {
  Image<Pixel16> in = RandomImage<Pixel16>(8, 8, 0);
  Image<Pixel16> out(8, 8, 0, Depth<Pixel16>::kSentinel);
  const PixelRect all{0, 0, 8, 8};
  MakeMapper(kDepth8, BaseParams()).Process(in.View(kDepth16), out.View(kDepth16), all);
  MakeMapper(kDepth16, BaseParams()).Process(in.View(kDepth16), out.View(kDepth8), all);
  MakeMapper(3, BaseParams()).Process(in.View(3), out.View(3), all);
  MakeMapper(-1, BaseParams()).Process(in.View(-1), out.View(-1), all);
  EXPECT_TRUE(Untouched(out));
}

// Channels above 32768 must not read past the 32769-entry table.
TEST(PassesFaults, SixteenBitChannelsAboveRange) {
  for (BaseOn base = kBaseLightness; base <= kBaseAlpha; ++base) {
    ToneParams p = test::RandomParams();
    p.baseOn = base;
    Image<Pixel16> in(16, 16, 0, Pixel16{});
    for (Pixel16& px : in.pixels) {
      auto c = [] { return std::uint16_t(RandomInt(30000, 65535)); };
      px = {c(), c(), c(), c()};
    }
    Image<Pixel16> out = ToneInto(MakeMapper(kDepth16, p), in, {0, 0, 16, 16});
    ExpectToned(p, in, out, {0, 0, 16, 16});
  }
}

}  // namespace
}  // namespace qv
