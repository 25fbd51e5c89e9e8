// The frame's parameter snapshot travels from pre-render to render in a host
// handle. These functions make, read and dispose of that handle.
#pragma once

#include "engine/tone_params.h"
#include "host_api/ae_all.h"

namespace qv {

// Gives the handle back to the host. Handed to the host as the frame's
// `delete_pre_render_data_func`; the host calls it once per frame whether or
// not the frame was rendered. Never throws.
void DeletePreRenderData(void* pre_render_data);

// The delete callback receives nothing but the handle, so it reaches the
// host's handle suite through the basic suite that the last pre-render saw.
// The basic suite lives as long as the host process, so this is safe to keep.
void RememberBasicSuite(SPBasicSuite* basic);

}  // namespace qv
