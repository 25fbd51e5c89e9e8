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

/* Callbacks the host offers in PF_InData. */
typedef struct PF_InteractCallbacks {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef *param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef *param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
} PF_InteractCallbacks;

typedef struct PF_ANSICallbacks {
  A_long (*sprintf)(A_char *buffer, const A_char *format, ...);
  A_char *(*strcpy)(A_char *dest, const A_char *src);
} PF_ANSICallbacks;

typedef struct PF_UtilCallbacks {
  PF_ANSICallbacks ansi;
} PF_UtilCallbacks;

struct SPBasicSuite;

typedef struct PF_InData {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks *utils;
  PF_ProgPtr effect_ref;
  A_long current_time;
  A_long time_step;
  A_u_long time_scale;
  A_long width;
  A_long height;
  PF_Handle global_data;
  struct SPBasicSuite *pica_basicP;
} PF_InData;

typedef struct PF_OutData {
  A_u_long my_version;
  PF_Handle global_data;
  A_long num_params;
  PF_OutFlags out_flags;
  A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
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
