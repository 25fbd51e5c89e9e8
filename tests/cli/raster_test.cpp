// File layouts to the host's worlds and back, alpha conventions, and the
// choice of an output layout.
#include <gtest/gtest.h>

#include "test_images.h"
#include "core/layer.h"
#include "core/sixteen_bit.h"

namespace qv::cli {
namespace {

template <class T>
class Layers : public ::testing::Test {};
using SampleTypes = ::testing::Types<std::uint8_t, std::uint16_t, float>;
TYPED_TEST_SUITE(Layers, SampleTypes);

// Host pixel of a world at (x, y), for any depth, as doubles in file ranges.
template <class T>
std::array<double, 4> HostArgb(const simhost::World& world, int x, int y) {
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    const auto& p = world.At<PF_Pixel8>(x, y);
    return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    const auto& p = world.At<PF_Pixel16>(x, y);
    return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
  } else {
    const auto& p = world.At<PF_PixelFloat>(x, y);
    return {p.alpha, p.red, p.green, p.blue};
  }
}

template <class T>
double HostOf(T v) {
  if constexpr (std::is_same_v<T, std::uint16_t>) {
    return FileToHost16(v);
  } else {
    return v;
  }
}

TYPED_TEST(Layers, EveryLayoutFillsTheHostPixel) {
  using T = TypeParam;
  const double full = HostOf(Image<T>::kMax);
  for (int channels = 1; channels <= 4; ++channels) {
    const Image<T> image = test::VariedImage<T>(5, 3, channels, 11u + channels);
    const simhost::World world = ToWorld(Raster(image));
    ASSERT_EQ(world.width(), 5);
    ASSERT_EQ(world.height(), 3);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5; ++x) {
        const T* s = image.Pixel(x, y);
        const auto [a, r, g, b] = HostArgb<T>(world, x, y);
        EXPECT_EQ(r, HostOf(s[0]));
        EXPECT_EQ(g, HostOf(HasColour(channels) ? s[1] : s[0]));
        EXPECT_EQ(b, HostOf(HasColour(channels) ? s[2] : s[0]));
        EXPECT_EQ(a, HasAlpha(channels) ? HostOf(s[channels - 1]) : full) << channels << " channels";
      }
    }
  }
}

TYPED_TEST(Layers, ALayoutComesBackAsItWent) {
  using T = TypeParam;
  for (int channels = 1; channels <= 4; ++channels) {
    Image<T> image = test::VariedImage<T>(7, 4, channels, 3u * channels);
    if constexpr (std::is_same_v<T, std::uint16_t>) {
      for (auto& v : image.samples) v = HostToFile16(FileToHost16(v));  // values a host pixel can hold
    }
    const Raster back = FromWorld(ToWorld(Raster(image)), channels);
    EXPECT_EQ(std::get<Image<T>>(back).samples, image.samples) << channels << " channels";
  }
}

TEST(Layer, GreyOfAColourIsItsLumaRounded) {
  Image<std::uint8_t> rgb(2, 1, 3);
  rgb.samples = {200, 100, 50, 7, 7, 7};
  const auto grey = std::get<Image<std::uint8_t>>(FromWorld(ToWorld(Raster(rgb)), 1));
  EXPECT_EQ(grey.samples[0], 124);  // 0.299 * 200 + 0.587 * 100 + 0.114 * 50 = 124.25
  EXPECT_EQ(grey.samples[1], 7);
}

TEST(Layer, InspectFindsColourAndTransparency) {
  Image<float> image(2, 1, 4);
  image.samples = {0.5f, 0.5f, 0.5f, 1.0f, 0.25f, 0.25f, 0.25f, 1.0f};
  EXPECT_FALSE(Inspect(ToWorld(Raster(image))).colour);
  EXPECT_FALSE(Inspect(ToWorld(Raster(image))).alpha);
  image.samples[5] = 0.3f;
  EXPECT_TRUE(Inspect(ToWorld(Raster(image))).colour);
  image.samples[7] = 0.999f;
  EXPECT_TRUE(Inspect(ToWorld(Raster(image))).alpha);

  Image<std::uint16_t> sixteen(1, 1, 2);
  sixteen.samples = {1000, 65535};
  EXPECT_FALSE(Inspect(ToWorld(Raster(sixteen))).alpha);  // 65535 is the host's full 32768
  sixteen.samples[1] = 65534;
  EXPECT_TRUE(Inspect(ToWorld(Raster(sixteen))).alpha);
}

