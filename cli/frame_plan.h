#pragma once

// Which frames a render takes, from which files to which: the same plan
// whether this machine renders them or a cluster does.

#include "commands.h"
#include "core/frames.h"

namespace qv::cli {

struct FramePlan {
  FramePattern input;
  FramePattern output;
  FrameRuns frames;  // empty: every output exists already (--skip-existing)
};

// `path` as a frame pattern, unless it names a file that exists: then that
// file, whatever '#' or '@' its name holds (icon@2x.png, shot#1.png).
FramePattern PatternOrFile(const std::string& path);

// The frames --frames names, else those of IN's pattern on disk; with
// --skip-existing, only those whose output file is missing. A partial file
// never counts: only a finished file has the output's name. Throws
// UsageError for frames that do not fit the output, RunError when IN's
// pattern matches nothing.
FramePlan PlanFrames(const RenderOptions& options);

// "frame N: ", which starts what is said of a frame of a sequence; empty
// when the plan's input and output are single files.
std::string FramePrefix(const FramePlan& plan, std::int32_t frame);

// Throws UsageError when an output of the plan is, as the system sees it, the
// same file as an input of the plan (by any path: a symbolic or hard link, an
// absolute or a relative spelling), before anything is read or written.
void RefuseOutputOverInput(const FramePlan& plan);
// The same for one input file and one output file.
void RefuseOutputOverInput(const std::string& input, const std::string& output);

}  // namespace qv::cli
