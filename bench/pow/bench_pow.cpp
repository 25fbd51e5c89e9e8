// Speed of the float ramp's power function against the C library's powf, on
// tones from -0.25 to 1.25 (the float pass's own range) at exponent 1/2.2:
//   Pow/libc_powf, Pow/plain, Pow/<variant>     ns_per_value, and x_libc: the
//   time per value over that of the C library's powf in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../common/bench_labels.h"
#include "engine/pass_variant.h"
#include "engine/pow.h"

namespace {

constexpr std::int32_t kValues = 1 << 14;  // in the first-level cache with their results
constexpr float kExponent = 1.0f / 2.2f;

const std::vector<float>& Tones() {
  static const std::vector<float> tones = [] {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(-0.25f, 1.25f);
    std::vector<float> v(kValues);
    for (float& x : v) x = d(rng);
    return v;
  }();
  return tones;
}

template <class Fn>
double SecondsPerValue(Fn&& fn) {
  std::vector<float> out(kValues);
  const auto start = std::chrono::steady_clock::now();
  constexpr int kRounds = 20;
  for (int r = 0; r < kRounds; ++r) {
    fn(Tones().data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / (kRounds * kValues);
}

void Libc(const float* x, float* out) {
  for (std::int32_t i = 0; i < kValues; ++i) out[i] = powf(x[i], kExponent);
}

void Plain(const float* x, float* out) {
  const qv::detail::PowExponent e = qv::detail::MakePowExponent(kExponent);
  for (std::int32_t i = 0; i < kValues; ++i) out[i] = qv::detail::PowF(x[i], e);
}

// Each iteration times the function and the C library's powf back to back.
template <class Fn>
void BenchPow(benchmark::State& state, Fn fn, const std::string& label) {
  state.SetLabel(label);
  double ours = 0, libc = 0;
  for (auto _ : state) {
    libc += SecondsPerValue(Libc);
    ours += SecondsPerValue(fn);
  }
  state.counters["ns_per_value"] = 1e9 * ours / static_cast<double>(state.iterations());
  state.counters["x_libc"] = ours / libc;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string processor = qv::bench::ProcessorLabel();
  benchmark::RegisterBenchmark("Pow/libc_powf", BenchPow<decltype(&Libc)>, &Libc, processor);
  benchmark::RegisterBenchmark("Pow/plain", BenchPow<decltype(&Plain)>, &Plain, processor);
  for (const qv::PassVariant v : qv::kPassVariants) {
    if (v == qv::PassVariant::kScalar || !qv::PassVariantAvailable(v)) continue;
    benchmark::RegisterBenchmark((std::string("Pow/") + qv::PassVariantName(v)).c_str(), [v](benchmark::State& s) {
      const auto row = [v](const float* x, float* out) { qv::PowRow(v, x, out, kValues, kExponent); };
      BenchPow(s, row, qv::bench::VariantLabel(v));
    });
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
