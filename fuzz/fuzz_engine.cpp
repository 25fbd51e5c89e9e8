// libFuzzer target: one ToneMapper::Process call per input, with settings,
// worlds and rectangle decoded from the bytes (see engine_case.h for the
// rules checked).
#include <cstdint>

#include "engine_case.h"
#include "verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::fuzz::EngineCase c = qv::fuzz::DecodeEngineCase({data, size});
  qv::fuzz::AbortOnProblems(qv::fuzz::CheckEngineCase(c), [&c] { return "engine case: " + qv::fuzz::Describe(c); });
  return 0;
}
