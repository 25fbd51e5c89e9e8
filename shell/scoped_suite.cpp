#include "shell/scoped_suite.h"

#include "shell/host_message.h"

namespace qv {
namespace {

PF_Err Report(const PF_InData* in_data, PF_OutData* out_data, const char* message,
              const char* fallback) {
  ShowErrorMessage(in_data, out_data, message != nullptr ? message : fallback);
  return PF_Err_BAD_CALLBACK_PARAM;
}

SPBasicSuite* BasicSuite(const PF_InData* in_data) {
  return in_data != nullptr ? in_data->pica_basicP : nullptr;
}

}  // namespace

PF_Err ScopedSuite::Acquire(PF_InData* in_data, PF_OutData* out_data, const char* name,
                            A_long version, const char* message, const void** suite) {
  if (suite == nullptr) {
    return Report(in_data, out_data, message, kDefaultAcquireMessage);
  }
  *suite = nullptr;
  SPBasicSuite* basic = BasicSuite(in_data);
  if (basic == nullptr) {
    return Report(in_data, out_data, message, kDefaultAcquireMessage);
  }
  const void* table = nullptr;
  const SPErr err = basic->AcquireSuite(name, version, &table);
  if (err != kSPNoError || table == nullptr) {
    // Nothing is held: a table the host may have written while refusing is
    // not handed on, and the caller gives nothing back.
    return Report(in_data, out_data, message, kDefaultAcquireMessage);
  }
  *suite = table;
  return PF_Err_NONE;
}

PF_Err ScopedSuite::Release(PF_InData* in_data, PF_OutData* out_data, const char* name,
                            A_long version, const char* message) {
  SPBasicSuite* basic = BasicSuite(in_data);
  if (basic == nullptr) {
    return Report(in_data, out_data, message, kDefaultReleaseMessage);
  }
  basic->ReleaseSuite(name, version);
  return PF_Err_NONE;
}

}  // namespace qv
