// Checks on a frame plan that need the file system.

#include "frame_plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "core/errors.h"

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

}  // namespace

FramePattern PatternOrFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) ? FramePattern::File(path) : FramePattern(path);
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
