#pragma once

// The effect's controls as the plug-in registered them with the host, read
// from the host after parameter setup. Names, kinds, ranges, defaults and
// popup items all come from the registration; nothing here knows them in
// advance.

#include <string>
#include <string_view>
#include <vector>

#include "host_api/ae_params.h"
#include "simhost/param_value.h"

namespace simhost {
class Host;
}

namespace qv::cli {

enum class ParamKind { kPopup, kColour, kFloatSlider, kFixedSlider, kGroupStart, kGroupEnd, kOther };

struct ParamEntry {
  PF_ParamIndex index = 0;
  PF_ParamDef def{};  // as registered, except that a popup's namesptr is cleared: see `items`
  std::string name;
  ParamKind kind = ParamKind::kOther;
  std::vector<std::string> items;  // popup choices; value 1 is items[0]

  // Popups, colours and sliders hold a value; groups and other kinds do not.
  bool HasValue() const;
  // A fixed slider the host shows as a percentage.
  bool IsPercent() const;
};

class ParamCatalog {
 public:
  ParamCatalog() = default;
  explicit ParamCatalog(std::vector<ParamEntry> entries);
  // Every definition the plug-in registered (indices 1 to NumParams() - 1).
  static ParamCatalog FromHost(const simhost::Host& host);

  const std::vector<ParamEntry>& entries() const { return entries_; }
  // The control with a value whose name matches `name`, ignoring case; null if none.
  const ParamEntry* Find(std::string_view name) const;
  // The names of the controls with a value, comma separated, for messages.
  std::string ValueNames() const;

 private:
  std::vector<ParamEntry> entries_;
};

// "popup", "colour", "slider", "percentage", "group", "group end".
std::string KindName(const ParamEntry& param);
// What a value of the control is, for help and error messages: "one of
// Lightness, Luminance, ...", "a number from 0.01 to 50", ...
std::string Accepts(const ParamEntry& param);
// A value as a user would type it: "Tritone", "#806446", "2.2", "25".
std::string FormatValue(const ParamEntry& param, const simhost::ParamValue& value);
// The registered default. The control must have a value.
simhost::ParamValue DefaultValue(const ParamEntry& param);

// Shortest text that reads back as the same number.
std::string FormatNumber(double value);
std::string FormatNumber(float value);
// A 16.16 fixed value as a plain number.
std::string FormatFixed(PF_Fixed value);

// ASCII letters compared without case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace qv::cli
