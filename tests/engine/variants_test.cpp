// Every SIMD variant of the pixel passes against the plain (scalar) passes,
// byte for byte, over whole buffers: the toned rectangle, the pixels around
// it, the row padding and the pixels before and after the rows. Variants this
// machine lacks are skipped (and say so).

#include <algorithm>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/pass_variant.h"
#include "support.h"

namespace qv {
namespace {

using test::BaseParams;
using test::RandomInt;
using test::RandomReal;

template <class Pixel>
constexpr PixelDepth kDepthOf = sizeof(Pixel) == 4 ? kDepth8 : sizeof(Pixel) == 8 ? kDepth16 : kDepthFloat;

// A world inside a larger buffer: `lead` pixels before its first pixel (so
// its data pointer need not be vector-aligned), padded rows, one spare pixel
// after the last row.
template <class Pixel>
struct World {
  std::vector<Pixel> buffer;
  ImageView view;

  World(std::int32_t w, std::int32_t h, std::int32_t padding, std::int32_t lead, Pixel fill)
      : buffer(std::size_t(lead) + std::size_t(w + padding) * h + 1, fill),
        view{kDepthOf<Pixel>, buffer.data() + lead, w, h, w + padding} {}
};

// Same bytes, with one allowance at float: where two NaNs of different bits
// meet in one operation (a NaN alpha times a NaN opacity, a luminance of two
// NaN channels), IEEE 754 leaves open which one comes out, and the plain
// pass's own choice follows the compiler's operand order. A NaN must still
// give a NaN there.
template <class Pixel>
bool SamePixel(const Pixel& a, const Pixel& b) {
  if constexpr (kDepthOf<Pixel> == kDepthFloat) {
    auto same = [](float x, float y) {
      return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y) || (x != x && y != y);
    };
    return same(a.alpha, b.alpha) && same(a.red, b.red) && same(a.green, b.green) && same(a.blue, b.blue);
  } else {
    return std::memcmp(&a, &b, sizeof(Pixel)) == 0;
  }
}

template <class Pixel>
std::string FirstDifference(const World<Pixel>& want, const World<Pixel>& got) {
  for (std::size_t i = 0; i < want.buffer.size(); ++i) {
    if (SamePixel(want.buffer[i], got.buffer[i])) continue;
    std::ostringstream text;
    text << "buffer pixel " << i;
    for (const Pixel* px : {&want.buffer[i], &got.buffer[i]}) {
      text << (px == &want.buffer[i] ? ": plain" : "; variant");
      for (auto c : {px->alpha, px->red, px->green, px->blue}) {
        text << " " << +c;
        if constexpr (kDepthOf<Pixel> == kDepthFloat) text << "/" << std::hex << std::bit_cast<std::uint32_t>(c) << std::dec;
      }
    }
    return text.str();
  }
  return {};
}

// Channel values for each depth; `wide` lets 16-bit channels leave the host's
// 0 to 32768 (the tone is then held at the last table index).
std::uint8_t Channel8() { return std::uint8_t(RandomInt(0, 255)); }
std::uint16_t Channel16(bool wide) {
  switch (RandomInt(0, 9)) {
    case 0: return std::uint16_t(RandomInt(0, 1) ? 32768 : 0);
    case 1: return std::uint16_t(wide ? RandomInt(32769, 65535) : 32767);
    default: return std::uint16_t(RandomInt(0, wide ? 65535 : 32768));
  }
}
float ChannelFloat() {
  static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(),
                                   -std::numeric_limits<float>::quiet_NaN(),
                                   std::bit_cast<float>(0x7fc12345u),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   -0.0f,
                                   0.0f,
                                   1.0f,
                                   0.5f,
                                   0.25f,
                                   0.75f,
                                   1e-40f,
                                   -1e-40f,
                                   3e38f,
                                   -3e38f,
                                   std::numeric_limits<float>::epsilon()};
  if (RandomInt(0, 9) == 0) return kSpecial[RandomInt(0, std::size(kSpecial) - 1)];
  return float(RandomReal(-0.25, 1.25));
}

