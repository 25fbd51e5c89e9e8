#include "slurm/chunk_search.h"

namespace qv::cli {

std::optional<std::int64_t> FittingChunk(const FrameRuns& frames, std::int64_t chunk, std::int64_t most) {
  const auto fits = [&](std::int64_t size) { return static_cast<std::int64_t>(Chunks(frames, size).size()) <= most; };
  if (fits(chunk)) return chunk;
  const std::int64_t count = CountOf(frames);
  if (!fits(count)) return std::nullopt;
  // Fewer frames a task never make fewer chunks: the first size that fits.
  std::int64_t low = chunk + 1, high = count;
  while (low < high) {
    const std::int64_t middle = low + (high - low) / 2;
    if (fits(middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

}  // namespace qv::cli
