#pragma once

// Looks saved as files: the effect's parameter values, keyframes included,
// in the value syntax of --set, so that a grade can be repeated and shared.
//
//   {
//     "quorvandile-settings": 1,
//     "parameters": {
//       "Tones": "Pentone",
//       "Gamma": "1@1,2.2@240",
//       "Midtones": "#806446",
//       "Blend with Original": 25
//     }
//   }
//
// Values are strings as --set takes them, or plain numbers for sliders and
// percentages.

#include <string>
#include <vector>

#include "core/param_catalog.h"
#include "core/param_parse.h"
#include "core/plugin_session.h"

namespace qv::cli {

// The format version this tool reads and writes.
inline constexpr int kSettingsVersion = 1;

// The settings of the file at `path`, checked against the plug-in's controls,
// in the file's order. Throws UsageError naming the file, the line and the
// key ("look.json:4: \"Gamma\": ..."), or RunError when it cannot be read.
std::vector<ParamSetting> LoadSettings(const std::string& path, const ParamCatalog& catalog);

// `later` over `earlier`: a control set in both takes its setting from `later`.
std::vector<ParamSetting> Overlay(std::vector<ParamSetting> earlier, const std::vector<ParamSetting>& later);

// Every control's value as `used` sets it or, where it does not, the
// registered default, so that the file pins the whole look: a settings
// file's text.
std::string SettingsText(const ParamCatalog& catalog, const std::vector<ParamSetting>& used);
// Writes SettingsText as a whole file (safe_file.h). Throws RunError.
void SaveSettings(const std::string& path, const ParamCatalog& catalog, const std::vector<ParamSetting>& used);

// The look a command renders with: the settings file's (if any), under the
// --set values, applied to `session`. Returns it as applied.
std::vector<ParamSetting> ApplyLook(PluginSession& session, const std::string& settings_file,
                                    const std::vector<std::string>& sets);

// The controls as the plug-in registers them, as JSON for tools to read:
// name, kind, range, default and popup items.
std::string CatalogJson(const ParamCatalog& catalog);

}  // namespace qv::cli
