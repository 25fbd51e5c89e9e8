#pragma once

// Turns an arbitrary byte string into the values a test case is made of. The
// fuzzer hands in its mutated bytes; the deterministic twin hands in seeded
// random bytes. Either way every byte string decodes to some case, and reads
// past the end give zeros, so the decoders never fail.
//
// The numeric readers steer raw bytes towards the values that break code: a
// selector byte picks between a raw bit pattern, a table of awkward values
// (NaN, infinities, signed zeros, extremes, the edges of the host's ranges)
// and an ordinary value inside a given range.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qv::fuzz {

class ByteSource {
 public:
  explicit ByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Remaining() const { return bytes_.size() - pos_; }
  std::span<const std::uint8_t> Rest() const { return bytes_.subspan(pos_); }

  std::uint8_t Byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
  bool Bool() { return (Byte() & 1) != 0; }

  // The next sizeof(T) bytes as a T (trivially copyable), zeros past the end.
  template <class T>
  T Raw() {
    unsigned char buffer[sizeof(T)] = {};
    const std::size_t n = Remaining() < sizeof(T) ? Remaining() : sizeof(T);
    if (n > 0) std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    T value;
    std::memcpy(&value, buffer, sizeof value);
    return value;
  }

  // lo..hi inclusive; hi >= lo.
  std::int64_t Range(std::int64_t lo, std::int64_t hi) {
    const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
    const auto r = Raw<std::uint32_t>();
    return span == 0 ? lo : lo + static_cast<std::int64_t>(r % span);
  }

  // Mostly lo..hi, sometimes any 32-bit value.
  std::int32_t Int(std::int32_t lo, std::int32_t hi);

  // Mostly lo..hi (uniformly), sometimes an awkward value or raw bits.
  double Double(double lo, double hi);
  float Float(float lo, float hi);
  // lo..hi (uniformly), never anything else.
  double Uniform(double lo, double hi) { return lo + (hi - lo) * (static_cast<double>(Raw<std::uint16_t>()) / 65535); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// A small, fast generator for bulk pixel data, seeded from the case's bytes,
// so that large worlds need not be spelled out byte by byte.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1; n > 0.
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(Next() % n); }

 private:
  std::uint64_t state_;
};

}  // namespace qv::fuzz
