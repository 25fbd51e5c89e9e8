// quorvandile render: image files through the plug-in, one frame or a sequence.

#include <cstdio>

#include "commands.h"
#include "core/errors.h"
#include "core/frames.h"
#include "core/layer.h"
#include "core/param_parse.h"
#include "progress.h"
#include "settings_file.h"

namespace qv::cli {
namespace {

struct FramePlan {
  FramePattern input;
  FramePattern output;
  FrameRuns frames;
};

FramePlan PlanFrames(const RenderOptions& options) {
  FramePlan plan{FramePattern(options.input), FramePattern(options.output), FrameRuns{}};
  if (!options.frames.empty()) {
    plan.frames = {ParseFrameRange(options.frames)};
  } else if (plan.input.HasFrame()) {
    plan.frames = RunsOf(plan.input.FramesOnDisk());
    if (plan.frames.empty()) throw RunError("no files match the input pattern \"" + options.input + "\"");
    if (!options.quiet) {
      std::fprintf(stderr, "quorvandile: frames %s: the files of %s on disk\n", Describe(plan.frames).c_str(),
                   options.input.c_str());
    }
  } else if (plan.output.HasFrame()) {
    throw UsageError("a frame pattern in the output needs --frames FIRST-LAST, for example --frames 1-240");
  } else {
    plan.frames = {FrameRange{}};
  }
  if (!plan.output.HasFrame() && CountOf(plan.frames) > 1) {
    throw UsageError((options.frames.empty() ? "the input pattern matches " : "--frames " + options.frames + " asks for ") +
                     std::to_string(CountOf(plan.frames)) + " frames, but the output \"" + options.output +
                     "\" names one file: put a frame pattern (####) in it, or choose one frame with --frames");
  }
  return plan;
}

std::string FramePrefix(const FramePlan& plan, std::int32_t frame) {
  if (!plan.input.HasFrame() && !plan.output.HasFrame()) return {};
  return "frame " + std::to_string(frame) + ": ";
}

}  // namespace

int RunRender(const SessionOptions& session_options, const RenderOptions& options) {
  const FramePlan plan = PlanFrames(options);
  PluginSession session(session_options);
  std::vector<ParamSetting> look;
  if (!options.settings_file.empty()) look = LoadSettings(options.settings_file, session.params());
  look = Overlay(std::move(look), ParseSettings(session.params(), options.sets));
  for (const ParamSetting& setting : look) session.Apply(setting);
  if (!options.save_settings.empty()) SaveSettings(options.save_settings, session.params(), look);
  const std::int32_t first = plan.frames.front().first;
  CheckWritable(plan.output.At(first));
  const bool output_holds_alpha = FormatHoldsAlpha(plan.output.At(first));

  Progress progress(CountOf(plan.frames), options.quiet);
  std::optional<InputImage> still;  // an input without a frame pattern is read once
  bool warned_alpha = false;
  const auto render_frame = [&](std::int32_t frame) {
    const std::string out_path = plan.output.At(frame);
    std::optional<InputImage> read;
    if (plan.input.HasFrame() || !still) {
      read = ReadImage(plan.input.At(frame), options.depth, options.alpha, options.limits);
      if (!plan.input.HasFrame()) still = std::move(read);
    }
    const InputImage& input = plan.input.HasFrame() ? *read : *still;
    const int input_channels = ChannelsOf(input.raster);
    const std::int64_t pixels = std::int64_t{WidthOf(input.raster)} * HeightOf(input.raster);

    const simhost::World rendered = session.Render(frame, ToWorld(input.raster));
    const ResultNeeds needs = Inspect(rendered);
    int channels = ChooseChannels(options.channels, input_channels, needs);
    if (HasAlpha(channels) && !output_holds_alpha) {
      // The format has no alpha channel (JPEG, for one): write the colour alone.
      channels -= 1;
      if (needs.alpha && !warned_alpha && !options.quiet) {
        std::fprintf(stderr, "quorvandile: warning: %s holds no alpha; the result's transparency is dropped\n",
                     out_path.c_str());
        warned_alpha = true;
      }
    }
    WriteSettings write;
    write.type = options.type.value_or(input.image_spec.channelformat(0));
    write.alpha = options.alpha;
    write.like = &input.image_spec;
    write.like_format = input.format;
    write.all_metadata = !options.strip_metadata;
    write.light = &input.light;
    write.extra = &input.extra;
    WriteImage(out_path, FromWorld(rendered, channels), write);
    progress.FrameDone(out_path, pixels);
  };
  for (const FrameRange& run : plan.frames) {
    for (std::int64_t f = run.first; f <= run.last; ++f) {
      const auto frame = static_cast<std::int32_t>(f);
      try {
        render_frame(frame);
      } catch (const RunError& e) {
        throw RunError(FramePrefix(plan, frame) + e.what());
      }
    }
  }
  session.Close();
  progress.Finish();
  return 0;
}

}  // namespace qv::cli
