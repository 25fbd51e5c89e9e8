#include "shell/host_message.h"

namespace qv {

void ShowErrorMessage(const PF_InData* in_data, PF_OutData* out_data, const char* message) {
  if (out_data == nullptr) return;
  out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
  if (in_data != nullptr && in_data->utils != nullptr && in_data->utils->ansi.sprintf != nullptr) {
    // The message is data, never a format; the precision keeps a long one
    // inside the host's message buffer.
    in_data->utils->ansi.sprintf(out_data->return_msg, "%.*s", static_cast<int>(PF_MAX_EFFECT_MSG_LEN), message);
  }
}

}  // namespace qv
