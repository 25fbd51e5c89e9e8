#pragma once

// Plain data only: the SIMD variants' files read it too.

#include <cstdint>

namespace qv::detail {

// The 8-bit table channel by channel, entry i at byte i of each plane: the
// rows that look a whole vector of tones up at once with byte permutes load
// it as it is, rather than split the table for every row.
struct alignas(64) TablePlanes8 {
  std::uint8_t alpha[256], red[256], green[256], blue[256];
};

}  // namespace qv::detail
