// Speed of a whole frame through the plug-in's entry point (pre-render and
// render, as the simulated host sends them), beside the engine's pass alone on
// the same frame and a memcpy of it, at the same thread count:
//
//   Frame8/Tritone/gamma1/content:picture/3840x2160/threads:2  ns_per_px  x_memcpy  x_pass  table_share
//   Pass8/Tritone/gamma1/content:picture/3840x2160/threads:2   ns_per_px  x_memcpy
//   Memcpy/4Bpp/3840x2160/threads:2                            ns_per_px  (x_memcpy = 1)
//
// x_pass is the frame's time over the pass's: what the entry point, the
// parameter snapshot, the checkouts, the per-frame table and the host's own
// bookkeeping add to the toning itself. table_share is the part of the frame
// that building the frame's table takes (8 and 16 bits), timed beside it. The
// host runs without its checks and keeps its worlds from frame to frame, so
// that its share stays small. The ratios come from baselines run beside every
// timed iteration (see Totals). Threads: the host runs the bands on threads it
// keeps between calls, as a real host does; the pass and the memcpy cut the
// frame into the same bands on as many kept threads.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "../common/bench_frames.h"
#include "../common/bench_labels.h"
#include "engine/tone_mapper.h"
#include "render/bands.h"
#include "render/frame_passes.h"
#include "shell/entry_point.h"
#include "shell/pipl.h"
#include "simhost/host.h"

