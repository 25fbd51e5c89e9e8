// Suites: function tables the host's basic suite hands out by name and
// version, and takes back under the same name and version.
#ifndef HOST_API_AE_SUITES_H
#define HOST_API_AE_SUITES_H

#include "host_api/ae_params.h"
#include "host_api/ae_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long SPErr;
enum { kSPNoError = 0, kSPSuiteNotFoundError = 0x21537546 /* '!SuF' */ };

typedef struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char *name, A_long version, const void **suite);
  SPErr (*ReleaseSuite)(const char *name, A_long version);
} SPBasicSuite;

#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion2 2
typedef struct PF_HandleSuite2 {
  PF_Handle (*host_new_handle)(A_HandleSize size);
  void *(*host_lock_handle)(PF_Handle pf_handle);
  void (*host_unlock_handle)(PF_Handle pf_handle);
  void (*host_dispose_handle)(PF_Handle pf_handle);
  A_HandleSize (*host_get_handle_size)(PF_Handle pf_handle);
} PF_HandleSuite2;

typedef A_long AEGP_PluginID;
typedef void *AEGP_GlobalRefcon;

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7
typedef struct AEGP_UtilitySuite7 {
  A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char *plugin_name,
                                 AEGP_PluginID *plugin_id);
} AEGP_UtilitySuite7;

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion2 2
typedef struct PF_ParamUtilsSuite2 {
  PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                             const PF_ParamDef *defP);
} PF_ParamUtilsSuite2;

#define kAEGPIterateSuite "AEGP Iterate Suite"
#define kAEGPIterateSuiteVersion1 1
typedef struct AEGP_IterateSuite1 {
  A_Err (*AEGP_GetNumThreads)(A_long *num_threadsPL);
} AEGP_IterateSuite1;

/* Called once per iteration index, possibly on several threads at once. */
typedef PF_Err (*PF_IterateGenericFunc)(void *refconPV, A_long thread_indexL, A_long i,
                                        A_long iterationsL);

#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion1 1
typedef struct PF_Iterate8Suite1 {
  PF_Err (*iterate_generic)(A_long iterationsL, void *refconPV, PF_IterateGenericFunc fn_func);
} PF_Iterate8Suite1;

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
typedef struct PF_WorldSuite2 {
  PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld *worldP, PF_PixelFormat *pixel_formatP);
} PF_WorldSuite2;

#ifdef __cplusplus
}
#endif

#endif
