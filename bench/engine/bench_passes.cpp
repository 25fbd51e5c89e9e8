// Single-threaded speed of Process at each depth, on full frames, reported per
// pixel and relative to a memcpy of a frame with the same bytes per pixel
// measured in the same process.
//
//   Pass8/Tritone/blend/gamma2.2/3840x2160   ns_per_px  x_memcpy
//   Memcpy/16Bpp/1920x1080                   ns_per_px  x_memcpy (= 1)

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/tone_mapper.h"

namespace {

using Clock = std::chrono::steady_clock;

struct FrameSize {
  std::int32_t width, height;
  std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
  std::int64_t Pixels() const { return std::int64_t{width} * height; }
};

// Mean time of one memcpy of `bytes`, measured once per size and cached, so
// every pass is compared with the same baseline.
double MemcpyNanoseconds(std::size_t bytes) {
  static std::map<std::size_t, double> cache;
  if (auto it = cache.find(bytes); it != cache.end()) return it->second;
  std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
  std::memcpy(to.data(), from.data(), bytes);  // fault the pages in
  int copies = 0;
  const auto start = Clock::now();
  auto elapsed = Clock::duration::zero();
  while (copies < 5 || elapsed < std::chrono::milliseconds(250)) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
    ++copies;
    elapsed = Clock::now() - start;
  }
  const double ns = std::chrono::duration<double, std::nano>(elapsed).count() / copies;
  cache.emplace(bytes, ns);
  return ns;
}

void Report(benchmark::State& state, Clock::duration elapsed, const FrameSize& size, std::size_t pixelBytes) {
  const double perFrame = std::chrono::duration<double, std::nano>(elapsed).count() /
                          static_cast<double>(state.iterations());
  state.counters["ns_per_px"] = perFrame / static_cast<double>(size.Pixels());
  state.counters["x_memcpy"] = perFrame / MemcpyNanoseconds(size.Pixels() * pixelBytes);
}

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

struct PassCase {
  qv::PixelDepth depth;
  bool blend;
  double gamma;
  FrameSize size;
};

template <class Pixel>
void BenchPass(benchmark::State& state, PassCase c) {
  qv::ToneParams params{};
  params.baseOn = qv::kBaseLightness;
  params.tones = qv::kTritone;
  params.highlights = qv::FromPixel8({255, 255, 255, 255});
  params.midtones = qv::FromPixel8({255, 128, 100, 70});
  params.shadows = qv::FromPixel8({255, 0, 0, 0});
  params.inputBlack = 0;
  params.inputWhite = 1;
  params.gamma = c.gamma;
  params.outputBlack = 0;
  params.outputWhite = 1;
  params.highlightsOpacity = 1;
  params.shadowsOpacity = 0;
  params.blend = c.blend ? 0.5 : 0.0;
  const qv::ToneMapper mapper({c.depth, params});

  std::mt19937 rng(7);
  std::vector<Pixel> in(static_cast<std::size_t>(c.size.Pixels())), out(in.size());
  for (Pixel& p : in) p = RandomPixel<Pixel>(rng);
  const qv::ImageView input{c.depth, in.data(), c.size.width, c.size.height, c.size.width};
  const qv::ImageView output{c.depth, out.data(), c.size.width, c.size.height, c.size.width};
  MemcpyNanoseconds(in.size() * sizeof(Pixel));  // baseline before timing starts

  const auto start = Clock::now();
  for (auto _ : state) {
    mapper.Process(input, output, input.Bounds());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  Report(state, Clock::now() - start, c.size, sizeof(Pixel));
}

void BenchMemcpy(benchmark::State& state, FrameSize size, std::size_t pixelBytes) {
  const std::size_t bytes = static_cast<std::size_t>(size.Pixels()) * pixelBytes;
  std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
  MemcpyNanoseconds(bytes);
  const auto start = Clock::now();
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
  }
  Report(state, Clock::now() - start, size, pixelBytes);
}

template <class Pixel>
void RegisterPass(const char* name, qv::PixelDepth depth, FrameSize size) {
  for (bool blend : {false, true}) {
    for (double gamma : {1.0, 2.2}) {
      const std::string label = std::string(name) + "/Tritone/" + (blend ? "blend" : "noblend") + "/gamma" +
                                (gamma == 1.0 ? "1" : "2.2") + "/" + size.Name();
      benchmark::RegisterBenchmark(label.c_str(), BenchPass<Pixel>, PassCase{depth, blend, gamma, size})
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (FrameSize size : {FrameSize{1920, 1080}, FrameSize{3840, 2160}}) {
    for (std::size_t bpp : {sizeof(qv::Pixel8), sizeof(qv::Pixel16), sizeof(qv::PixelFloat)}) {
      benchmark::RegisterBenchmark(("Memcpy/" + std::to_string(bpp) + "Bpp/" + size.Name()).c_str(), BenchMemcpy,
                                   size, bpp)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
    RegisterPass<qv::Pixel8>("Pass8", qv::kDepth8, size);
    RegisterPass<qv::Pixel16>("Pass16", qv::kDepth16, size);
    RegisterPass<qv::PixelFloat>("PassFloat", qv::kDepthFloat, size);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
