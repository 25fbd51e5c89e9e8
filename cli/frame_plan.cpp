// Which frames a render takes, and the checks on its plan that need the file system.

#include "frame_plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "library_messages.h"

namespace qv::cli {
namespace {

// A file as the system knows it, whatever path names it: a relative or an
// absolute spelling, a symbolic link, a hard link.
using FileId = std::pair<dev_t, ino_t>;

std::optional<FileId> IdOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;  // no file yet: nothing to overwrite
  return FileId{status.st_dev, status.st_ino};
}

// The frames of `runs` whose file of `pattern` may exist: those found in its
// directory, listed once however many frames the runs span.
std::vector<std::int32_t> ExistingFrames(const FramePattern& pattern, const FrameRuns& runs) {
  if (runs.empty()) return {};
  if (!pattern.HasFrame()) return {runs.front().first};  // one file for every frame
  std::vector<std::int32_t> frames = pattern.FramesOnDisk();
  frames.erase(std::remove_if(frames.begin(), frames.end(),
                              [&](std::int32_t frame) {
                                return std::none_of(runs.begin(), runs.end(), [&](const FrameRange& run) {
                                  return run.first <= frame && frame <= run.last;
                                });
                              }),
               frames.end());
  return frames;
}

// The frames of the plan whose output file is missing; those present are
// said, unless `quiet`.
FrameRuns MissingOutputs(const FramePlan& plan, bool quiet) {
  std::vector<std::int32_t> missing, present;
  for (const FrameRange& run : plan.frames) {
    for (std::int64_t f = run.first; f <= run.last; ++f) {
      const auto frame = static_cast<std::int32_t>(f);
      std::error_code error;
      (std::filesystem::exists(plan.output.At(frame), error) ? present : missing).push_back(frame);
    }
  }
  if (!present.empty() && !quiet) {
    std::fprintf(UserErrors(), "quorvandile: frames %s: skipped, their output exists\n",
                 Describe(RunsOf(present)).c_str());
  }
  return RunsOf(std::move(missing));
}

}  // namespace

FramePattern PatternOrFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) ? FramePattern::File(path) : FramePattern(path);
}

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
  if (options.skip_existing) plan.frames = MissingOutputs(plan, options.quiet);
  return plan;
}

std::string FramePrefix(const FramePlan& plan, std::int32_t frame) {
  if (!plan.input.HasFrame() && !plan.output.HasFrame()) return {};
  return "frame " + std::to_string(frame) + ": ";
}

void RefuseOutputOverInput(const std::string& input, const std::string& output) {
  RefuseOutputOverInput(FramePlan{FramePattern::File(input), FramePattern::File(output), {FrameRange{}}});
}

void RefuseOutputOverInput(const FramePlan& plan) {
  // Every input that exists first, then every output that exists against all
  // of them: with frames in flight, one frame's output must not replace
  // another frame's input either.
  std::map<FileId, std::string> inputs;
  for (const std::int32_t frame : ExistingFrames(plan.input, plan.frames)) {
    const std::string path = plan.input.At(frame);
    if (const auto id = IdOf(path)) inputs.emplace(*id, path);
  }
  for (const std::int32_t frame : ExistingFrames(plan.output, plan.frames)) {
    const std::string path = plan.output.At(frame);
    const auto id = IdOf(path);
    const auto input = id ? inputs.find(*id) : inputs.end();
    if (input == inputs.end()) continue;
    throw UsageError("the output " + path + " is the input " + input->second +
                     ", and would replace it: write the result to another file");
  }
}

}  // namespace qv::cli
