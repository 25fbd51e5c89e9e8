// libFuzzer target: the input as --frames text and as a frame pattern (see
// cli_checks.h).
#include <cstdint>
#include <string_view>

#include "cli_checks.h"
#include "verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qv::fuzz::AbortOnProblems(qv::fuzz::CheckFrameText(text), [text] { return "frames \"" + std::string(text) + "\""; });
  return 0;
}
