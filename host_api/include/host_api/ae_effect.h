// The entry protocol: commands, capability flags, and the records the host
// passes with every command.
#ifndef HOST_API_AE_EFFECT_H
#define HOST_API_AE_EFFECT_H

#include "host_api/ae_params.h"
#include "host_api/ae_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long PF_Cmd;
enum {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP = 1,
  PF_Cmd_UNUSED_0 = 2,
  PF_Cmd_GLOBAL_SETDOWN = 3,
  PF_Cmd_PARAMS_SETUP = 4,
  PF_Cmd_SEQUENCE_SETUP = 5,
  PF_Cmd_SEQUENCE_RESETUP = 6,
  PF_Cmd_SEQUENCE_FLATTEN = 7,
  PF_Cmd_SEQUENCE_SETDOWN = 8,
  PF_Cmd_DO_DIALOG = 9,
  PF_Cmd_FRAME_SETUP = 10,
  PF_Cmd_RENDER = 11,
  PF_Cmd_FRAME_SETDOWN = 12,
  PF_Cmd_USER_CHANGED_PARAM = 13,
  PF_Cmd_UPDATE_PARAMS_UI = 14,
  PF_Cmd_EVENT = 15,
  PF_Cmd_GET_EXTERNAL_DEPENDENCIES = 16,
  PF_Cmd_COMPLETELY_GENERAL = 17,
  PF_Cmd_QUERY_DYNAMIC_FLAGS = 18,
  PF_Cmd_AUDIO_RENDER = 19,
  PF_Cmd_AUDIO_SETUP = 20,
  PF_Cmd_AUDIO_SETDOWN = 21,
  PF_Cmd_ARBITRARY_CALLBACK = 22,
  PF_Cmd_SMART_PRE_RENDER = 23,
  PF_Cmd_SMART_RENDER = 24,
  PF_Cmd_RESERVED1 = 25,
  PF_Cmd_RESERVED2 = 26,
  PF_Cmd_RESERVED3 = 27,
  PF_Cmd_GET_FLATTENED_SEQUENCE_DATA = 28,
  PF_Cmd_TRANSLATE_PARAMS_TO_PREFS = 29,
  PF_Cmd_RESERVED4 = 30,
  PF_Cmd_SMART_RENDER_GPU = 31,
  PF_Cmd_GPU_DEVICE_SETUP = 32,
  PF_Cmd_GPU_DEVICE_SETDOWN = 33,
  PF_Cmd_NUM_CMDS
};

typedef A_long PF_OutFlags;
enum {
  PF_OutFlag_NONE = 0,
  PF_OutFlag_DISPLAY_ERROR_MESSAGE = 0x100,
  PF_OutFlag_REFRESH_UI = 0x20000,
  PF_OutFlag_DEEP_COLOR_AWARE = 0x2000000,
  PF_OutFlag_SEND_UPDATE_PARAMS_UI = 0x4000000
};

typedef A_long PF_OutFlags2;
enum {
  PF_OutFlag2_NONE = 0,
  PF_OutFlag2_SUPPORTS_SMART_RENDER = 0x400,
  PF_OutFlag2_FLOAT_COLOR_AWARE = 0x1000
};

/* The packed version word: build bits 0-8, stage 9-10, bug-fix 11-14,
 * minor 15-18, major 19-21 (higher major bits from bit 26). */
enum {
  PF_Stage_DEVELOP = 0,
  PF_Stage_ALPHA = 1,
  PF_Stage_BETA = 2,
  PF_Stage_RELEASE = 3
};
#define PF_VERSION(vers, subvers, bugvers, stage, build)                              \
  ((A_u_long)((((A_u_long)(vers) >> 3) & 0xF) << 26) |                                  \
   (A_u_long)(((A_u_long)(vers) & 0x7) << 19) | (A_u_long)(((A_u_long)(subvers) & 0xF) << 15) | \
   (A_u_long)(((A_u_long)(bugvers) & 0xF) << 11) | (A_u_long)(((A_u_long)(stage) & 0x3) << 9) | \
   (A_u_long)((A_u_long)(build) & 0x1FF))

enum { PF_MAX_EFFECT_MSG_LEN = 255 };

/* Callbacks the host offers in PF_InData. The effect calls the first three. */
typedef struct PF_InteractCallbacks {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef *param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef *param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
  PF_UnusedSlot abort;
  PF_UnusedSlot progress;
  PF_UnusedSlot register_ui;
  PF_UnusedSlot checkout_layer_audio;
  PF_UnusedSlot checkin_layer_audio;
  PF_UnusedSlot get_audio_data;
  void *reserved_str[3];
  void *reserved[10];
} PF_InteractCallbacks;

/* The C library as the host lends it. The effect calls sprintf and strcpy. */
typedef struct PF_ANSICallbacksBlock {
  PF_UnusedSlot atan;
  PF_UnusedSlot atan2;
  PF_UnusedSlot ceil;
  PF_UnusedSlot cos;
  PF_UnusedSlot exp;
  PF_UnusedSlot fabs;
  PF_UnusedSlot floor;
  PF_UnusedSlot fmod;
  PF_UnusedSlot hypot;
  PF_UnusedSlot log;
  PF_UnusedSlot log10;
  PF_UnusedSlot pow;
  PF_UnusedSlot sin;
  PF_UnusedSlot sqrt;
  PF_UnusedSlot tan;
  int (*sprintf)(A_char *buffer, const A_char *format, ...);
  A_char *(*strcpy)(A_char *dest, const A_char *src);
  PF_UnusedSlot asin;
  PF_UnusedSlot acos;
  A_long unused_longA[1];
} PF_ANSICallbacks;

