// quorvandile render: image files through the plug-in, one frame or a sequence.

#include <cstdio>

#include "commands.h"
#include "core/errors.h"
#include "core/frames.h"
#include "core/layer.h"
#include "core/param_parse.h"
#include "progress.h"

namespace qv::cli {
namespace {

struct FramePlan {
  FramePattern input;
  FramePattern output;
  FrameRange frames;
};

FramePlan PlanFrames(const RenderOptions& options) {
  FramePlan plan{FramePattern(options.input), FramePattern(options.output), FrameRange{}};
  if (plan.input.HasFrame() && !plan.output.HasFrame()) {
    throw UsageError("the input \"" + options.input +
                     "\" is a frame pattern, so the output needs one too (for example shot.####.png)");
  }
  const bool sequence = plan.input.HasFrame() || plan.output.HasFrame();
  if (options.frames.empty()) {
    if (sequence) throw UsageError("a frame pattern (####) needs --frames FIRST-LAST, for example --frames 1-240");
    return plan;
  }
  plan.frames = ParseFrameRange(options.frames);
  if (!plan.output.HasFrame() && plan.frames.Count() > 1) {
    throw UsageError("--frames " + options.frames + " asks for " + std::to_string(plan.frames.Count()) +
                     " frames, but the output \"" + options.output +
                     "\" names one file: put a frame pattern (####) in it");
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
  for (const ParamSetting& setting : ParseSettings(session.params(), options.sets)) session.Apply(setting);
  CheckWritable(plan.output.At(plan.frames.first));
  const bool output_holds_alpha = FormatHoldsAlpha(plan.output.At(plan.frames.first));

  Progress progress(plan.frames.Count(), options.quiet);
  std::optional<InputImage> still;  // an input without a frame pattern is read once
  bool warned_alpha = false;
  for (std::int64_t f = plan.frames.first; f <= plan.frames.last; ++f) {
    const auto frame = static_cast<std::int32_t>(f);
    const std::string out_path = plan.output.At(frame);
    try {
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
      write.type = options.type.value_or(input.image_spec.format);
      write.alpha = options.alpha;
      write.like = &input.image_spec;
      write.light = &input.light;
      WriteImage(out_path, FromWorld(rendered, channels), write);
      progress.FrameDone(out_path, pixels);
    } catch (const RunError& e) {
      throw RunError(FramePrefix(plan, frame) + e.what());
    }
  }
  session.Close();
  progress.Finish();
  return 0;
}

}  // namespace qv::cli
