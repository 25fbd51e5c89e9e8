// A minimal effect library for the loader tests. It carries the test PiPL in
// its ".pipl" section and answers About, global setup and global setdown,
// keeping a global handle through the host's handle suite.
#include <array>

#include "host_api/ae_all.h"
#include "test_pipl.h"

namespace {

// AddressSanitizer would pad the array with a red zone inside the section.
#if defined(__clang__)
#define TINY_NO_ASAN __attribute__((no_sanitize("address")))
#else
#define TINY_NO_ASAN
#endif
[[gnu::used, gnu::section(".pipl")]] TINY_NO_ASAN const auto kPiplSection = std::to_array(simhost_test::kTestPipl);

const PF_HandleSuite1* AcquireHandles(PF_InData* in) {
  const void* suite = nullptr;
  if (in->pica_basicP->AcquireSuite(kPFHandleSuite, kPFHandleSuiteVersion1, &suite) != kSPNoError) return nullptr;
  return static_cast<const PF_HandleSuite1*>(suite);
}

void ReleaseHandles(PF_InData* in) { in->pica_basicP->ReleaseSuite(kPFHandleSuite, kPFHandleSuiteVersion1); }

}  // namespace

extern "C" PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef*[], PF_LayerDef*, void*) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
      in->utils->ansi.sprintf(out->return_msg, "%s, v%d.%d", "Tiny", 1, 0);
      return PF_Err_NONE;
    case PF_Cmd_GLOBAL_SETUP: {
      out->my_version = simhost_test::kPiplEffectVersion;
      out->out_flags = static_cast<PF_OutFlags>(simhost_test::kPiplGlobalOutFlags);
      out->out_flags2 = static_cast<PF_OutFlags2>(simhost_test::kPiplGlobalOutFlags2);
      const PF_HandleSuite1* handles = AcquireHandles(in);
      if (!handles) return PF_Err_BAD_CALLBACK_PARAM;
      out->global_data = handles->host_new_handle(4);
      ReleaseHandles(in);
      return out->global_data ? PF_Err_NONE : PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    case PF_Cmd_GLOBAL_SETDOWN: {
      const PF_HandleSuite1* handles = AcquireHandles(in);
      if (!handles) return PF_Err_BAD_CALLBACK_PARAM;
      if (in->global_data) handles->host_dispose_handle(in->global_data);
      ReleaseHandles(in);
      return PF_Err_NONE;
    }
    default:
      return PF_Err_NONE;
  }
}
