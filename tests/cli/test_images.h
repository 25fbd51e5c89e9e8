#pragma once

// Pictures made for the tests.

#include <random>

#include "core/raster.h"

namespace qv::cli::test {

// An image of varied pixels: a fixed pseudo-random pattern with the extremes
// (0 and the maximum in every channel) in its first two pixels.
template <class T>
Image<T> VariedImage(int width, int height, int channels, unsigned seed) {
  Image<T> image(width, height, channels);
  std::mt19937 random(seed);
  for (T& sample : image.samples) {
    if constexpr (std::is_same_v<T, float>) {
      sample = std::uniform_real_distribution<float>(0.0f, 1.0f)(random);
    } else {
      sample = static_cast<T>(std::uniform_int_distribution<unsigned>(0, Image<T>::kMax)(random));
    }
  }
  const auto n = static_cast<std::size_t>(channels);
  for (std::size_t c = 0; c < n && 2 * n <= image.samples.size(); ++c) {
    image.samples[c] = T(0);
    image.samples[n + c] = Image<T>::kMax;
  }
  return image;
}

}  // namespace qv::cli::test
