// Acquire and release of one suite that report a failure through the host's
// message area instead of raising.
#pragma once

#include "host_api/ae_all.h"

namespace qv {

struct ScopedSuite {
  // Callers pass these; a null message falls back to the defaults below.
  static constexpr const char* kAcquireMessage = "Couldn't load suite.";
  static constexpr const char* kReleaseMessage = "Couldn't release suite.";
  static constexpr const char* kDefaultAcquireMessage = "Not able to acquire AEFX Suite.";
  static constexpr const char* kDefaultReleaseMessage = "Not able to release AEFX Suite.";

  // Returns 0 with `*suite` set to the table, or PF_Err_BAD_CALLBACK_PARAM with
  // `*suite` null, PF_OutFlag_DISPLAY_ERROR_MESSAGE set and the message in
  // `out_data->return_msg`. Only a 0 result holds a suite that must be given
  // back with Release; on failure nothing is held.
  static PF_Err Acquire(PF_InData* in_data, PF_OutData* out_data, const char* name,
                        A_long version, const char* message, const void** suite);

  // Returns 0 once the host has the suite back; without a basic suite it
  // reports like Acquire and returns PF_Err_BAD_CALLBACK_PARAM.
  static PF_Err Release(PF_InData* in_data, PF_OutData* out_data, const char* name,
                        A_long version, const char* message);
};

}  // namespace qv
