// An effect library that fails where the tests ask it to, for the tool's
// error paths: QV_TEST_FAIL_AT names the command (global_setup, params_setup,
// render), "misuse" to break a host rule at parameter setup, or an end at
// render: "terminate" (std::terminate) or "abort" (a message, then abort).
// With QV_TEST_FORWARD_TO naming the real effect's library, it is that
// effect, failing only where asked: at global_setdown, after rendering as the
// effect does. It carries the real registration resource so that the host
// loads it as it loads the effect.
#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "host_api/ae_all.h"
#include "shell/pipl.h"
#include "shell/plugin_facts.h"

namespace {

[[gnu::used, gnu::section(".pipl")]] const auto kPiplSection = qv::pipl::kResource;

bool FailAt(const char* where) {
  const char* chosen = std::getenv("QV_TEST_FAIL_AT");
  return chosen && std::strcmp(chosen, where) == 0;
}

PF_Err Refuse(PF_InData* in, PF_OutData* out, const char* message) {
  out->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
  in->utils->ansi.sprintf(out->return_msg, "%s", message);
  return PF_Err_OUT_OF_MEMORY;
}

using EntryPoint = PF_Err (*)(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*);

// The real effect's entry point, when asked to be it.
EntryPoint Forwarded() {
  static const EntryPoint entry = [] {
    const char* library = std::getenv("QV_TEST_FORWARD_TO");
    void* handle = library ? dlopen(library, RTLD_NOW | RTLD_LOCAL) : nullptr;
    return handle ? reinterpret_cast<EntryPoint>(dlsym(handle, "EntryPointFunc")) : nullptr;
  }();
  return entry;
}

}  // namespace

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[],
                                 PF_LayerDef* output, void* extra) {
  if (const EntryPoint effect = Forwarded()) {
    const PF_Err err = effect(cmd, in, out, params, output, extra);
    if (cmd == PF_Cmd_GLOBAL_SETDOWN && err == PF_Err_NONE && FailAt("global_setdown")) {
      return Refuse(in, out, "Cannot let go of the tone tables.");
    }
    return err;
  }
  switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
      out->my_version = qv::facts::kVersionWord;
      out->out_flags = qv::facts::kOutFlags;
      out->out_flags2 = qv::facts::kOutFlags2;
      return FailAt("global_setup") ? Refuse(in, out, "No tone memory left at setup.") : PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP:
      if (FailAt("params_setup")) return Refuse(in, out, "Cannot register the tone controls.");
      out->num_params = FailAt("misuse") ? 5 : 1;  // five claimed, none added: the host objects
      return PF_Err_NONE;
    case PF_Cmd_SMART_PRE_RENDER:
      if (FailAt("terminate")) std::terminate();
      if (FailAt("abort")) {
        std::fputs("The tone table is corrupt.\n", stderr);
        std::abort();
      }
      return FailAt("render") ? Refuse(in, out, "Cannot tone this frame.") : PF_Err_BAD_CALLBACK_PARAM;
    default:
      return PF_Err_NONE;
  }
}
