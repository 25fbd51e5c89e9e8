// quorvandile params and quorvandile info: what the plug-in says about itself.

#include <cstdio>
#include <string>

#include "commands.h"
#include "core/errors.h"
#include "core/param_catalog.h"
#include "settings_file.h"

namespace qv::cli {
namespace {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The names of the set bits of `value` that `names` knows, and any others in hex.
template <std::size_t N>
std::string FlagNames(std::uint32_t value, const std::pair<std::uint32_t, const char*> (&names)[N]) {
  std::string text;
  std::uint32_t rest = value;
  for (const auto& [bit, name] : names) {
    if ((value & bit) == 0) continue;
    if (!text.empty()) text += " | ";
    text += name;
    rest &= ~bit;
  }
  if (rest != 0) {
    if (!text.empty()) text += " | ";
    text += Hex(rest);
  }
  return text.empty() ? std::string("none") : text;
}

// The host's packed version word: major, minor, bug fix, stage, build.
std::string DecodeVersion(std::uint32_t word) {
  static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
  const unsigned major = ((word >> 19) & 0x7) | (((word >> 26) & 0xF) << 3);
  const unsigned minor = (word >> 15) & 0xF;
  const unsigned bugfix = (word >> 11) & 0xF;
  const unsigned stage = (word >> 9) & 0x3;
  const unsigned build = word & 0x1FF;
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(bugfix) + " " + kStages[stage] +
         ", build " + std::to_string(build);
}

std::string Version(const simhost::PiplVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor);
}

void Row(const char* label, const std::string& value) { std::printf("  %-22s %s\n", label, value.c_str()); }

std::string Range(const ParamEntry& param) {
  switch (param.kind) {
    case ParamKind::kPopup:
      return "1 to " + std::to_string(param.items.size());
    case ParamKind::kColour:
      return "0 to 255 per channel";
    case ParamKind::kFloatSlider: {
      const auto& s = param.def.u.fs_d;
      return FormatNumber(s.valid_min) + " to " + FormatNumber(s.valid_max) + " (slider " +
             FormatNumber(s.slider_min) + " to " + FormatNumber(s.slider_max) + ")";
    }
    case ParamKind::kFixedSlider: {
      const auto& s = param.def.u.fd;
      return FormatFixed(s.valid_min) + " to " + FormatFixed(s.valid_max) + (param.IsPercent() ? " %" : "") +
             " (slider " + FormatFixed(s.slider_min) + " to " + FormatFixed(s.slider_max) + ")";
    }
    default:
      return "";
  }
}

}  // namespace

int RunParams(const SessionOptions& session_options, bool json) {
  PluginSession session(session_options);
  if (json) {
    std::printf("%s\n", CatalogJson(session.params()).c_str());
    session.Close();
    return 0;
  }
  std::printf("%-3s %-20s %-11s %-36s %s\n", "#", "name", "kind", "range", "default");
  for (const ParamEntry& param : session.params().entries()) {
    const std::string name = param.name.empty() ? std::string("(unnamed)") : param.name;
    const std::string fallback = param.HasValue() ? FormatValue(param, DefaultValue(param)) : std::string();
    std::printf("%-3d %-20s %-11s %-36s %s\n", static_cast<int>(param.index), name.c_str(), KindName(param).c_str(),
                Range(param).c_str(), fallback.c_str());
    if (param.kind == ParamKind::kPopup) {
      std::vector<std::string> items;
      for (std::size_t i = 0; i < param.items.size(); ++i) {
        items.push_back(std::to_string(i + 1) + " " + param.items[i]);
      }
      std::printf("    items: %s\n", Joined(items).c_str());
    }
  }
  std::printf("\nSet a value with --set \"NAME=VALUE\": popups by item, colours as #RRGGBB or R,G,B,\n"
              "sliders and percentages as numbers; keyframes as VALUE@FRAME,VALUE@FRAME.\n");
  session.Close();
  return 0;
}

int RunVersion(const SessionOptions& session_options, const std::string& tool_version) {
  std::printf("%s\n", tool_version.c_str());
  std::fflush(stdout);
  PluginSession session(session_options);
  const std::string about = session.About();
  std::printf("plug-in %s (%s)\n", about.substr(0, about.find('\n')).c_str(), session.plugin_path().c_str());
  session.Close();
  return 0;
}

int RunInfo(const SessionOptions& session_options) {
  PluginSession session(session_options);
  static const std::pair<std::uint32_t, const char*> kOutFlags[] = {
      {PF_OutFlag_DISPLAY_ERROR_MESSAGE, "PF_OutFlag_DISPLAY_ERROR_MESSAGE"},
      {PF_OutFlag_REFRESH_UI, "PF_OutFlag_REFRESH_UI"},
      {PF_OutFlag_DEEP_COLOR_AWARE, "PF_OutFlag_DEEP_COLOR_AWARE"},
      {PF_OutFlag_SEND_UPDATE_PARAMS_UI, "PF_OutFlag_SEND_UPDATE_PARAMS_UI"}};
  static const std::pair<std::uint32_t, const char*> kOutFlags2[] = {
      {PF_OutFlag2_SUPPORTS_SMART_RENDER, "PF_OutFlag2_SUPPORTS_SMART_RENDER"},
      {PF_OutFlag2_FLOAT_COLOR_AWARE, "PF_OutFlag2_FLOAT_COLOR_AWARE"}};

  std::printf("%s\n\n", session.About().c_str());
  std::printf("Plug-in library: %s\n\n", session.plugin_path().c_str());
  const simhost::PiplInfo& pipl = session.pipl();
  std::printf("Registration resource (PiPL):\n");
  Row("Kind", pipl.kind + (pipl.kind == simhost::kEffectKind ? " (effect)" : ""));
  Row("Name", pipl.name);
  Row("Category", pipl.category);
  Row("Entry point (Win64)", pipl.entry_point);
  Row("PiPL version", Version(pipl.pipl_version));
  Row("Effect API version", Version(pipl.spec_version));
  Row("Effect version", Hex(pipl.effect_version) + " = " + DecodeVersion(pipl.effect_version));
  Row("Info flags", Hex(pipl.info_flags));
  Row("Global out flags", Hex(pipl.global_out_flags) + " = " + FlagNames(pipl.global_out_flags, kOutFlags));
  Row("Global out flags 2", Hex(pipl.global_out_flags2) + " = " + FlagNames(pipl.global_out_flags2, kOutFlags2));
  Row("Match name", pipl.match_name);
  Row("Reserved info", std::to_string(pipl.reserved_info));
  std::string keys;
  for (const std::string& key : pipl.keys) {
    if (!keys.empty()) keys += ' ';
    keys += key;
  }
  Row("Properties", keys);
  session.Close();
  return 0;
}

}  // namespace qv::cli
