#include "param_catalog.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "errors.h"
#include "simhost/host.h"

namespace qv::cli {
namespace {

ParamKind KindOf(PF_ParamType type) {
  switch (type) {
    case PF_Param_POPUP:
      return ParamKind::kPopup;
    case PF_Param_COLOR:
      return ParamKind::kColour;
    case PF_Param_FLOAT_SLIDER:
      return ParamKind::kFloatSlider;
    case PF_Param_FIX_SLIDER:
      return ParamKind::kFixedSlider;
    case PF_Param_GROUP_START:
      return ParamKind::kGroupStart;
    case PF_Param_GROUP_END:
      return ParamKind::kGroupEnd;
    default:
      return ParamKind::kOther;
  }
}

std::vector<std::string> SplitChoices(const char* names) {
  std::vector<std::string> items;
  if (!names) return items;
  std::string_view rest(names);
  while (true) {
    const std::size_t bar = rest.find('|');
    items.emplace_back(rest.substr(0, bar));
    if (bar == std::string_view::npos) break;
    rest.remove_prefix(bar + 1);
  }
  return items;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

template <class T>
std::string ShortestNumber(T value) {
  std::array<char, 64> text{};
  const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc()) return "?";
  return std::string(text.data(), end);
}

std::string Range(const std::string& low, const std::string& high) { return "from " + low + " to " + high; }

}  // namespace

bool ParamEntry::HasValue() const {
  return kind == ParamKind::kPopup || kind == ParamKind::kColour || kind == ParamKind::kFloatSlider ||
         kind == ParamKind::kFixedSlider;
}

bool ParamEntry::IsPercent() const {
  return kind == ParamKind::kFixedSlider && (def.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT) != 0;
}

ParamCatalog::ParamCatalog(std::vector<ParamEntry> entries) : entries_(std::move(entries)) {}

ParamCatalog ParamCatalog::FromHost(const simhost::Host& host) {
  std::vector<ParamEntry> entries;
  for (PF_ParamIndex index = 1; index < host.NumParams(); ++index) {
    ParamEntry entry;
    entry.index = index;
    entry.def = host.Param(index);
    const char* name = entry.def.name_do_not_use_directly;
    entry.name.assign(name, strnlen(name, sizeof entry.def.name_do_not_use_directly));
    entry.kind = KindOf(entry.def.param_type);
    if (entry.kind == ParamKind::kPopup) {
      entry.items = SplitChoices(entry.def.u.pd.u.namesptr);
      entry.def.u.pd.u.namesptr = nullptr;  // the host's copy lives only as long as the host
    }
    entries.push_back(std::move(entry));
  }
  return ParamCatalog(std::move(entries));
}

const ParamEntry* ParamCatalog::Find(std::string_view name) const {
  for (const ParamEntry& entry : entries_) {
    if (entry.HasValue() && SameNameIgnoringCase(entry.name, name)) return &entry;
  }
  return nullptr;
}

std::string ParamCatalog::ValueNames() const {
  std::vector<std::string> names;
  for (const ParamEntry& entry : entries_) {
    if (entry.HasValue()) names.push_back(entry.name);
  }
  return Joined(names);
}

std::string KindName(const ParamEntry& param) {
  switch (param.kind) {
    case ParamKind::kPopup:
      return "popup";
    case ParamKind::kColour:
      return "colour";
    case ParamKind::kFloatSlider:
      return "slider";
    case ParamKind::kFixedSlider:
      return param.IsPercent() ? "percentage" : "slider";
    case ParamKind::kGroupStart:
      return "group";
    case ParamKind::kGroupEnd:
      return "group end";
    case ParamKind::kOther:
      break;
  }
  return "type " + std::to_string(param.def.param_type);
}

std::string Accepts(const ParamEntry& param) {
  switch (param.kind) {
    case ParamKind::kPopup: {
      std::string text = "one of " + Joined(param.items);
      text += " (or its number, 1 to " + std::to_string(param.items.size()) + ")";
      return text;
    }
    case ParamKind::kColour:
      return "a colour as #RRGGBB or R,G,B with each from 0 to 255";
    case ParamKind::kFloatSlider:
      return "a number " +
             Range(FormatNumber(param.def.u.fs_d.valid_min), FormatNumber(param.def.u.fs_d.valid_max));
    case ParamKind::kFixedSlider:
      return std::string(param.IsPercent() ? "a percentage " : "a number ") +
             Range(FormatFixed(param.def.u.fd.valid_min), FormatFixed(param.def.u.fd.valid_max));
    default:
      return "no value";
  }
}

std::string FormatValue(const ParamEntry& param, const simhost::ParamValue& value) {
  if (const auto* popup = std::get_if<simhost::PopupValue>(&value)) {
    if (popup->value >= 1 && static_cast<std::size_t>(popup->value) <= param.items.size()) {
      return param.items[static_cast<std::size_t>(popup->value - 1)];
    }
    return std::to_string(popup->value);
  }
  if (const auto* colour = std::get_if<PF_Pixel>(&value)) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", colour->red, colour->green, colour->blue);
    return text;
  }
  if (const auto* number = std::get_if<double>(&value)) return FormatNumber(*number);
  return FormatFixed(std::get<simhost::FixedValue>(value).value);
}

simhost::ParamValue DefaultValue(const ParamEntry& param) {
  switch (param.kind) {
    case ParamKind::kPopup:
      return simhost::PopupValue{param.def.u.pd.dephault};
    case ParamKind::kColour:
      return param.def.u.cd.dephault;
    case ParamKind::kFloatSlider:
      return static_cast<double>(param.def.u.fs_d.dephault);
    case ParamKind::kFixedSlider:
      return simhost::FixedValue{param.def.u.fd.dephault};
    default:
      throw std::invalid_argument("control \"" + param.name + "\" has no value");
  }
}

std::string FormatNumber(double value) { return ShortestNumber(value); }
std::string FormatNumber(float value) { return ShortestNumber(value); }
std::string FormatFixed(PF_Fixed value) { return ShortestNumber(static_cast<double>(value) / 65536.0); }

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

}  // namespace qv::cli
