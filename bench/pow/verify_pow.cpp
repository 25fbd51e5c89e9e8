// Verifies the float ramp's power function against the true power from MPFR:
// the plain function's count of results that are not correctly rounded (and
// its largest error), each pass variant's vector form against the plain
// function's bits, the exact path on its own (for one argument in 16, whether
// the fast evaluation sends it there or not), how many arguments the fast
// evaluation sends there, and the C library's powf beside. Not part of make
// test (tens of minutes on two cores):
//   build/release/bench/pow/verify_pow [--step N] [--threads N] [--random N]
// Without --random: every non-negative finite float x, for the exponents
// y = 1 / Gamma of the Gamma control's ends, 2.2 and 1 / 2.2, and a few more;
// --step N checks every N-th float only (a quick look).
// With --random N: 200 exponents drawn at random over the Gamma control's
// range (log-uniform, 0.01 to 50), each with N arguments drawn at random,
// half any non-negative finite float, half a tone from 0 to 1.25.
//
// The true power: the double-precision pow (within an ulp of a double) decides
// the correctly rounded float unless it lies within 2^-47 (relative) of a
// midpoint between two floats; there MPFR at 128 bits decides.
#include <mpfr.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/pass_variant.h"
#include "engine/pow.h"

namespace {

struct Tally {
  std::uint64_t checked = 0;
  std::uint64_t variant_mismatches = 0;
  std::uint64_t ours_wrong = 0, libc_wrong = 0;    // not the correctly rounded float
  double ours_max_ulp = 0, libc_max_ulp = 0;       // error against the true power, in ulps
  std::uint64_t ours_vs_libc = 0;                  // results that differ from the library's
  double ours_vs_libc_max_ulp = 0;
  std::uint64_t mpfr_calls = 0;
  std::uint64_t exact_checked = 0, exact_wrong = 0;  // the exact path on its own
  std::uint64_t sent_exact = 0;                      // arguments the fast evaluation sends there

