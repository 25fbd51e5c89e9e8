// Suites: function tables the host's basic suite hands out by name and
// version, and takes back under the same name and version. Each table is the
// published record of the version asked for, slot for slot; the number in a
// record's name is not that version ("PF Handle Suite" 2 is PF_HandleSuite1).
#ifndef HOST_API_AE_SUITES_H
#define HOST_API_AE_SUITES_H

#include "host_api/ae_params.h"
#include "host_api/ae_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long SPErr;
/* Any non-zero SPErr from AcquireSuite is a refusal; this is the code hosts
 * use for a suite they do not have. */
enum { kSPNoError = 0, kSPSuiteNotFoundError = 0x21537546 /* '!SuF' */ };

#define kSPBasicSuite "SP Basic Suite"
#define kSPBasicSuiteVersion 4
typedef struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char *name, A_long version, const void **suite);
  SPErr (*ReleaseSuite)(const char *name, A_long version);
  PF_UnusedSlot IsEqual;
  PF_UnusedSlot AllocateBlock;
  PF_UnusedSlot FreeBlock;
  PF_UnusedSlot ReallocateBlock;
  PF_UnusedSlot Undefined;
} SPBasicSuite;

#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion1 2
typedef struct PF_HandleSuite1 {
  PF_Handle (*host_new_handle)(A_HandleSize size);
  void *(*host_lock_handle)(PF_Handle pf_handle);
  void (*host_unlock_handle)(PF_Handle pf_handle);
  void (*host_dispose_handle)(PF_Handle pf_handle);
  PF_UnusedSlot host_get_handle_size;
  PF_UnusedSlot host_resize_handle;
} PF_HandleSuite1;

typedef A_long AEGP_PluginID;
typedef void *AEGP_GlobalRefcon;

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion3 7
typedef struct AEGP_UtilitySuite3 {
  PF_UnusedSlot AEGP_ReportInfo;
  PF_UnusedSlot AEGP_GetDriverPluginInitFuncVersion;
  PF_UnusedSlot AEGP_GetDriverImplementationVersion;
  PF_UnusedSlot AEGP_StartQuietErrors;
  PF_UnusedSlot AEGP_EndQuietErrors;
  PF_UnusedSlot AEGP_StartUndoGroup;
  PF_UnusedSlot AEGP_EndUndoGroup;
  A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char *plugin_nameZ,
                                 AEGP_PluginID *plugin_id);
  PF_UnusedSlot AEGP_GetMainHWND;
  PF_UnusedSlot AEGP_ShowHideAllFloaters;
  PF_UnusedSlot AEGP_PaintPalGetForeColor;
  PF_UnusedSlot AEGP_PaintPalGetBackColor;
  PF_UnusedSlot AEGP_PaintPalSetForeColor;
  PF_UnusedSlot AEGP_PaintPalSetBackColor;
  PF_UnusedSlot AEGP_CharPalGetFillColor;
  PF_UnusedSlot AEGP_CharPalGetStrokeColor;
  PF_UnusedSlot AEGP_CharPalSetFillColor;
  PF_UnusedSlot AEGP_CharPalSetStrokeColor;
  PF_UnusedSlot AEGP_CharPalIsFillColorUIFrontmost;
  PF_UnusedSlot AEGP_ConvertFpLongToHSFRatio;
  PF_UnusedSlot AEGP_ConvertHSFRatioToFpLong;
  PF_UnusedSlot AEGP_CauseIdleRoutinesToBeCalled;
  PF_UnusedSlot AEGP_GetSuppressInteractiveUI;
  PF_UnusedSlot AEGP_WriteToOSConsole;
  PF_UnusedSlot AEGP_WriteToDebugLog;
} AEGP_UtilitySuite3;

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion1 2
typedef struct PF_ParamUtilsSuite1 {
  PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                             const PF_ParamDef *defP);
  PF_UnusedSlot PF_GetCurrentStateObsolete;
  PF_UnusedSlot PF_HasParamChangedObsolete;
  PF_UnusedSlot PF_HaveInputsChangedOverTimeSpanObsolete;
  PF_UnusedSlot PF_IsIdenticalCheckout;
  PF_UnusedSlot PF_FindKeyframeTime;
  PF_UnusedSlot PF_GetKeyframeCount;
  PF_UnusedSlot PF_CheckoutKeyframe;
  PF_UnusedSlot PF_CheckinKeyframe;
  PF_UnusedSlot PF_KeyIndexToTime;
} PF_ParamUtilsSuite1;

#define kAEGPIterateSuite "AEGP Iterate Suite"
#define kAEGPIterateSuiteVersion1 1
typedef struct AEGP_IterateSuite1 {
  A_Err (*AEGP_GetNumThreads)(A_long *num_threadsPL);
  PF_UnusedSlot AEGP_IterateGeneric;
} AEGP_IterateSuite1;

/* Called once per iteration index, possibly on several threads at once. */
typedef PF_Err (*PF_IterateGenericFunc)(void *refconPV, A_long thread_indexL, A_long i,
                                        A_long iterationsL);

#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion1 1
typedef struct PF_Iterate8Suite1 {
  PF_UnusedSlot iterate;
  PF_UnusedSlot iterate_origin;
  PF_UnusedSlot iterate_lut;
  PF_UnusedSlot iterate_origin_non_clip_src;
  PF_Err (*iterate_generic)(A_long iterationsL, void *refconPV, PF_IterateGenericFunc fn_func);
} PF_Iterate8Suite1;

#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
typedef struct PF_WorldSuite2 {
  PF_UnusedSlot PF_NewWorld;
  PF_UnusedSlot PF_DisposeWorld;
  PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld *worldP, PF_PixelFormat *pixel_formatP);
} PF_WorldSuite2;

#ifdef __cplusplus
}
#endif

#endif
