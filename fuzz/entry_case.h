#pragma once

// A whole host session driven through EntryPointFunc by the simulated host,
// decoded from bytes: parameter values the host's controls would never allow
// (popups out of range, NaN and infinite sliders, huge and negative percentages,
// keyframes between such values), layers of every pixel format, size and row
// padding, odd requested areas and thread counts. Shared by the libFuzzer
// target and the deterministic test.

#include <array>
#include <cstdint>
#include <memory>
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

// The plug-in in a simulated host for case after case, as a host keeps an
// effect between renders: global and parameter setup once, then each case
// sets its host options, layer and values, updates the controls and renders
// its frames. Every `cases_per_setup` cases the effect is set down and set up
// again in a new host, so that the host's records stay small and setup and
// setdown are checked all through a run.
//
// Check() returns every broken rule, one line each; empty when the case
// passed. The rules:
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
//  - every frame's pre-render data is disposed of: after a case the handles
//    alive are those alive after setup, and none outlives global setdown.
class EntryHost {
 public:
  explicit EntryHost(int cases_per_setup);
  ~EntryHost();
  EntryHost(const EntryHost&) = delete;
  EntryHost& operator=(const EntryHost&) = delete;

  std::vector<std::string> Check(const EntryCase& c, EntryCoverage* coverage = nullptr);
  // Sets the effect down, if it is set up; the rules that broke.
  std::vector<std::string> Close();

 private:
  struct Session;
  std::unique_ptr<Session> session_;
  int cases_per_setup_;
  int cases_ = 0;
};

// One case in a host of its own, set up for it and set down after it.
std::vector<std::string> CheckEntryCase(const EntryCase& c, EntryCoverage* coverage = nullptr);

std::string Describe(const EntryCase& c);

}  // namespace qv::fuzz
