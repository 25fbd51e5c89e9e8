#include "render/smart_render.h"

#include <cstring>

#include "render/band_iterator.h"
#include "render/render_session.h"
#include "render/world_ref.h"
#include "shell/suite_cache.h"

namespace qv {
namespace {

// Copies the frame's snapshot out of the pre-render handle, leaving the
// handle unlocked again: the host disposes of it through the delete callback.
PF_Err ReadToneParams(SuiteCache& suites, void* pre_render_data, ToneParams& params) {
  if (pre_render_data == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  const PF_HandleSuite1& handles = suites.HandleSuite();
  auto handle = static_cast<PF_Handle>(pre_render_data);
  const void* record = handles.host_lock_handle(handle);
  if (record == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  std::memcpy(&params, record, sizeof params);
  handles.host_unlock_handle(handle);
  return PF_Err_NONE;
}

}  // namespace

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
  if (in_data == nullptr || out_data == nullptr || extra == nullptr || extra->input == nullptr ||
      extra->cb == nullptr) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  SuiteCache suites(in_data->pica_basicP);
  ToneMapperSettings settings{};
  PF_Err err = ReadToneParams(suites, extra->input->pre_render_data, settings.params);
  if (err) return err;

  const RenderSession session(in_data, out_data, extra);
  if (session.Error()) return session.Error();

  // Both views carry the input's depth: the output's own format is not asked.
  const WorldRef input(session.Input(), session.Depth());
  const WorldRef output(session.Output(), session.Depth());
  settings.depth = session.Depth();
  return RunFrame(in_data, input, output, settings);
}

}  // namespace qv