template <class Pixel>
Pixel RandomPixel(bool wide) {
  if constexpr (kDepthOf<Pixel> == kDepth8) {
    return {Channel8(), Channel8(), Channel8(), Channel8()};
  } else if constexpr (kDepthOf<Pixel> == kDepth16) {
    return {Channel16(wide), Channel16(wide), Channel16(wide), Channel16(wide)};
  } else {
    return {ChannelFloat(), ChannelFloat(), ChannelFloat(), ChannelFloat()};
  }
}

template <class Pixel>
Pixel Sentinel() {
  if constexpr (kDepthOf<Pixel> == kDepthFloat) {
    return {-123.25f, 456.5f, -789.75f, 1e30f};
  } else {
    return {0xAB, 0xCD, 0xEF, 0x12};
  }
}

// Blend fractions that give the edge weights at each depth: none, the
// smallest, the largest short of all, all, and ordinary ones.
double RandomBlend() {
  switch (RandomInt(0, 7)) {
    case 0: return 0.0;
    case 1: return 1.0;
    case 2: return 1.0 / 255;      // k = 1 at 8 bits
    case 3: return 254.0 / 255;    // k = 254
    case 4: return 1.0 / 32768;    // k = 1 at 16 bits, 0 at 8 bits
    case 5: return 32767.0 / 32768;
    case 6: return 0.000001;       // no blend in float
    default: return RandomReal(0, 1);
  }
}

// Settings beyond the host's ranges too: Base On outside 1 to 6 (Lightness),
// levels that push tones off both ends, reversed output.
ToneParams RandomSettings() {
  ToneParams p = test::RandomParams();
  p.baseOn = RandomInt(0, 8);
  p.tones = RandomInt(1, 4);
  p.blend = RandomBlend();
  if (RandomInt(0, 3) == 0) std::swap(p.outputBlack, p.outputWhite);
  if (RandomInt(0, 3) == 0) p.inputBlack = p.inputWhite = RandomReal(0, 1);
  return p;
}

// A variant with both memory choices forced, so that every combination runs
// whatever this machine would choose.
struct Tuned {
  PassVariant variant;
  TableReads reads;
  OutputStores stores;
  PassTuning Tuning() const { return {reads, stores}; }
};

class PassVariants : public ::testing::TestWithParam<Tuned> {
 protected:
  void SetUp() override {
    if (!PassVariantAvailable(GetParam().variant)) {
      GTEST_SKIP() << PassVariantName(GetParam().variant) << " is not available on this machine or in this build";
    }
  }

  ToneMapper Fast(const ToneMapperSettings& settings) const {
    return ToneMapper(settings, GetParam().variant, GetParam().Tuning());
  }

