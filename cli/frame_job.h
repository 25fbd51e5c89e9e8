#pragma once

// The work of one frame of a render: its input read and taken into the
// working space, rendered on the plug-in's session, and its result written
// to a partial file beside its output, where it waits for its turn to be put
// in place. Frames of a run do this on several threads at once.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "colour.h"
#include "commands.h"
#include "core/memory_budget.h"
#include "core/plugin_session.h"
#include "core/stall_watch.h"
#include "frame_plan.h"
#include "image_io.h"
#include "image_metadata.h"

namespace qv::cli {

// A frame rendered and staged, and what its file could not keep.
struct FrameOutcome {
  std::string out_path;
  std::int64_t pixels = 0;
  bool dropped_alpha = false;  // transparency the output format cannot hold
  std::optional<UnfitProfileSpaces> dropped_profile;  // the input's ICC profile, which does not describe the output
  std::optional<int> dropped_orientation;  // the input's orientation, which the output format cannot keep
  std::optional<StagedImage> staged;
};

// What the frames of one run share: the plan, the options, the session they
// render on one at a time, the colour spaces, the memory they take together
// and the watch on reads and writes that hang.
class FrameJob {
 public:
  FrameJob(const FramePlan& plan, const RenderOptions& options, PluginSession& session);
  FrameJob(const FrameJob&) = delete;
  FrameJob& operator=(const FrameJob&) = delete;

  // Reads the input once for every frame, where it has no frame pattern.
  // Throws RunError naming the first frame.
  void ReadStill();

  // `frame` read, converted, rendered and staged. Its share of the memory
  // is given back before it returns: held while the frame waits for its
  // turn, a later frame could wait for the turn of an earlier one that waits
  // for the memory. Throws.
  FrameOutcome Run(std::int32_t frame);

 private:
  // An input as the effect grades it: read, and in the working space; its
  // own space in `space`, where colour is managed. `shape` gets the size its
  // header declares before its pixels are read.
  InputImage Read(std::int32_t frame, std::string* space, const std::function<void(const FrameShape&)>& shape);
  void CheckParts(const InputImage& input, const std::string& path, const std::string& out_path);
  simhost::World Render(std::int32_t frame, const InputImage& input);
  WriteSettings SettingsFor(const InputImage& input, std::int32_t frame) const;

  const FramePlan& plan_;
  const RenderOptions& options_;
  PluginSession& session_;
  std::mutex render_mutex_;  // the plug-in renders one frame at a time, on the host's own threads
  const bool output_holds_alpha_;
  const bool output_holds_parts_;
  std::atomic<bool> noted_part_{false};  // the part graded is said once a run
  std::optional<ColourSpaces> spaces_;
  std::atomic<bool> warned_colour_{false};
  StallWatch stalls_;
  MemoryBudget budget_;
  std::optional<InputImage> still_;  // an input without a frame pattern, read once
  std::string still_space_;
  FrameShape still_shape_;
};

}  // namespace qv::cli
