// Speed of Process at each depth on full frames, per pixel and relative to a
// memcpy of the same frame at the same thread count, timed in the same loop
// (x_memcpy: the median over the frames of pass time / copy time).
// Every pass runs on the ramp "Tritone".
//
//   Pass8/Lightness/noblend/gamma1/content:picture/3840x2160/threads:2        ns_per_px  x_memcpy
//   Pass8Scalar/Lightness/noblend/gamma1/content:picture/3840x2160/threads:2  (the plain pass)
//   Memcpy/4Bpp/3840x2160/threads:2                                           ns_per_px
//   Table16Build/gamma1, Table16BuildScalar/gamma1                            us_per_build
//
// PassN runs on the variant and the memory choices a ToneMapper makes by
// itself (the label names them beside the processor: variant, table reads,
// output stores; the environment variables QUORVANDILE_SIMD,
// QUORVANDILE_TABLE_READS and QUORVANDILE_OUTPUT_STORES force them here,
// tests/support/forced_passes.h), PassNScalar on the plain passes. The content (bench_frames.h) is "picture", the frames the
// speed is about, or "random", the worst case for the integer passes' table
// lookups. With 2 threads the frame is cut into bands as the render does and
// each band runs on its own thread.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../common/bench_frames.h"
#include "../common/bench_labels.h"
#include "forced_passes.h"
#include "engine/pass_variant.h"
#include "engine/tone_mapper.h"
#include "render/bands.h"

namespace {

using qv::bench::BandRunner;
using qv::bench::Clock;
using qv::bench::Content;
using qv::bench::FrameSize;
using qv::bench::Join;
using qv::bench::Nanoseconds;

// Band i of n over the frame's rows, as the render cuts it.
std::pair<std::int32_t, std::int32_t> BandRows(FrameSize size, int i, int n) {
  const qv::PixelRect band = qv::BandOf({0, 0, size.width, size.height}, i, n);
  return {band.top, band.bottom};
}

// Copies a frame band by band, as the passes write it.
void CopyFrame(BandRunner& runner, const unsigned char* from, unsigned char* to, FrameSize size,
               std::size_t pixelBytes) {
  const std::size_t rowBytes = static_cast<std::size_t>(size.width) * pixelBytes;
  runner.Run([&](int i, int n) {
    const auto [top, bottom] = BandRows(size, i, n);
    std::memcpy(to + rowBytes * top, from + rowBytes * top, rowBytes * (bottom - top));
  });
}

// The input frame of the last benchmark that asked, kept while the next ones
// ask for the same (making a 4K picture takes a while).
template <class Pixel>
const std::vector<Pixel>& InputFrame(FrameSize size, Content content) {
  static std::vector<Pixel> frame;
  static std::pair<std::int64_t, Content> made{-1, Content::kPicture};
  const std::pair<std::int64_t, Content> key{size.Pixels() * 65536 + size.width, content};
  if (made != key) {
    frame.assign(static_cast<std::size_t>(size.Pixels()), Pixel{});
    qv::bench::FillFrame<Pixel>(size, content,
                                [&](std::int32_t y) { return frame.data() + std::size_t(y) * size.width; });
    made = key;
  }
  return frame;
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
  Content content;
  int threads;
  bool scalar;
};

// Each iteration tones the frame (the timed part) and then copies the same
// source frame with memcpy, so that the baseline sees the same load on this
// shared machine as the pass it is compared with.
template <class Pixel>
void BenchPass(benchmark::State& state, PassCase c) {
  const qv::ToneMapperSettings settings{c.depth, Settings(c.base, c.blend, c.gamma)};
  const qv::ToneMapper mapper =
      c.scalar ? qv::ToneMapper(settings, qv::PassVariant::kScalar)
               : qv::ToneMapper(settings, qv::testing::PassesFromEnvironment());

  const std::vector<Pixel>& in = InputFrame<Pixel>(c.size, c.content);
  std::vector<Pixel> out(in.size()), copy(in.size());
  const qv::ImageView input{c.depth, const_cast<Pixel*>(in.data()), c.size.width, c.size.height, c.size.width};
  const qv::ImageView output{c.depth, out.data(), c.size.width, c.size.height, c.size.width};

  state.SetLabel(qv::bench::PathLabel(mapper, input, output));

  BandRunner& runner = qv::bench::Runner(c.threads);
  const std::function<void(int, int)> bands = [&](int i, int n) {
    const auto [top, bottom] = BandRows(c.size, i, n);
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
  ratios.reserve(1024);
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
  state.counters["x_memcpy"] = qv::bench::Median(std::move(ratios));
}

void BenchMemcpy(benchmark::State& state, FrameSize size, std::size_t pixelBytes, int threads) {
  const std::size_t bytes = static_cast<std::size_t>(size.Pixels()) * pixelBytes;
  std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
  BandRunner& runner = qv::bench::Runner(threads);
  state.SetLabel(qv::bench::ProcessorLabel());
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
  const qv::PassForcing forcing =
      scalar ? qv::PassForcing{qv::PassVariant::kScalar, {}} : qv::testing::PassesFromEnvironment();
  state.SetLabel(qv::bench::VariantLabel(qv::ToneMapper(settings, forcing).passVariant()));
  const auto start = Clock::now();
  for (auto _ : state) {
    qv::ToneMapper mapper(settings, forcing);
    benchmark::DoNotOptimize(mapper);
  }
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  state.counters["us_per_build"] = us / static_cast<double>(state.iterations());
}

const char* BaseName(qv::BaseOn base) { return base == qv::kBaseLuminance ? "Luminance" : "Lightness"; }

template <class Pixel>
void RegisterPass(const char* depthName, qv::PixelDepth depth, FrameSize size, int threads,
                  std::initializer_list<qv::BaseOn> bases, std::initializer_list<double> gammas) {
  for (Content content : qv::bench::kContents) {
    for (bool scalar : {false, true}) {
      for (qv::BaseOn base : bases) {
        for (bool blend : {false, true}) {
          for (double gamma : gammas) {
            const std::string label =
                Join({depthName, scalar ? "Scalar" : "", "/", BaseName(base), blend ? "/blend" : "/noblend",
                      gamma == 1.0 ? "/gamma1/" : "/gamma2.2/", qv::bench::ContentName(content), "/", size.Name(),
                      "/threads:", std::to_string(threads)});
            benchmark::RegisterBenchmark(label.c_str(), BenchPass<Pixel>,
                                         PassCase{depth, base, blend, gamma, size, content, threads, scalar})
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
          }
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (FrameSize size : qv::bench::kFrameSizes) {
    for (int threads : {1, 2}) {
      for (std::size_t bpp : {sizeof(qv::Pixel8), sizeof(qv::Pixel16), sizeof(qv::PixelFloat)}) {
        const std::string label =
            Join({"Memcpy/", std::to_string(bpp), "Bpp/", size.Name(), "/threads:", std::to_string(threads)});
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
