// First half of the smart-render protocol: snapshot the frame's parameters and
// tell the host which input area the effect needs.
#pragma once

#include "engine/tone_params.h"
#include "host_api/ae_all.h"
#include "shell/param_index.h"

namespace qv {

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);

// Merges `source` into `dest`. An empty destination becomes a copy of the
// source (even an empty one); an empty source leaves the destination alone;
// otherwise the destination grows to the bounding box of both.
void UnionRect(const PF_LRect& source, PF_LRect& dest);

// The parameter snapshot of one frame, from the checked-out definitions,
// indexed by parameter index.
ToneParams ToneParamsFromDefs(const PF_ParamDef (&defs)[kParamCount]);

}  // namespace qv
