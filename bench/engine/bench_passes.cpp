// Speed of Process at each depth on full frames, per pixel and relative to a
// memcpy of the same frame at the same thread count, timed in the same loop
// (x_memcpy: the median over the frames of pass time / copy time).
// Every pass runs on the ramp "Tritone".
//
//   Pass8/Lightness/noblend/gamma1/3840x2160/threads:2        ns_per_px  x_memcpy
//   Pass8Scalar/Lightness/noblend/gamma1/3840x2160/threads:2  (the plain pass)
//   Memcpy/4Bpp/3840x2160/threads:2                           ns_per_px
//   Table16Build/gamma1, Table16BuildScalar/gamma1            us_per_build
//
// PassN runs on the variant a ToneMapper picks by itself (the benchmark's
// label names it; QUORVANDILE_SIMD forces one), PassNScalar on the plain
// passes. With 2 threads the frame is cut into bands as the render does
// (rows top + h * i / n) and each band runs on its own thread.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/pass_variant.h"
#include "engine/tone_mapper.h"

namespace {

using Clock = std::chrono::steady_clock;

struct FrameSize {
  std::int32_t width, height;
  std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
  std::int64_t Pixels() const { return std::int64_t{width} * height; }
};

// Band i of n over rows 0 to height, as the render's band split makes it.
std::pair<std::int32_t, std::int32_t> BandRows(std::int32_t height, int i, int n) {
  const auto at = [&](int k) { return static_cast<std::int32_t>(std::int64_t{height} * k / n); };
  return {at(i), at(i + 1)};
}

// Runs band jobs on `threads` threads: the calling thread takes band 0 and
// parked workers the others, so no thread is started while timing.
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

  // job(band, bands) for every band; returns when all are done.
  void Run(const std::function<void(int, int)>& job) {
    job_ = &job;
    if (count_ > 1) start_.arrive_and_wait();
    job(0, count_);
    if (count_ > 1) done_.arrive_and_wait();
  }

  int count() const { return count_; }

 private:
  int count_;
  std::barrier<> start_, done_;
  const std::function<void(int, int)>* job_ = nullptr;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

BandRunner& Runner(int threads) {
  static std::map<int, std::unique_ptr<BandRunner>> runners;
  auto& r = runners[threads];
  if (!r) r = std::make_unique<BandRunner>(threads);
  return *r;
}

// Copies a frame band by band, as the passes write it.
void CopyFrame(BandRunner& runner, const unsigned char* from, unsigned char* to, FrameSize size,
               std::size_t pixelBytes) {
  const std::size_t rowBytes = static_cast<std::size_t>(size.width) * pixelBytes;
  runner.Run([&](int i, int n) {
    const auto [top, bottom] = BandRows(size.height, i, n);
    std::memcpy(to + rowBytes * top, from + rowBytes * top, rowBytes * (bottom - top));
  });
}

double Nanoseconds(Clock::duration d) { return std::chrono::duration<double, std::nano>(d).count(); }

template <class Pixel>
Pixel RandomPixel(std::mt19937& rng);

template <>
qv::Pixel8 RandomPixel<qv::Pixel8>(std::mt19937& rng) {
  std::uniform_int_distribution<int> c(0, 255);
  return {std::uint8_t(c(rng)), std::uint8_t(c(rng)), std::uint8_t(c(rng)), std::uint8_t(c(rng))};
}

template <>
qv::Pixel16 RandomPixel<qv::Pixel16>(std::mt19937& rng) {
  std::uniform_int_distribution<int> c(0, 32768);
  return {std::uint16_t(c(rng)), std::uint16_t(c(rng)), std::uint16_t(c(rng)), std::uint16_t(c(rng))};
}

template <>
qv::PixelFloat RandomPixel<qv::PixelFloat>(std::mt19937& rng) {
  std::uniform_real_distribution<float> c(0.0f, 1.0f);
  return {c(rng), c(rng), c(rng), c(rng)};
}

qv::ToneParams Settings(qv::BaseOn base, bool blend, double gamma) {
  qv::ToneParams params{};
  params.baseOn = base;
  params.tones = qv::kTritone;
  params.highlights = qv::FromPixel8({255, 255, 255, 255});
  params.midtones = qv::FromPixel8({255, 128, 100, 70});
  params.shadows = qv::FromPixel8({255, 0, 0, 0});
  params.inputBlack = 0;
  params.inputWhite = 1;
  params.gamma = gamma;
  params.outputBlack = 0;
  params.outputWhite = 1;
  params.highlightsOpacity = 1;
  params.shadowsOpacity = 0;
  params.blend = blend ? 0.5 : 0.0;
  return params;
}

struct PassCase {
  qv::PixelDepth depth;
  qv::BaseOn base;
  bool blend;
  double gamma;
  FrameSize size;
  int threads;
  bool scalar;
};

// Each iteration tones the frame (the timed part) and then copies the same
// source frame with memcpy, so that the baseline sees the same load on this
// shared machine as the pass it is compared with.
template <class Pixel>
void BenchPass(benchmark::State& state, PassCase c) {
  const qv::ToneMapperSettings settings{c.depth, Settings(c.base, c.blend, c.gamma)};
  const qv::ToneMapper mapper = c.scalar ? qv::ToneMapper(settings, qv::PassVariant::kScalar) : qv::ToneMapper(settings);
  state.SetLabel(qv::PassVariantName(mapper.passVariant()));

  std::mt19937 rng(7);
  std::vector<Pixel> in(static_cast<std::size_t>(c.size.Pixels())), out(in.size()), copy(in.size());
  for (Pixel& p : in) p = RandomPixel<Pixel>(rng);
  const qv::ImageView input{c.depth, in.data(), c.size.width, c.size.height, c.size.width};
  const qv::ImageView output{c.depth, out.data(), c.size.width, c.size.height, c.size.width};

  BandRunner& runner = Runner(c.threads);
  const std::function<void(int, int)> bands = [&](int i, int n) {
    const auto [top, bottom] = BandRows(c.size.height, i, n);
    mapper.Process(input, output, {0, top, c.size.width, bottom});
  };
  auto copyFrame = [&] {
    CopyFrame(runner, reinterpret_cast<const unsigned char*>(in.data()), reinterpret_cast<unsigned char*>(copy.data()),
              c.size, sizeof(Pixel));
  };
  runner.Run(bands);  // fault the pages in
  copyFrame();
  // The frame's ratio is the median of the per-frame ratios: this shared
  // machine's memory bandwidth drifts, and a frame and its copy, timed back
  // to back, see the same drift.
  Clock::duration passTime{};
  std::vector<double> ratios;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    runner.Run(bands);
    benchmark::ClobberMemory();
    const auto t1 = Clock::now();
    copyFrame();
    benchmark::ClobberMemory();
    const auto t2 = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    passTime += t1 - t0;
    ratios.push_back(Nanoseconds(t1 - t0) / Nanoseconds(t2 - t1));
  }
  const double frames = static_cast<double>(state.iterations());
  state.counters["ns_per_px"] = Nanoseconds(passTime) / frames / static_cast<double>(c.size.Pixels());
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  state.counters["x_memcpy"] = ratios[ratios.size() / 2];
}

