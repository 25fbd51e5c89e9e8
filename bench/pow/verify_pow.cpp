// Verifies the float ramp's power function over every non-negative finite
// float x for a set of exponents y (1 / Gamma), against the true power from
// MPFR: each pass variant's vector form gives the plain function's bits, and
// the plain function's error and count of results that are not correctly
// rounded, beside the same figures for the C library's powf. Not part of
// make test (about ten minutes on two cores):
//   build/release/bench/pow/verify_pow [--step N] [--threads N]
// --step N checks every N-th float only (a quick look); the default is all.
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

  void Add(const Tally& o) {
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

void Check(float y, std::uint32_t first, std::uint32_t last, std::uint32_t step, Tally& t) {
  mpfr_t a, b;
  mpfr_init2(a, 128);
  mpfr_init2(b, 128);
  constexpr std::uint32_t kBlock = 4096;
  std::vector<float> x(kBlock), plain(kBlock), vec(kBlock);
  for (std::uint64_t start = first; start < last;) {
    std::uint32_t n = 0;
    for (; n < kBlock && start < last; start += step) {
      const auto bits = static_cast<std::uint32_t>(start);
      std::memcpy(&x[n++], &bits, sizeof(float));
    }
    const qv::detail::PowExponent e = qv::detail::MakePowExponent(y);
    for (std::uint32_t i = 0; i < n; ++i) plain[i] = qv::detail::PowF(x[i], e);
    for (const qv::PassVariant v : qv::kPassVariants) {
      if (v == qv::PassVariant::kScalar || !qv::PassVariantAvailable(v)) continue;
      qv::PowRow(v, x.data(), vec.data(), static_cast<std::int32_t>(n), y);
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
    }
  }
  mpfr_clear(a);
  mpfr_clear(b);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t step = 1;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--step") step = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    if (option == "--threads") threads = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
  }
  step = std::max(1u, step);
  constexpr std::uint32_t kFiniteEnd = 0x7F800000u;  // every non-negative finite float lies below
  const double gammas[] = {0.01, 0.37, 0.5, 1.6, 2.2, 4, 10, 50};
  const std::string which = step == 1 ? "Every" : "One in " + std::to_string(step);
  std::printf("%s non-negative finite float x, x^(1/Gamma); variants:", which.c_str());
  for (const qv::PassVariant v : qv::kPassVariants) {
    if (qv::PassVariantAvailable(v)) std::printf(" %s", qv::PassVariantName(v));
  }
  std::printf("\n%-6s %-11s %12s %9s | %10s %9s | %10s %9s | %12s %9s %8s\n", "gamma", "y", "checked",
              "variants", "ours wrong", "max ulp", "libc wrong", "max ulp", "ours!=libc", "max ulp", "mpfr");
  for (const double gamma : gammas) {
    const float y = static_cast<float>(1.0 / gamma);
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> workers;
    const std::uint32_t per = kFiniteEnd / threads;
    for (unsigned w = 0; w < threads; ++w) {
      const std::uint32_t first = w * per - (w * per) % step;
      const std::uint32_t last = w + 1 == threads ? kFiniteEnd : (w + 1) * per - ((w + 1) * per) % step;
      workers.emplace_back(Check, y, first, last, step, std::ref(tallies[w]));
    }
    Tally t;
    for (unsigned w = 0; w < threads; ++w) {
      workers[w].join();
      t.Add(tallies[w]);
    }
    std::printf("%-6g %-11.9g %12" PRIu64 " %9" PRIu64 " | %10" PRIu64 " %9.4f | %10" PRIu64 " %9.4f | %12" PRIu64
                " %9.4f %8" PRIu64 "\n",
                gamma, static_cast<double>(y), t.checked, t.variant_mismatches, t.ours_wrong, t.ours_max_ulp,
                t.libc_wrong, t.libc_max_ulp, t.ours_vs_libc, t.ours_vs_libc_max_ulp, t.mpfr_calls);
    std::fflush(stdout);
  }
  return 0;
}
