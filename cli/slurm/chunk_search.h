#pragma once

// How many frames a task of a job array renders, within the cluster's
// limit on the tasks of one array.

#include <cstdint>
#include <optional>

#include "core/frames.h"

namespace qv::cli {

// The fewest frames a task, `chunk` or more, that cut `frames` into at most
// `most` chunks (Chunks); std::nullopt when no size does, the frames falling
// in more than `most` separate runs.
std::optional<std::int64_t> FittingChunk(const FrameRuns& frames, std::int64_t chunk, std::int64_t most);

}  // namespace qv::cli
