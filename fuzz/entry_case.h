#pragma once

// A whole host session driven through EntryPointFunc by the simulated host,
// decoded from bytes: parameter values the host's controls would never allow
// (popups out of range, NaN and infinite sliders, huge and negative percentages,
// keyframes between such values), layers of every pixel format, size and row
// padding, odd requested areas and thread counts. Shared by the libFuzzer
// target and the deterministic test.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pixels.h"
#include "shell/param_index.h"
#include "simhost/host.h"

namespace qv::fuzz {

struct ParamSetting {
  PF_ParamIndex index = 0;
  simhost::ParamValue value;
  std::optional<simhost::ParamValue> later;  // a second keyframe, two frames on
};

struct EntryCase {
  simhost::HostOptions options;
  // PF_GetPixelFormat answers this code, which names no format the effect
  // knows, instead of the layer's own.
  std::optional<PF_PixelFormat> unknown_format;
  std::vector<ParamSetting> params;  // every value parameter, in index order
  PixelSource pixels;
  std::int32_t frames = 1;
  std::uint32_t dropped_frames = 0;  // bit f: frame f is pre-rendered and dropped, not rendered
};

EntryCase DecodeEntryCase(std::span<const std::uint8_t> bytes);

// What a checked session exercised.
struct EntryCoverage {
  int frames_rendered = 0;  // renders that succeeded
  int frames_compared = 0;  // of which the output had pixels, compared with the engine's
  int renders_refused = 0;  // renders that failed as they must (unknown format)
};

// Runs the session and returns every broken rule, one line each; empty when
// it passed. The rules:
//  - no exception leaves the entry point, and the host sees no misuse (suites
//    unbalanced, checkouts not checked in, handles misused, writes outside
//    the output's pixels or to the input, ...);
//  - global setup, parameter setup, the UI update, pre-render and global
//    setdown succeed whatever the values;
//  - a render fails with PF_Err_BAD_CALLBACK_PARAM exactly when the pixel
//    format is unknown, and then writes no output pixel;
//  - a successful render writes exactly what the engine computes from the
//    parameter values at that frame (nothing when the host's output and input
//    differ in size, or when the host reports no thread to render with);
//  - every frame's pre-render data is disposed of, and no handle outlives the
//    session.
std::vector<std::string> CheckEntryCase(const EntryCase& c, EntryCoverage* coverage = nullptr);

std::string Describe(const EntryCase& c);

}  // namespace qv::fuzz
