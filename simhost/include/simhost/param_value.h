// A parameter value as a test sets it: one alternative per kind of control the
// host keeps values for.
#ifndef SIMHOST_PARAM_VALUE_H
#define SIMHOST_PARAM_VALUE_H

#include <variant>

#include "host_api/ae_params.h"

namespace simhost {

struct PopupValue {  // popup (PF_Param_POPUP): the item, counting from 1
  A_long value = 1;
  friend bool operator==(const PopupValue&, const PopupValue&) = default;
};

struct FixedValue {  // fixed slider (PF_Param_FIX_SLIDER): signed 16.16
  PF_Fixed value = 0;
  friend bool operator==(const FixedValue&, const FixedValue&) = default;
};

// A 16.16 value from a plain number, rounded to the nearest step (100 -> 0x640000).
FixedValue FixedFromDouble(double v);

// PF_Pixel: colour (PF_Param_COLOR); double: float slider (PF_Param_FLOAT_SLIDER).
using ParamValue = std::variant<PopupValue, PF_Pixel, double, FixedValue>;

}  // namespace simhost

#endif