  void Add(const Tally& o) {
    exact_checked += o.exact_checked;
    exact_wrong += o.exact_wrong;
    sent_exact += o.sent_exact;
    checked += o.checked;
    variant_mismatches += o.variant_mismatches;
    ours_wrong += o.ours_wrong;
    libc_wrong += o.libc_wrong;
    ours_max_ulp = std::max(ours_max_ulp, o.ours_max_ulp);
    libc_max_ulp = std::max(libc_max_ulp, o.libc_max_ulp);
    ours_vs_libc += o.ours_vs_libc;
    ours_vs_libc_max_ulp = std::max(ours_vs_libc_max_ulp, o.ours_vs_libc_max_ulp);
    mpfr_calls += o.mpfr_calls;
  }
};

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The float ulp at the magnitude of v (a double), subnormals included.
double UlpOf(double v) {
  const double a = std::fabs(v);
  if (a < 0x1p-126) return 0x1p-149;
  if (a >= 0x1p127) return 0x1p104;
  return std::ldexp(1.0, std::ilogb(a) - 23);
}

// The correctly rounded float of x^y and the true value as a double.
struct Truth {
  float rounded;
  double value;
};

Truth TrueSlow(float x, float y, mpfr_t a, mpfr_t b) {
  mpfr_set_flt(a, x, MPFR_RNDN);
  mpfr_set_flt(b, y, MPFR_RNDN);
  mpfr_pow(a, a, b, MPFR_RNDN);
  // mpfr_get_flt rounds once, subnormal results included.
  return {mpfr_get_flt(a, MPFR_RNDN), mpfr_get_d(a, MPFR_RNDN)};
}

Truth TrueValue(float x, float y, mpfr_t a, mpfr_t b, std::uint64_t& mpfr_calls) {
  const double p = std::pow(static_cast<double>(x), static_cast<double>(y));
  const float f = static_cast<float>(p);
  if (!std::isfinite(p) || p == 0.0) return {f, p};
  // The midpoint between f and its neighbour on p's side.
  const double fd = std::isinf(f) ? 0x1p128 : static_cast<double>(f);
  const float other = std::nextafter(std::isinf(f) ? std::numeric_limits<float>::max() : f,
                                     p > fd ? std::numeric_limits<float>::infinity() : 0.0f);
  const double od = std::isinf(other) ? 0x1p128 : static_cast<double>(other);
  const double mid = (fd + od) / 2;
  if (std::fabs(p - mid) > std::fabs(p) * 0x1p-47) return {f, p};
  ++mpfr_calls;
  return TrueSlow(x, y, a, b);
}

// Infinity where one of the two is infinite and the other is not; 0 where
// both are the same infinity (an overflow rounded as it should be).
double UlpError(float got, const Truth& truth) {
  if (std::isinf(got) || std::isinf(truth.rounded)) {
    return SameBits(got, truth.rounded) ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return std::fabs(static_cast<double>(got) - truth.value) / UlpOf(truth.value);
}

// Checks x[0..n) at exponent y into t.
void CheckBlock(float y, const float* x, std::uint32_t n, mpfr_t a, mpfr_t b, Tally& t) {
  std::vector<float> plain(n), vec(n);
  const qv::detail::PowExponent e = qv::detail::MakePowExponent(y);
  for (std::uint32_t i = 0; i < n; ++i) plain[i] = qv::detail::PowF(x[i], e);
  for (const qv::PassVariant v : qv::kPassVariants) {
    if (v == qv::PassVariant::kScalar || !qv::PassVariantAvailable(v)) continue;
    qv::PowRow(v, x, vec.data(), static_cast<std::int32_t>(n), y);
    for (std::uint32_t i = 0; i < n; ++i) t.variant_mismatches += !SameBits(vec[i], plain[i]);
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const Truth truth = TrueValue(x[i], y, a, b, t.mpfr_calls);
    const float libc = powf(x[i], y);
    ++t.checked;
    if (!SameBits(plain[i], truth.rounded)) ++t.ours_wrong;
    if (!SameBits(libc, truth.rounded)) ++t.libc_wrong;
    t.ours_max_ulp = std::max(t.ours_max_ulp, UlpError(plain[i], truth));
    t.libc_max_ulp = std::max(t.libc_max_ulp, UlpError(libc, truth));
    if (!SameBits(plain[i], libc)) {
      ++t.ours_vs_libc;
      const double d = std::fabs(static_cast<double>(plain[i]) - static_cast<double>(libc)) / UlpOf(truth.value);
      t.ours_vs_libc_max_ulp = std::max(t.ours_vs_libc_max_ulp, d);
    }
    const bool positive = x[i] > 0 && std::isfinite(x[i]);
    const bool sent =
        positive && !e.square && qv::detail::PowNearMidpoint(qv::detail::PowPositive(x[i], e.y), e.roundingSlack);
    t.sent_exact += sent;
    if (positive && (i % 16 == 0 || sent)) {
      ++t.exact_checked;
      t.exact_wrong += !SameBits(qv::detail::PowExactPositive(x[i], e.y), truth.rounded);
    }
  }
}

// Every step-th float from the bits `first` to `last`.
void CheckEvery(float y, std::uint32_t first, std::uint32_t last, std::uint32_t step, Tally& t) {
  mpfr_t a, b;
  mpfr_init2(a, 128);
  mpfr_init2(b, 128);
  constexpr std::uint32_t kBlock = 4096;
  std::vector<float> x(kBlock);
  for (std::uint64_t start = first; start < last;) {
    std::uint32_t n = 0;
    for (; n < kBlock && start < last; start += step) {
      const auto bits = static_cast<std::uint32_t>(start);
      std::memcpy(&x[n++], &bits, sizeof(float));
    }
    CheckBlock(y, x.data(), n, a, b, t);
  }
  mpfr_clear(a);
  mpfr_clear(b);
}

// `count` random arguments from the generator seeded with `seed`.
void CheckRandom(float y, std::uint64_t count, std::uint32_t seed, Tally& t) {
  mpfr_t a, b;
  mpfr_init2(a, 128);
  mpfr_init2(b, 128);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> tone(0.0f, 1.25f);
  constexpr std::uint32_t kBlock = 4096;
  std::vector<float> x(kBlock);
  for (std::uint64_t done = 0; done < count;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlock, count - done));
    for (std::uint32_t i = 0; i < n; ++i) {
      if (i % 2 == 0) {
        const std::uint32_t bits = rng() % 0x7F800000u;  // a non-negative finite float
        std::memcpy(&x[i], &bits, sizeof(float));
      } else {
        x[i] = tone(rng);
      }
    }
    CheckBlock(y, x.data(), n, a, b, t);
    done += n;
  }
  mpfr_clear(a);
  mpfr_clear(b);
}

