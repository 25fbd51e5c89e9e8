// libFuzzer target: one case through EntryPointFunc per input, with parameter
// values, layer and host behaviour decoded from the bytes, in a host that keeps
// the effect set up from case to case (see entry_case.h for the rules checked).
// A broken rule aborts, so libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "entry_case.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::EntryCase c = qv::fuzz::DecodeEntryCase({data, size});
  // Set down and up again every thousand cases. Never destroyed: at exit the
  // host's registry may be gone before a static host would be.
  static auto* const host = new qv::fuzz::EntryHost(1000);
  const auto problems = host->Check(c);
  if (!problems.empty()) {
    std::fprintf(stderr, "entry case: %s\n", qv::fuzz::Describe(c).c_str());
    for (const auto& p : problems) std::fprintf(stderr, "  %s\n", p.c_str());
    std::abort();
  }
  return 0;
}
