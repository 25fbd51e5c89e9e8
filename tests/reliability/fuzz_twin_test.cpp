// The fuzzers' deterministic twin: the same decoders and the same checks as
// fuzz/fuzz_engine.cpp and fuzz/fuzz_entry.cpp, over a fixed number of inputs
// from a fixed seed, so that every build runs them. A failure names the case
// index and prints the input bytes, which the fuzzer binary replays as is.
// (The fuzzers' checked-in corpora are replayed by the fuzz.replay.* tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/pass_variant.h"
#include "engine_case.h"
#include "entry_case.h"

namespace qv::reliability {
namespace {

constexpr int kEngineCases = 20000;
constexpr int kEntryCases = 500;
// The entry cases share a host, as under the fuzzer, set up again this often.
constexpr int kEntryCasesPerSetup = 100;
constexpr int kMaxReportedFailures = 5;

// Random byte strings of random length: long enough to reach every field of
// a case, sometimes so short that most fields read as zeros.
class Inputs {
 public:
  explicit Inputs(std::uint64_t seed) : rng_(seed) {}
  std::vector<std::uint8_t> Next() {
    const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 9)(rng_) == 0
                              ? std::uniform_int_distribution<std::size_t>(0, 40)(rng_)
                              : std::uniform_int_distribution<std::size_t>(40, 400)(rng_);
    std::vector<std::uint8_t> bytes(n);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng_());
    return bytes;
  }

 private:
  std::mt19937_64 rng_;
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::ostringstream s;
  for (std::uint8_t b : bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    s << kDigits[b >> 4] << kDigits[b & 15];
  }
  return s.str();
}

template <class Case>
void ReportFailure(int index, const std::vector<std::uint8_t>& bytes, const Case& c,
                   const std::vector<std::string>& problems, int& failures) {
  if (++failures > kMaxReportedFailures) return;
  std::ostringstream s;
  s << "case " << index << ": " << fuzz::Describe(c) << "\n  input bytes (hex): " << Hex(bytes);
  for (const std::string& p : problems) s << "\n  " << p;
  ADD_FAILURE() << s.str();
}

TEST(FuzzTwin, EngineCases) {
  Inputs inputs(0x0E61E5EEDull);
  int failures = 0, wrote = 0, compared = 0, variant_runs = 0;
  for (int i = 0; i < kEngineCases; ++i) {
    const std::vector<std::uint8_t> bytes = inputs.Next();
    const fuzz::EngineCase c = fuzz::DecodeEngineCase(bytes);
    fuzz::EngineCoverage coverage;
    const auto problems = fuzz::CheckEngineCase(c, &coverage);
    if (!problems.empty()) ReportFailure(i, bytes, c, problems, failures);
    wrote += coverage.wrote ? 1 : 0;
    compared += coverage.compared_with_reference ? 1 : 0;
    variant_runs += coverage.fast_variants;
  }
  std::printf(
      "Engine twin: %d cases, %d failed; %d toned pixels, %d of them compared with the reference; "
      "%d runs of faster pass variants compared with the plain passes\n",
      kEngineCases, failures, wrote, compared, variant_runs);
  EXPECT_EQ(failures, 0);
  // The decoder must keep reaching the passes, not only their early returns.
  EXPECT_GT(wrote, kEngineCases / 3);
  EXPECT_GT(compared, kEngineCases / 10);
  const bool any_fast = std::any_of(std::begin(kPassVariants), std::end(kPassVariants),
                                    [](PassVariant v) { return v != PassVariant::kScalar && PassVariantAvailable(v); });
  if (any_fast) {
    EXPECT_GT(variant_runs, kEngineCases / 2);
  }
}

TEST(FuzzTwin, EntryCases) {
  Inputs inputs(0xE7E75EEDull);
  int failures = 0;
  fuzz::EntryCoverage total;
  fuzz::EntryHost host(kEntryCasesPerSetup);
  for (int i = 0; i < kEntryCases; ++i) {
    const std::vector<std::uint8_t> bytes = inputs.Next();
    const fuzz::EntryCase c = fuzz::DecodeEntryCase(bytes);
    fuzz::EntryCoverage coverage;
    const auto problems = host.Check(c, &coverage);
    if (!problems.empty()) ReportFailure(i, bytes, c, problems, failures);
    total.frames_rendered += coverage.frames_rendered;
    total.frames_compared += coverage.frames_compared;
    total.renders_refused += coverage.renders_refused;
  }
  const std::vector<std::string> setdown = host.Close();
  EXPECT_TRUE(setdown.empty()) << setdown.front();
  std::printf("Entry twin: %d cases, %d failed; %d frames rendered (%d compared with the engine), %d refused\n",
              kEntryCases, failures, total.frames_rendered, total.frames_compared, total.renders_refused);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(total.frames_compared, kEntryCases / 2);
  EXPECT_GT(total.renders_refused, 0);
}

}  // namespace
}  // namespace qv::reliability