  // The variant's tables and the plain build's, entry for entry.
  void ExpectSameTables(const ToneMapperSettings& settings, int round) const {
    const ToneParams& p = settings.params;
    SCOPED_TRACE(::testing::Message() << "round " << round << " depth " << settings.depth << " tones " << p.tones
                                      << " gamma " << p.gamma);
    const ToneMapper fast = Fast(settings), plain(settings, PassVariant::kScalar);
    ASSERT_EQ(fast.table8().size(), plain.table8().size());
    ASSERT_EQ(fast.table16().size(), plain.table16().size());
    // The table of the other depth is empty: compare as ranges, since
    // memcmp may not be handed a null pointer even for zero bytes.
    const auto same = [](auto a, auto b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    ASSERT_TRUE(std::ranges::equal(fast.table8(), plain.table8(), same));
    ASSERT_TRUE(std::ranges::equal(fast.table16(), plain.table16(), same));
  }

  // Tones `in` over `rect` with the variant and with the plain passes into
  // sentinel-filled copies of its layout, and expects the same bytes.
  template <class Pixel>
  void ExpectSameAsPlain(const ToneMapper& fast, const ToneMapper& plain, const World<Pixel>& in,
                         const PixelRect& rect, std::int32_t padding, std::int32_t lead) {
    const ToneParams& p = plain.settings().params;
    World<Pixel> want(in.view.width, in.view.height, padding, lead, Sentinel<Pixel>());
    World<Pixel> got(in.view.width, in.view.height, padding, lead, Sentinel<Pixel>());
    plain.Process(in.view, want.view, rect);
    fast.Process(in.view, got.view, rect);
    ASSERT_EQ(FirstDifference(want, got), "")
        << "base " << p.baseOn << " tones " << p.tones << " blend " << p.blend << " gamma " << p.gamma << " size "
        << in.view.width << "x" << in.view.height << " rect " << rect.left << "," << rect.top << "," << rect.right
        << "," << rect.bottom << " lead " << lead;
  }

  template <class Pixel>
  void ExpectSameAsPlain(const ToneParams& p, const World<Pixel>& in, const PixelRect& rect, std::int32_t padding,
                         std::int32_t lead) {
    const ToneMapperSettings settings{kDepthOf<Pixel>, p};
    const ToneMapper fast = Fast(settings), plain(settings, PassVariant::kScalar);
    ASSERT_EQ(fast.passVariant(), GetParam().variant);
    ASSERT_EQ(fast.tableReads(), GetParam().reads);
    ASSERT_EQ(fast.OutputStoresOf(in.view, in.view), GetParam().stores);
    ExpectSameAsPlain(fast, plain, in, rect, padding, lead);
  }

  // Random settings, each over several random frames and rectangles.
  template <class Pixel>
  void CheckRandomFrames(int settingsCount) {
    for (int round = 0; round < settingsCount; ++round) {
      const ToneMapperSettings settings{kDepthOf<Pixel>, RandomSettings()};
      const ToneMapper fast = Fast(settings), plain(settings, PassVariant::kScalar);
      for (int frame = 0; frame < 10; ++frame) {
        SCOPED_TRACE(::testing::Message() << "round " << round << " frame " << frame);
        // Mostly narrow rows (tails of every length), some past a few blocks.
        // Now and then rows longer than a streamed pass's pieces.
        const std::int32_t w = RandomInt(0, 15) == 0  ? RandomInt(1000, 2100)
                               : RandomInt(0, 3) == 0 ? RandomInt(64, 300)
                                                      : RandomInt(1, 67);
        const std::int32_t h = RandomInt(1, 6);
        const std::int32_t padding = RandomInt(0, 5), lead = RandomInt(0, 3);
        World<Pixel> in(w, h, padding, lead, Sentinel<Pixel>());
        const bool wide = RandomInt(0, 3) == 0;
        for (Pixel& px : in.buffer) px = RandomPixel<Pixel>(wide);
        const std::int32_t left = RandomInt(-3, w), top = RandomInt(-2, h);
        const PixelRect rect{left, top, RandomInt(left - 1, w + 3), RandomInt(top, h + 2)};
        ExpectSameAsPlain(fast, plain, in, rect, padding, lead);
        if (HasFatalFailure()) return;
      }
    }
  }
};

// The exhaustive checks of the kernels' arithmetic run with the usual memory
// choices alone: the others change how tables are read and pixels stored,
// which every other test here covers.
class PassVariantArithmetic : public PassVariants {};

TEST_P(PassVariants, EightBitMatchesThePlainPass) { CheckRandomFrames<Pixel8>(400); }
TEST_P(PassVariants, SixteenBitMatchesThePlainPass) { CheckRandomFrames<Pixel16>(400); }
TEST_P(PassVariants, FloatMatchesThePlainPass) { CheckRandomFrames<PixelFloat>(400); }

// Every source alpha against every table opacity, and every blend weight
// against every pair of channels: Base On Red with opacity 0 % to 100 % makes
// the opacity the red channel, and Base On Alpha with a black-to-white
// Duotone makes the colour the alpha channel.
TEST_P(PassVariantArithmetic, EightBitProductsAndBlendSumsExhaustively) {
  World<Pixel8> in(256, 256, 0, 1, Pixel8{});
  for (int a = 0; a < 256; ++a) {
    for (int r = 0; r < 256; ++r) {
      in.buffer[1 + a * 256 + r] = {std::uint8_t(a), std::uint8_t(r), std::uint8_t(255 - r), std::uint8_t(r ^ a)};
    }
  }
  ToneParams p = BaseParams();
  p.tones = kDuotone;
  for (BaseOn base : {kBaseRed, kBaseAlpha}) {
    p.baseOn = base;
    for (int k = 0; k <= 255; ++k) {
      p.blend = k / 255.0;
      ExpectSameAsPlain(p, in, in.view.Bounds(), 0, 1);
      if (HasFatalFailure()) return;
    }
  }
}

// All 65536 source alphas, each with red channels just around it and spread
// over 0 to 65535. Base On Red makes the opacity the (held) red channel, so
// alpha products cover the whole range; Base On Alpha with a black-to-white
// Duotone makes the colour the alpha, so blend sums meet channels one step
// either side of it, where a sum's low 15 bits run out.
TEST_P(PassVariantArithmetic, SixteenBitProductsAndBlendSumsOverEveryAlpha) {
  constexpr std::int32_t kNear = 33, kColumns = 67;
  World<Pixel16> in(kColumns, 65536, 0, 0, Pixel16{});
  for (std::int32_t a = 0; a < 65536; ++a) {
    for (std::int32_t i = 0; i < kColumns; ++i) {
      const std::int32_t r = i < kNear ? a + i - kNear / 2 : i == kColumns - 1 ? 32768 : (i - kNear) * 1985 + a % 1985;
      const auto red = std::uint16_t(r & 0xffff);
      in.buffer[std::size_t(a) * kColumns + i] = {std::uint16_t(a), red, std::uint16_t(65535 - a),
                                                  std::uint16_t(a ^ red)};
    }
  }
  ToneParams p = BaseParams();
  p.tones = kDuotone;
  for (BaseOn base : {kBaseRed, kBaseAlpha}) {
    p.baseOn = base;
    for (double blend : {0.0, 1.0 / 32768, 2.0 / 32768, 0.3, 0.5, 32766.0 / 32768, 32767.0 / 32768, 1.0}) {
      p.blend = blend;
      ExpectSameAsPlain(p, in, in.view.Bounds(), 0, 0);
      if (HasFatalFailure()) return;
    }
  }
}

// Full frames, as the bands of a render see them: every Base On, tone count
// and blend, at gamma 1 (no power in float) and 2.2.
TEST_P(PassVariants, WideFramesEverySetting) {
  World<Pixel8> in8(301, 3, 7, 1, Pixel8{});
  World<Pixel16> in16(301, 3, 7, 1, Pixel16{});
  World<PixelFloat> inF(301, 3, 7, 1, PixelFloat{});
  for (Pixel8& px : in8.buffer) px = RandomPixel<Pixel8>(false);
  for (Pixel16& px : in16.buffer) px = RandomPixel<Pixel16>(true);
  for (PixelFloat& px : inF.buffer) px = RandomPixel<PixelFloat>(false);
  const PixelRect all{0, 0, 301, 3};
  for (BaseOn base = kBaseLightness; base <= kBaseAlpha; ++base) {
    for (ToneCount tones = kMonotone; tones <= kPentone; ++tones) {
      for (double blend : {0.0, 0.3}) {
        for (double gamma : {1.0, 2.2}) {
          ToneParams p = test::RandomParams();
          p.baseOn = base, p.tones = tones, p.blend = blend, p.gamma = gamma;
          ExpectSameAsPlain(p, in8, all, 7, 1);
          ExpectSameAsPlain(p, in16, all, 7, 1);
          ExpectSameAsPlain(p, inF, all, 7, 1);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// Tone counts outside 1 to 4 (never sent by the host) take the plain float
// rows; the integer tables hold black for them.
TEST_P(PassVariants, UnknownToneCounts) {
  for (ToneCount tones : {0, 5, -1}) {
    ToneParams p = test::RandomParams();
    p.tones = tones;
    World<Pixel8> in8(40, 2, 1, 1, Pixel8{});
    World<PixelFloat> inF(40, 2, 1, 1, PixelFloat{});
    for (Pixel8& px : in8.buffer) px = RandomPixel<Pixel8>(false);
    for (PixelFloat& px : inF.buffer) px = RandomPixel<PixelFloat>(false);
    ExpectSameAsPlain(p, in8, in8.view.Bounds(), 1, 1);
    ExpectSameAsPlain(p, inF, inF.view.Bounds(), 1, 1);
  }
}

// The variants build the lookup tables too. Settings include tone counts
// outside 1 to 4, gammas far from 1, and levels with no real curve (a
// negative black point under a fractional exponent gives NaN tones).
TEST_P(PassVariants, TablesMatchThePlainBuild) {
  for (int round = 0; round < 150; ++round) {
    ToneParams p = RandomSettings();
    p.tones = RandomInt(-1, 5);
    if (RandomInt(0, 3) == 0) p.gamma = RandomReal(0.01, 50);
    if (RandomInt(0, 5) == 0) p.inputBlack = -0.2;
    for (PixelDepth depth : {kDepth8, kDepth16}) ExpectSameTables({depth, p}, round);
    if (HasFatalFailure()) return;
  }
}

// The 16-bit tables take a cheaper power than the library's wherever it is
// sure to give the same entry. Exponents from small to past the largest that
// the cheaper one serves (Gamma 0.0004), powers that leave a float's range
// (Gamma 0.001 sends most of them below 2^-140), negative ones, and tones on
// the ramp's borders: at Gamma 0.5, x = 0.5 is levelled to 0.25 exactly.
TEST_P(PassVariants, SixteenBitTablesAtEveryKindOfExponent) {
  for (double gamma : {0.0004, 0.001, 0.01, 0.1, 1 / 3.0, 0.37, 0.5, 0.9999, 1.0001, 2.2, 7.0, 50.0, -2.2}) {
    for (ToneCount tones = kDuotone; tones <= kPentone; ++tones) {
      ToneParams p = RandomSettings();
      p.tones = tones, p.gamma = gamma;
      if (gamma == 0.5) p.inputBlack = 0, p.inputWhite = 1, p.outputBlack = 0, p.outputWhite = 1;
      ExpectSameTables({kDepth16, p}, tones);
      if (HasFatalFailure()) return;
    }
  }
}

std::string TunedName(const ::testing::TestParamInfo<Tuned>& info) {
  std::string name = PassVariantName(info.param.variant);
  for (const char* choice : {TableReadsName(info.param.reads), OutputStoresName(info.param.stores)}) {
    name += '_';
    for (const char* c = choice; *c != 0; ++c) name += *c == '-' ? '_' : *c;
  }
  return name;
}

std::vector<Tuned> EveryTuning() {
  std::vector<Tuned> all;
  for (PassVariant v : {PassVariant::kSse41, PassVariant::kAvx2, PassVariant::kAvx512, PassVariant::kAvx512Icl}) {
    for (TableReads reads : {TableReads::kGathers, TableReads::kLaneLoads}) {
      for (OutputStores stores : {OutputStores::kCached, OutputStores::kStreaming}) all.push_back({v, reads, stores});
    }
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Simd, PassVariants, ::testing::ValuesIn(EveryTuning()), TunedName);
INSTANTIATE_TEST_SUITE_P(Simd, PassVariantArithmetic,
                         ::testing::Values(Tuned{PassVariant::kSse41, TableReads::kGathers, OutputStores::kCached},
                                           Tuned{PassVariant::kAvx2, TableReads::kGathers, OutputStores::kCached},
                                           Tuned{PassVariant::kAvx512, TableReads::kGathers, OutputStores::kCached},
                                           Tuned{PassVariant::kAvx512Icl, TableReads::kGathers, OutputStores::kCached}),
                         TunedName);

// The kernels divide by 255 as the high half of x * 0x8081, shifted right by
// 7 more bits. Every 16-bit value, which covers every alpha product
// (<= 65025), every blend sum (<= 255 * 255) and every luminance sum.
TEST(DivideBy255, MultiplyAndShiftIsExactOverSixteenBits) {
  for (std::uint32_t x = 0; x <= 0xffff; ++x) {
    ASSERT_EQ(((x * 0x8081u) >> 16) >> 7, x / 255) << x;
  }
}

TEST(PassVariantChoice, NamesRoundTrip) {
  for (PassVariant v : kPassVariants) EXPECT_EQ(ParsePassVariant(PassVariantName(v)), v);
  EXPECT_FALSE(ParsePassVariant("AVX2"));
  EXPECT_FALSE(ParsePassVariant(""));
  EXPECT_FALSE(ParsePassVariant("avx"));
}

TEST(PassVariantChoice, ForcedVariantsFallBackToWhatTheMachineHas) {
  EXPECT_TRUE(PassVariantAvailable(PassVariant::kScalar));
  const PassVariant best = BestPassVariant();
  EXPECT_TRUE(PassVariantAvailable(best));
  for (PassVariant v : kPassVariants) {
    if (v > best) {
      EXPECT_FALSE(PassVariantAvailable(v)) << PassVariantName(v);
    }
    const PassVariant got = AvailablePassVariant(v);
    EXPECT_TRUE(PassVariantAvailable(got));
    EXPECT_LE(got, v);
    if (PassVariantAvailable(v)) {
      EXPECT_EQ(got, v);
    }
    EXPECT_EQ(ToneMapper({kDepth8, BaseParams()}, v).passVariant(), got);
    EXPECT_EQ(ToneMapper({kDepth8, BaseParams()}, PassForcing{v, {}}).passVariant(), got);
  }
}

// A mapper built without forcing runs on the widest variant the processor has,
// whatever the process's environment says (CTest runs this program with the
// forcing variables set, too).
TEST(PassVariantChoice, UnforcedMappersTakeTheProcessorsBest) {
  EXPECT_EQ(ToneMapper({kDepth16, BaseParams()}).passVariant(), BestPassVariant());
  EXPECT_EQ(ToneMapper({kDepth16, BaseParams()}, PassForcing{}).passVariant(), BestPassVariant());
  // The forcing programs follow the variable; a name that is none forces nothing.
  const char* named = std::getenv(testing::kPassVariantVariable);
  const std::optional<PassVariant> forced = named != nullptr ? ParsePassVariant(named) : std::nullopt;
  EXPECT_EQ(testing::PassesFromEnvironment().variant, forced);
  EXPECT_EQ(test::MakeMapper(kDepth8, BaseParams()).passVariant(),
            AvailablePassVariant(forced.value_or(BestPassVariant())));
}

TEST(PassTuningChoice, NamesRoundTrip) {
  for (TableReads r : {TableReads::kGathers, TableReads::kLaneLoads}) EXPECT_EQ(ParseTableReads(TableReadsName(r)), r);
  for (OutputStores o : {OutputStores::kCached, OutputStores::kStreaming}) {
    EXPECT_EQ(ParseOutputStores(OutputStoresName(o)), o);
  }
  EXPECT_FALSE(ParseTableReads("lane_loads"));
  EXPECT_FALSE(ParseOutputStores(""));
}

// Gathers where they are fast; streaming stores only on the processors where
// they paid, and only for frames the last-level cache cannot hold (a 4K 8-bit
// frame and its output are 66 MB).
TEST(PassTuningChoice, ByProcessorFamilyAndFrameSize) {
  const MachineFacts zen4{CpuVendor::kAmd, 25, 17, 32u << 20}, zen5{CpuVendor::kAmd, 26, 2, 32u << 20},
      zen2{CpuVendor::kAmd, 23, 49, 16u << 20}, intel{CpuVendor::kIntel, 6, 143, 105u << 20}, unknown{};
  const std::uint64_t frame4k = 2ull * 3840 * 2160 * 4, frameHd = 2ull * 1920 * 1080 * 4;
  for (const MachineFacts& slowGathers : {zen2, zen4}) {
    EXPECT_EQ(TableReadsFor(slowGathers), TableReads::kLaneLoads);
    EXPECT_EQ(OutputStoresFor(slowGathers, frame4k), OutputStores::kStreaming);
    EXPECT_EQ(OutputStoresFor(slowGathers, slowGathers.lastLevelCacheBytes), OutputStores::kCached);
  }
  EXPECT_EQ(OutputStoresFor(zen4, frameHd), OutputStores::kCached);
  for (const MachineFacts& cachedAlways : {zen5, intel, unknown}) {
    EXPECT_EQ(TableReadsFor(cachedAlways), TableReads::kGathers);
    EXPECT_EQ(OutputStoresFor(cachedAlways, frameHd), OutputStores::kCached);
    EXPECT_EQ(OutputStoresFor(cachedAlways, 8 * frame4k), OutputStores::kCached);
  }
  // A Zen 4 that describes no cache stores every frame through the cache.
  EXPECT_EQ(OutputStoresFor(MachineFacts{CpuVendor::kAmd, 25, 17, 0}, ~0ull), OutputStores::kCached);

  // A mapper decides per frame, from both whole views, padding included.
  std::vector<Pixel8> buffer(2);
  const ToneMapper mapper({kDepth8, BaseParams()}, PassVariant::kScalar, PassTuning{TableReads::kGathers, {}});
  const std::uint64_t cache = ThisMachine().lastLevelCacheBytes;
  const ImageView small{kDepth8, buffer.data(), 1, 1, 2};
  EXPECT_EQ(mapper.OutputStoresOf(small, small), OutputStoresFor(ThisMachine(), 16));
  // Views as large as the cache (never touched): their sum is over it, which
  // streams on the processors that stream beyond the cache.
  const auto rows = static_cast<std::int32_t>(std::min<std::uint64_t>(cache / 4096 + 1, 1u << 30));
  const ImageView large{kDepth8, buffer.data(), 1, rows, 1024};
  EXPECT_EQ(mapper.OutputStoresOf(large, large),
            OutputStoresFor(ThisMachine(), 2 * static_cast<std::uint64_t>(rows) * 1024 * sizeof(Pixel8)));
}

#if defined(__linux__)
// The value of the first processor's field `name` in /proc/cpuinfo, "" when
// it has none.
std::string CpuinfoField(const std::string& name) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::size_t keyEnd = line.find_last_not_of(" \t", colon == 0 ? 0 : colon - 1);
    if (line.substr(0, keyEnd + 1) == name) return line.substr(std::min(line.size(), colon + 2));
  }
  return "";
}
#endif

// The facts are read from the processor: its vendor, family and model as the
// system names them,
// and its largest cache as the kernel decodes the same processor's cache
// description. A processor (or virtual machine) may describe no cache; then
// the size is 0 and every frame is stored through the cache.
TEST(PassTuningChoice, ThisMachine) {
  const MachineFacts& facts = ThisMachine();
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
  const std::string vendor = CpuinfoField("vendor_id");
  EXPECT_EQ(facts.vendor, vendor == "GenuineIntel" ? CpuVendor::kIntel
                          : vendor == "AuthenticAMD" ? CpuVendor::kAmd
                                                     : CpuVendor::kOther)
      << vendor;
  EXPECT_EQ(std::to_string(facts.family), CpuinfoField("cpu family"));
  EXPECT_EQ(std::to_string(facts.model), CpuinfoField("model"));
  std::uint64_t largest = 0;
  for (int index = 0;; ++index) {
    std::ifstream size("/sys/devices/system/cpu/cpu0/cache/index" + std::to_string(index) + "/size");
    std::uint64_t kib = 0;
    if (!(size >> kib)) break;
    largest = std::max(largest, kib << 10);
  }
  if (facts.lastLevelCacheBytes != 0 && largest != 0) {
    EXPECT_EQ(facts.lastLevelCacheBytes, largest);
  }
#endif
  if (facts.lastLevelCacheBytes == 0) {
    EXPECT_EQ(OutputStoresFor(facts, ~0ull), OutputStores::kCached);
  }
  // An empty tuning leaves the choice to the machine.
  EXPECT_EQ(ToneMapper({kDepth8, BaseParams()}, BestPassVariant(), PassTuning{}).tableReads(), TableReadsFor(facts));
}

// Mappers built without a tuning take the machine's choices, whatever the
// environment says; the forcing programs follow the variables (CTest runs the
// pass tests with them set, see CMakeLists.txt).
TEST(PassTuningChoice, UnforcedMappersTakeTheMachinesChoices) {
  std::vector<Pixel8> pixel(1);
  const ImageView view{kDepth8, pixel.data(), 1, 1, 1};
  const ToneMapper mapper({kDepth8, BaseParams()});
  EXPECT_EQ(mapper.tableReads(), TableReadsFor(ThisMachine()));
  EXPECT_EQ(mapper.OutputStoresOf(view, view), OutputStoresFor(ThisMachine(), 8));

  const char* reads = std::getenv(testing::kTableReadsVariable);
  const char* stores = std::getenv(testing::kOutputStoresVariable);
  const PassTuning& tuning = testing::PassesFromEnvironment().tuning;
  EXPECT_EQ(tuning.reads, reads != nullptr ? ParseTableReads(reads) : std::nullopt);
  EXPECT_EQ(tuning.stores, stores != nullptr ? ParseOutputStores(stores) : std::nullopt);
  const ToneMapper forced = test::MakeMapper(kDepth8, BaseParams());
  EXPECT_EQ(forced.tableReads(), tuning.reads.value_or(TableReadsFor(ThisMachine())));
  EXPECT_EQ(forced.OutputStoresOf(view, view), tuning.stores.value_or(OutputStoresFor(ThisMachine(), 8)));
}

}  // namespace
}  // namespace qv
