// quorvandile demo: one contact sheet of the effect's looks on a test chart
// or on the user's own picture, every panel rendered through the plug-in.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "core/contact_sheet.h"
#include "core/errors.h"
#include "core/layer.h"
#include "core/param_parse.h"
#include "core/test_chart.h"
#include "frame_plan.h"

namespace qv::cli {
namespace {

constexpr std::int32_t kPanelWidth = 320;
constexpr std::int32_t kPanelHeight = 216;
constexpr int kColumns = 4;

// A look: a caption and the settings it is rendered with, written as a user
// would pass them to --set.
struct Look {
  const char* title;
  std::vector<std::string> sets;
};

// By default the shadows are transparent (opacity runs from "Shadows Opacity"
// at tone 0 to "Highlights Opacity" at tone 1); most looks make them opaque so
// that their colours show, and say so in their captions.
const std::vector<Look>& Looks() {
  static const std::vector<Look> kLooks = {
      {"Monotone", {"Tones=Monotone"}},
      {"Duotone", {"Tones=Duotone", "Shadows Opacity=100"}},
      {"Tritone", {"Tones=Tritone", "Shadows Opacity=100"}},
      {"Pentone", {"Tones=Pentone", "Shadows Opacity=100"}},
      {"Duotone, own colours", {"Tones=Duotone", "Highlights=#FFE6B4", "Shadows=#1E2850", "Shadows Opacity=100"}},
      {"Pentone by luminance", {"Tones=Pentone", "Base On=Luminance", "Shadows Opacity=100"}},
      {"Darker midtones", {"Tones=Pentone", "Gamma=0.5", "Shadows Opacity=100"}},
      {"Levels", {"Input Black=0.2", "Input White=0.8", "Shadows Opacity=100"}},
      {"Half blended", {"Blend with Original=50"}},
      {"Pentone by red", {"Tones=Pentone", "Base On=Red", "Shadows Opacity=100"}},
  };
  return kLooks;
}

// The picture every look is rendered from: RGBA, 8 bits, straight colour.
Image<std::uint8_t> SourcePicture(const DemoOptions& options) {
  if (options.input.empty()) return MakeTestChart(kPanelWidth, kPanelHeight);
  const InputImage input = ReadImage(options.input, Depth::k8, std::nullopt, options.limits);
  const Raster rgba = FromWorld(ToWorld(input.raster), 4);
  return FitWithin(std::get<Image<std::uint8_t>>(rgba), kPanelWidth, kPanelHeight);
}

Image<std::uint8_t> RenderLook(PluginSession& session, const Image<std::uint8_t>& source,
                               const std::vector<std::string>& sets) {
  session.ResetParams();
  for (const ParamSetting& setting : ParseSettings(session.params(), sets)) session.Apply(setting);
  const simhost::World rendered = session.Render(0, ToWorld(Raster(source)));
  return std::get<Image<std::uint8_t>>(FromWorld(rendered, 4));
}

// "Defaults" and a few defaults as the plug-in registered them.
std::vector<std::string> DefaultsCaption(const ParamCatalog& params) {
  std::vector<std::string> caption = {"Defaults"};
  for (const char* name : {"Tones", "Base On", "Shadows Opacity"}) {
    if (const ParamEntry* param = params.Find(name)) {
      caption.push_back(param->name + "=" + FormatValue(*param, DefaultValue(*param)));
    }
  }
  return caption;
}

}  // namespace

int RunDemo(const SessionOptions& session_options, const DemoOptions& options) {
  PluginSession session(session_options);
  // Every look's settings are checked before anything is rendered or written.
  for (const Look& look : Looks()) ParseSettings(session.params(), look.sets);
  if (!options.input.empty()) RefuseOutputOverInput(options.input, options.output);
  CheckWritable(options.output);

  const Image<std::uint8_t> source = SourcePicture(options);
  std::vector<SheetPanel> panels;
  panels.push_back({{"Original", options.input.empty() ? "built-in test chart"
                                                       : std::filesystem::path(options.input).filename().string()},
                    source});
  panels.push_back({DefaultsCaption(session.params()), RenderLook(session, source, {})});
  for (const Look& look : Looks()) {
    std::vector<std::string> caption = {look.title};
    caption.insert(caption.end(), look.sets.begin(), look.sets.end());
    panels.push_back({caption, RenderLook(session, source, look.sets)});
  }
  std::string title = session.About();
  title.resize(std::min(title.size(), title.find('\n')));
  title += " - contact sheet";
  session.Close();

  WriteSettings write;
  write.type = {OIIO::TypeDesc::UINT8, 0};
  WriteImage(options.output, ComposeSheet(title, panels, kColumns), write);
  if (!options.quiet) std::printf("Wrote %s\n", options.output.c_str());
  return 0;
}

}  // namespace qv::cli
