#include "frame_job.h"

#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/layer.h"
#include "library_messages.h"

namespace qv::cli {
namespace {

// How long a frame's read or write may go on before the run names it: far
// beyond what an 8K OpenEXR frame takes on a busy network file system, so
// that only work that has stopped is named.
constexpr std::chrono::minutes kStallPatience{3};

// A frame whose read or write hangs is named, whatever -q says: a log that
// shows nothing cannot tell a stuck node from a slow one.
void ReportStall(const std::string& what, StallWatch::Clock::duration taken) {
  std::fprintf(UserErrors(), "quorvandile: warning: %s has gone on for %lld s and not ended; still waiting\n",
               what.c_str(), static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(taken).count()));
}

// The names of the parts of a file other than the one graded.
std::string OtherPartNames(const FileParts& parts) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < parts.others.size(); ++i) {
    const int index = static_cast<int>(i) + (static_cast<int>(i) >= parts.graded ? 1 : 0);
    names.push_back(PartName(parts.others[i].image_spec, index));
  }
  return Joined(names);
}

}  // namespace

FrameJob::FrameJob(const FramePlan& plan, const RenderOptions& options, PluginSession& session)
    : plan_(plan),
      options_(options),
      session_(session),
      output_holds_alpha_(FormatHoldsAlpha(plan.output.At(plan.frames.front().first))),
      output_holds_parts_(FormatHoldsParts(plan.output.At(plan.frames.front().first))),
      stalls_(kStallPatience, ReportStall),
      // The frames in flight take at most --max-memory together: each waits,
      // once its header is checked and before its pixels are read, for the
      // memory it needs at its worst moment, and gives it back once its file
      // is written.
      budget_(options.limits.max_memory) {
  if (options.colour.Managed()) {
    spaces_.emplace(options.colour);
  } else if (options.colour.Given()) {
    ColourSpaces{options.colour};  // a configuration alone converts nothing, but is checked all the same
  }
}

// A file of several parts goes into a format that holds them, unless --part
// chose the one to write; which part is graded is said once.
void FrameJob::CheckParts(const InputImage& input, const std::string& path, const std::string& out_path) {
  if (!output_holds_parts_ && !input.parts.chosen) {
    throw RunError(Because("cannot write", out_path,
                           "the input's other parts (" + OtherPartNames(input.parts) +
                               ") need a format that holds several, such as OpenEXR or TIFF; --part writes one alone"));
  }
  if (!input.parts.chosen && !options_.quiet && !noted_part_.exchange(true)) {
    std::fprintf(UserErrors(), "quorvandile: %s: grading %s of its %zu parts; the others pass through\n", path.c_str(),
                 PartName(input.image_spec, input.parts.graded).c_str(), input.parts.others.size() + 1);
  }
}

InputImage FrameJob::Read(std::int32_t frame, std::string* space,
                          const std::function<void(const FrameShape&)>& shape) {
  const std::string path = plan_.input.At(frame);
  const std::string reading = FramePrefix(plan_, frame) + "reading " + path;
  std::optional<StallWatch::Watched> watched(std::in_place, stalls_, reading);
  InputImage input =
      ReadImage(path, options_.depth, options_.alpha, options_.limits, options_.part, [&](const FrameShape& declared) {
        watched.reset();  // a frame waiting for memory that other frames hold is not stalled
        shape(declared);
        watched.emplace(stalls_, reading);
      });
  if (!input.parts.others.empty()) CheckParts(input, path, plan_.output.At(frame));
  if (spaces_) {
    *space = spaces_->InputSpace(input.image_spec, path);
    const std::string doubt = spaces_->Disagreement(input.image_spec, path, *space);
    if (!doubt.empty() && !options_.quiet && !warned_colour_.exchange(true)) {  // once a run
      std::fprintf(UserErrors(), "quorvandile: warning: %s\n", doubt.c_str());
    }
    spaces_->Convert(input.raster, *space, spaces_->Working(*space));
  }
  return input;
}

void FrameJob::ReadStill() {
  if (plan_.input.HasFrame()) return;
  const std::int32_t first = plan_.frames.front().first;
  try {
    still_ = Read(first, &still_space_, [&](const FrameShape& shape) { still_shape_ = shape; });
  } catch (const RunError& e) {
    throw RunError(FramePrefix(plan_, first) + e.what());
  }
}

simhost::World FrameJob::Render(std::int32_t frame, const InputImage& input) {
  simhost::World layer = ToWorld(input.raster);
  const std::lock_guard<std::mutex> lock(render_mutex_);
  return session_.Render(frame, std::move(layer));
}

WriteSettings FrameJob::SettingsFor(const InputImage& input, std::int32_t frame) const {
  WriteSettings write;
  write.type = options_.type.value_or(FileTypeOf(input.image_spec, ColourType(input.image_spec, input.format)));
  write.alpha = options_.alpha;
  write.source_alpha = input.alpha;
  write.like = &input.image_spec;
  write.like_format = input.format;
  write.like_file = plan_.input.At(frame);
  write.all_metadata = !options_.strip_metadata;
  write.light = &input.light;
  write.extra = &input.extra;
  write.layer = input.layer;
  if (output_holds_parts_) write.parts = &input.parts;
  return write;
}

FrameOutcome FrameJob::Run(std::int32_t frame) {
  FrameOutcome outcome;
  // Made first, so that it is given back after every buffer of the frame is gone.
  std::optional<BudgetShare> share;
  outcome.out_path = plan_.output.At(frame);
  std::optional<InputImage> own;
  std::string space = still_space_;
  if (plan_.input.HasFrame()) {
    own = Read(frame, &space, [&](const FrameShape& shape) { share.emplace(budget_, FrameMemory(shape)); });
  } else {
    share.emplace(budget_, FrameMemory(still_shape_));  // the still's raster is shared, but counted in each frame
  }
  const InputImage& input = own ? *own : *still_;
  outcome.pixels = std::int64_t{WidthOf(input.raster)} * HeightOf(input.raster);
  std::optional<simhost::World> rendered(Render(frame, input));
  const ResultNeeds needs = Inspect(*rendered);
  int channels = ChooseChannels(options_.channels, ChannelsOf(input.raster), needs);
  if (HasAlpha(channels) && !output_holds_alpha_) {
    channels -= 1;  // the format has no alpha channel (JPEG, for one): the colour alone
    outcome.dropped_alpha = needs.alpha;
  }
  if (!options_.strip_metadata) outcome.dropped_profile = UnfitProfile(input.image_spec, channels);
  outcome.dropped_orientation = UnheldOrientation(input.image_spec, outcome.out_path);
  WriteSettings write = SettingsFor(input, frame);
  Raster result = FromWorld(*rendered, channels);
  rendered.reset();  // not needed while the file is written, which takes the longest
  if (spaces_) {
    spaces_->Convert(result, spaces_->Working(space), spaces_->Output(space));
    write.colour_space = spaces_->Output(space);
  }
  const StallWatch::Watched watched(stalls_, FramePrefix(plan_, frame) + "writing " + outcome.out_path);
  outcome.staged = StageImage(outcome.out_path, std::move(result), write);
  return outcome;
}

}  // namespace qv::cli
