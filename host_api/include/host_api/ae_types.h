// Basic scalar types, error codes and pixel records of the host's effect
// interface. Plain C: the plug-in and the host may come from different compilers.
#ifndef HOST_API_AE_TYPES_H
#define HOST_API_AE_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef unsigned char A_u_char;
typedef unsigned char A_Boolean;
typedef uint64_t A_HandleSize;
typedef A_long A_Err;

typedef unsigned char PF_Boolean;
typedef A_long PF_Err;
typedef A_long PF_Fixed; /* signed 16.16 */
typedef double PF_FpLong;
typedef float PF_FpShort;
typedef A_long PF_ParamIndex;
typedef A_long PF_PixelFormat;

/* A host memory handle: opaque to the plug-in, which only locks, unlocks and
 * disposes of it through the handle suite. */
typedef void **PF_Handle;

/* The host's identity of one effect instance in one call. */
typedef struct PF_ProgressInfo *PF_ProgPtr;

/* Error codes. */
enum {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
  PF_Err_INVALID_INDEX = 513,
  PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
  PF_Err_INVALID_CALLBACK = 515,
  PF_Err_BAD_CALLBACK_PARAM = 516,
  PF_Interrupt_CANCEL = 517
};

typedef struct PF_Pixel8 {
  A_u_char alpha, red, green, blue;
} PF_Pixel8;
typedef PF_Pixel8 PF_Pixel;

typedef struct PF_Pixel16 {
  A_u_short alpha, red, green, blue;
} PF_Pixel16;

typedef struct PF_PixelFloat {
  PF_FpShort alpha, red, green, blue;
} PF_PixelFloat;

/* Right and bottom are exclusive; empty unless left < right and top < bottom. */
typedef struct PF_LRect {
  A_long left, top, right, bottom;
} PF_LRect;

typedef struct PF_RationalScale {
  A_long num;
  A_u_long den;
} PF_RationalScale;

/* Channel values 0..255 (8-bit), 0..32768 (16-bit), or floats (32-bit). */
enum {
  PF_MAX_CHAN8 = 255,
  PF_MAX_CHAN16 = 32768
};

/* A world of pixels. `rowbytes` may exceed width times the pixel size: rows
 * are padded, so walk rows by `rowbytes`. `platform_ref` is the host's own. */
typedef struct PF_EffectWorld {
  A_long world_flags;
  void *data;
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_LRect extent_hint;
  void *platform_ref;
} PF_EffectWorld;
typedef PF_EffectWorld PF_LayerDef;

/* Pixel formats, four-character codes as 32-bit values. */
enum {
  PF_PixelFormat_ARGB32 = 0x62677261,  /* "argb": 8 bits */
  PF_PixelFormat_BGRA32 = 0x61726762,  /* "bgra": 8 bits */
  PF_PixelFormat_ARGB64 = 0x36316561,  /* "ae16": 16 bits */
  PF_PixelFormat_ARGB128 = 0x32336561, /* "ae32": float */
  PF_PixelFormat_GPU_BGRA128 = 0x61724742, /* "BGra": float */
  PF_PixelFormat_INVALID = 0x66646162  /* "badf" */
};

#ifdef __cplusplus
}
#endif

#endif