TEST(Layer, AutoWidensALayoutOnlyByWhatTheResultHolds) {
  const ResultNeeds none{}, colour{true, false}, alpha{false, true}, both{true, true};
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 1, none), 1);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 1, colour), 3);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 1, alpha), 2);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 1, both), 4);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 2, colour), 4);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 3, none), 3);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 3, alpha), 4);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kAuto, 4, none), 4);  // never narrower than the input
  EXPECT_EQ(ChooseChannels(ChannelsMode::kKeep, 1, both), 1);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kKeep, 3, both), 3);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kGreyAlpha, 4, none), 2);
  EXPECT_EQ(ChooseChannels(ChannelsMode::kRgba, 1, none), 4);
}

TEST(AlphaConvention, FloatColourIsDividedAndMultipliedByAlpha) {
  Image<float> image(3, 1, 4);
  image.samples = {0.2f, 0.1f, 0.4f, 0.5f,  // premultiplied by 0.5
                   0.3f, 0.3f, 0.3f, 0.0f,  // alpha 0: colour stays
                   2.0f, 1.0f, 0.5f, 1.0f};
  Raster raster = image;
  const LightMask light = Unassociate(raster);
  const auto& straight = std::get<Image<float>>(raster).samples;
  EXPECT_EQ(straight, (std::vector<float>{0.4f, 0.2f, 0.8f, 0.5f, 0.3f, 0.3f, 0.3f, 0.0f, 2.0f, 1.0f, 0.5f, 1.0f}));
  EXPECT_EQ(light, (LightMask{0, 1, 0}));
  Raster unmarked = raster;
  Associate(unmarked);
  EXPECT_EQ(std::get<Image<float>>(unmarked).samples,
            (std::vector<float>{0.2f, 0.1f, 0.4f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 2.0f, 1.0f, 0.5f, 1.0f}));
  // Light without coverage comes back as it came.
  Associate(raster, light);
  EXPECT_EQ(std::get<Image<float>>(raster).samples, image.samples);
}

TEST(AlphaConvention, OnlyColourUnderAlphaZeroIsLight) {
  Image<std::uint16_t> image(4, 1, 2);
  image.samples = {0, 0,  7, 0,  0, 9,  7, 9};  // nothing, light, transparent colour 0, covered
  Raster raster = image;
  EXPECT_EQ(Unassociate(raster), (LightMask{0, 1, 0, 0}));
  Image<std::uint16_t> opaque(2, 1, 4);
  opaque.samples = {1, 2, 3, 65535, 4, 5, 6, 65535};
  Raster none = opaque;
  EXPECT_TRUE(Unassociate(none).empty());
  // A mask that does not fit the picture is not used.
  Raster other = image;
  Associate(other, LightMask{1});
  EXPECT_EQ(std::get<Image<std::uint16_t>>(other).samples[2], 0);
}

TEST(AlphaConvention, IntegerColourIsRoundedAndHeldInRange) {
  Image<std::uint8_t> image(2, 1, 2);
  image.samples = {50, 100,   // 50 * 255 / 100 = 127.5 -> 128
                   200, 100}; // more colour than alpha: held at 255
  Raster raster = image;
  Unassociate(raster);
  EXPECT_EQ(std::get<Image<std::uint8_t>>(raster).samples, (std::vector<std::uint8_t>{128, 100, 255, 100}));
  Associate(raster);
  EXPECT_EQ(std::get<Image<std::uint8_t>>(raster).samples, (std::vector<std::uint8_t>{50, 100, 100, 100}));
}

TEST(AlphaConvention, LayoutsWithoutAlphaAreLeftAlone) {
  Image<std::uint16_t> rgb(1, 1, 3);
  rgb.samples = {1, 2, 3};
  Raster raster = rgb;
  Unassociate(raster);
  Associate(raster);
  EXPECT_EQ(std::get<Image<std::uint16_t>>(raster).samples, rgb.samples);
}

}  // namespace
}  // namespace qv::cli
