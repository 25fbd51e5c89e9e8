// quorvandile: renders image files through the Quorvandile plug-in, loaded by
// the simulated host and driven through its EntryPointFunc as a host does.

#include <CLI/CLI.hpp>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <new>

#include "commands.h"
#include "core/errors.h"
#include "core/node_resources.h"
#include "library_messages.h"
#include "safe_file.h"

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
  --depth overrides. The output keeps the input's sample type unless --type,
  packed bits too where its format holds them (10-bit DPX stays 10-bit); a
  --type the output format cannot hold is refused, naming those it can.

Alpha: the effect works on straight (unassociated) colour: it replaces colour
  and multiplies alpha. Each file is read in its own convention.
  OpenEXR holds associated (premultiplied) colour, and so does a TIFF marked
  so (ExtraSamples 1): it is divided by alpha after reading (where alpha > 0)
  and multiplied by alpha before writing. PNG, WebP, other TIFFs and other
  formats are read and written as stored, never premultiplied. A TIFF output
  keeps the input's convention. --alpha straight|associated overrides every
  file's convention.

Channels: colour is R, G, B or Y and alpha is A, found by name (in one layer,
  such as beauty.R; alpha 1 where missing); every other channel passes through
  where the output holds it (OpenEXR; TIFF, of one sample type, without names).
  --channels auto (default) keeps the input's layout and adds colour or alpha
  only when the result has them (toned grey comes out RGB, transparency adds
  alpha); keep writes the input's layout exactly (colour as grey luma, alpha
  dropped); grey, grey+alpha, rgb, rgba choose one. A format without alpha
  (JPEG) gets the colour alone.

Sequences: the frame number in IN and OUT as pipelines write it: shot.####.exr
  (padded to the run; a lone # pads to 4), shot.@@@@.exr (one digit per @),
  shot.%04d.exr (printf), shot.$F4.exr (Houdini). --frames FIRST-LAST chooses
  the frames; without it, IN's pattern takes the files on disk. Each frame
  renders at its own time (frame f at f/24 s), so keyframed parameters
  animate. An IN without a pattern is used for every frame. --jobs frames are
  in flight at once, put in place in frame order: a failing frame stops the
  run and leaves exactly the frames before it.

Limits: an input is refused, before any of its pixels are read, when its
  header declares more than --max-pixels pixels (default 268435456, that is
  16384x16384) or a frame that needs more than --max-memory at its render
  depth (default: half the memory the process may use); 0 lifts a limit.
  Rows wider than the host's 32-bit row stride holds are refused whatever the
  limits. The frames in flight take --max-memory together: each waits,
  before its pixels are read, until the memory its own header declares is
  free.

Output files are written to a hidden partial file, checked, synced and read
back, and only then renamed over the target; a damaged input fails.
Exit status: 0 done, 1 a file or the plug-in failed, 2 bad arguments.)";

// The heading of the options that mean the same to every command, defined
// once on the tool and taken by each command, before or after its name.
constexpr const char* kEveryCommand = "Options of every command (before or after it)";

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

// The look a command renders with, as render and lut take it.
void AddLookOptions(CLI::App& command, std::vector<std::string>& sets, std::string& settings_file) {
  command.add_option("--set", sets, "Set a parameter: \"NAME=VALUE\" (repeatable; 'quorvandile params' lists them)")
      ->allow_extra_args(false);
  command.add_option("--settings", settings_file,
                     "A look saved as JSON (quorvandile render --save-settings); --set values override it");
}

// The limits an input file is held to, wherever a command reads one. Returns
// the options, for a command that passes them on.
std::vector<CLI::Option*> AddInputLimits(CLI::App& command, FrameLimits& limits) {
  limits.max_memory = DefaultMaxMemory();
  return {command
              .add_option("--max-pixels", limits.max_pixels,
                          "Refuse an input declaring more pixels than this; 0: no limit")
              ->capture_default_str(),
          command
              .add_option("--max-memory", limits.max_memory,
                          "Memory the frames in flight take together (e.g. 8G), each as much as its own header "
                          "declares; an input whose frame alone needs more is refused; 0: no limit; "
                          "default: half the memory this process may use, the physical memory or its cgroup's "
                          "limit if lower (" + FormatBytes(limits.max_memory) + ")")
              ->transform(CLI::AsSizeValue(false))};
}

