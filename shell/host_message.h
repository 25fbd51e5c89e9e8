// A failure the user should see, shown by the host: it puts
// out_data->return_msg in an alert when the effect sets
// PF_OutFlag_DISPLAY_ERROR_MESSAGE.
#pragma once

#include "host_api/ae_all.h"

namespace qv {

// Sets PF_OutFlag_DISPLAY_ERROR_MESSAGE and writes `message`, cut to the
// host's message buffer, through the host's ANSI sprintf. Without out_data it
// does nothing; without the host's sprintf it sets the flag alone.
void ShowErrorMessage(const PF_InData* in_data, PF_OutData* out_data, const char* message);

}  // namespace qv
