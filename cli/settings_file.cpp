#include "settings_file.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/errors.h"
#include "safe_file.h"

namespace qv::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kVersionKey = "quorvandile-settings";
constexpr const char* kParametersKey = "parameters";

// The line (from 1) of the byte at `offset` of `text`.
std::size_t LineAt(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const auto end = text.begin() + static_cast<std::ptrdiff_t>(offset);
  return 1 + static_cast<std::size_t>(std::count(text.begin(), end, '\n'));
}

// The line of the first place `key` is written as a JSON key.
std::size_t LineOfKey(const std::string& text, const std::string& key) {
  const std::size_t at = text.find(Json(key).dump() + ":");
  const std::size_t loose = at == std::string::npos ? text.find(Json(key).dump()) : at;
  return loose == std::string::npos ? 1 : LineAt(text, loose);
}

double FixedValue(PF_Fixed value) { return value / 65536.0; }

std::string Where(const std::string& path, std::size_t line) { return path + ":" + std::to_string(line) + ": "; }

// Walks the text as the parser reads it, keeping how far it has read: the
// parser tells the place of a syntax error, but not of a key.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* at, const char** read) : at_(at), read_(read) {}
  const char& operator*() const { return *at_; }
  CountingIterator& operator++() {
    *read_ = ++at_;
    return *this;
  }
  bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
  bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

 private:
  const char* at_;
  const char** read_;
};

// What the parsed value would not show: where the text is not JSON, a number
// no double holds (which the library reports with no place), a key given
// twice in one object (which the library lets the last one win).
class TextCheck : public nlohmann::json_sax<Json> {
 public:
  explicit TextCheck(const std::string& text) : text_(text), read_(text.data()) {}

  // Throws UsageError naming the line.
  void Run(const std::string& path) {
    CountingIterator begin(text_.data(), &read_), end(text_.data() + text_.size(), &read_);
    if (Json::sax_parse(begin, end, this)) return;
    throw UsageError(Where(path, line_) + problem_);
  }

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override {
    keys_.emplace_back();
    return true;
  }
  bool end_object() override {
    keys_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool key(string_t& name) override {
    const std::size_t line = LineRead();
    const auto [first, fresh] = keys_.back().emplace(name, line);
    if (fresh) return true;
    line_ = line;
    problem_ = Json(name).dump() + ": given twice in one object (first on line " + std::to_string(first->second) + ")";
    return false;
  }
  bool parse_error(std::size_t, const std::string& token, const nlohmann::detail::exception& error) override {
    line_ = LineRead();
    if (error.id == kNumberOverflow) {
      problem_ = token + ": a number too large to hold";
      return false;
    }
    std::string what = error.what();
    // Past "[json.exception.parse_error.101] parse error at line 3, column 1".
    const std::size_t colon = what.find("; ");
    problem_ = "not JSON: " + (colon == std::string::npos ? what : what.substr(colon + 2));
    return false;
  }

 private:
  static constexpr int kNumberOverflow = 406;

  // The line of the last character read: past a number the parser has read
  // one more, which may end the line.
  std::size_t LineRead() const {
    return LineAt(text_, read_ == text_.data() ? 0 : static_cast<std::size_t>(read_ - text_.data() - 1));
  }

  const std::string& text_;
  const char* read_;
  std::vector<std::map<std::string, std::size_t>> keys_;  // each open object's keys, and their lines
  std::size_t line_ = 1;
  std::string problem_;
};

// A JSON number as --set would take it: a whole number as one (2.0 is 2, a
// popup's second item), any other in the shortest form that reads back the same.
std::string NumberText(const Json& value) {
  constexpr double kWholeAndExact = 9007199254740992.0;  // 2^53: every whole double below it is exact
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::trunc(number) == number && std::fabs(number) < kWholeAndExact) {
      return std::to_string(static_cast<long long>(number));
    }
  }
  return value.dump();
}

}  // namespace

std::vector<ParamSetting> LoadSettings(const std::string& path, const ParamCatalog& catalog) {
  // A settings file is an argument: one that cannot be read is a mistake in the command.
  std::ifstream file(path, std::ios::binary);
  if (!file) throw UsageError(Because("cannot read", path, "no such file or not readable"));
  std::ostringstream buffer;
  buffer << file.rdbuf();
  const std::string text = buffer.str();

  TextCheck(text).Run(path);
  const Json json = Json::parse(text);
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
      value_text = NumberText(value);
    } else {
      throw UsageError(where + "a value is a string as --set takes it, or a number");
    }
    const std::string origin = where.substr(0, where.size() - 2);
    const ParamSetting setting = ParseSetting(catalog, name + "=" + value_text, origin);
    // Names are taken in any case: "gamma" after "Gamma" is the same control given twice.
    for (const ParamSetting& earlier : settings) {
      if (earlier.index == setting.index) {
        throw UsageError(where + "names the same control as \"" + earlier.name + "\", which the file sets already");
      }
    }
    settings.push_back(setting);
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

std::string SettingsText(const ParamCatalog& catalog, const std::vector<ParamSetting>& used) {
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
  return json.dump(2) + '\n';
}

void SaveSettings(const std::string& path, const ParamCatalog& catalog, const std::vector<ParamSetting>& used) {
  WriteWholeFile(path, SettingsText(catalog, used));
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
