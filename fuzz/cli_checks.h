#pragma once

// What the tool's parsers of outside text must do with any text: a parse that
// succeeds prints back (with the tool's own printer) to text that parses to
// an equal value; a parse that fails says so in the tool's one-line error (a
// UsageError), and nothing else escapes. Shared by the libFuzzer targets
// fuzz_set, fuzz_frames and fuzz_settings and by the tests that replay them.
// Each check returns every broken rule, one line each; empty when the text
// passed.

#include <string>
#include <string_view>
#include <vector>

#include "core/param_catalog.h"

namespace qv::fuzz {

// The controls as the plug-in registers them (set up once per process).
const cli::ParamCatalog& PluginCatalog();

// `text` as --set takes it: "NAME=VALUE" or keyframes "NAME=V@F,V@F,...".
std::vector<std::string> CheckSetText(const cli::ParamCatalog& catalog, std::string_view text);

// `text` as --frames takes it; and its first line as a path with a frame
// number's stand-in (a frame pattern), whose frames' file names must read back
// as the frames, and its second line as a file name the pattern may match.
std::vector<std::string> CheckFrameText(std::string_view text);

// `text` as the contents of a settings file (--settings), written back with
// the tool's writer (--save-settings) when it loads.
std::vector<std::string> CheckSettingsText(const cli::ParamCatalog& catalog, std::string_view text);

}  // namespace qv::fuzz
