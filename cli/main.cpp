// quorvandile: renders image files through the Quorvandile plug-in, loaded by
// the simulated host and driven through its EntryPointFunc as a host does.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <new>
#include <thread>

#include "commands.h"
#include "core/errors.h"

namespace {

using namespace qv::cli;

constexpr const char* kRenderFooter = R"(Parameters (--set "NAME=VALUE", repeatable; names and popup items as the
plug-in registers them, in any case; 'quorvandile params' lists them):
  popups by item or number         "Tones=Pentone"  "Base On=Luminance"
  colours as #RRGGBB or R,G,B      "Midtones=#806446"  "Shadows=20,30,60"
  sliders as numbers               "Gamma=1.4"
  percentages from 0 to 100        "Blend with Original=25"
  keyframes VALUE@FRAME,...        "Gamma=1@1,2.2@240" (linear between keys;
                                   popups hold; frames from 0)
  A parameter not set keeps its registered default.

Depth: 8-bit files render at 8 bits, 16-bit files at 16 bits (file 0..65535
  <-> host 0..32768, rounded to nearest both ways), half and float at float;
  --depth overrides. The output keeps the input's sample type unless --type.

Alpha: the effect works on straight (unassociated) colour: it replaces colour
  and multiplies alpha. PNG, TIFF and other formats are read and written as
  stored, never premultiplied. OpenEXR holds associated (premultiplied) colour:
  it is divided by alpha after reading (where alpha > 0) and multiplied by alpha
  before writing. --alpha straight|associated overrides every file's convention.

Channels: grey, grey+alpha, RGB and RGBA inputs (alpha 1 where missing).
  --channels auto (default) keeps the input's layout and adds colour or alpha
  only when the result has them (toned grey comes out RGB, transparency adds
  alpha); keep writes the input's layout exactly (colour as grey luma, alpha
  dropped); grey, grey+alpha, rgb, rgba choose one. A format without alpha
  (JPEG) gets the colour alone.

Sequences: a run of # in IN and OUT stands for the frame number, zero-padded
  (shot.####.exr), with --frames FIRST-LAST. Each frame renders at its own time
  (frame f at f/24 s), so keyframed parameters animate. An IN without # is used
  for every frame. A failing frame stops the run; frames written stay valid.

Output files are written under a temporary name and renamed when complete.
Options of every command: --plugin PATH (or QUORVANDILE_PLUGIN), --threads N,
--no-strict (see quorvandile --help).
Exit status: 0 done, 1 a file or the plug-in failed, 2 bad arguments.)";

// The plug-in installed with the executable: beside it, else where make
// install and the package put it (QV_INSTALLED_PLUGIN_DIR, relative to the
// executable's folder); else the one this build made.
std::string DefaultPluginPath() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path folder = self.parent_path();
    for (const std::filesystem::path& candidate :
         {folder / QV_PLUGIN_FILE_NAME, folder / QV_INSTALLED_PLUGIN_DIR / QV_PLUGIN_FILE_NAME}) {
      if (std::filesystem::exists(candidate, error)) return candidate.lexically_normal().string();
    }
  }
  return QV_DEFAULT_PLUGIN;
}

template <class T>
std::optional<T> Lookup(const std::map<std::string, T>& names, const std::string& text) {
  if (text.empty()) return std::nullopt;
  return names.at(text);  // the option's own check admits only these names
}

