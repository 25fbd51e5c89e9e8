#include "shell/params.h"

#include <cstring>

#include "shell/suite_cache.h"

namespace qv {
namespace {

constexpr bool TableIsInIndexOrder() {
  for (std::size_t i = 0; i < kParamFacts.size(); ++i) {
    if (kParamFacts[i].index != static_cast<PF_ParamIndex>(i + 1)) {
      return false;
    }
  }
  return true;
}
static_assert(TableIsInIndexOrder());

constexpr bool NamesFit() {
  for (const ParamFacts& facts : kParamFacts) {
    if (std::char_traits<char>::length(facts.name) > PF_MAX_EFFECT_PARAM_NAME_LEN) {
      return false;
    }
  }
  return true;
}
static_assert(NamesFit());

// The popups choose among the engine's own values, counting from 1.
static_assert(KindOf<PopupParam>(kParamBaseOn).NumChoices() == kBaseAlpha);
static_assert(KindOf<PopupParam>(kParamTones).NumChoices() == kPentone);
static_assert(kColourUse.size() == static_cast<std::size_t>(kPentone));

// Filled in the order of the host's own record for each kind. Everything not
// written stays zero.
struct DefinitionWriter {
  PF_ParamDef& def;

  void operator()(const PopupParam& popup) const {
    // The choices live in the static table, so the host may keep the pointer.
    def.u.pd.num_choices = popup.NumChoices();
    def.u.pd.dephault = popup.dephault;
    def.u.pd.value = popup.dephault;
    def.u.pd.u.namesptr = popup.choices.data();
  }
  void operator()(const ColorParam& color) const {
    def.u.cd.value = color.dephault;
    def.u.cd.dephault = color.dephault;
  }
  void operator()(const FloatSliderParam& slider) const {
    def.u.fs_d.value = slider.dephault;
    def.u.fs_d.valid_min = slider.valid_min;
    def.u.fs_d.valid_max = slider.valid_max;
    def.u.fs_d.slider_min = slider.slider_min;
    def.u.fs_d.slider_max = slider.slider_max;
    def.u.fs_d.dephault = slider.dephault;
    def.u.fs_d.precision = slider.precision;
    def.u.fs_d.display_flags = slider.display_flags;
    def.u.fs_d.fs_flags = 0;
    def.u.fs_d.curve_tolerance = slider.curve_tolerance;
  }
  void operator()(const PercentSliderParam& slider) const {
    def.u.fd.value = FixedFromWhole(slider.dephault);
    def.u.fd.valid_min = FixedFromWhole(slider.valid_min);
    def.u.fd.valid_max = FixedFromWhole(slider.valid_max);
    def.u.fd.slider_min = FixedFromWhole(slider.slider_min);
    def.u.fd.slider_max = FixedFromWhole(slider.slider_max);
    def.u.fd.dephault = FixedFromWhole(slider.dephault);
    def.u.fd.precision = slider.precision;
    def.u.fd.display_flags = slider.display_flags;
  }
  void operator()(const GroupStartParam&) const {}
  void operator()(const GroupEndParam&) const {}
};

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[]) {
  PF_Err err = PF_Err_NONE;
  PF_ParamDef def;
  for (const ParamFacts& facts : kParamFacts) {
    std::memset(&def, 0, sizeof def);
    def.param_type = ParamTypeOf(facts.kind);
    in_data->utils->ansi.strcpy(def.name_do_not_use_directly, facts.name);
    def.uu.id = facts.index;
    def.flags = facts.flags;
    std::visit(DefinitionWriter{def}, facts.kind);
    err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    if (err) {
      return err;
    }
  }
  out_data->num_params = kParamCount;
  return err;
}

PF_Err UpdateParamsUi(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]) {
  // A host always passes the parameters; without them there is nothing to
  // refresh, and the command fails as a refused suite would, before any step.
  if (params == nullptr || params[kParamTones] == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  for (ParamIndex index : kColourParams) {
    if (params[index] == nullptr) {
      return PF_Err_BAD_CALLBACK_PARAM;
    }
  }

  SuiteCache suites(in_data->pica_basicP);
  // Local copies: the host's own definitions are only read, and the change
  // reaches the host through PF_UpdateParamUI.
  PF_ParamDef defs[kParamCount];
  std::memset(defs, 0, sizeof defs);
  for (ParamIndex index : kColourParams) {
    defs[index] = *params[index];
  }

  PF_Err err = PF_Err_NONE;
  // A tone count outside the table changes no control.
  if (const ColourUse* use = FindColourUse(params[kParamTones]->u.pd.value)) {
    for (std::size_t i = 0; i < kColourParams.size() && !err; ++i) {
      PF_ParamDef& def = defs[kColourParams[i]];
      if (use->enabled[i]) {
        def.ui_flags &= ~PF_PUI_DISABLED;
      } else {
        def.ui_flags |= PF_PUI_DISABLED;
      }
      err = suites.ParamUtilsSuite().PF_UpdateParamUI(in_data->effect_ref, kColourParams[i], &def);
    }
  }
  // The host redraws whatever the updates returned; a refused suite raises
  // before this, and then nothing was changed to redraw.
  out_data->out_flags |= PF_OutFlag_REFRESH_UI;
  return err;
}

}  // namespace qv