namespace {

using qv::bench::Clock;
using qv::bench::Content;
using qv::bench::FrameSize;
using qv::bench::Join;
using qv::bench::Nanoseconds;

struct Depth {
  const char* name;
  PF_PixelFormat format;
  qv::PixelDepth depth;
};

constexpr Depth kDepths[] = {{"8", PF_PixelFormat_ARGB32, qv::kDepth8},
                             {"16", PF_PixelFormat_ARGB64, qv::kDepth16},
                             {"Float", PF_PixelFormat_ARGB128, qv::kDepthFloat}};

std::span<const std::uint8_t> Pipl() {
  const std::span<const unsigned char> bytes = qv::PiplBytes();
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// Frames are made once and shared by every benchmark of their size, depth
// and content.
const simhost::World& InputFrame(FrameSize size, const Depth& d, Content content) {
  static std::map<std::tuple<A_long, A_long, PF_PixelFormat, Content>, simhost::World> frames;
  const auto key = std::make_tuple(size.width, size.height, d.format, content);
  if (const auto it = frames.find(key); it != frames.end()) return it->second;
  simhost::World world(size.width, size.height, d.format);
  auto fill = [&](auto pixel) {
    using Pixel = decltype(pixel);
    qv::bench::FillFrame<Pixel>(size, content, [&](std::int32_t y) { return world.Row<Pixel>(y).data(); });
  };
  if (d.depth == qv::kDepth8) {
    fill(PF_Pixel8{});
  } else if (d.depth == qv::kDepth16) {
    fill(PF_Pixel16{});
  } else {
    fill(PF_PixelFloat{});
  }
  return frames.emplace(key, std::move(world)).first->second;
}

simhost::HostOptions BenchOptions(int threads) {
  simhost::HostOptions options;
  options.strict = false;
  options.reuse_worlds = true;
  options.num_threads = threads;
  options.row_padding_bytes = 0;
  return options;
}

// What a row measures.
struct Case {
  Depth depth;
  FrameSize size;
  Content content;
  double gamma;  // "Gamma"; the other parameters at their defaults ("Tritone")
  int threads;
};

// A host with the plug-in set up and its parameters as the case has them;
// false when the plug-in refused to set up.
bool SetUp(simhost::Host& host, const Case& c) {
  if (host.GlobalSetup() != PF_Err_NONE || host.ParamsSetup() != PF_Err_NONE) return false;
  host.SetParam("Gamma", c.gamma);
  return true;
}

// The record the plug-in makes from the case's parameters, read from its
// pre-render data, so that the pass tones exactly as the frame does.
qv::ToneParams RecordOf(const Case& c) {
  simhost::Host host(&EntryPointFunc, Pipl(), BenchOptions(1));
  qv::ToneParams record{};
  if (SetUp(host, c) && host.PreRender(0) == PF_Err_NONE) {
    if (const auto bytes = host.HandleBytes(host.Pending()->pre_render_output.pre_render_data);
        bytes && bytes->size() == sizeof record) {
      std::memcpy(&record, bytes->data(), sizeof record);
    }
  }
  host.DropPending();
  host.GlobalSetdown();
  return record;
}

qv::ImageView ViewOf(const simhost::World& world, qv::PixelDepth depth) {
  const PF_EffectWorld& w = *world.effect_world();
  return {depth, static_cast<void*>(w.data), w.width, w.height, w.rowbytes / world.bytes_per_pixel()};
}

// The engine's pass over the frame, cut into the render's bands.
struct PassRun {
  explicit PassRun(const Case& c)
      : input(InputFrame(c.size, c.depth, c.content)),
        output(c.size.width, c.size.height, c.depth.format),
        settings{c.depth.depth, RecordOf(c)},
        mapper(settings, qv::FramePasses()),
        in(ViewOf(input, c.depth.depth)),
        out(ViewOf(output, c.depth.depth)),
        runner(qv::bench::Runner(c.threads)) {}

  void operator()() {
    const qv::PixelRect frame{0, 0, in.width, in.height};
    runner.Run([&](int i, int n) { mapper.Process(in, out, qv::BandOf(frame, i, n)); });
  }

  const simhost::World& input;
  simhost::World output;
  const qv::ToneMapperSettings settings;
  const qv::ToneMapper mapper;
  const qv::ImageView in, out;
  qv::bench::BandRunner& runner;
};

// A memcpy of the frame's bytes, cut into the same bands.
struct CopyRun {
  CopyRun(FrameSize size, std::size_t pixel_bytes, int threads)
      : row(static_cast<std::size_t>(size.width) * pixel_bytes),
        frame{0, 0, size.width, size.height},
        from(row * static_cast<std::size_t>(size.height), 1),
        to(from.size()),
        runner(qv::bench::Runner(threads)) {}

  void operator()() {
    runner.Run([&](int i, int n) {
      const qv::PixelRect band = qv::BandOf(frame, i, n);
      const std::size_t top = static_cast<std::size_t>(band.top) * row;
      std::memcpy(to.data() + top, from.data() + top, static_cast<std::size_t>(band.bottom - band.top) * row);
    });
    benchmark::ClobberMemory();
  }

  std::size_t row;
  qv::PixelRect frame;
  std::vector<unsigned char> from, to;
  qv::bench::BandRunner& runner;
};

template <class Run>
Clock::duration Timed(Run& run) {
  const auto start = Clock::now();
  run();
  return Clock::now() - start;
}

// The machine is shared and its memory bandwidth drifts: rather than compare
// with baselines measured at another moment, every timed iteration has its
// baselines run beside it, outside the timing, and each ratio is the median
// over the iterations of the iteration's own ratio.
struct Totals {
  Clock::duration measured{};
  std::vector<double> to_memcpy, to_pass, table_share;

  void Add(Clock::duration frame, Clock::duration memcpy, Clock::duration pass = {}, Clock::duration table = {}) {
    measured += frame;
    to_memcpy.push_back(Nanoseconds(frame) / Nanoseconds(memcpy));
    if (pass != Clock::duration{}) to_pass.push_back(Nanoseconds(frame) / Nanoseconds(pass));
    if (table != Clock::duration{}) table_share.push_back(Nanoseconds(table) / Nanoseconds(frame));
  }
};

void Report(benchmark::State& state, const Totals& totals, FrameSize size) {
  if (totals.to_memcpy.empty()) return;
  const double per_frame = Nanoseconds(totals.measured) / static_cast<double>(totals.to_memcpy.size());
  state.counters["ns_per_px"] = per_frame / static_cast<double>(size.Pixels());
  state.counters["x_memcpy"] = qv::bench::Median(totals.to_memcpy);
  if (!totals.to_pass.empty()) state.counters["x_pass"] = qv::bench::Median(totals.to_pass);
  if (!totals.table_share.empty()) state.counters["table_share"] = qv::bench::Median(totals.table_share);
}

void BenchFrame(benchmark::State& state, Case c) {
  const simhost::World& input = InputFrame(c.size, c.depth, c.content);
  simhost::Host host(&EntryPointFunc, Pipl(), BenchOptions(c.threads));
  host.SetInput(input);
  if (!SetUp(host, c)) {
    state.SkipWithError("setup failed");
    return;
  }
  // Once, with worlds of its own: the frame the host gets is the pass's.
  host.options().reuse_worlds = false;
  const simhost::FrameReport first = host.RenderFrame(0);
  PassRun pass(c);
  pass();
  // The frame's path is the pass's: both take their choices from
  // FramePasses(), and the frame must match the pass's bytes.
  state.SetLabel(qv::bench::PathLabel(pass.mapper, pass.in, pass.out));
  if (first.err() != PF_Err_NONE || !first.output || !first.output->SamePixels(pass.output)) {
    state.SkipWithError("the frame is not the pass's output");
    return;
  }
  host.options().reuse_worlds = true;
  host.RenderFrame(0);  // the kept worlds are made here, not while timing
  host.ClearCalls();
  CopyRun copy(c.size, static_cast<std::size_t>(input.bytes_per_pixel()), c.threads);
  copy();
  // The frame builds its table on the render's own thread; so does this.
  auto table = [&] {
    const auto start = Clock::now();
    if (c.depth.depth != qv::kDepthFloat) benchmark::DoNotOptimize(qv::ToneMapper(pass.settings, qv::FramePasses()));
    return c.depth.depth != qv::kDepthFloat ? Clock::now() - start : Clock::duration{};
  };

  Totals totals;
  for (auto _ : state) {
    const auto start = Clock::now();
    const simhost::FrameReport frame = host.RenderFrame(0);
    const Clock::duration measured = Clock::now() - start;
    if (frame.err() != PF_Err_NONE) {
      state.SkipWithError("a frame failed");
      break;
    }
    state.PauseTiming();
    host.ClearCalls();
    const Clock::duration pass_time = Timed(pass);
    totals.Add(measured, Timed(copy), pass_time, table());
    state.ResumeTiming();
  }
  Report(state, totals, c.size);
  host.GlobalSetdown();
}

void BenchPass(benchmark::State& state, Case c) {
  PassRun pass(c);
  state.SetLabel(qv::bench::PathLabel(pass.mapper, pass.in, pass.out));
  CopyRun copy(c.size, static_cast<std::size_t>(pass.input.bytes_per_pixel()), c.threads);
  pass();
  copy();
  Totals totals;
  for (auto _ : state) {
    const Clock::duration measured = Timed(pass);
    benchmark::ClobberMemory();
    state.PauseTiming();
    totals.Add(measured, Timed(copy));
    state.ResumeTiming();
  }
  Report(state, totals, c.size);
}

void BenchMemcpy(benchmark::State& state, FrameSize size, std::size_t pixel_bytes, int threads) {
  CopyRun copy(size, pixel_bytes, threads);
  state.SetLabel(qv::bench::ProcessorLabel());
  copy();
  Totals totals;
  for (auto _ : state) {
    const Clock::duration measured = Timed(copy);
    totals.Add(measured, measured);
  }
  Report(state, totals, size);
}

}  // namespace

int main(int argc, char** argv) {
  for (FrameSize size : qv::bench::kFrameSizes) {
    for (const Depth& d : kDepths) {
      for (double gamma : {1.0, 2.2}) {
        for (Content content : qv::bench::kContents) {
          for (int threads : {1, 2}) {
            const Case c{d, size, content, gamma, threads};
            const std::string tail =
                Join({"/Tritone/gamma", gamma == 1.0 ? "1/" : "2.2/", qv::bench::ContentName(content), "/",
                      size.Name(), "/threads:", std::to_string(threads)});
            benchmark::RegisterBenchmark(Join({"Frame", d.name, tail}).c_str(), BenchFrame, c)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(Join({"Pass", d.name, tail}).c_str(), BenchPass, c)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
          }
        }
      }
    }
    for (std::size_t bytes : {std::size_t{4}, std::size_t{8}, std::size_t{16}}) {
      for (int threads : {1, 2}) {
        const std::string name =
            Join({"Memcpy/", std::to_string(bytes), "Bpp/", size.Name(), "/threads:", std::to_string(threads)});
        benchmark::RegisterBenchmark(name.c_str(), BenchMemcpy, size, bytes, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
