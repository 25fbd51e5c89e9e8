// Second half of the smart-render protocol: tone the frame's pixels.
#pragma once

#include "host_api/ae_all.h"

namespace qv {

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

}  // namespace qv
