// The host checkouts of one smart render: the input pixels, the output world
// and the frame's depth, learnt from the input's pixel format.
#pragma once

#include <optional>

#include "engine/tone_params.h"
#include "host_api/ae_all.h"

namespace qv {

// The depth a host pixel format stands for; none for a format the effect
// does not render.
std::optional<PixelDepth> DepthOfFormat(PF_PixelFormat format);

class RenderSession {
 public:
  // Checks out the input and the output and learns the depth; Error() holds
  // the first failure. On success both worlds are present and usable.
  RenderSession(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

  PF_Err Error() const { return err_; }
  PixelDepth Depth() const { return depth_; }
  const PF_EffectWorld& Input() const { return *input_; }
  const PF_EffectWorld& Output() const { return *output_; }

 private:
  PF_Err QueryDepth(PF_InData* in_data, PF_OutData* out_data);

  PF_Err err_ = PF_Err_NONE;
  PixelDepth depth_ = -1;
  PF_EffectWorld* input_ = nullptr;
  PF_EffectWorld* output_ = nullptr;
};

}  // namespace qv
