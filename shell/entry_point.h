// The plug-in's one exported function and the handlers it dispatches to.
#pragma once

#include "host_api/ae_all.h"

#if defined(_WIN32)
#define QV_ENTRY_POINT_EXPORT __declspec(dllexport)
#else
#define QV_ENTRY_POINT_EXPORT __attribute__((visibility("default")))
#endif

// Every host request arrives here. No exception leaves this function: a raised
// PfError returns its code, exhausted memory PF_Err_OUT_OF_MEMORY, anything
// else PF_Err_INTERNAL_STRUCT_DAMAGED. PF_Cmd_RENDER fails (see
// RefusePlainRender); the other commands the effect does not handle return
// PF_Err_NONE and touch nothing.
extern "C" QV_ENTRY_POINT_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data,
                                                       PF_OutData* out_data,
                                                       PF_ParamDef* params[],
                                                       PF_LayerDef* output, void* extra);

namespace qv {

// PF_Cmd_ABOUT: name, version and notice into out_data->return_msg.
PF_Err About(PF_InData* in_data, PF_OutData* out_data);

// PF_Cmd_RENDER: the effect renders only through smart render, so it writes
// no pixel and returns PF_Err_BAD_CALLBACK_PARAM, with a message naming the
// effect and PF_OutFlag_DISPLAY_ERROR_MESSAGE set for the host to show it.
PF_Err RefusePlainRender(PF_InData* in_data, PF_OutData* out_data);

// PF_Cmd_GLOBAL_SETUP: declares version and capabilities and registers with
// the host; on success out_data->global_data holds a handle with the plug-in
// identifier.
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data);

// PF_Cmd_GLOBAL_SETDOWN: disposes of the global handle, if there is one.
PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data);

}  // namespace qv
