#pragma once

// Parameter values typed on the command line ("--set NAME=VALUE"), checked
// against the controls the plug-in registered.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "param_catalog.h"
#include "simhost/param_value.h"

namespace qv::cli {

struct ParamKey {
  std::optional<std::int32_t> frame;  // none: the value at every time
  simhost::ParamValue value;
  friend bool operator==(const ParamKey&, const ParamKey&) = default;
};

struct ParamSetting {
  PF_ParamIndex index = 0;
  std::string name;             // as registered
  std::vector<ParamKey> keys;   // one key without a frame, or keyframes by rising frame
};

// "NAME=VALUE", or keyframes "NAME=VALUE@FRAME,VALUE@FRAME,..." at frames from
// 0 on, which the host interpolates between (popups hold their value until the
// next key; before the first key and after the last, the nearest holds). NAME is
// a control's name in any case. VALUE by kind:
//   popup       an item's name in any case, or its number counting from 1;
//   colour      #RRGGBB (hex digits in either case) or R,G,B from 0 to 255; alpha 255;
//   slider      a number within the control's valid range;
//   percentage  a number within the range, optionally followed by '%', stored
//               as the 16.16 value the host stores for it.
// Throws UsageError: one line that quotes the setting (or begins with
// `origin`, where it came from, when given), names the control and says what
// it accepts.
ParamSetting ParseSetting(const ParamCatalog& catalog, std::string_view text, std::string_view origin = {});

// One value for `param`, without keyframes; nothing when `text` is not one.
std::optional<simhost::ParamValue> ParseValue(const ParamEntry& param, std::string_view text);

// The value part of a setting as ParseSetting reads it back: "2.2", or
// keyframes "1@1,2.2@240".
std::string FormatKeys(const ParamEntry& param, const std::vector<ParamKey>& keys);

// Every --set in order. A later setting of a control replaces an earlier one.
std::vector<ParamSetting> ParseSettings(const ParamCatalog& catalog, const std::vector<std::string>& texts);

}  // namespace qv::cli
