// quorvandile render: image files through the plug-in, one frame or a sequence.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "commands.h"
#include "core/errors.h"
#include "core/frames.h"
#include "core/layer.h"
#include "core/memory_budget.h"
#include "core/node_resources.h"
#include "frame_plan.h"
#include "core/param_parse.h"
#include "core/stall_watch.h"
#include "library_messages.h"
#include "progress.h"
#include "safe_file.h"
#include "settings_file.h"

namespace qv::cli {

FramePlan PlanFrames(const RenderOptions& options) {
  FramePlan plan{PatternOrFile(options.input), PatternOrFile(options.output), FrameRuns{}};
  if (!options.frames.empty()) {
    plan.frames = {ParseFrameRange(options.frames)};
  } else if (plan.input.HasFrame()) {
    plan.frames = RunsOf(plan.input.FramesOnDisk());
    if (plan.frames.empty()) throw RunError("no files match the input pattern \"" + options.input + "\"");
    if (!options.quiet) {
      std::fprintf(UserErrors(), "quorvandile: frames %s: the files of %s on disk\n", Describe(plan.frames).c_str(),
                   options.input.c_str());
    }
  } else if (plan.output.HasFrame()) {
    throw UsageError("a frame pattern in the output needs --frames FIRST-LAST, for example --frames 1-240");
  } else {
    plan.frames = {FrameRange{}};
  }
  if (!plan.output.HasFrame() && CountOf(plan.frames) > 1) {
    const std::string asked = options.frames.empty() ? std::string("the input pattern matches ")
                                                     : "--frames " + options.frames + " asks for ";
    throw UsageError(asked + std::to_string(CountOf(plan.frames)) + " frames, but the output \"" + options.output +
                     "\" names one file: put a frame pattern (####) in it, or choose one frame with --frames");
  }
  RefuseOutputOverInput(plan);
  if (options.skip_existing) {
    std::vector<std::int32_t> missing, present;
    for (const FrameRange& run : plan.frames) {
      for (std::int64_t f = run.first; f <= run.last; ++f) {
        const auto frame = static_cast<std::int32_t>(f);
        std::error_code error;
        (std::filesystem::exists(plan.output.At(frame), error) ? present : missing).push_back(frame);
      }
    }
    if (!present.empty() && !options.quiet) {
      std::fprintf(UserErrors(), "quorvandile: frames %s: skipped, their output exists\n",
                   Describe(RunsOf(present)).c_str());
    }
    plan.frames = RunsOf(std::move(missing));
  }
  return plan;
}

// How long a frame's read or write may go on before the run names it: far
// beyond what an 8K OpenEXR frame takes on a busy network file system, so
// that only work that has stopped is named.
constexpr std::chrono::minutes kStallPatience{3};

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

// One frame read, rendered and written to its partial file, or why not.
struct FrameOutcome {
  std::string out_path;
  std::int64_t pixels = 0;
  bool dropped_alpha = false;  // transparency the output format cannot hold
  std::optional<UnfitProfileSpaces> dropped_profile;  // the input's ICC profile, which does not describe the output
  std::optional<int> dropped_orientation;  // the input's orientation, which the output format cannot keep
  std::optional<StagedImage> staged;
  std::exception_ptr error;
};

// The names of the parts of a file other than the one graded.
std::string OtherPartNames(const FileParts& parts) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < parts.others.size(); ++i) {
    const int index = static_cast<int>(i) + (static_cast<int>(i) >= parts.graded ? 1 : 0);
    names.push_back(PartName(parts.others[i].image_spec, index));
  }
  return Joined(names);
}

