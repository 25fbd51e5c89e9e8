#include "shell/entry_point.h"

#include <new>
#include <string>

#include "render/smart_pre_render.h"
#include "render/smart_render.h"
#include "shell/host_message.h"
#include "shell/params.h"
#include "shell/pf_error.h"
#include "shell/plugin_facts.h"

namespace qv {
namespace {

using Handler = PF_Err (*)(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                           void* extra);

struct Command {
  PF_Cmd cmd;
  Handler handler;
};

// The commands the effect answers; every other one is acknowledged and ignored.
constexpr Command kCommands[] = {
    {PF_Cmd_ABOUT,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef**, void*) {
       return About(in_data, out_data);
     }},
    {PF_Cmd_GLOBAL_SETUP,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef**, void*) {
       return GlobalSetup(in_data, out_data);
     }},
    {PF_Cmd_GLOBAL_SETDOWN,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef**, void*) {
       return GlobalSetdown(in_data, out_data);
     }},
    {PF_Cmd_PARAMS_SETUP,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, void*) {
       return ParamsSetup(in_data, out_data, params);
     }},
    {PF_Cmd_UPDATE_PARAMS_UI,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef** params, void*) {
       return UpdateParamsUi(in_data, out_data, params);
     }},
    {PF_Cmd_SMART_PRE_RENDER,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef**, void* extra) {
       return extra == nullptr
                  ? PF_Err{PF_Err_BAD_CALLBACK_PARAM}
                  : SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
     }},
    {PF_Cmd_SMART_RENDER,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef**, void* extra) {
       return extra == nullptr
                  ? PF_Err{PF_Err_BAD_CALLBACK_PARAM}
                  : SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
     }},
    {PF_Cmd_RENDER,
     [](PF_InData* in_data, PF_OutData* out_data, PF_ParamDef**, void*) {
       return RefusePlainRender(in_data, out_data);
     }},
};

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                void* extra) {
  for (const Command& command : kCommands) {
    if (command.cmd == cmd) {
      // A host always passes both records; a missing one must not become a
      // crash.
      if (in_data == nullptr || out_data == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
      }
      return command.handler(in_data, out_data, params, extra);
    }
  }
  return PF_Err_NONE;
}

}  // namespace

PF_Err RefusePlainRender(PF_InData* in_data, PF_OutData* out_data) {
  // A host that sends the plain render (Premiere Pro, which loads the shared
  // plug-in folder too) expects its output world filled. Answering 0 with
  // nothing written would show the user a frame that silently "worked"; a
  // failure with a reason tells them where the effect does render. The host
  // has no code for a command an effect does not support; 516 is the one the
  // effect gives for whatever else from the host it cannot work with.
  const std::string message =
      std::string(facts::kName) + " renders only in After Effects' smart render, not in this host's plain render.";
  ShowErrorMessage(in_data, out_data, message.c_str());
  return PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
  // The two lines are separated by a carriage return alone.
  in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d.%d\r%s", facts::kName,
                               facts::kMajorVersion, facts::kMinorVersion,
                               facts::kBugfixVersion, facts::kAboutNotice);
  return PF_Err_NONE;
}

}  // namespace qv

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                 PF_ParamDef* params[], PF_LayerDef* /*output*/, void* extra) {
  // No floating-point guard here: the host's thread may be in any state, and
  // the callbacks the handlers make run the host's own code, which must see
  // that state. The effect's arithmetic pins its own state where it runs.
  // The host is not C++: every exception ends here. Handlers release what
  // they hold on the way out through their scope-bound objects.
  try {
    return qv::Dispatch(cmd, in_data, out_data, params, extra);
  } catch (const qv::PfError& error) {
    return error.code;
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  } catch (...) {
    // Nothing else is ever raised on purpose, so an unknown exception means
    // the effect's own state can no longer be trusted; the host's code for
    // that is "internal structure damaged".
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
}
