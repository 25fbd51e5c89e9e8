#include "render/render_session.h"

#include "render/world_ref.h"
#include "shell/scoped_suite.h"

namespace qv {

std::optional<PixelDepth> DepthOfFormat(PF_PixelFormat format) {
  switch (format) {
    case PF_PixelFormat_ARGB32:
    case PF_PixelFormat_BGRA32:
      return kDepth8;
    case PF_PixelFormat_ARGB64:
      return kDepth16;
    case PF_PixelFormat_ARGB128:
    case QV_PixelFormat_BGRA128:
      return kDepthFloat;
    default:
      return std::nullopt;
  }
}

RenderSession::RenderSession(PF_InData* in_data, PF_OutData* out_data,
                             PF_SmartRenderExtra* extra) {
  err_ = extra->cb->checkout_layer_pixels(in_data->effect_ref, 0, &input_);
  if (!err_) err_ = extra->cb->checkout_output(in_data->effect_ref, &output_);
  // A checkout that reports success must still hand over a world.
  if (!err_ && (input_ == nullptr || output_ == nullptr)) err_ = PF_Err_BAD_CALLBACK_PARAM;
  if (!err_) err_ = QueryDepth(in_data, out_data);
  // Unknown formats and worlds that cannot be walked are refused before any
  // pixel is touched: rendering nothing and reporting success would leave the
  // host's output as garbage with no sign of the failure.
  if (!err_ && (!IsUsableWorld(*input_, depth_) || !IsUsableWorld(*output_, depth_))) {
    err_ = PF_Err_BAD_CALLBACK_PARAM;
  }
}

PF_Err RenderSession::QueryDepth(PF_InData* in_data, PF_OutData* out_data) {
  const void* table = nullptr;
  PF_Err err = ScopedSuite::Acquire(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2,
                                    "Couldn't load suite.", &table);
  if (err) return err;
  PF_PixelFormat format = PF_PixelFormat_INVALID;
  err = static_cast<const PF_WorldSuite2*>(table)->PF_GetPixelFormat(input_, &format);
  const PF_Err release_err = ScopedSuite::Release(in_data, out_data, kPFWorldSuite,
                                                  kPFWorldSuiteVersion2, "Couldn't release suite.");
  if (!err) err = release_err;
  if (err) return err;
  const std::optional<PixelDepth> depth = DepthOfFormat(format);
  if (!depth) return PF_Err_BAD_CALLBACK_PARAM;
  depth_ = *depth;
  return PF_Err_NONE;
}

}  // namespace qv
