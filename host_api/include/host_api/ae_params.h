// Parameter definitions as the host stores them: one record per control, with
// a union of every value kind the host knows (the effect uses four of them).
#ifndef HOST_API_AE_PARAMS_H
#define HOST_API_AE_PARAMS_H

#include "host_api/ae_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long PF_ParamType;
enum {
  PF_Param_RESERVED = -1,
  PF_Param_LAYER = 0,
  PF_Param_SLIDER = 1,
  PF_Param_FIX_SLIDER = 2,
  PF_Param_ANGLE = 3,
  PF_Param_CHECKBOX = 4,
  PF_Param_COLOR = 5,
  PF_Param_POINT = 6,
  PF_Param_POPUP = 7,
  PF_Param_CUSTOM = 8,
  PF_Param_NO_DATA = 9,
  PF_Param_FLOAT_SLIDER = 10,
  PF_Param_ARBITRARY_DATA = 11,
  PF_Param_PATH = 12,
  PF_Param_GROUP_START = 13,
  PF_Param_GROUP_END = 14,
  PF_Param_BUTTON = 15,
  PF_Param_RESERVED2 = 16,
  PF_Param_RESERVED3 = 17,
  PF_Param_POINT_3D = 18
};

typedef A_long PF_ParamFlags;
enum { PF_ParamFlag_START_COLLAPSED = 0x20 };

typedef A_long PF_ParamUIFlags;
enum { PF_PUI_DISABLED = 0x20 };

typedef A_long PF_ChangeFlags;

typedef A_short PF_Precision;
enum {
  PF_Precision_INTEGER = 0,
  PF_Precision_TENTHS = 1,
  PF_Precision_HUNDREDTHS = 2,
  PF_Precision_THOUSANDTHS = 3,
  PF_Precision_TEN_THOUSANDTHS = 4
};

typedef A_short PF_ValueDisplayFlags;
enum {
  PF_ValueDisplayFlag_NONE = 0,
  PF_ValueDisplayFlag_PERCENT = 1,
  PF_ValueDisplayFlag_PIXEL = 2,
  PF_ValueDisplayFlag_RESERVED1 = 4,
  PF_ValueDisplayFlag_REVERSE = 8
};

typedef A_u_long PF_FSliderFlags;
enum {
  PF_FSliderFlag_NONE = 0,
  PF_FSliderFlag_WANT_PHASE = 1
};

enum {
  PF_MAX_EFFECT_PARAM_NAME_LEN = 31,
  PF_MAX_PARAM_DESCRIPTION_LEN = 31,
  PF_MAX_PARAM_VALUE_LEN = 31
};

/* An integer slider (not used by the effect). */
typedef struct PF_SliderDef {
  PF_ParamValue value;
  A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
  A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
  PF_ParamValue valid_min;
  PF_ParamValue valid_max;
  PF_ParamValue slider_min;
  PF_ParamValue slider_max;
  PF_ParamValue dephault;
} PF_SliderDef;

typedef struct PF_FixedSliderDef {
  PF_Fixed value;
  A_char value_str[PF_MAX_PARAM_VALUE_LEN + 1];
  A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
  PF_Fixed valid_min;
  PF_Fixed valid_max;
  PF_Fixed slider_min;
  PF_Fixed slider_max;
  PF_Fixed dephault;
  PF_Precision precision;
  PF_ValueDisplayFlags display_flags;
} PF_FixedSliderDef;

typedef struct PF_FloatSliderDef {
  PF_FpLong value;
  PF_FpLong phase;
  A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
  PF_FpShort valid_min;
  PF_FpShort valid_max;
  PF_FpShort slider_min;
  PF_FpShort slider_max;
  PF_FpShort dephault;
  PF_Precision precision;
  PF_ValueDisplayFlags display_flags;
  PF_FSliderFlags fs_flags;
  PF_FpShort curve_tolerance;
  PF_Boolean useExponent;
  PF_FpShort exponent;
} PF_FloatSliderDef;

/* Degrees, 16.16 (not used by the effect). */
typedef struct PF_AngleDef {
  PF_Fixed value;
  PF_Fixed dephault;
  PF_Fixed valid_min;
  PF_Fixed valid_max;
} PF_AngleDef;

/* Not used by the effect. */
typedef struct PF_CheckBoxDef {
  PF_ParamValue value;
  PF_Boolean dephault;
  PF_Boolean reserved;
  A_short reserved1;
  union {
    const A_char *nameptr;
  } u;
} PF_CheckBoxDef;

typedef struct PF_ColorDef {
  PF_UnionablePixel value;
  PF_UnionablePixel dephault;
} PF_ColorDef;

/* A 2-D point, 16.16 (not used by the effect). */
typedef struct PF_PointDef {
  PF_Fixed x_value;
  PF_Fixed y_value;
  A_char reserved[3];
  PF_Boolean restrict_bounds;
  PF_Fixed x_dephault;
  PF_Fixed y_dephault;
} PF_PointDef;

typedef struct PF_PopupDef {
  PF_ParamValue value; /* counts from 1 */
  A_short num_choices;
  A_short dephault;
  union {
    const A_char *namesptr; /* "One|Two|Three" */
  } u;
} PF_PopupDef;

typedef void **PF_ArbitraryH;

/* Not used by the effect. */
typedef struct PF_ArbitraryDef {
  A_short id;
  A_short pad;
  PF_ArbitraryH dephault;
  PF_ArbitraryH value;
  void *refconPV;
} PF_ArbitraryDef;

/* Not used by the effect. */
typedef struct PF_PathDef {
  A_u_long path_id;
  A_long reserved0;
  A_long dephault;
} PF_PathDef;

/* Not used by the effect. */
typedef struct PF_ButtonDef {
  PF_ParamValue value;
  A_short reserved;
  A_short reserved1;
  union {
    const A_char *namesptr;
  } u;
} PF_ButtonDef;

/* Not used by the effect. */
typedef struct PF_Point3DDef {
  PF_FpLong x_value;
  PF_FpLong y_value;
  PF_FpLong z_value;
  PF_FpLong x_dephault;
  PF_FpLong y_dephault;
  PF_FpLong z_dephault;
  char reserved[16];
} PF_Point3DDef;

/* The layer definition (a world) is the largest member: the union is as
 * large as it, whatever kind a definition holds. */
typedef union PF_ParamDefUnion {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_FixedSliderDef fd;
  PF_AngleDef ad;
  PF_CheckBoxDef bd;
  PF_ColorDef cd;
  PF_PointDef td;
  PF_PopupDef pd;
  PF_FloatSliderDef fs_d;
  PF_ArbitraryDef arb_d;
  PF_PathDef path_d;
  PF_ButtonDef button_d;
  PF_Point3DDef point3d_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
  union {
    A_long id; /* disk identifier, stable across versions */
    PF_ChangeFlags change_flags;
  } uu;
  PF_ParamUIFlags ui_flags;
  A_short ui_width;
  A_short ui_height;
  PF_ParamType param_type;
  /* The control's name; older headers call it `name`. */
  A_char name_do_not_use_directly[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
} PF_ParamDef, *PF_ParamDefPtr, **PF_ParamList;

#ifdef __cplusplus
}
#endif

#endif
