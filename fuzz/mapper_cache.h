#pragma once

// Tone mappers built earlier in a run, by settings and variant. A mapper does
// not change once built, and building one is most of the cost of a 16-bit
// case (a 32769-entry table): a case with the settings of a recent one, as
// the fuzzer makes when it mutates an input's views or pixels, takes the
// mapper already built.

#include <array>
#include <cstring>
#include <memory>

#include "engine/tone_mapper.h"

namespace qv::fuzz {

class MapperCache {
 public:
  const ToneMapper* Find(const ToneMapperSettings& settings, PassVariant variant) const {
    for (const Entry& e : entries_) {
      if (e.mapper && e.variant == variant && Same(e.settings, settings)) return e.mapper.get();
    }
    return nullptr;
  }
  // Keeps `mapper` in place of the oldest; returns it.
  const ToneMapper* Keep(const ToneMapperSettings& settings, PassVariant variant, std::unique_ptr<ToneMapper> mapper) {
    Entry& e = entries_[next_++ % entries_.size()];
    e = Entry{settings, variant, std::move(mapper)};
    return e.mapper.get();
  }

 private:
  // Bit for bit: NaNs of different payloads are different settings.
  static bool Same(const ToneMapperSettings& a, const ToneMapperSettings& b) {
    return a.depth == b.depth && std::memcmp(&a.params, &b.params, sizeof a.params) == 0;
  }
  struct Entry {
    ToneMapperSettings settings{};
    PassVariant variant = PassVariant::kScalar;
    std::unique_ptr<ToneMapper> mapper;
  };
  std::array<Entry, 8> entries_;
  std::size_t next_ = 0;
};

}  // namespace qv::fuzz