void BenchMemcpy(benchmark::State& state, FrameSize size, std::size_t pixelBytes, int threads) {
  const std::size_t bytes = static_cast<std::size_t>(size.Pixels()) * pixelBytes;
  std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
  BandRunner& runner = Runner(threads);
  CopyFrame(runner, from.data(), to.data(), size, pixelBytes);
  const auto start = Clock::now();
  for (auto _ : state) {
    CopyFrame(runner, from.data(), to.data(), size, pixelBytes);
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_px"] =
      Nanoseconds(Clock::now() - start) / static_cast<double>(state.iterations()) / static_cast<double>(size.Pixels());
}

// The frame's table (or nothing, in float) is built with the ToneMapper, once
// per frame: this is that construction, on the default variant or the plain
// build.
void BenchTableBuild(benchmark::State& state, qv::PixelDepth depth, double gamma, bool scalar) {
  const qv::ToneMapperSettings settings{depth, Settings(qv::kBaseLightness, false, gamma)};
  const qv::PassVariant variant = scalar ? qv::PassVariant::kScalar : qv::DefaultPassVariant();
  state.SetLabel(qv::PassVariantName(qv::ToneMapper(settings, variant).passVariant()));
  const auto start = Clock::now();
  for (auto _ : state) {
    qv::ToneMapper mapper(settings, variant);
    benchmark::DoNotOptimize(mapper);
  }
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  state.counters["us_per_build"] = us / static_cast<double>(state.iterations());
}

const char* BaseName(qv::BaseOn base) { return base == qv::kBaseLuminance ? "Luminance" : "Lightness"; }

template <class Pixel>
void RegisterPass(const char* depthName, qv::PixelDepth depth, FrameSize size, int threads,
                  std::initializer_list<qv::BaseOn> bases, std::initializer_list<double> gammas) {
  for (bool scalar : {false, true}) {
    for (qv::BaseOn base : bases) {
      for (bool blend : {false, true}) {
        for (double gamma : gammas) {
          const std::string label = std::string(depthName) + (scalar ? "Scalar" : "") + "/" + BaseName(base) + "/" +
                                    (blend ? "blend" : "noblend") + "/gamma" + (gamma == 1.0 ? "1" : "2.2") + "/" +
                                    size.Name() + "/threads:" + std::to_string(threads);
          benchmark::RegisterBenchmark(label.c_str(), BenchPass<Pixel>,
                                       PassCase{depth, base, blend, gamma, size, threads, scalar})
              ->Unit(benchmark::kMillisecond)
              ->UseManualTime();
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (FrameSize size : {FrameSize{3840, 2160}, FrameSize{1920, 1080}}) {
    for (int threads : {1, 2}) {
      for (std::size_t bpp : {sizeof(qv::Pixel8), sizeof(qv::Pixel16), sizeof(qv::PixelFloat)}) {
        const std::string label =
            "Memcpy/" + std::to_string(bpp) + "Bpp/" + size.Name() + "/threads:" + std::to_string(threads);
        benchmark::RegisterBenchmark(label.c_str(), BenchMemcpy, size, bpp, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
      RegisterPass<qv::Pixel8>("Pass8", qv::kDepth8, size, threads, {qv::kBaseLightness, qv::kBaseLuminance}, {1.0});
      RegisterPass<qv::Pixel16>("Pass16", qv::kDepth16, size, threads, {qv::kBaseLightness, qv::kBaseLuminance},
                                {1.0});
      RegisterPass<qv::PixelFloat>("PassFloat", qv::kDepthFloat, size, threads, {qv::kBaseLightness}, {1.0, 2.2});
    }
  }
  for (bool scalar : {false, true}) {
    for (double gamma : {1.0, 2.2}) {
      const std::string suffix = std::string(scalar ? "Scalar" : "") + (gamma == 1.0 ? "/gamma1" : "/gamma2.2");
      benchmark::RegisterBenchmark(("Table8Build" + suffix).c_str(), BenchTableBuild, qv::kDepth8, gamma, scalar)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Table16Build" + suffix).c_str(), BenchTableBuild, qv::kDepth16, gamma, scalar)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
