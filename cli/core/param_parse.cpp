#include "param_parse.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "errors.h"

namespace qv::cli {
namespace {

std::string_view Trim(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

template <class T>
bool ParseWhole(std::string_view text, T* value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseNumber(std::string_view text, double* value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(*value);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<PF_Pixel> ParseColour(std::string_view text) {
  PF_Pixel pixel{255, 0, 0, 0};
  if (!text.empty() && text.front() == '#') {
    if (text.size() != 7) return std::nullopt;
    A_u_char* channels[] = {&pixel.red, &pixel.green, &pixel.blue};
    for (int i = 0; i < 3; ++i) {
      const int high = HexDigit(text[1 + 2 * i]);
      const int low = HexDigit(text[2 + 2 * i]);
      if (high < 0 || low < 0) return std::nullopt;
      *channels[i] = static_cast<A_u_char>(high * 16 + low);
    }
    return pixel;
  }
  A_u_char* channels[] = {&pixel.red, &pixel.green, &pixel.blue};
  std::string_view rest = text;
  for (int i = 0; i < 3; ++i) {
    const std::size_t comma = rest.find(',');
    if ((i < 2) == (comma == std::string_view::npos)) return std::nullopt;
    unsigned value = 0;
    if (!ParseWhole(Trim(rest.substr(0, comma)), &value) || value > 255) return std::nullopt;
    *channels[i] = static_cast<A_u_char>(value);
    if (comma != std::string_view::npos) rest.remove_prefix(comma + 1);
  }
  return pixel;
}

std::optional<simhost::ParamValue> ParsePopup(const ParamEntry& param, std::string_view text) {
  for (std::size_t i = 0; i < param.items.size(); ++i) {
    if (SameNameIgnoringCase(param.items[i], text)) return simhost::PopupValue{static_cast<A_long>(i + 1)};
  }
  A_long number = 0;
  if (ParseWhole(text, &number) && number >= 1 && static_cast<std::size_t>(number) <= param.items.size()) {
    return simhost::PopupValue{number};
  }
  return std::nullopt;
}

std::optional<simhost::ParamValue> ParseFloatSlider(const ParamEntry& param, std::string_view text) {
  double value = 0;
  if (!ParseNumber(text, &value)) return std::nullopt;
  // The range is stored in single precision: compare there, so that the
  // bounds as shown (0.01, 50) are accepted.
  const float single = static_cast<float>(value);
  if (!(single >= param.def.u.fs_d.valid_min && single <= param.def.u.fs_d.valid_max)) return std::nullopt;
  return value;
}

std::optional<simhost::ParamValue> ParseFixedSlider(const ParamEntry& param, std::string_view text) {
  if (param.IsPercent() && !text.empty() && text.back() == '%') text = Trim(text.substr(0, text.size() - 1));
  double value = 0;
  if (!ParseNumber(text, &value) || std::fabs(value) >= 32768.0) return std::nullopt;
  const simhost::FixedValue fixed = simhost::FixedFromDouble(value);
  if (fixed.value < param.def.u.fd.valid_min || fixed.value > param.def.u.fd.valid_max) return std::nullopt;
  return fixed;
}

// "--set "TEXT": ", or where else the setting came from, in front of every
// message about one setting.
std::string Prefix(std::string_view setting, std::string_view origin) {
  std::string prefix;
  if (origin.empty()) {
    prefix = "--set ";
    prefix += Quoted(setting);
  } else {
    prefix = origin;
  }
  prefix += ": ";
  return prefix;
}

}  // namespace

std::optional<simhost::ParamValue> ParseValue(const ParamEntry& param, std::string_view text) {
  text = Trim(text);
  switch (param.kind) {
    case ParamKind::kPopup:
      return ParsePopup(param, text);
    case ParamKind::kColour:
      if (auto colour = ParseColour(text)) return simhost::ParamValue(*colour);
      return std::nullopt;
    case ParamKind::kFloatSlider:
      return ParseFloatSlider(param, text);
    case ParamKind::kFixedSlider:
      return ParseFixedSlider(param, text);
    default:
      return std::nullopt;
  }
}

ParamSetting ParseSetting(const ParamCatalog& catalog, std::string_view text, std::string_view origin) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    throw UsageError(Prefix(text, origin) + "write NAME=VALUE, for example \"Gamma=1.4\"");
  }
  const std::string_view name = Trim(text.substr(0, equals));
  const ParamEntry* param = catalog.Find(name);
  if (!param) {
    throw UsageError(Prefix(text, origin) + "no parameter named " + Quoted(name) + "; the parameters are " +
                     catalog.ValueNames());
  }
  const std::string what = Quoted(param->name) + " takes " + Accepts(*param);
  const auto value_of = [&](std::string_view token) {
    auto value = ParseValue(*param, token);
    if (!value) throw UsageError(Prefix(text, origin) + what + "; " + Quoted(Trim(token)) + " is not one");
    return *value;
  };
  const auto bad_keys = [&]() {
    return UsageError(Prefix(text, origin) + Quoted(param->name) +
                      " keyframes are VALUE@FRAME separated by commas, with frames whole numbers from 0"
                      " (for example 1@1,2.2@240)");
  };
  const auto frame_of = [&](std::string_view token) {
    std::int32_t frame = 0;
    if (!ParseWhole(Trim(token), &frame) || frame < 0) throw bad_keys();
    return frame;
  };

  ParamSetting setting{param->index, param->name, {}};
  const std::string_view value_text = text.substr(equals + 1);
  if (value_text.find('@') == std::string_view::npos) {
    setting.keys.push_back(ParamKey{std::nullopt, value_of(value_text)});
    return setting;
  }
  // Split at '@': the first piece is a value, the last a frame, and each piece
  // between is "FRAME,VALUE". Splitting at the first comma after the frame
  // keeps the commas of an R,G,B colour inside its value.
  std::vector<std::string_view> pieces;
  std::string_view rest = value_text;
  for (std::size_t at = rest.find('@'); at != std::string_view::npos; at = rest.find('@')) {
    pieces.push_back(rest.substr(0, at));
    rest.remove_prefix(at + 1);
  }
  pieces.push_back(rest);
  std::string_view pending = pieces.front();
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    std::string_view piece = pieces[i];
    std::string_view next_value;
    if (i + 1 < pieces.size()) {
      const std::size_t comma = piece.find(',');
      if (comma == std::string_view::npos) throw bad_keys();
      next_value = piece.substr(comma + 1);
      piece = piece.substr(0, comma);
    }
    setting.keys.push_back(ParamKey{frame_of(piece), value_of(pending)});
    pending = next_value;
  }
  std::stable_sort(setting.keys.begin(), setting.keys.end(),
                   [](const ParamKey& a, const ParamKey& b) { return *a.frame < *b.frame; });
  for (std::size_t i = 1; i < setting.keys.size(); ++i) {
    if (*setting.keys[i].frame == *setting.keys[i - 1].frame) {
      throw UsageError(Prefix(text, origin) + Quoted(param->name) + " has two keyframes at frame " +
                       std::to_string(*setting.keys[i].frame));
    }
  }
  return setting;
}

std::vector<ParamSetting> ParseSettings(const ParamCatalog& catalog, const std::vector<std::string>& texts) {
  std::vector<ParamSetting> settings;
  for (const std::string& text : texts) {
    ParamSetting setting = ParseSetting(catalog, text);
    std::erase_if(settings, [&](const ParamSetting& s) { return s.index == setting.index; });
    settings.push_back(std::move(setting));
  }
  return settings;
}

std::string FormatKeys(const ParamEntry& param, const std::vector<ParamKey>& keys) {
  if (keys.size() == 1 && !keys.front().frame) return FormatValue(param, keys.front().value);
  std::string text;
  for (const ParamKey& key : keys) {
    if (!text.empty()) text += ',';
    text += FormatValue(param, key.value);
    text += '@';
    text += std::to_string(key.frame.value_or(0));
  }
  return text;
}

}  // namespace qv::cli
