// libFuzzer target: one whole host session through EntryPointFunc per input,
// with parameter values, layer and host behaviour decoded from the bytes (see
// entry_case.h for the rules checked). A broken rule aborts, so libFuzzer
// keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "entry_case.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::EntryCase c = qv::fuzz::DecodeEntryCase({data, size});
  const auto problems = qv::fuzz::CheckEntryCase(c);
  if (!problems.empty()) {
    std::fprintf(stderr, "entry case: %s\n", qv::fuzz::Describe(c).c_str());
    for (const auto& p : problems) std::fprintf(stderr, "  %s\n", p.c_str());
    std::abort();
  }
  return 0;
}
