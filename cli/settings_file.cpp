#include "settings_file.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/errors.h"

namespace qv::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kVersionKey = "quorvandile-settings";
constexpr const char* kParametersKey = "parameters";

// The line (from 1) of the byte at `offset` of `text`.
std::size_t LineAt(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

// The line of the first place `key` is written as a JSON key.
std::size_t LineOfKey(const std::string& text, const std::string& key) {
  const std::size_t at = text.find(Json(key).dump() + ":");
  const std::size_t loose = at == std::string::npos ? text.find(Json(key).dump()) : at;
  return loose == std::string::npos ? 1 : LineAt(text, loose);
}

double FixedValue(PF_Fixed value) { return value / 65536.0; }

std::string Where(const std::string& path, std::size_t line) { return path + ":" + std::to_string(line) + ": "; }

}  // namespace

std::vector<ParamSetting> LoadSettings(const std::string& path, const ParamCatalog& catalog) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw RunError(Because("cannot read", path, "no such file or not readable"));
  std::ostringstream buffer;
  buffer << file.rdbuf();
  const std::string text = buffer.str();

  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::parse_error& e) {
    std::string what = e.what();
    const std::size_t colon = what.find("; ");  // past "[json.exception.parse_error.101] parse error at line 3, column 1"
    if (colon != std::string::npos) what = what.substr(colon + 2);
    throw UsageError(Where(path, LineAt(text, e.byte == 0 ? 0 : e.byte - 1)) + "not JSON: " + what);
  } catch (const Json::out_of_range& e) {
    // A number beyond a double ("1e400") is refused by the parser as out of
    // range, without a place: the line is that of the number as written.
    std::string what = e.what();
    const std::size_t quote = what.find('\'');
    const std::string number = quote == std::string::npos ? "" : what.substr(quote + 1, what.rfind('\'') - quote - 1);
    const std::size_t at = number.empty() ? std::string::npos : text.find(number);
    const std::size_t bracket = what.find("] ");
    if (bracket != std::string::npos) what = what.substr(bracket + 2);
    throw UsageError(Where(path, at == std::string::npos ? 1 : LineAt(text, at)) + "not JSON: " + what);
  }
  if (!json.is_object()) throw UsageError(Where(path, 1) + "a settings file is a JSON object");
  for (const auto& [key, value] : json.items()) {
    if (key != kVersionKey && key != kParametersKey) {
      throw UsageError(Where(path, LineOfKey(text, key)) + Quoted(key) + ": not a settings key (\"" +
                       kVersionKey + "\" and \"" + kParametersKey + "\" are)");
    }
  }
  const auto version = json.find(kVersionKey);
  if (version == json.end() || !version->is_number_integer()) {
    throw UsageError(Where(path, 1) + "\"" + kVersionKey + "\": the format version, a whole number, is missing");
  }
  if (version->get<long long>() != kSettingsVersion) {
    throw UsageError(Where(path, LineOfKey(text, kVersionKey)) + "\"" + kVersionKey + "\": version " +
                     std::to_string(version->get<long long>()) + " is not one this tool reads (" +
                     std::to_string(kSettingsVersion) + ")");
  }
  const auto parameters = json.find(kParametersKey);
  if (parameters == json.end()) return {};
  if (!parameters->is_object()) {
    throw UsageError(Where(path, LineOfKey(text, kParametersKey)) + "\"" + kParametersKey +
                     "\": parameter names to values, a JSON object");
  }
  std::vector<ParamSetting> settings;
  for (const auto& [name, value] : parameters->items()) {
    const std::string where = Where(path, LineOfKey(text, name)) + Json(name).dump() + ": ";
    std::string value_text;
    if (value.is_string()) {
      value_text = value.get<std::string>();
    } else if (value.is_number()) {
      value_text = value.dump();
    } else {
      throw UsageError(where + "a value is a string as --set takes it, or a number");
    }
    const std::string origin = where.substr(0, where.size() - 2);
    settings = Overlay(std::move(settings), {ParseSetting(catalog, name + "=" + value_text, origin)});
  }
  return settings;
}

std::vector<ParamSetting> Overlay(std::vector<ParamSetting> earlier, const std::vector<ParamSetting>& later) {
  for (const ParamSetting& setting : later) {
    const auto same = std::find_if(earlier.begin(), earlier.end(),
                                   [&](const ParamSetting& s) { return s.index == setting.index; });
    if (same != earlier.end()) {
      *same = setting;
    } else {
      earlier.push_back(setting);
    }
  }
  return earlier;
}

std::vector<ParamSetting> ApplyLook(PluginSession& session, const std::string& settings_file,
                                    const std::vector<std::string>& sets) {
  std::vector<ParamSetting> look;
  if (!settings_file.empty()) look = LoadSettings(settings_file, session.params());
  look = Overlay(std::move(look), ParseSettings(session.params(), sets));
  for (const ParamSetting& setting : look) session.Apply(setting);
  return look;
}

void SaveSettings(const std::string& path, const ParamCatalog& catalog, const std::vector<ParamSetting>& used) {
  Json parameters = Json::object();
  for (const ParamEntry& param : catalog.entries()) {
    if (!param.HasValue()) continue;
    const auto setting =
        std::find_if(used.begin(), used.end(), [&](const ParamSetting& s) { return s.index == param.index; });
    parameters[param.name] = setting != used.end() ? FormatKeys(param, setting->keys)
                                                   : FormatValue(param, DefaultValue(param));
  }
  Json json = Json::object();
  json[kVersionKey] = kSettingsVersion;
  json[kParametersKey] = std::move(parameters);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << json.dump(2) << '\n';
  file.close();
  if (!file) throw RunError(Because("cannot write", path, "the settings could not be written"));
}

std::string CatalogJson(const ParamCatalog& catalog) {
  Json controls = Json::array();
  for (const ParamEntry& param : catalog.entries()) {
    Json control = Json::object();
    control["index"] = param.index;
    control["name"] = param.name;
    control["kind"] = KindName(param);
    switch (param.kind) {
      case ParamKind::kPopup:
        control["items"] = param.items;
        break;
      case ParamKind::kFloatSlider:
        // As typed: the float 0.01 is 0.01, not 0.009999999776482582.
        control["min"] = std::stod(FormatNumber(param.def.u.fs_d.valid_min));
        control["max"] = std::stod(FormatNumber(param.def.u.fs_d.valid_max));
        control["slider_min"] = std::stod(FormatNumber(param.def.u.fs_d.slider_min));
        control["slider_max"] = std::stod(FormatNumber(param.def.u.fs_d.slider_max));
        break;
      case ParamKind::kFixedSlider:
        control["min"] = FixedValue(param.def.u.fd.valid_min);
        control["max"] = FixedValue(param.def.u.fd.valid_max);
        control["slider_min"] = FixedValue(param.def.u.fd.slider_min);
        control["slider_max"] = FixedValue(param.def.u.fd.slider_max);
        control["percent"] = param.IsPercent();
        break;
      default:
        break;
    }
    if (param.HasValue()) control["default"] = FormatValue(param, DefaultValue(param));
    controls.push_back(std::move(control));
  }
  Json json = Json::object();
  json["controls"] = std::move(controls);
  return json.dump(2);
}

}  // namespace qv::cli
