#include "render/band_iterator.h"

#include "engine/float_state.h"
#include "render/bands.h"
#include "shell/suite_cache.h"

namespace qv {

void ToneBandProcessor::ProcessWorld(const WorldRef& input, const WorldRef& output) const {
  mapper_.Process(input.View(), output.View(), input.Bounds());
}

void ToneBandProcessor::ProcessRect(const WorldRef& input, const WorldRef& output,
                                    const PixelRect& rect) const {
  mapper_.Process(input.View(), output.View(), rect);
}

PF_Err RunFrame(PF_InData* in_data, const WorldRef& input, const WorldRef& output,
                const ToneMapperSettings& settings) {
  return RunBands(in_data, input, output, output.Bounds(), settings);
}

PF_Err RunBands(PF_InData* in_data, const WorldRef& input, const WorldRef& output,
                const PixelRect& rect, const ToneMapperSettings& settings) {
  if (rect.Empty()) return PF_Err_NONE;

  SuiteCache suites(in_data->pica_basicP);
  A_long count = 0;
  PF_Err err = suites.IterateSuite().AEGP_GetNumThreads(&count);
  if (err) return err;

  // Built once per frame, before any band runs, in the effect's own
  // floating-point state (the levels and the tables call pow); may throw
  // std::bad_alloc, which the entry point turns into an out-of-memory result.
  const ToneBandProcessor processor = [&] {
    const ScopedFloatState float_state(FloatUnits::kSseAndX87);
    return ToneBandProcessor(settings);
  }();
  BandJob job{&processor, &input, &output, rect, count};
  return suites.Iterate8Suite().iterate_generic(count, &job, BandCallback);
}

PF_Err BandCallback(void* refcon, A_long /*thread_index*/, A_long i, A_long /*iterations*/) {
  // A worker thread of the host's, in whatever floating-point state the host
  // keeps it: the band runs in the effect's and gives the thread back as it
  // was. Its code uses no x87 instruction.
  const ScopedFloatState float_state(FloatUnits::kSse);
  const auto* job = static_cast<const BandJob*>(refcon);
  const PixelRect band = BandOf(job->rect, i, job->band_count);
  if (!band.Empty()) job->processor->ProcessRect(*job->input, *job->output, band);
  return PF_Err_NONE;
}

}  // namespace qv
