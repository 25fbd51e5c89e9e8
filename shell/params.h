// The effect's controls, described once: registration builds the host's
// definitions from this table, and the rest of the code reads names, ranges
// and defaults from it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <variant>

#include "engine/tone_params.h"
#include "host_api/ae_all.h"
#include "shell/param_index.h"

namespace qv {

// Popup values count from 1; `choices` are separated by '|'.
struct PopupParam {
  std::string_view choices;
  A_short dephault;

  constexpr A_short NumChoices() const {
    A_short count = 1;
    for (char c : choices) {
      count = static_cast<A_short>(count + (c == '|'));
    }
    return count;
  }
};

struct ColorParam {
  PF_Pixel dephault;  // alpha, red, green, blue
};

struct FloatSliderParam {
  float valid_min, valid_max;
  float slider_min, slider_max;
  float dephault;
  A_short precision;
  A_short display_flags;
  float curve_tolerance;
};

// A fixed-point slider shown as a percentage; values in whole percent.
struct PercentSliderParam {
  A_long valid_min, valid_max;
  A_long slider_min, slider_max;
  A_long dephault;
  A_short precision;
  A_short display_flags;
};

struct GroupStartParam {};
struct GroupEndParam {};

using ParamKind = std::variant<PopupParam, ColorParam, FloatSliderParam, PercentSliderParam,
                               GroupStartParam, GroupEndParam>;

struct ParamFacts {
  ParamIndex index;
  const char* name;
  PF_ParamFlags flags;
  ParamKind kind;
};

constexpr PF_ParamType ParamTypeOf(const ParamKind& kind) {
  struct {
    constexpr PF_ParamType operator()(const PopupParam&) const { return PF_Param_POPUP; }
    constexpr PF_ParamType operator()(const ColorParam&) const { return PF_Param_COLOR; }
    constexpr PF_ParamType operator()(const FloatSliderParam&) const { return PF_Param_FLOAT_SLIDER; }
    constexpr PF_ParamType operator()(const PercentSliderParam&) const { return PF_Param_FIX_SLIDER; }
    constexpr PF_ParamType operator()(const GroupStartParam&) const { return PF_Param_GROUP_START; }
    constexpr PF_ParamType operator()(const GroupEndParam&) const { return PF_Param_GROUP_END; }
  } type_of;
  return std::visit(type_of, kind);
}

// 16.16 fixed point: 100 % is 0x640000.
constexpr PF_Fixed FixedFromWhole(A_long value) { return value * 65536; }

namespace param_kinds {

inline constexpr FloatSliderParam kBlackPoint = {-100.0f, 100.0f, 0.0f, 1.0f, 0.0f,
                                                 1, PF_ValueDisplayFlag_PIXEL, 0.05f};
inline constexpr FloatSliderParam kWhitePoint = {-100.0f, 100.0f, 0.0f, 1.0f, 1.0f,
                                                 1, PF_ValueDisplayFlag_PIXEL, 0.05f};
inline constexpr FloatSliderParam kGamma = {0.01f, 50.0f, 0.01f, 10.0f, 1.0f,
                                            2, PF_ValueDisplayFlag_NONE, 0.05f};

constexpr PercentSliderParam Percent(A_long dephault) {
  return {0, 100, 0, 100, dephault, 1, PF_ValueDisplayFlag_PERCENT};
}

constexpr ColorParam Color(A_u_char red, A_u_char green, A_u_char blue) {
  return {PF_Pixel{255, red, green, blue}};
}

}  // namespace param_kinds

// Every control the effect registers, in index order (the input layer, index
// 0, belongs to the host).
inline constexpr std::array<ParamFacts, kParamCount - 1> kParamFacts = {{
    {kParamBaseOn, "Base On", 0,
     PopupParam{"Lightness|Luminance|Red|Green|Blue|Alpha", kBaseLightness}},
    {kParamTones, "Tones", 0, PopupParam{"Monotone|Duotone|Tritone|Pentone", kTritone}},
    {kParamHighlights, "Highlights", PF_ParamFlag_START_COLLAPSED,
     param_kinds::Color(255, 255, 255)},
    {kParamBrights, "Brights", PF_ParamFlag_START_COLLAPSED, param_kinds::Color(192, 170, 120)},
    {kParamMidtones, "Midtones", PF_ParamFlag_START_COLLAPSED, param_kinds::Color(128, 100, 70)},
    {kParamDarktones, "Darktones", PF_ParamFlag_START_COLLAPSED, param_kinds::Color(64, 50, 10)},
    {kParamShadows, "Shadows", PF_ParamFlag_START_COLLAPSED, param_kinds::Color(0, 0, 0)},
    {kParamLevelsStart, "Levels", PF_ParamFlag_START_COLLAPSED, GroupStartParam{}},
    {kParamInputBlack, "Input Black", PF_ParamFlag_START_COLLAPSED, param_kinds::kBlackPoint},
    {kParamInputWhite, "Input White", PF_ParamFlag_START_COLLAPSED, param_kinds::kWhitePoint},
    {kParamGamma, "Gamma", PF_ParamFlag_START_COLLAPSED, param_kinds::kGamma},
    {kParamOutputBlack, "Output Black", PF_ParamFlag_START_COLLAPSED, param_kinds::kBlackPoint},
    {kParamOutputWhite, "Output White", PF_ParamFlag_START_COLLAPSED, param_kinds::kWhitePoint},
    {kParamLevelsEnd, "", 0, GroupEndParam{}},
    {kParamHighlightsOpacity, "Highlights Opacity", PF_ParamFlag_START_COLLAPSED,
     param_kinds::Percent(100)},
    {kParamShadowsOpacity, "Shadows Opacity", PF_ParamFlag_START_COLLAPSED,
     param_kinds::Percent(0)},
    {kParamBlend, "Blend with Original", PF_ParamFlag_START_COLLAPSED, param_kinds::Percent(0)},
}};

// The facts of a registered control, index 1 to kParamCount - 1.
constexpr const ParamFacts& FactsOf(ParamIndex index) {
  return kParamFacts[static_cast<std::size_t>(index) - 1];
}

// The kind-specific facts of a control, e.g. KindOf<FloatSliderParam>(kParamGamma).
template <class Kind>
constexpr const Kind& KindOf(ParamIndex index) {
  return std::get<Kind>(FactsOf(index).kind);
}

// The colour controls, top to bottom, and which of them each "Tones" choice
// uses; the unused ones are greyed out.
inline constexpr std::array<ParamIndex, 5> kColourParams = {
    kParamHighlights, kParamBrights, kParamMidtones, kParamDarktones, kParamShadows};

struct ColourUse {
  ToneCount tones;
  std::array<bool, kColourParams.size()> enabled;  // in kColourParams order
};

inline constexpr std::array<ColourUse, 4> kColourUse = {{
    {kMonotone, {false, false, true, false, false}},
    {kDuotone, {true, false, false, false, true}},
    {kTritone, {true, false, true, false, true}},
    {kPentone, {true, true, true, true, true}},
}};

// The row of kColourUse for a "Tones" value, or null for a value outside it.
constexpr const ColourUse* FindColourUse(A_long tones) {
  for (const ColourUse& use : kColourUse) {
    if (use.tones == tones) {
      return &use;
    }
  }
  return nullptr;
}

// PF_Cmd_PARAMS_SETUP: adds every control of kParamFacts in index order. The
// first failing add_param ends registration with its code, num_params unset.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]);

// PF_Cmd_UPDATE_PARAMS_UI: greys out the colours the chosen "Tones" leaves
// unused and asks the host to redraw the controls.
PF_Err UpdateParamsUi(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]);

}  // namespace qv