std::string FramePrefix(const FramePlan& plan, std::int32_t frame) {
  if (!plan.input.HasFrame() && !plan.output.HasFrame()) return {};
  return "frame " + std::to_string(frame) + ": ";
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
  const std::int32_t first = plan.frames.front().first;
  CheckWritable(plan.output.At(first));
  const bool output_holds_alpha = FormatHoldsAlpha(plan.output.At(first));
  const bool output_holds_parts = FormatHoldsParts(plan.output.At(first));
  std::atomic<bool> noted_part{false};  // the part graded is said once a run

  std::optional<ColourSpaces> spaces;
  if (options.colour.Managed()) {
    spaces.emplace(options.colour);
  } else if (options.colour.Given()) {
    ColourSpaces{options.colour};  // a configuration alone converts nothing, but is checked all the same
  }
  std::atomic<bool> warned_colour{false};
  // A frame whose read or write hangs is named, whatever -q says: a log that
  // shows nothing cannot tell a stuck node from a slow one.
  StallWatch stalls(kStallPatience, [](const std::string& what, StallWatch::Clock::duration taken) {
    std::fprintf(UserErrors(), "quorvandile: warning: %s has gone on for %lld s and not ended; still waiting\n",
                 what.c_str(), static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(taken).count()));
  });
  // The frames in flight take at most --max-memory together: each waits,
  // once its header is checked and before its pixels are read, for the
  // memory it needs at its worst moment, and gives it back once its file is
  // written.
  MemoryBudget budget(options.limits.max_memory);
  // A file of several parts goes into a format that holds them, unless
  // --part chose the one to write; which part is graded is said once.
  const auto check_parts = [&](const InputImage& input, const std::string& path, const std::string& out_path) {
    if (!output_holds_parts && !input.parts.chosen) {
      throw RunError(Because("cannot write", out_path,
                             "the input's other parts (" + OtherPartNames(input.parts) +
                                 ") need a format that holds several, such as OpenEXR or TIFF; "
                                 "--part writes one alone"));
    }
    if (!input.parts.chosen && !options.quiet && !noted_part.exchange(true)) {
      std::fprintf(UserErrors(), "quorvandile: %s: grading %s of its %zu parts; the others pass through\n",
                   path.c_str(), PartName(input.image_spec, input.parts.graded).c_str(),
                   input.parts.others.size() + 1);
    }
  };
  // An input as the effect grades it: read, and in the working space. Its
  // own space, where colour is managed. `shape` gets the size its header
  // declares.
  const auto read = [&](std::int32_t frame, std::string* space, const std::function<void(const FrameShape&)>& shape) {
    const std::string path = plan.input.At(frame);
    const std::string reading = FramePrefix(plan, frame) + "reading " + path;
    std::optional<StallWatch::Watched> watched(std::in_place, stalls, reading);
    InputImage input =
        ReadImage(path, options.depth, options.alpha, options.limits, options.part, [&](const FrameShape& declared) {
          watched.reset();  // a frame waiting for memory that other frames hold is not stalled
          shape(declared);
          watched.emplace(stalls, reading);
        });
    if (!input.parts.others.empty()) check_parts(input, path, plan.output.At(frame));
    if (spaces) {
      *space = spaces->InputSpace(input.image_spec, path);
      const std::string doubt = spaces->Disagreement(input.image_spec, path, *space);
      if (!doubt.empty() && !options.quiet && !warned_colour.exchange(true)) {  // once a run
        std::fprintf(UserErrors(), "quorvandile: warning: %s\n", doubt.c_str());
      }
      spaces->Convert(input.raster, *space, spaces->Working(*space));
    }
    return input;
  };

  std::optional<InputImage> still;  // an input without a frame pattern is read once
  std::string still_space;
  FrameShape still_shape;
  if (!plan.input.HasFrame()) {
    try {
      still = read(first, &still_space, [&](const FrameShape& shape) { still_shape = shape; });
    } catch (const RunError& e) {
      throw RunError(FramePrefix(plan, first) + e.what());
    }
  }

  // Frames are read, converted and written on `jobs` threads at once; the
  // plug-in renders one at a time, on the host's own threads. Each frame's
  // file is put in place in frame order, once every frame before it is, so
  // that a failing frame leaves exactly the frames before it. A frame gives
  // its memory back as soon as its file is written, before it waits for its
  // turn: holding it there, a later frame could wait for the turn of an
  // earlier one that waits for the memory.
  std::mutex render_mutex;
  const auto process = [&](std::int32_t frame) {
    FrameOutcome outcome;
    // Made first, so that it is given back after every buffer of the frame is gone.
    std::optional<BudgetShare> share;
    try {
      outcome.out_path = plan.output.At(frame);
      std::optional<InputImage> own;
      std::string space = still_space;
      if (plan.input.HasFrame()) {
        own = read(frame, &space, [&](const FrameShape& shape) { share.emplace(budget, FrameMemory(shape)); });
      } else {
        share.emplace(budget, FrameMemory(still_shape));  // the still's raster is shared, but counted in each frame
      }
      const InputImage& input = own ? *own : *still;
      outcome.pixels = std::int64_t{WidthOf(input.raster)} * HeightOf(input.raster);
      simhost::World layer = ToWorld(input.raster);
      std::optional<simhost::World> rendered;
      {
        const std::lock_guard<std::mutex> lock(render_mutex);
        rendered = session.Render(frame, std::move(layer));
      }
      const ResultNeeds needs = Inspect(*rendered);
      int channels = ChooseChannels(options.channels, ChannelsOf(input.raster), needs);
      if (HasAlpha(channels) && !output_holds_alpha) {
        channels -= 1;  // the format has no alpha channel (JPEG, for one): the colour alone
        outcome.dropped_alpha = needs.alpha;
      }
      if (!options.strip_metadata) outcome.dropped_profile = UnfitProfile(input.image_spec, channels);
      outcome.dropped_orientation = UnheldOrientation(input.image_spec, outcome.out_path);
      WriteSettings write;
      write.type = options.type.value_or(FileTypeOf(input.image_spec, ColourType(input.image_spec, input.format)));
      write.alpha = options.alpha;
      write.source_alpha = input.alpha;
      write.like = &input.image_spec;
      write.like_format = input.format;
      write.like_file = plan.input.At(frame);
      write.all_metadata = !options.strip_metadata;
      write.light = &input.light;
      write.extra = &input.extra;
      write.layer = input.layer;
      if (output_holds_parts) write.parts = &input.parts;
      Raster result = FromWorld(*rendered, channels);
      rendered.reset();  // not needed while the file is written, which takes the longest
      if (spaces) {
        spaces->Convert(result, spaces->Working(space), spaces->Output(space));
        write.colour_space = spaces->Output(space);
      }
      const StallWatch::Watched watched(stalls, FramePrefix(plan, frame) + "writing " + outcome.out_path);
      outcome.staged = StageImage(outcome.out_path, std::move(result), write);
    } catch (...) {
      outcome.error = std::current_exception();
    }
    return outcome;
  };

  Progress progress(CountOf(plan.frames), options.quiet, UserErrors());
  const std::int64_t count = CountOf(plan.frames);
  std::mutex mutex;
  std::condition_variable turn;
  std::int64_t next = 0;       // the next frame to take, counted from 0
  std::int64_t committed = 0;  // frames put in place, or dropped after a failure
  std::exception_ptr failure;
  std::optional<std::int32_t> failed_frame;  // the frame that failed, when one did
  bool warned_alpha = false;
  bool noted_profile = false;
  bool noted_orientation = false;
  // Stops the run, unless an earlier failure did. Called with `mutex` held.
  const auto stop = [&](std::exception_ptr error, std::optional<std::int32_t> frame) {
    if (failure) return;
    failure = std::move(error);
    failed_frame = frame;
  };
  const auto take_frames = [&] {
    for (;;) {
      std::int64_t k = 0;
      {
        const std::lock_guard<std::mutex> lock(mutex);
        if (failure || next == count) return;
        k = next++;
      }
      const std::int32_t frame = FrameAt(plan.frames, k);
      FrameOutcome outcome = process(frame);
      std::unique_lock<std::mutex> lock(mutex);
      // After a failure no frame is put in place, and none waits for its turn.
      turn.wait(lock, [&] { return committed == k || failure; });
      if (!failure) {
        try {
          if (outcome.error) std::rethrow_exception(outcome.error);
          outcome.staged->Commit();
          if (outcome.dropped_alpha && !warned_alpha && !options.quiet) {
            std::fprintf(UserErrors(),
                         "quorvandile: warning: %s holds no alpha; the result's transparency is dropped\n",
                         outcome.out_path.c_str());
            warned_alpha = true;
          }
          if (outcome.dropped_profile && !noted_profile && !options.quiet) {
            std::fprintf(UserErrors(),
                         "quorvandile: note: %s: the input's %s ICC profile does not describe the %s result; "
                         "written without a profile\n",
                         outcome.out_path.c_str(), outcome.dropped_profile->profile.c_str(),
                         outcome.dropped_profile->pixels.c_str());
            noted_profile = true;
          }
          if (outcome.dropped_orientation && !noted_orientation && !options.quiet) {
            std::fprintf(UserErrors(),
                         "quorvandile: note: %s: the input's orientation (Exif %d) cannot be kept in this format; "
                         "written as stored, unturned\n",
                         outcome.out_path.c_str(), *outcome.dropped_orientation);
            noted_orientation = true;
          }
          progress.FrameDone(outcome.out_path, outcome.pixels);
        } catch (...) {
          stop(std::current_exception(), frame);
        }
      }
      ++committed;
      turn.notify_all();
    }
  };
  // Whatever escapes a thread's share stops the run, and is reported once
  // every thread has ended: an exception leaving a thread, or leaving this
  // one with helpers still running, would abort the process without a word.
  const auto work = [&] {
    try {
      take_frames();
    } catch (...) {
      const std::lock_guard<std::mutex> lock(mutex);
      stop(std::current_exception(), std::nullopt);
      turn.notify_all();
    }
  };
  const int jobs = static_cast<int>(std::min<std::int64_t>(options.jobs.value_or(DefaultJobs()), count));
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<std::size_t>(jobs));
  for (int j = 1; j < jobs; ++j) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no thread to spare (a process or memory limit): the threads already there share the frames
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();

  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const RunError& e) {
      throw RunError((failed_frame ? FramePrefix(plan, *failed_frame) : std::string()) + e.what());
    }
  }
  session.Close();
  progress.Finish();
  return 0;
}

}  // namespace qv::cli
