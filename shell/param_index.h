// Position of each control in the host's parameter array. The position is also
// the control's disk identifier, which the host saves in projects: never
// reorder, insert or remove.
#pragma once

#include "host_api/ae_types.h"

namespace qv {

enum ParamIndex : PF_ParamIndex {
  kParamInput = 0,  // the host's input layer, not registered by the effect
  kParamBaseOn = 1,
  kParamTones = 2,
  kParamHighlights = 3,
  kParamBrights = 4,
  kParamMidtones = 5,
  kParamDarktones = 6,
  kParamShadows = 7,
  kParamLevelsStart = 8,
  kParamInputBlack = 9,
  kParamInputWhite = 10,
  kParamGamma = 11,
  kParamOutputBlack = 12,
  kParamOutputWhite = 13,
  kParamLevelsEnd = 14,
  kParamHighlightsOpacity = 15,
  kParamShadowsOpacity = 16,
  kParamBlend = 17,
  kParamCount = 18,
};

}  // namespace qv
