// Tones a frame in parallel bands on the host's worker threads.
#pragma once

#include "engine/tone_mapper.h"
#include "host_api/ae_all.h"
#include "render/frame_passes.h"
#include "render/world_ref.h"

namespace qv {

// Owns the frame's one ToneMapper while the bands run; every band shares it.
class BandProcessor {
 public:
  virtual ~BandProcessor() = default;
  // Tones the whole input world.
  virtual void ProcessWorld(const WorldRef& input, const WorldRef& output) const = 0;
  virtual void ProcessRect(const WorldRef& input, const WorldRef& output,
                           const PixelRect& rect) const = 0;
};

class ToneBandProcessor final : public BandProcessor {
 public:
  explicit ToneBandProcessor(const ToneMapperSettings& settings) : mapper_(settings, FramePasses()) {}
  void ProcessWorld(const WorldRef& input, const WorldRef& output) const override;
  void ProcessRect(const WorldRef& input, const WorldRef& output,
                   const PixelRect& rect) const override;

 private:
  ToneMapper mapper_;
};

// What the host's iteration hands back to each band: filled before the
// iteration starts, only read while it runs.
struct BandJob {
  const BandProcessor* processor;
  const WorldRef* input;
  const WorldRef* output;
  PixelRect rect;
  A_long band_count;
};

PF_Err RunFrame(PF_InData* in_data, const WorldRef& input, const WorldRef& output,
                const ToneMapperSettings& settings);
PF_Err RunBands(PF_InData* in_data, const WorldRef& input, const WorldRef& output,
                const PixelRect& rect, const ToneMapperSettings& settings);
// The host's iteration callback. Always returns PF_Err_NONE: nothing inside
// a band counts as an error.
PF_Err BandCallback(void* refcon, A_long thread_index, A_long i, A_long iterations);

}  // namespace qv
