#pragma once

// One call of ToneMapper::Process with everything it depends on, decoded from
// bytes, and the checks every such call must pass. The libFuzzer target and
// the deterministic test share this code, so a failure found by one
// reproduces in the other.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/tone_mapper.h"
#include "pixels.h"

namespace qv::fuzz {

// A pixel buffer as a view describes it. The buffer holds exactly the pixels
// the view can reach, (height - 1) * stride + width, with nothing after the
// last pixel of the last row, so a read past it is caught.
struct ViewSpec {
  PixelDepth depth = kDepth8;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t stride = 0;  // pixels, at least the width
  bool null_data = false;
};

struct EngineCase {
  ToneMapperSettings settings{};
  ViewSpec input;
  ViewSpec output;
  PixelRect rect{};
  std::int32_t bands = 1;  // the rectangle is toned again cut into this many bands
  PixelSource pixels;      // the input's contents
};

EngineCase DecodeEngineCase(std::span<const std::uint8_t> bytes);

// What a checked case exercised, so a test can tell a sweep that wrote
// pixels from one that only ever met early returns.
struct EngineCoverage {
  bool wrote = false;                    // the call had pixels to tone
  bool compared_with_reference = false;  // and they were compared with the reference
  int fast_variants = 0;                 // faster pass variants compared with the plain passes (0 or 1)
};

// Runs the case and returns every broken rule, one line each; empty when the
// case passed. The rules:
//  - construction throws nothing but std::bad_alloc, Process throws nothing;
//  - the input is never written;
//  - no output byte outside the rectangle clipped to the input is written,
//    stride padding included, and nothing at all when the views differ in
//    size or depth from each other or from the settings, when the depth is
//    unknown or when a view has no pixels;
//  - the same call twice gives the same bytes, and so does the rectangle cut
//    into horizontal bands;
//  - a faster pass variant this machine has (SSE4.1, AVX2, AVX-512; one per
//    case, in turn) writes what the plain passes write, outside the rectangle
//    included (NaNs may differ in sign and payload);
//  - for settings the independent per-pixel reference covers, every toned
//    pixel equals the reference's.
std::vector<std::string> CheckEngineCase(const EngineCase& c, EngineCoverage* coverage = nullptr);

// A one-line description of the case, for failure messages.
std::string Describe(const EngineCase& c);

}  // namespace qv::fuzz
