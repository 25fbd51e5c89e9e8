#include "pixels.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

namespace qv::fuzz {
namespace {

constexpr std::size_t kMaxRawBytes = 4096;

float AwkwardFloat(SplitMix64& rng) {
  constexpr float kValues[] = {std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               -0.0f,
                               1e30f,
                               -1e30f,
                               std::numeric_limits<float>::denorm_min(),
                               1.0000001f,
                               2.0f};
  return kValues[rng.Below(static_cast<std::uint32_t>(std::size(kValues)))];
}

template <class T>
void Put(std::span<std::uint8_t> out, std::size_t at, T value) {
  std::memcpy(out.data() + at, &value, sizeof value);
}

}  // namespace

PixelSource PixelSource::Decode(ByteSource& in) {
  PixelSource source;
  source.raw = in.Byte() < 64;
  source.seed = in.Raw<std::uint64_t>();
  const auto rest = in.Rest();
  const std::size_t n = std::min(rest.size(), kMaxRawBytes);
  source.bytes.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n));
  return source;
}

void FillPixels(std::span<std::uint8_t> out, PixelDepth depth, const PixelSource& source) {
  if (source.raw) {
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = source.bytes.empty() ? 0 : source.bytes[i % source.bytes.size()];
    }
    return;
  }
  SplitMix64 rng(source.seed);
  if (depth == kDepth16) {
    for (std::size_t i = 0; i + 2 <= out.size(); i += 2) {
      // Mostly the host's 0 to 32768, now and then any 16-bit value.
      Put(out, i, static_cast<std::uint16_t>(rng.Below(64) == 0 ? rng.Below(65536) : rng.Below(32769)));
    }
  } else if (depth == kDepthFloat) {
    for (std::size_t i = 0; i + 4 <= out.size(); i += 4) {
      const float ordinary = static_cast<float>(rng.Below(1u << 24)) / float(1u << 24) * 1.5f - 0.25f;
      Put(out, i, rng.Below(64) == 0 ? AwkwardFloat(rng) : ordinary);
    }
  } else {
    for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(rng.Next());
  }
}

}  // namespace qv::fuzz