// The options of every command, in each command's help as in the tool's.
std::string EveryCommandHelp(const CLI::App& app) {
  // Each command lists its own -h.
  const std::vector<const CLI::Option*> options = app.get_options([&app](const CLI::Option* option) {
    return option->get_group() == kEveryCommand && option != app.get_help_ptr();
  });
  return CLI::Formatter().make_group(kEveryCommand, false, options);  // laid out as the tool's help lays it
}

int Fail(int status, const std::string& message) {
  std::fprintf(UserErrors(), "quorvandile: %s\n", message.c_str());
  return status;
}

// Runs a command: its exit status, or the status and one line for what it threw.
template <class Command>
int Run(Command&& command) {
  try {
    return command();
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

}  // namespace

// Pixel buffers from the system and back to it when freed, whatever their
// size: left to the allocator, a buffer below its moving threshold (32 MiB)
// stays in the arena of the thread that freed it, out of reach of the frame
// another thread reads next, and the frames in flight take more than their
// memory budget says.
constexpr int kMappedAllocationBytes = 1 << 20;

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, kMappedAllocationBytes);
  RemovePartialFileOnSignals();

  const std::map<std::string, Depth> kDepths = {{"8", Depth::k8}, {"16", Depth::k16}, {"32", Depth::kFloat}};
  const std::map<std::string, AlphaConvention> kAlphas = {{"straight", AlphaConvention::kStraight},
                                                          {"associated", AlphaConvention::kAssociated}};
  const std::map<std::string, ChannelsMode> kChannels = {
      {"auto", ChannelsMode::kAuto}, {"keep", ChannelsMode::kKeep}, {"grey", ChannelsMode::kGrey},
      {"grey+alpha", ChannelsMode::kGreyAlpha}, {"rgb", ChannelsMode::kRgb}, {"rgba", ChannelsMode::kRgba}};
  std::map<std::string, FileType> kTypes;
  std::vector<std::string> type_names;  // from the least precise to the most
  for (const NamedFileType& named : FileTypes()) {
    kTypes.emplace(named.name, named.type);
    type_names.push_back(named.name);
  }

  CLI::App app{"Recolours images by their tones through the Quorvandile effect plug-in, loaded by a\n"
               "simulated host and driven through its EntryPointFunc as the host drives it.",
               "quorvandile"};
  app.require_subcommand(1);
  app.fallthrough();  // the options below may also follow the command

  SessionOptions session;
  session.threads = static_cast<int>(UsableCores());
  std::string plugin;
  app.get_help_ptr()->group(kEveryCommand);
  app.option_defaults()->group(kEveryCommand);
  app.add_option("--plugin", plugin,
                 "The plug-in library (default: the one installed with the tool, else this build's)")
      ->envname("QUORVANDILE_PLUGIN");
  app.add_option("--threads", session.threads,
                 "The host's render threads (default: one per core this process may use: the CPUs of its "
                 "affinity mask, under its cgroup's CPU quota)")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  bool not_strict = false;
  app.add_flag("--strict", session.strict, "Check the plug-in's use of the host and stop on misuse (on by default)");
  app.add_flag("--no-strict", not_strict, "Do not check the plug-in's use of the host");
  // Errors only: what a command prints as its result (params, info) is not a message.
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "No progress, summary or notes; errors and a command's result still print");
  // The plug-in's version too, the tool being one half of what renders.
  // Defined after --plugin, whose value must be in place when this runs.
  bool version_requested = false;
  app.add_flag_callback(
      "--version",
      [&version_requested] {
        version_requested = true;
        throw CLI::Success();
      },
      "Print the tool's version and the plug-in's, and exit");
  app.option_defaults()->group("Options");  // the commands' own

  RenderOptions render;
  std::string depth, alpha, channels = "auto", type;
  CLI::App* render_command =
      app.add_subcommand("render", "Render an image file, or a frame sequence, through the plug-in");
  // The options a cluster's task repeats as given: how files are read and
  // written, not which files, frames or look (those the task gets its own way).
  std::vector<CLI::Option*> task_options;
  const auto for_tasks = [&task_options](CLI::Option* option) {
    task_options.push_back(option);
    return option;
  };
  render_command->add_option("IN", render.input, "Input image (PNG, TIFF, EXR, JPEG, ...) or frame pattern")
      ->required();
  render_command->add_option("-o,--output", render.output, "Output image or frame pattern; its extension names the format")
      ->required();
  AddLookOptions(*render_command, render.sets, render.settings_file);
  render_command->add_option("--save-settings", render.save_settings,
                              "Save the look used, every control's value, as JSON");
  render_command->add_option("--frames", render.frames,
                              "Frames to render: N or FIRST-LAST; default: the files of IN's pattern on disk");
  for_tasks(render_command->add_option("--depth", depth, "Render depth: 8, 16 or 32 (float); default: the file's")
      ->check(CLI::IsMember(Keys(kDepths))));
  for_tasks(render_command->add_option("--alpha", alpha, "Alpha convention of the files: straight or associated")
      ->check(CLI::IsMember(Keys(kAlphas))));
  for_tasks(render_command->add_option("--part", render.part,
                                       "The part (OpenEXR) or page (TIFF) to grade, by number from 0 or by name; "
                                       "default: the first that holds colour"));
  for_tasks(render_command->add_option("--channels", channels, "Output layout: auto, keep, grey, grey+alpha, rgb, rgba")
      ->check(CLI::IsMember(Keys(kChannels)))
      ->capture_default_str());
  for_tasks(render_command->add_option("--type", type,
                                       "Output sample type: " + Joined(type_names) + "; default: the input's")
      ->check(CLI::IsMember(Keys(kTypes))));
  for (CLI::Option* limit : AddInputLimits(*render_command, render.limits)) for_tasks(limit);
  for_tasks(render_command
      ->add_option("--jobs", render.jobs,
                   "Frames in flight at once (read, rendered, written), within --max-memory together; "
                   "default: one per core, as --threads counts them (" + std::to_string(DefaultJobs()) + ")")
      ->check(CLI::Range(1, static_cast<int>(kMaxPartialFiles))));
  for_tasks(render_command->add_option("--colorconfig", render.colour.config,
                              "An OpenColorIO configuration (default: $OCIO, else the built-in one)"));
  for_tasks(render_command->add_option("--working-space", render.colour.working,
                              "The colour space the effect grades in (default: the input's own, no conversion)"));
  for_tasks(render_command->add_option("--input-space", render.colour.input_space,
                              "The input's colour space (default: its metadata)"));
  for_tasks(render_command->add_option("--output-space", render.colour.output_space,
                              "The output's colour space (default: the input's)"));
  for_tasks(render_command->add_flag("--strip-metadata", render.strip_metadata,
                           "Carry none of the input's metadata but orientation, pixel aspect, resolution and "
                           "colour space"));
  for_tasks(render_command->add_flag(kSkipExisting, render.skip_existing,
                                     "Render only the frames whose output file is missing (a partial file "
                                     "never counts): the same command again finishes a stopped run"));
  CLI::Option* slurm =
      render_command->add_flag("--slurm", render.slurm.enabled,
                               "Render on a Slurm cluster: one job array, a task per chunk of frames (IN, OUT and "
                               "the plug-in as absolute paths on storage every node shares)");
  render_command
      ->add_option("--chunk", render.slurm.chunk,
                   "With --slurm: frames per task; default: the frames spread evenly over the cluster's CPUs")
      ->check(CLI::PositiveNumber)
      ->needs(slurm);
  render_command->add_option("--partition", render.slurm.partition, "With --slurm: the partition to run in")
      ->needs(slurm);
  render_command
      ->add_option("--sbatch-arg", render.slurm.sbatch_args,
                   "With --slurm: one more option for sbatch, as --sbatch-arg=--time=30 (repeatable)")
      ->allow_extra_args(false)
      ->needs(slurm);
  render_command
      ->add_flag("--wait", render.slurm.wait,
                 "With --slurm: follow the job to its end; exit 1 naming the frames of failed tasks")
      ->needs(slurm);
  render_command
      ->add_flag("--dry-run", render.slurm.dry_run,
                 "With --slurm: print the sbatch command and its batch script, submit nothing")
      ->needs(slurm);
  render_command->footer(kRenderFooter);

  LutOptions lut;
  CLI::App* lut_command = app.add_subcommand(
      "lut", "Write the effect's colour result for opaque input as a 3D LUT (.cube), sampled through the plug-in");
  lut_command->add_option("-o,--output", lut.output, "The LUT file (.cube); - for standard output")->required();
  lut_command
      ->add_option("--format", lut.format,
                   "The LUT's format, for an output whose name has no extension to say it (-, /dev/null): " +
                       Joined(kLutFormats))
      ->check(CLI::IsMember(kLutFormats));
  lut_command->add_option("--size", lut.size, "Lattice points per axis")
      ->check(CLI::IsMember({17, 33, 65}))
      ->capture_default_str();
  AddLookOptions(*lut_command, lut.sets, lut.settings_file);
  lut_command->add_option("--frame", lut.frame, "The frame keyframed controls are taken at")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();

  bool params_json = false;
  app.add_subcommand("params", "List the plug-in's parameters: kind, range, default, popup items")
      ->add_flag("--json", params_json, "As JSON, for tools to read");
  app.add_subcommand("info", "Show the plug-in's About text and its registration resource, decoded");

  DemoOptions demo;
  demo.output = "contact-sheet.png";
  CLI::App* demo_command = app.add_subcommand(
      "demo", "Render a contact sheet of the effect's looks on a built-in test chart, or on IN");
  demo_command->add_option("IN", demo.input, "A picture to use instead of the test chart");
  demo_command->add_option("-o,--output", demo.output, "The contact sheet (PNG)")->capture_default_str();
  AddInputLimits(*demo_command, demo.limits);

  // Each command's help ends with the options it shares with every other.
  const std::string every_command = EveryCommandHelp(app);
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    const std::string own = command->get_footer();
    command->footer(own.empty() ? every_command.substr(1) : own + "\n" + every_command);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (version_requested) {
      session.plugin_path = plugin.empty() ? DefaultPluginPath() : plugin;
      return Run([&] { return RunVersion(session, "quorvandile " QV_VERSION); });
    }
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    if (app.get_subcommands().empty()) {
      std::vector<std::string> names;
      for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        names.push_back(command->get_name());
      }
      const std::string commands = Joined(names);
      const std::vector<std::string> rest = app.remaining();
      if (rest.empty() || rest.front().rfind('-', 0) == 0) {
        return Fail(kExitUsageError, "no command given; the commands are " + commands + " (see --help)");
      }
      return Fail(kExitUsageError, "unknown command '" + rest.front() + "'; the commands are " + commands +
                                       " (see --help)");
    }
    std::string message = e.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    return Fail(kExitUsageError, message + " (see --help)");
  }

  // From here on the tool's own messages go to UserErrors().
  CollectLibraryMessages();
  if (not_strict) session.strict = false;
  session.plugin_path = plugin.empty() ? DefaultPluginPath() : plugin;
  render.quiet = quiet;
  demo.quiet = quiet;
  return Run([&] {
    if (render_command->parsed()) {
      render.depth = Lookup(kDepths, depth);
      render.alpha = Lookup(kAlphas, alpha);
      render.channels = kChannels.at(channels);
      render.type = Lookup(kTypes, type);
      for (const CLI::Option* option : task_options) {
        if (option->count() == 0) continue;
        if (option->get_expected_max() == 0) {  // a flag
          render.task_args.push_back(option->get_name());
          continue;
        }
        for (const std::string& value : option->results()) {
          render.task_args.push_back(option->get_name());
          render.task_args.push_back(value);
        }
      }
      return RunRender(session, render);
    }
    if (demo_command->parsed()) return RunDemo(session, demo);
    if (lut_command->parsed()) return RunLut(session, lut);
    if (app.got_subcommand("params")) return RunParams(session, params_json);
    if (app.got_subcommand("info")) return RunInfo(session);
    return Fail(kExitUsageError, "no command given (see --help)");
  });
}
