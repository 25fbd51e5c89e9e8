#include "shell/suite_cache.h"

#include "shell/pf_error.h"

namespace qv {
namespace {

struct SuiteName {
  const char* name;
  A_long version;
};

// Indexed by SuiteCache::Slot: the one place that names a cached suite.
constexpr std::array<SuiteName, 5> kSuiteNames = {{
    {kPFHandleSuite, kPFHandleSuiteVersion1},
    {kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3},
    {kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1},
    {kAEGPIterateSuite, kAEGPIterateSuiteVersion1},
    {kPFIterate8Suite, kPFIterate8SuiteVersion1},
}};

}  // namespace

SuiteCache::SuiteCache(SPBasicSuite* basic) : basic_(basic) {
  static_assert(kSuiteNames.size() == kSlotCount);
  if (basic_ == nullptr) {
    RaisePfError(PF_Err_BAD_CALLBACK_PARAM);
  }
}

SuiteCache::~SuiteCache() {
  // A destructor has nowhere to report a failed release; the host keeps its
  // own count, and the command's result is already decided.
  while (acquired_count_ > 0) {
    const SuiteName& suite = kSuiteNames[acquired_[--acquired_count_]];
    basic_->ReleaseSuite(suite.name, suite.version);
  }
}

const void* SuiteCache::Table(Slot slot) {
  if (tables_[slot] != nullptr) {
    return tables_[slot];
  }
  const SuiteName& suite = kSuiteNames[slot];
  const void* table = nullptr;
  const SPErr err = basic_->AcquireSuite(suite.name, suite.version, &table);
  // Only a success with a table holds the suite. A refusal holds nothing, even
  // if the host wrote a table anyway, so the slot stays empty and nothing is
  // given back for it.
  if (err != kSPNoError || table == nullptr) {
    RaisePfError(PF_Err_BAD_CALLBACK_PARAM);
  }
  tables_[slot] = table;
  acquired_[acquired_count_++] = slot;
  return table;
}

const PF_HandleSuite1& SuiteCache::HandleSuite() { return Get<PF_HandleSuite1>(kHandle); }
const AEGP_UtilitySuite3& SuiteCache::UtilitySuite() { return Get<AEGP_UtilitySuite3>(kUtility); }
const PF_ParamUtilsSuite1& SuiteCache::ParamUtilsSuite() {
  return Get<PF_ParamUtilsSuite1>(kParamUtils);
}
const AEGP_IterateSuite1& SuiteCache::IterateSuite() { return Get<AEGP_IterateSuite1>(kIterate); }
const PF_Iterate8Suite1& SuiteCache::Iterate8Suite() { return Get<PF_Iterate8Suite1>(kIterate8); }

}  // namespace qv
