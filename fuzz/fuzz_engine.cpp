// libFuzzer target: one ToneMapper::Process call per input, with settings,
// worlds and rectangle decoded from the bytes (see engine_case.h for the
// rules checked). A broken rule aborts, so libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine_case.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::EngineCase c = qv::fuzz::DecodeEngineCase({data, size});
  const auto problems = qv::fuzz::CheckEngineCase(c);
  if (!problems.empty()) {
    std::fprintf(stderr, "engine case: %s\n", qv::fuzz::Describe(c).c_str());
    for (const auto& p : problems) std::fprintf(stderr, "  %s\n", p.c_str());
    std::abort();
  }
  return 0;
}