template <class T>
std::vector<std::string> Keys(const std::map<std::string, T>& names) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : names) keys.push_back(key);
  return keys;
}

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "quorvandile: %s\n", message.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  RemoveTemporaryFileOnSignals();

  const std::map<std::string, Depth> kDepths = {{"8", Depth::k8}, {"16", Depth::k16}, {"32", Depth::kFloat}};
  const std::map<std::string, AlphaConvention> kAlphas = {{"straight", AlphaConvention::kStraight},
                                                          {"associated", AlphaConvention::kAssociated}};
  const std::map<std::string, ChannelsMode> kChannels = {
      {"auto", ChannelsMode::kAuto}, {"keep", ChannelsMode::kKeep}, {"grey", ChannelsMode::kGrey},
      {"grey+alpha", ChannelsMode::kGreyAlpha}, {"rgb", ChannelsMode::kRgb}, {"rgba", ChannelsMode::kRgba}};
  const std::map<std::string, OIIO::TypeDesc> kTypes = {{"uint8", OIIO::TypeDesc::UINT8},
                                                        {"uint16", OIIO::TypeDesc::UINT16},
                                                        {"half", OIIO::TypeDesc::HALF},
                                                        {"float", OIIO::TypeDesc::FLOAT}};

  CLI::App app{"Recolours images by their tones through the Quorvandile effect plug-in, loaded by a\n"
               "simulated host and driven through its EntryPointFunc as the host drives it.",
               "quorvandile"};
  app.require_subcommand(1);
  app.fallthrough();  // the options below may also follow the command
  app.set_version_flag("--version", "quorvandile " QV_VERSION);

  SessionOptions session;
  session.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::string plugin;
  app.add_option("--plugin", plugin, "The plug-in library (default: the one installed with the tool, else this build's)")
      ->envname("QUORVANDILE_PLUGIN");
  app.add_option("--threads", session.threads, "The host's render threads (default: all cores)")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  app.add_flag("--strict,!--no-strict", session.strict,
               "Check the plug-in's use of the host and stop on misuse (default: on)");

  RenderOptions render;
  std::string depth, alpha, channels = "auto", type;
  CLI::App* render_command =
      app.add_subcommand("render", "Render an image file, or a frame sequence, through the plug-in");
  render_command->add_option("IN", render.input, "Input image (PNG, TIFF, EXR, JPEG, ...) or frame pattern")
      ->required();
  render_command->add_option("-o,--output", render.output, "Output image or frame pattern; its extension names the format")
      ->required();
  render_command->add_option("--set", render.sets, "Set a parameter: \"NAME=VALUE\" (repeatable; see below)")
      ->allow_extra_args(false);
  render_command->add_option("--frames", render.frames, "Frames to render: N or FIRST-LAST");
  render_command->add_option("--depth", depth, "Render depth: 8, 16 or 32 (float); default: the file's")
      ->check(CLI::IsMember(Keys(kDepths)));
  render_command->add_option("--alpha", alpha, "Alpha convention of the files: straight or associated")
      ->check(CLI::IsMember(Keys(kAlphas)));
  render_command->add_option("--channels", channels, "Output layout: auto, keep, grey, grey+alpha, rgb, rgba")
      ->check(CLI::IsMember(Keys(kChannels)))
      ->capture_default_str();
  render_command->add_option("--type", type, "Output sample type: uint8, uint16, half, float; default: the input's")
      ->check(CLI::IsMember(Keys(kTypes)));
  render_command->add_flag("-q,--quiet", render.quiet, "No progress and no summary");
  render_command->footer(kRenderFooter);

  app.add_subcommand("params", "List the plug-in's parameters: kind, range, default, popup items");
  app.add_subcommand("info", "Show the plug-in's About text and its registration resource, decoded");

  DemoOptions demo;
  demo.output = "contact-sheet.png";
  CLI::App* demo_command = app.add_subcommand(
      "demo", "Render a contact sheet of the effect's looks on a built-in test chart, or on IN");
  demo_command->add_option("IN", demo.input, "A picture to use instead of the test chart");
  demo_command->add_option("-o,--output", demo.output, "The contact sheet (PNG)")->capture_default_str();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    return Fail(kExitUsageError, message + " (see --help)");
  }

  session.plugin_path = plugin.empty() ? DefaultPluginPath() : plugin;
  try {
    if (render_command->parsed()) {
      render.depth = Lookup(kDepths, depth);
      render.alpha = Lookup(kAlphas, alpha);
      render.channels = kChannels.at(channels);
      render.type = Lookup(kTypes, type);
      return RunRender(session, render);
    }
    if (demo_command->parsed()) return RunDemo(session, demo);
    if (app.got_subcommand("params")) return RunParams(session);
    if (app.got_subcommand("info")) return RunInfo(session);
    return Fail(kExitUsageError, "no command given (see --help)");
  } catch (const UsageError& e) {
    return Fail(kExitUsageError, e.what());
  } catch (const RunError& e) {
    return Fail(kExitRunError, e.what());
  } catch (const std::bad_alloc&) {
    return Fail(kExitRunError, "out of memory");
  } catch (const std::exception& e) {
    return Fail(kExitRunError, e.what());
  }
}
