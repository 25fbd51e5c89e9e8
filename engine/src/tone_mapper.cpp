#include "engine/tone_mapper.h"

#include "tables.h"

namespace qv {

ToneMapper::ToneMapper(const ToneMapperSettings& settings)
    : settings_(settings), levels_{}, ramp_(nullptr) {
  SeparateInputPoints(settings_.params);
  levels_ = ComputeLevels(settings_.params);
  // Chosen at every depth, so that Ramp() is always callable; only the float
  // pass uses it.
  ramp_ = SelectRamp(settings_.params.tones);
  switch (settings_.depth) {
    case kDepth8: table8_ = detail::BuildTable8(settings_.params, levels_); break;
    case kDepth16: table16_ = detail::BuildTable16(settings_.params, levels_); break;
    default: break;
  }
}

}  // namespace qv
