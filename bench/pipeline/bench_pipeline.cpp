// Speed of a whole frame through the plug-in's entry point (pre-render and
// render, as the simulated host sends them), beside the engine's pass alone on
// the same frame and a memcpy of it, at the same thread count:
//
//   Frame8/Tritone/gamma1/3840x2160/threads:2   ns_per_px  x_memcpy  x_pass
//   Pass8/Tritone/gamma1/3840x2160/threads:2    ns_per_px  x_memcpy
//   Memcpy/4Bpp/3840x2160/threads:2             ns_per_px  (x_memcpy = 1)
//
// x_pass is the frame's time over the pass's: what the entry point, the
// parameter snapshot, the checkouts, the per-frame table and the host's own
// bookkeeping add to the toning itself. The host runs without its checks and
// keeps its worlds from frame to frame, so that its share stays small. The
// ratios come from baselines run beside every timed iteration (see Totals).
// Threads: the host runs the bands on that many threads of its own, started
// per frame; the pass and the memcpy cut the frame into the same bands on as
// many threads, started per run the same way.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/tone_mapper.h"
#include "render/bands.h"
#include "shell/entry_point.h"
#include "shell/pipl.h"
#include "simhost/host.h"

namespace {

using Clock = std::chrono::steady_clock;

// Names built by appending: GCC 12 warns falsely (-Wrestrict) on
// "literal" + std::string when optimising.
std::string Join(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

struct FrameSize {
  A_long width, height;
  std::string Name() const { return Join({std::to_string(width), "x", std::to_string(height)}); }
  double Pixels() const { return static_cast<double>(width) * height; }
};

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

// job(i) for every band i on `threads` threads started for the purpose.
void OnThreads(int threads, const std::function<void(int)>& job) {
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) workers.emplace_back(job, i);
  for (std::thread& t : workers) t.join();
}

// Pixels over each depth's whole range, from a fast generator: 4K frames are
// made once and shared by every benchmark of their size and depth.
const simhost::World& InputFrame(FrameSize size, const Depth& d) {
  static std::map<std::tuple<A_long, A_long, PF_PixelFormat>, simhost::World> frames;
  const auto key = std::make_tuple(size.width, size.height, d.format);
  if (const auto it = frames.find(key); it != frames.end()) return it->second;
  simhost::World world(size.width, size.height, d.format);
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint32_t>(state >> 32);
  };
  for (A_long y = 0; y < size.height; ++y) {
    if (d.depth == qv::kDepth8) {
      for (PF_Pixel8& p : world.Row<PF_Pixel8>(y)) {
        const std::uint32_t bytes = next();
        std::memcpy(&p, &bytes, sizeof p);
      }
    } else if (d.depth == qv::kDepth16) {
      for (PF_Pixel16& p : world.Row<PF_Pixel16>(y)) {
        p = {A_u_short(next() % 32769), A_u_short(next() % 32769), A_u_short(next() % 32769),
             A_u_short(next() % 32769)};
      }
    } else {
      for (PF_PixelFloat& p : world.Row<PF_PixelFloat>(y)) {
        p = {next() * 0x1p-32f, next() * 0x1p-32f, next() * 0x1p-32f, next() * 0x1p-32f};
      }
    }
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

// The record the plug-in makes from the default parameters ("Tritone", gamma
// 1), read from its pre-render data, so that the pass tones exactly as the
// frame does.
qv::ToneParams DefaultRecord() {
  simhost::Host host(&EntryPointFunc, Pipl(), BenchOptions(1));
  host.GlobalSetup();
  host.ParamsSetup();
  qv::ToneParams record{};
  if (host.PreRender(0) == PF_Err_NONE) {
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
  PassRun(FrameSize size, const Depth& d)
      : input(InputFrame(size, d)),
        output(size.width, size.height, d.format),
        mapper(qv::ToneMapperSettings{d.depth, DefaultRecord()}),
        in(ViewOf(input, d.depth)),
        out(ViewOf(output, d.depth)) {}

  void operator()(int threads) {
    const qv::PixelRect frame{0, 0, in.width, in.height};
    OnThreads(threads, [&](int i) { mapper.Process(in, out, qv::BandOf(frame, i, threads)); });
  }

  const simhost::World& input;
  simhost::World output;
  const qv::ToneMapper mapper;
  const qv::ImageView in, out;
};

// A memcpy of the frame's bytes, cut into the same bands.
struct CopyRun {
  CopyRun(FrameSize size, std::size_t pixel_bytes)
      : row(static_cast<std::size_t>(size.width) * pixel_bytes),
        frame{0, 0, size.width, size.height},
        from(row * static_cast<std::size_t>(size.height), 1),
        to(from.size()) {}

  void operator()(int threads) {
    OnThreads(threads, [&](int i) {
      const qv::PixelRect band = qv::BandOf(frame, i, threads);
      const std::size_t top = static_cast<std::size_t>(band.top) * row;
      std::memcpy(to.data() + top, from.data() + top, static_cast<std::size_t>(band.bottom - band.top) * row);
    });
    benchmark::ClobberMemory();
  }

  std::size_t row;
  qv::PixelRect frame;
  std::vector<unsigned char> from, to;
};

double Nanoseconds(Clock::duration d) { return std::chrono::duration<double, std::nano>(d).count(); }

template <class Run>
Clock::duration Timed(Run& run, int threads) {
  const auto start = Clock::now();
  run(threads);
  return Clock::now() - start;
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// The machine is shared and its memory bandwidth drifts: rather than compare
// with baselines measured at another moment, every timed iteration has its
// baselines run beside it, outside the timing, and each ratio is the median
// over the iterations of the iteration's own ratio.
struct Totals {
  Clock::duration measured{};
  std::vector<double> to_memcpy, to_pass;

  void Add(Clock::duration frame, Clock::duration memcpy, Clock::duration pass = {}) {
    measured += frame;
    to_memcpy.push_back(Nanoseconds(frame) / Nanoseconds(memcpy));
    if (pass != Clock::duration{}) to_pass.push_back(Nanoseconds(frame) / Nanoseconds(pass));
  }
};

void Report(benchmark::State& state, const Totals& totals, FrameSize size) {
  if (totals.to_memcpy.empty()) return;
  const double per_frame = Nanoseconds(totals.measured) / static_cast<double>(totals.to_memcpy.size());
  state.counters["ns_per_px"] = per_frame / size.Pixels();
  state.counters["x_memcpy"] = Median(totals.to_memcpy);
  if (!totals.to_pass.empty()) state.counters["x_pass"] = Median(totals.to_pass);
}

void BenchFrame(benchmark::State& state, Depth d, FrameSize size, int threads) {
  const simhost::World& input = InputFrame(size, d);
  simhost::Host host(&EntryPointFunc, Pipl(), BenchOptions(threads));
  host.SetInput(input);
  if (host.GlobalSetup() != PF_Err_NONE || host.ParamsSetup() != PF_Err_NONE) {
    state.SkipWithError("setup failed");
    return;
  }
  // Once, with worlds of its own: the frame the host gets is the pass's.
  host.options().reuse_worlds = false;
  const simhost::FrameReport first = host.RenderFrame(0);
  PassRun pass(size, d);
  pass(threads);
  if (first.err() != PF_Err_NONE || !first.output || !first.output->SamePixels(pass.output)) {
    state.SkipWithError("the frame is not the pass's output");
    return;
  }
  host.options().reuse_worlds = true;
  host.RenderFrame(0);  // the kept worlds are made here, not while timing
  host.ClearCalls();
  CopyRun copy(size, static_cast<std::size_t>(input.bytes_per_pixel()));
  copy(threads);

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
    const Clock::duration passTime = Timed(pass, threads);
    totals.Add(measured, Timed(copy, threads), passTime);
    state.ResumeTiming();
  }
  Report(state, totals, size);
  host.GlobalSetdown();
}

void BenchPass(benchmark::State& state, Depth d, FrameSize size, int threads) {
  PassRun pass(size, d);
  CopyRun copy(size, static_cast<std::size_t>(pass.input.bytes_per_pixel()));
  pass(threads);
  copy(threads);
  Totals totals;
  for (auto _ : state) {
    const Clock::duration measured = Timed(pass, threads);
    benchmark::ClobberMemory();
    state.PauseTiming();
    totals.Add(measured, Timed(copy, threads));
    state.ResumeTiming();
  }
  Report(state, totals, size);
}

void BenchMemcpy(benchmark::State& state, FrameSize size, std::size_t pixel_bytes, int threads) {
  CopyRun copy(size, pixel_bytes);
  copy(threads);
  Totals totals;
  for (auto _ : state) {
    const Clock::duration measured = Timed(copy, threads);
    totals.Add(measured, measured);
  }
  Report(state, totals, size);
}

}  // namespace

int main(int argc, char** argv) {
  for (FrameSize size : {FrameSize{1920, 1080}, FrameSize{3840, 2160}}) {
    for (const Depth& d : kDepths) {
      for (int threads : {1, 2}) {
        const std::string tail = Join({"/Tritone/gamma1/", size.Name(), "/threads:", std::to_string(threads)});
        benchmark::RegisterBenchmark(Join({"Frame", d.name, tail}).c_str(), BenchFrame, d, size, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(Join({"Pass", d.name, tail}).c_str(), BenchPass, d, size, threads)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
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
