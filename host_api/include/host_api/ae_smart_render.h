// The two halves of the smart-render protocol: what the host hands the effect
// in pre-render and in render, and the callbacks it offers in each.
#ifndef HOST_API_AE_SMART_RENDER_H
#define HOST_API_AE_SMART_RENDER_H

#include "host_api/ae_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long PF_ChannelMask;
enum {
  PF_Field_FRAME = 0,
  PF_ChannelMask_ALPHA = 0x1,
  PF_ChannelMask_RED = 0x2,
  PF_ChannelMask_GREEN = 0x4,
  PF_ChannelMask_BLUE = 0x8,
  PF_ChannelMask_ARGB = 0xF
};

typedef struct PF_RenderRequest {
  PF_LRect rect;
  PF_Field field;
  PF_ChannelMask channel_mask;
  PF_Boolean preserve_rgb_of_zero_alpha;
  char unused[3];
  A_long reserved[4];
} PF_RenderRequest;

typedef struct PF_CheckoutResult {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_RationalScale par;
  PF_Boolean solid;
  PF_Boolean reservedB[3];
  A_long ref_width;
  A_long ref_height;
  A_long reserved[6];
} PF_CheckoutResult;

typedef A_short PF_RenderOutputFlags;

/* Which GPU framework a GPU render uses (none for the CPU renders the effect does). */
typedef A_long PF_GPU_Framework;

/* Disposes of pre-render data; the host calls it once per frame's data,
 * whether or not the frame was rendered. */
typedef void (*PF_DeletePreRenderDataFunc)(void *pre_render_data);

typedef struct PF_PreRenderInput {
  PF_RenderRequest output_request;
  short bitdepth;
  const void *gpu_data;
  PF_GPU_Framework what_gpu;
  A_u_long device_index;
} PF_PreRenderInput;

typedef struct PF_PreRenderOutput {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_Boolean solid;
  PF_Boolean reserved;
  PF_RenderOutputFlags flags;
  void *pre_render_data;
  PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct PF_PreRenderCallbacks {
  PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                           const PF_RenderRequest *req, A_long what_time, A_long time_step,
                           A_u_long time_scale, PF_CheckoutResult *checkout_result);
  PF_UnusedSlot GuidMixInPtr;
} PF_PreRenderCallbacks;

typedef struct PF_PreRenderExtra {
  PF_PreRenderInput *input;
  PF_PreRenderOutput *output;
  PF_PreRenderCallbacks *cb;
} PF_PreRenderExtra;

typedef struct PF_SmartRenderInput {
  PF_RenderRequest output_request;
  short bitdepth;
  void *pre_render_data;
  const void *gpu_data;
  PF_GPU_Framework what_gpu;
  A_u_long device_index;
} PF_SmartRenderInput;

/* The effect never checks its input pixels back in: the host takes them back
 * when the render ends. */
typedef struct PF_SmartRenderCallbacks {
  PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL,
                                  PF_EffectWorld **pixels);
  PF_UnusedSlot checkin_layer_pixels;
  PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld **output);
} PF_SmartRenderCallbacks;

typedef struct PF_SmartRenderExtra {
  PF_SmartRenderInput *input;
  PF_SmartRenderCallbacks *cb;
} PF_SmartRenderExtra;

#ifdef __cplusplus
}
#endif

#endif
