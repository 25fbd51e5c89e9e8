// quorvandile render: image files through the plug-in, one frame or a sequence.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "commands.h"
#include "core/errors.h"
#include "core/frames.h"
#include "core/frames_in_flight.h"
#include "core/node_resources.h"
#include "core/param_parse.h"
#include "frame_job.h"
#include "frame_plan.h"
#include "library_messages.h"
#include "progress.h"
#include "safe_file.h"
#include "settings_file.h"

namespace qv::cli {

int DefaultJobs() { return static_cast<int>(std::min<std::uint64_t>(UsableCores(), kMaxPartialFiles)); }

namespace {

// The k-th frame of `runs`, counted from 0.
std::int32_t FrameAt(const FrameRuns& runs, std::int64_t k) {
  for (const FrameRange& run : runs) {
    if (k < run.Count()) return static_cast<std::int32_t>(run.first + k);
    k -= run.Count();
  }
  throw std::out_of_range("no such frame in the plan");
}

// Frames put in place, in frame order, and what each could not keep, said
// once a run: called one frame at a time.
class FramesPutInPlace {
 public:
  FramesPutInPlace(std::int64_t count, bool quiet) : progress_(count, quiet, UserErrors()), quiet_(quiet) {}

  void Commit(FrameOutcome& outcome) {
    outcome.staged->Commit();
    if (outcome.dropped_alpha && !warned_alpha_ && !quiet_) {
      std::fprintf(UserErrors(), "quorvandile: warning: %s holds no alpha; the result's transparency is dropped\n",
                   outcome.out_path.c_str());
      warned_alpha_ = true;
    }
    if (outcome.dropped_profile && !noted_profile_ && !quiet_) {
      std::fprintf(UserErrors(),
                   "quorvandile: note: %s: the input's %s ICC profile does not describe the %s result; "
                   "written without a profile\n",
                   outcome.out_path.c_str(), outcome.dropped_profile->profile.c_str(),
                   outcome.dropped_profile->pixels.c_str());
      noted_profile_ = true;
    }
    if (outcome.dropped_orientation && !noted_orientation_ && !quiet_) {
      std::fprintf(UserErrors(),
                   "quorvandile: note: %s: the input's orientation (Exif %d) cannot be kept in this format; "
                   "written as stored, unturned\n",
                   outcome.out_path.c_str(), *outcome.dropped_orientation);
      noted_orientation_ = true;
    }
    progress_.FrameDone(outcome.out_path, outcome.pixels);
  }

  void Finish() { progress_.Finish(); }

 private:
  Progress progress_;
  bool quiet_;
  bool warned_alpha_ = false;
  bool noted_profile_ = false;
  bool noted_orientation_ = false;
};

// Rethrows the failure that stopped a run, a RunError with its frame named.
[[noreturn]] void Rethrow(const FramePlan& plan, const FramesInFlight::Failure& failure) {
  try {
    std::rethrow_exception(failure.error);
  } catch (const RunError& e) {
    const std::string prefix = failure.frame ? FramePrefix(plan, FrameAt(plan.frames, *failure.frame)) : "";
    throw RunError(prefix + e.what());
  }
}

}  // namespace

int RunRender(const SessionOptions& session_options, const RenderOptions& options) {
  if (options.type) CheckFileType(options.output, *options.type);
  if (options.slurm.enabled) return RunSlurmRender(session_options, options);
  const FramePlan plan = PlanFrames(options);
  PluginSession session(session_options);
  const std::vector<ParamSetting> look = ApplyLook(session, options.settings_file, options.sets);
  if (!options.save_settings.empty()) SaveSettings(options.save_settings, session.params(), look);
  if (plan.frames.empty()) {  // every output is there, as PlanFrames said
    session.Close();
    return 0;
  }
  CheckWritable(plan.output.At(plan.frames.front().first));
  FrameJob job(plan, options, session);
  job.ReadStill();

  // Frames are read, converted and written on `jobs` threads at once; the
  // plug-in renders one at a time. Each frame's file is put in place in
  // frame order, once every frame before it is, so that a failing frame
  // leaves exactly the frames before it.
  const std::int64_t count = CountOf(plan.frames);
  FramesPutInPlace put(count, options.quiet);
  FramesInFlight frames(count, options.jobs.value_or(DefaultJobs()));
  const std::optional<FramesInFlight::Failure> failure = frames.Run([&](std::int64_t k) -> FramesInFlight::Commit {
    auto outcome = std::make_shared<FrameOutcome>(job.Run(FrameAt(plan.frames, k)));
    return [&put, outcome] { put.Commit(*outcome); };
  });
  if (failure) Rethrow(plan, *failure);
  session.Close();
  put.Finish();
  return 0;
}

}  // namespace qv::cli
