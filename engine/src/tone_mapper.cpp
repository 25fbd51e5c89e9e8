#include "engine/tone_mapper.h"

#include "pass_kernels.h"
#include "tables.h"

namespace qv {

ToneMapper::ToneMapper(const ToneMapperSettings& settings) : ToneMapper(settings, BestPassVariant()) {}

ToneMapper::ToneMapper(const ToneMapperSettings& settings, const PassForcing& forcing)
    : ToneMapper(settings, forcing.variant.value_or(BestPassVariant()), forcing.tuning) {}

ToneMapper::ToneMapper(const ToneMapperSettings& settings, PassVariant variant, const PassTuning& tuning)
    : settings_(settings),
      levels_{},
      ramp_(nullptr),
      variant_(AvailablePassVariant(variant)),
      reads_(tuning.reads.value_or(TableReadsFor(ThisMachine()))),
      stores_(tuning.stores),
      kernels_(detail::KernelsOf(variant_, reads_)) {
  SeparateInputPoints(settings_.params);
  levels_ = ComputeLevels(settings_.params);
  // Chosen at every depth, so that Ramp() is always callable; only the float
  // pass uses it.
  ramp_ = SelectRamp(settings_.params.tones);
  switch (settings_.depth) {
    case kDepth8:
      table8_ = detail::BuildTable8(settings_.params, levels_, kernels_);
      planes8_ = detail::PlanesOf(table8_);
      break;
    case kDepth16: table16_ = detail::BuildTable16(settings_.params, levels_, kernels_); break;
    default: break;
  }
}

}  // namespace qv
