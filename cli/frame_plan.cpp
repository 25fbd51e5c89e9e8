// Checks on a frame plan that need the file system.

#include "frame_plan.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

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

}  // namespace

FramePattern PatternOrFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) ? FramePattern::File(path) : FramePattern(path);
}

void RefuseOutputOverInput(const std::string& input, const std::string& output) {
  RefuseOutputOverInput(FramePlan{FramePattern::File(input), FramePattern::File(output), {FrameRange{}}});
}

void RefuseOutputOverInput(const FramePlan& plan) {
  // Every input first, then every output against all of them: with frames
  // in flight, one frame's output must not replace another frame's input either.
  std::map<FileId, std::string> inputs;
  for (const FrameRange& run : plan.frames) {
    for (std::int64_t f = run.first; f <= run.last; ++f) {
      const std::string path = plan.input.At(static_cast<std::int32_t>(f));
      if (const auto id = IdOf(path)) inputs.emplace(*id, path);
      if (!plan.input.HasFrame()) break;
    }
  }
  for (const FrameRange& run : plan.frames) {
    for (std::int64_t f = run.first; f <= run.last; ++f) {
      const std::string path = plan.output.At(static_cast<std::int32_t>(f));
      const auto id = IdOf(path);
      const auto input = id ? inputs.find(*id) : inputs.end();
      if (input == inputs.end()) continue;
      throw UsageError("the output " + path + " is the input " + input->second +
                       ", and would replace it: write the result to another file");
    }
  }
}

}  // namespace qv::cli
