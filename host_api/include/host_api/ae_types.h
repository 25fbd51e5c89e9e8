// Basic scalar types, error codes, pixels, rectangles and worlds of the host's
// effect interface. Plain C: the plug-in and the host may come from different
// compilers. Every record has the host's published layout (Windows x64, the
// same on Linux x86-64); layout_checks.h pins each offset and size.
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
typedef A_long A_AppID;

typedef A_char PF_Boolean; /* a signed char on Windows */
typedef A_long PF_Err;
typedef A_long PF_Fixed; /* signed 16.16 */
typedef A_u_long PF_UFixed;
typedef double PF_FpLong;
typedef float PF_FpShort;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_long PF_PixelFormat;
typedef A_long PF_Quality;
typedef A_long PF_Field;
typedef A_long PF_InFlags;
typedef A_long PF_WorldFlags;

/* A function slot the effect never calls. The host fills it with its own
 * function; the declaration only keeps the slot's place in the record. */
typedef void (*PF_UnusedSlot)(void);

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
  PF_Interrupt_CANCEL = 517,
  PF_Err_CANNOT_PARSE_KEYFRAME_TEXT = 518
};

typedef struct PF_Pixel {
  A_u_char alpha;
  A_u_char red;
  A_u_char green;
  A_u_char blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;
typedef PF_Pixel PF_UnionablePixel;

typedef struct PF_Pixel16 {
  A_u_short alpha;
  A_u_short red;
  A_u_short green;
  A_u_short blue;
} PF_Pixel16;

typedef struct PF_PixelFloat {
  PF_FpShort alpha;
  PF_FpShort red;
  PF_FpShort green;
  PF_FpShort blue;
} PF_PixelFloat;
typedef PF_PixelFloat PF_Pixel32;

typedef PF_Pixel *PF_PixelPtr;

/* Right and bottom are exclusive; empty unless left < right and top < bottom. */
typedef struct PF_LRect {
  A_long left;
  A_long top;
  A_long right;
  A_long bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;
typedef PF_LRect PF_UnionableRect;

typedef struct PF_RationalScale {
  A_long num;
  A_u_long den;
} PF_RationalScale;

typedef struct PF_Point {
  A_long h;
  A_long v;
} PF_Point;

typedef struct PF_SpecVersion {
  A_short major;
  A_short minor;
} PF_SpecVersion;

typedef A_short PF_SoundChannels;
typedef A_short PF_SoundFormat;
typedef A_short PF_SoundSampleSize;

typedef struct PF_SoundFormatInfo {
  PF_FpLong rateF;
  PF_SoundChannels num_channels;
  PF_SoundFormat format;
  PF_SoundSampleSize sample_size;
} PF_SoundFormatInfo;

typedef struct PF_SoundWorld {
  PF_SoundFormatInfo fi;
  A_long num_samples;
  void *dataP;
} PF_SoundWorld;

/* Channel values 0..255 (8-bit), 0..32768 (16-bit), or floats (32-bit). */
enum {
  PF_MAX_CHAN8 = 255,
  PF_MAX_CHAN16 = 32768
};

/* A world of pixels. `rowbytes` may exceed width times the pixel size: rows
 * are padded, so walk rows by `rowbytes`. The effect reads only `data`,
 * `rowbytes`, `width` and `height`; the rest is the host's. */
typedef struct PF_LayerDef {
  void *reserved0;
  void *reserved1;
  PF_WorldFlags world_flags;
  PF_PixelPtr data;
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_UnionableRect extent_hint;
  void *platform_ref;
  A_long reserved_long1;
  void *reserved_long4;
  PF_RationalScale pix_aspect_ratio;
  void *reserved_long2;
  A_long origin_x;
  A_long origin_y;
  A_long reserved_long3;
  A_long dephault;
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

/* Pixel formats, four-character codes as 32-bit values (the characters are
 * the bytes in memory, lowest first). */
enum {
  PF_PixelFormat_ARGB32 = 0x62677261,      /* "argb": 8 bits */
  PF_PixelFormat_ARGB64 = 0x36316561,      /* "ae16": 16 bits */
  PF_PixelFormat_ARGB128 = 0x32336561,     /* "ae32": float */
  PF_PixelFormat_GPU_BGRA128 = 0x41444340, /* "@CDA": GPU worlds only */
  PF_PixelFormat_RESERVED = 0x61444340,    /* "@CDa" */
  PF_PixelFormat_BGRA32 = 0x61726762,      /* "bgra": 8 bits */
  PF_PixelFormat_VUYA32 = 0x61797576,      /* "vuya" */
  PF_PixelFormat_NTSCDV25 = 0x326E7664,    /* "dvn2" */
  PF_PixelFormat_PALDV25 = 0x32707664,     /* "dvp2" */
  PF_PixelFormat_INVALID = 0x66646162,     /* "badf" */
  PF_PixelFormat_FORCE_LONG_INT = -1
};

/* "BGra": float pixels that the effect renders like "ae32". The code is not
 * one of the SDK's PF_PixelFormat values (the SDK's GPU float format is
 * PF_PixelFormat_GPU_BGRA128, which a CPU render never sees). */
enum { QV_PixelFormat_BGRA128 = 0x61724742 };

#ifdef __cplusplus
}
#endif

#endif
