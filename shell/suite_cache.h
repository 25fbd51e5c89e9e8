// The suites one command handler needs, acquired from the host on first use
// and all handed back when the handler returns, also when it leaves by a
// raised error.
#pragma once

#include <array>
#include <cstddef>

#include "host_api/ae_suites.h"

namespace qv {

// Confined to the thread of the command that opened it; never shared.
class SuiteCache {
 public:
  // A null basic suite raises PF_Err_BAD_CALLBACK_PARAM.
  explicit SuiteCache(SPBasicSuite* basic);
  // Releases every acquired suite under its own name and version, the most
  // recently acquired first.
  ~SuiteCache();

  SuiteCache(const SuiteCache&) = delete;
  SuiteCache& operator=(const SuiteCache&) = delete;

  // Each returns the cached table, or acquires it; a suite the host refuses
  // raises PF_Err_BAD_CALLBACK_PARAM.
  const PF_HandleSuite1& HandleSuite();         // "PF Handle Suite" 2
  const AEGP_UtilitySuite3& UtilitySuite();     // "AEGP Utility Suite" 7
  const PF_ParamUtilsSuite1& ParamUtilsSuite(); // "PF Param Utils Suite" 2
  const AEGP_IterateSuite1& IterateSuite();     // "AEGP Iterate Suite" 1
  const PF_Iterate8Suite1& Iterate8Suite();     // "PF Iterate8 Suite" 1

 private:
  enum Slot : std::size_t { kHandle, kUtility, kParamUtils, kIterate, kIterate8, kSlotCount };

  const void* Table(Slot slot);
  template <class Suite>
  const Suite& Get(Slot slot) {
    return *static_cast<const Suite*>(Table(slot));
  }

  SPBasicSuite* basic_;
  std::array<const void*, kSlotCount> tables_{};
  // Slots in the order they were acquired, so they go back in reverse.
  std::array<Slot, kSlotCount> acquired_{};
  std::size_t acquired_count_ = 0;
};

}  // namespace qv