void PrintHeader() {
  std::printf("\n%-11s %-11s %12s %8s | %8s %7s | %8s %6s %9s | %9s %7s | %10s %7s %8s\n", "gamma", "y",
              "checked", "variants", "ours bad", "max ulp", "exact", "bad", "sent", "libc bad", "max ulp",
              "ours!=libc", "max ulp", "mpfr");
}

void PrintRow(double gamma, float y, const Tally& t) {
  std::printf("%-11.9g %-11.9g %12" PRIu64 " %8" PRIu64 " | %8" PRIu64 " %7.4f | %8" PRIu64 " %6" PRIu64 " %9" PRIu64
              " | %9" PRIu64 " %7.4f | %10" PRIu64 " %7.4f %8" PRIu64 "\n",
              gamma, static_cast<double>(y), t.checked, t.variant_mismatches, t.ours_wrong, t.ours_max_ulp,
              t.exact_checked, t.exact_wrong, t.sent_exact, t.libc_wrong, t.libc_max_ulp, t.ours_vs_libc,
              t.ours_vs_libc_max_ulp, t.mpfr_calls);
  std::fflush(stdout);
}

// Runs `work(worker, tally)` on `threads` threads and sums their tallies.
template <class Work>
Tally OnThreads(unsigned threads, Work work) {
  std::vector<Tally> tallies(threads);
  std::vector<std::thread> workers;
  for (unsigned w = 0; w < threads; ++w) workers.emplace_back([&, w] { work(w, tallies[w]); });
  Tally t;
  for (unsigned w = 0; w < threads; ++w) {
    workers[w].join();
    t.Add(tallies[w]);
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t step = 1;
  std::uint64_t random = 0;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--step") step = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    if (option == "--threads") threads = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    if (option == "--random") random = std::strtoull(argv[i + 1], nullptr, 10);
  }
  step = std::max(1u, step);
  std::printf("Variants:");
  for (const qv::PassVariant v : qv::kPassVariants) {
    if (qv::PassVariantAvailable(v)) std::printf(" %s", qv::PassVariantName(v));
  }
  Tally total;
  if (random > 0) {
    std::printf("\n200 exponents 1 / Gamma, Gamma log-uniform from 0.01 to 50; %" PRIu64 " random x each", random);
    PrintHeader();
    std::mt19937 rng(41);
    std::uniform_real_distribution<double> log_gamma(std::log(0.01), std::log(50.0));
    for (int n = 0; n < 200; ++n) {
      const double gamma = std::exp(log_gamma(rng));
      const auto y = static_cast<float>(1.0 / gamma);
      const std::uint32_t seed = rng();
      const Tally t = OnThreads(threads, [&](unsigned w, Tally& tally) {
        CheckRandom(y, random / threads + (w == 0 ? random % threads : 0), seed + w, tally);
      });
      PrintRow(gamma, y, t);
      total.Add(t);
    }
  } else {
    constexpr std::uint32_t kFiniteEnd = 0x7F800000u;  // every non-negative finite float lies below
    const double gammas[] = {0.01, 10, 50, 2.2, 1 / 2.2, 0.25, 0.37, 0.4, 0.5, 1.6, 4};
    std::printf("\n%s non-negative finite float x, x^(1/Gamma)",
                step == 1 ? "Every" : ("One in " + std::to_string(step)).c_str());
    PrintHeader();
    for (const double gamma : gammas) {
      const auto y = static_cast<float>(1.0 / gamma);
      const std::uint32_t per = kFiniteEnd / threads;
      const Tally t = OnThreads(threads, [&](unsigned w, Tally& tally) {
        const std::uint32_t first = w * per - (w * per) % step;
        const std::uint32_t last = w + 1 == threads ? kFiniteEnd : (w + 1) * per - ((w + 1) * per) % step;
        CheckEvery(y, first, last, step, tally);
      });
      PrintRow(gamma, y, t);
      total.Add(t);
    }
  }
  std::printf("\nTotal: %" PRIu64 " checked; %" PRIu64 " not correctly rounded; %" PRIu64
              " variant results differing from the plain function's; exact path alone %" PRIu64 " checked, %" PRIu64
              " wrong; %" PRIu64 " sent to the exact path\n",
              total.checked, total.ours_wrong, total.variant_mismatches, total.exact_checked, total.exact_wrong,
              total.sent_exact);
  return total.ours_wrong == 0 && total.variant_mismatches == 0 && total.exact_wrong == 0 ? 0 : 1;
}
