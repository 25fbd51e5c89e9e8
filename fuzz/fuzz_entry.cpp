// libFuzzer target: one case through EntryPointFunc per input, with parameter
// values, layer and host behaviour decoded from the bytes, in a host that keeps
// the effect set up from case to case (see entry_case.h for the rules checked).
#include <cstdint>

#include "entry_case.h"
#include "verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Set down and up again every thousand cases. Never destroyed: at exit the
  // host's registry may be gone before a static host would be.
  static auto* const host = new qv::fuzz::EntryHost(1000);
  const qv::fuzz::EntryCase c = qv::fuzz::DecodeEntryCase({data, size});
  qv::fuzz::AbortOnProblems(host->Check(c), [&c] { return "entry case: " + qv::fuzz::Describe(c); });
  return 0;
}
