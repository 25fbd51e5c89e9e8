// libFuzzer target: the input as the text of one --set (see cli_checks.h).
#include <cstdint>
#include <string_view>

#include "cli_checks.h"
#include "verdict.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qv::fuzz::AbortOnProblems(qv::fuzz::CheckSetText(qv::fuzz::PluginCatalog(), text),
                            [text] { return "--set \"" + std::string(text) + "\""; });
  return 0;
}