typedef struct PF_ColorCallbacks {
  PF_UnusedSlot RGBtoHLS;
  PF_UnusedSlot HLStoRGB;
  PF_UnusedSlot RGBtoYIQ;
  PF_UnusedSlot YIQtoRGB;
  PF_UnusedSlot Luminance;
  PF_UnusedSlot Hue;
  PF_UnusedSlot Lightness;
  PF_UnusedSlot Saturation;
} PF_ColorCallbacks;

/* The host's utility callbacks; the effect uses only the ANSI block. */
typedef struct PF_UtilCallbacks {
  PF_UnusedSlot begin_sampling;
  PF_UnusedSlot subpixel_sample;
  PF_UnusedSlot area_sample;
  void *get_batch_func_is_deprecated;
  PF_UnusedSlot end_sampling;
  PF_UnusedSlot composite_rect;
  PF_UnusedSlot blend;
  PF_UnusedSlot convolve;
  PF_UnusedSlot copy;
  PF_UnusedSlot fill;
  PF_UnusedSlot gaussian_kernel;
  PF_UnusedSlot iterate;
  PF_UnusedSlot premultiply;
  PF_UnusedSlot premultiply_color;
  PF_UnusedSlot new_world;
  PF_UnusedSlot dispose_world;
  PF_UnusedSlot iterate_origin;
  PF_UnusedSlot iterate_lut;
  PF_UnusedSlot transfer_rect;
  PF_UnusedSlot transform_world;
  PF_UnusedSlot host_new_handle;
  PF_UnusedSlot host_lock_handle;
  PF_UnusedSlot host_unlock_handle;
  PF_UnusedSlot host_dispose_handle;
  PF_UnusedSlot get_callback_addr;
  PF_UnusedSlot app;
  PF_ANSICallbacks ansi;
  PF_ColorCallbacks colorCB;
  PF_UnusedSlot get_platform_data;
  PF_UnusedSlot host_get_handle_size;
  PF_UnusedSlot iterate_origin_non_clip_src;
  PF_UnusedSlot iterate_generic;
  PF_UnusedSlot host_resize_handle;
  PF_UnusedSlot subpixel_sample16;
  PF_UnusedSlot area_sample16;
  PF_UnusedSlot fill16;
  PF_UnusedSlot premultiply_color16;
  PF_UnusedSlot iterate16;
  PF_UnusedSlot iterate_origin16;
  PF_UnusedSlot iterate_origin_non_clip_src16;
  PF_UnusedSlot get_pixel_data8;
  PF_UnusedSlot get_pixel_data16;
  A_long reserved[1];
} PF_UtilCallbacks;

struct SPBasicSuite;

/* What the host tells the effect with every command. The effect reads
 * `inter` (three callbacks), `utils`, `effect_ref`, the three time members,
 * `global_data` and `pica_basicP`; the rest is described for its place. */
typedef struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks *utils;
  PF_ProgPtr effect_ref;
  PF_Quality quality;
  PF_SpecVersion version;
  A_long serial_num;
  A_AppID appl_id;
  A_long num_params;
  A_long reserved;
  A_long what_cpu;
  A_long what_fpu;
  A_long current_time;
  A_long time_step;
  A_long total_time;
  A_long local_time_step;
  A_u_long time_scale;
  PF_Field field;
  PF_Fixed shutter_angle;
  A_long width;
  A_long height;
  PF_Rect extent_hint;
  A_long output_origin_x;
  A_long output_origin_y;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_RationalScale pixel_aspect_ratio;
  PF_InFlags in_flags;
  PF_Handle global_data;
  PF_Handle sequence_data;
  PF_Handle frame_data;
  A_long start_sampL;
  A_long dur_sampL;
  A_long total_sampL;
  PF_SoundWorld src_snd;
  struct SPBasicSuite *pica_basicP;
  A_long pre_effect_source_origin_x;
  A_long pre_effect_source_origin_y;
  PF_Fixed shutter_phase;
} PF_InData;

/* What the effect tells the host. The effect writes `my_version`,
 * `global_data`, `num_params`, `out_flags`, `return_msg` and `out_flags2`. */
typedef struct PF_OutData {
  A_u_long my_version;
  A_char name[32];
  PF_Handle global_data;
  A_long num_params;
  PF_Handle sequence_data;
  A_long flat_sdata_size;
  PF_Handle frame_data;
  A_long width;
  A_long height;
  PF_Point origin;
  PF_OutFlags out_flags;
  A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
  A_long start_sampL;
  A_long dur_sampL;
  PF_SoundWorld dest_snd;
  PF_OutFlags2 out_flags2;
} PF_OutData;

/* The one exported function of an effect. */
typedef PF_Err (*PF_EntryPointFunc)(PF_Cmd cmd, PF_InData *in_data, PF_OutData *out_data,
                                    PF_ParamDef *params[], PF_LayerDef *output, void *extra);

#define PF_ENTRY_POINT_NAME "EntryPointFunc"

#ifdef __cplusplus
}
#endif

#endif
