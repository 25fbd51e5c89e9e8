#pragma once

// What the benchmarks share: frame sizes, the frames' content, bands run on
// threads kept between runs, and the statistics of the ratios.
//
// Content. Real frames are spatially coherent: neighbouring pixels have near
// tones, so the table lookups of the integer passes stay in the first-level
// cache. "picture" is such a frame, made deterministically: soft gradients,
// soft-edged discs and a gentle noise of a few 8-bit levels, with a
// transparent soft edge. "random" is uniformly random samples over each
// depth's range, the worst case for the lookups.

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

namespace qv::bench {

using Clock = std::chrono::steady_clock;

// Names built by appending: GCC 12 warns falsely (-Wrestrict) on
// "literal" + std::string when optimising.
inline std::string Join(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

struct FrameSize {
  std::int32_t width, height;
  std::string Name() const { return Join({std::to_string(width), "x", std::to_string(height)}); }
  std::int64_t Pixels() const { return std::int64_t{width} * height; }
};

// The frames the targets are about (a 4K frame does not fit in the cache)
// and the one that stays in the cache.
inline constexpr FrameSize kFrameSizes[] = {{3840, 2160}, {1920, 1080}};

enum class Content { kPicture, kRandom };
inline constexpr Content kContents[] = {Content::kPicture, Content::kRandom};

// "content:picture" or "content:random", the row name's part.
inline const char* ContentName(Content content) {
  return content == Content::kPicture ? "content:picture" : "content:random";
}

inline double Nanoseconds(Clock::duration d) { return std::chrono::duration<double, std::nano>(d).count(); }

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Runs band jobs on `threads` threads kept between runs, as a host keeps its
// render threads: the calling thread takes band 0 and parked workers the
// others, so no thread is started while timing.
class BandRunner {
 public:
  explicit BandRunner(int threads) : count_(threads), start_(threads), done_(threads) {
    for (int i = 1; i < threads; ++i) {
      workers_.emplace_back([this, i] {
        for (;;) {
          start_.arrive_and_wait();
          if (stop_) return;
          (*job_)(i, count_);
          done_.arrive_and_wait();
        }
      });
    }
  }
  ~BandRunner() {
    stop_ = true;
    if (count_ > 1) start_.arrive_and_wait();
    for (std::thread& t : workers_) t.join();
  }
  BandRunner(const BandRunner&) = delete;
  BandRunner& operator=(const BandRunner&) = delete;

  // job(band, bands) for every band; returns when all are done.
  void Run(const std::function<void(int, int)>& job) {
    job_ = &job;
    if (count_ > 1) start_.arrive_and_wait();
    job(0, count_);
    if (count_ > 1) done_.arrive_and_wait();
  }

 private:
  int count_;
  std::barrier<> start_, done_;
  const std::function<void(int, int)>* job_ = nullptr;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

// The process's runner for a thread count.
inline BandRunner& Runner(int threads) {
  static std::map<int, std::unique_ptr<BandRunner>> runners;
  auto& r = runners[threads];
  if (!r) r = std::make_unique<BandRunner>(threads);
  return *r;
}

// A fast deterministic generator (xorshift64).
class Noise {
 public:
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 32);
  }
  // Uniform in [0, 1).
  float Unit() { return static_cast<float>(Next()) * 0x1p-32f; }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15u;
};

// The picture's colour at (u, v) in [0, 1]^2 before noise, channels 0 to 1:
// gradients that turn slowly across the frame, crossed by discs whose edges
// blur over a few hundredths of the frame.
struct PictureSample {
  float alpha, red, green, blue;
};

inline PictureSample PictureAt(double u, double v) {
  auto smooth = [](double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
  };
  double red = 0.15 + 0.55 * u + 0.12 * std::sin(6.0 * v + 2.0 * u);
  double green = 0.25 + 0.5 * (1 - v) + 0.1 * std::sin(9.0 * u);
  double blue = 0.45 + 0.35 * std::cos(4.0 * u + 3.0 * v);
  struct Disc {
    double u, v, radius, red, green, blue;
  };
  constexpr Disc kDiscs[] = {{0.3, 0.4, 0.18, 0.9, 0.75, 0.6},
                             {0.7, 0.6, 0.22, 0.1, 0.15, 0.2},
                             {0.55, 0.25, 0.1, 0.95, 0.9, 0.3}};
  for (const Disc& d : kDiscs) {
    const double r = std::hypot((u - d.u) * 16.0 / 9.0, v - d.v);
    const double inside = 1 - smooth(d.radius - 0.03, d.radius + 0.03, r);
    red += (d.red - red) * inside;
    green += (d.green - green) * inside;
    blue += (d.blue - blue) * inside;
  }
  const double alpha = smooth(0.0, 0.08, u);  // a soft transparent left edge
  return {static_cast<float>(alpha), static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue)};
}

// Fills a frame of pixels with members alpha, red, green, blue (8-bit,
// 16-bit with white at 32768, or float) with `content`. `row(y)` gives the
// first pixel of row y.
template <class Pixel, class RowOf>
void FillFrame(FrameSize size, Content content, RowOf&& row) {
  using Sample = std::remove_cv_t<decltype(Pixel::alpha)>;
  constexpr double kWhite = std::is_same_v<Sample, std::uint8_t>    ? 255.0
                            : std::is_same_v<Sample, std::uint16_t> ? 32768.0
                                                                     : 1.0;
  constexpr float kNoise = 2.0f / 255.0f;  // a gentle noise of 2 8-bit levels either way
  auto sample = [](float v) {
    if constexpr (std::is_floating_point_v<Sample>) {
      return v;
    } else {
      return static_cast<Sample>(std::lround(std::clamp(static_cast<double>(v), 0.0, 1.0) * kWhite));
    }
  };
  Noise noise;
  for (std::int32_t y = 0; y < size.height; ++y) {
    Pixel* p = row(y);
    const double v = (y + 0.5) / size.height;
    for (std::int32_t x = 0; x < size.width; ++x) {
      if (content == Content::kRandom) {
        if constexpr (std::is_floating_point_v<Sample>) {
          p[x] = {noise.Unit(), noise.Unit(), noise.Unit(), noise.Unit()};
        } else {
          const auto any = [&] { return static_cast<Sample>(noise.Next() % (static_cast<std::uint32_t>(kWhite) + 1)); };
          p[x] = {any(), any(), any(), any()};
        }
        continue;
      }
      const PictureSample s = PictureAt((x + 0.5) / size.width, v);
      auto noisy = [&](float c) {
        return std::clamp(c + (noise.Unit() * 2 - 1) * kNoise, 0.0f, 1.0f);
      };
      p[x] = {sample(s.alpha), sample(noisy(s.red)), sample(noisy(s.green)), sample(noisy(s.blue))};
    }
  }
}

}  // namespace qv::bench
