#include "render/smart_pre_render.h"

#include <array>
#include <cstring>

#include "engine/float_state.h"
#include "render/pre_render_data.h"
#include "shell/params.h"
#include "shell/suite_cache.h"

namespace qv {
namespace {

// Every value parameter, in the order they are read; the layer (0) and the
// Levels group's start and end carry no value.
constexpr std::array<PF_ParamIndex, 15> kValueParams = {
    kParamBaseOn,      kParamTones,      kParamHighlights,  kParamBrights,
    kParamMidtones,    kParamDarktones,  kParamShadows,     kParamInputBlack,
    kParamInputWhite,  kParamGamma,      kParamOutputBlack, kParamOutputWhite,
    kParamHighlightsOpacity, kParamShadowsOpacity, kParamBlend};

bool IsEmpty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

PixelFloat Colour(const PF_ParamDef& def) {
  const PF_Pixel& c = def.u.cd.value;
  return FromPixel8(Pixel8{c.alpha, c.red, c.green, c.blue});
}

// A 16.16 percentage as a fraction: divided by 65536, then by 100, in that order.
double Fraction(const PF_ParamDef& def) {
  return static_cast<double>(def.u.fd.value) / 65536.0 * 0.01;
}

// Checks in, on every way out, each parameter that was checked out.
class ParamCheckouts {
 public:
  explicit ParamCheckouts(PF_InData* in_data) : in_data_(in_data) {
    std::memset(defs_, 0, sizeof defs_);
  }
  ~ParamCheckouts() {
    for (PF_ParamIndex index : kValueParams) {
      if (checked_out_[static_cast<std::size_t>(index)]) {
        in_data_->inter.checkin_param(in_data_->effect_ref, &defs_[index]);
      }
    }
  }
  ParamCheckouts(const ParamCheckouts&) = delete;
  ParamCheckouts& operator=(const ParamCheckouts&) = delete;

  PF_Err CheckOutAll() {
    for (PF_ParamIndex index : kValueParams) {
      PF_Err err = in_data_->inter.checkout_param(in_data_->effect_ref, index,
                                                  in_data_->current_time, in_data_->time_step,
                                                  in_data_->time_scale, &defs_[index]);
      if (err) return err;
      checked_out_[static_cast<std::size_t>(index)] = true;
    }
    return PF_Err_NONE;
  }
  const PF_ParamDef (&Defs() const)[kParamCount] { return defs_; }

 private:
  PF_InData* in_data_;
  PF_ParamDef defs_[kParamCount];
  std::array<bool, kParamCount> checked_out_{};
};

}  // namespace

void UnionRect(const PF_LRect& source, PF_LRect& dest) {
  if (IsEmpty(dest)) {
    dest = source;
  } else if (!IsEmpty(source)) {
    dest.left = source.left < dest.left ? source.left : dest.left;
    dest.top = source.top < dest.top ? source.top : dest.top;
    dest.right = source.right > dest.right ? source.right : dest.right;
    dest.bottom = source.bottom > dest.bottom ? source.bottom : dest.bottom;
  }
}

ToneParams ToneParamsFromDefs(const PF_ParamDef (&defs)[kParamCount]) {
  ToneParams p{};
  p.baseOn = defs[kParamBaseOn].u.pd.value;
  p.tones = defs[kParamTones].u.pd.value;
  p.highlights = Colour(defs[kParamHighlights]);
  p.brights = Colour(defs[kParamBrights]);
  p.midtones = Colour(defs[kParamMidtones]);
  p.darktones = Colour(defs[kParamDarktones]);
  p.shadows = Colour(defs[kParamShadows]);
  p.inputBlack = defs[kParamInputBlack].u.fs_d.value;
  p.inputWhite = defs[kParamInputWhite].u.fs_d.value;
  p.gamma = defs[kParamGamma].u.fs_d.value;
  p.outputBlack = defs[kParamOutputBlack].u.fs_d.value;
  p.outputWhite = defs[kParamOutputWhite].u.fs_d.value;
  p.highlightsOpacity = Fraction(defs[kParamHighlightsOpacity]);
  p.shadowsOpacity = Fraction(defs[kParamShadowsOpacity]);
  p.blend = Fraction(defs[kParamBlend]);
  return p;
}

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* /*out_data*/, PF_PreRenderExtra* extra) {
  if (in_data == nullptr || extra == nullptr || extra->input == nullptr ||
      extra->output == nullptr || extra->cb == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  PF_RenderRequest input_request = extra->input->output_request;

  SuiteCache suites(in_data->pica_basicP);
  const PF_HandleSuite1& handles = suites.HandleSuite();
  PF_Handle handle = handles.host_new_handle(sizeof(ToneParams));
  if (handle == nullptr) return PF_Err_OUT_OF_MEMORY;
  void* record = handles.host_lock_handle(handle);
  if (record == nullptr) {
    handles.host_dispose_handle(handle);
    return PF_Err_OUT_OF_MEMORY;
  }

  PF_Err err = PF_Err_NONE;
  {
    ParamCheckouts params(in_data);
    err = params.CheckOutAll();
    if (!err) {
      const ToneParams snapshot = [&] {
        // The conversions round; the host's thread may round otherwise.
        const ScopedFloatState float_state(FloatUnits::kSse);
        return ToneParamsFromDefs(params.Defs());
      }();
      std::memcpy(record, &snapshot, sizeof snapshot);

      input_request.preserve_rgb_of_zero_alpha = true;
      PF_CheckoutResult checkout;
      std::memset(&checkout, 0, sizeof checkout);
      err = extra->cb->checkout_layer(in_data->effect_ref, kParamInput, 0, &input_request,
                                      in_data->current_time, in_data->time_step,
                                      in_data->time_scale, &checkout);
      if (!err) {
        UnionRect(checkout.result_rect, extra->output->result_rect);
        UnionRect(checkout.max_result_rect, extra->output->max_result_rect);
      }
    }
  }

  // Render locks the handle again when it needs the record; until then the
  // host may move it. A failed frame will not be rendered, so its handle goes
  // back now rather than wait on the host.
  handles.host_unlock_handle(handle);
  if (err) {
    handles.host_dispose_handle(handle);
    return err;
  }
  RememberBasicSuite(in_data->pica_basicP);
  extra->output->pre_render_data = handle;
  extra->output->delete_pre_render_data_func = DeletePreRenderData;
  return PF_Err_NONE;
}

}  // namespace qv
