#include "forced_passes.h"

#include <cstdlib>

namespace qv::testing {
namespace {

template <class Choice>
std::optional<Choice> Named(const char* variable, std::optional<Choice> (*parse)(std::string_view)) {
  const char* value = std::getenv(variable);
  return value != nullptr ? parse(value) : std::nullopt;
}

}  // namespace

const PassForcing& PassesFromEnvironment() {
  static const PassForcing forcing{
      Named(kPassVariantVariable, &ParsePassVariant),
      {Named(kTableReadsVariable, &ParseTableReads), Named(kOutputStoresVariable, &ParseOutputStores)}};
  return forcing;
}

bool PassesForcedByEnvironment() {
  for (const char* variable : {kPassVariantVariable, kTableReadsVariable, kOutputStoresVariable}) {
    if (std::getenv(variable) != nullptr) return true;
  }
  return false;
}

}  // namespace qv::testing
