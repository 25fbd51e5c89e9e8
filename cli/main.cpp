// quorvandile: renders image files through the Quorvandile plug-in, loaded by
// the simulated host and driven through its EntryPointFunc as a host does.

#include <CLI/CLI.hpp>
#include <OpenImageIO/sysutil.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <new>

#include "commands.h"
#include "core/errors.h"
#include "core/node_resources.h"
#include "image_open.h"
#include "library_messages.h"
#include "render_help.h"
#include "safe_file.h"
#include "slurm/task_options.h"

namespace {

using namespace qv::cli;

// The heading of the options that mean the same to every command, defined
// once on the tool and taken by each command, before or after its name.
constexpr const char* kEveryCommand = "Options of every command (before or after it)";

// The plug-in installed with the executable: beside it, else where make
// install and the package put it (QV_INSTALLED_PLUGIN_DIR, relative to the
// executable's folder); else the one this build made.
std::string DefaultPluginPath() {
  const std::filesystem::path self = OIIO::Sysutil::this_program_path();
  if (!self.empty()) {
    const std::filesystem::path folder = self.parent_path();
    std::error_code error;
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

const std::map<std::string, Depth> kDepths = {{"8", Depth::k8}, {"16", Depth::k16}, {"32", Depth::kFloat}};
const std::map<std::string, AlphaConvention> kAlphas = {{"straight", AlphaConvention::kStraight},
                                                        {"associated", AlphaConvention::kAssociated}};
const std::map<std::string, ChannelsMode> kChannels = {
    {"auto", ChannelsMode::kAuto}, {"keep", ChannelsMode::kKeep}, {"grey", ChannelsMode::kGrey},
    {"grey+alpha", ChannelsMode::kGreyAlpha}, {"rgb", ChannelsMode::kRgb}, {"rgba", ChannelsMode::kRgba}};

// The look a command renders with, as render and lut take it.
void AddLookOptions(CLI::App& command, std::vector<std::string>& sets, std::string& settings_file) {
  command.add_option("--set", sets, "Set a parameter: \"NAME=VALUE\" (repeatable; 'quorvandile params' lists them)")
      ->allow_extra_args(false);
  command.add_option("--settings", settings_file,
                     "A look saved as JSON (quorvandile render --save-settings); --set values override it");
}

// The limits an input file is held to, wherever a command reads one.
void AddInputLimits(CLI::App& command, FrameLimits& limits) {
  limits.max_memory = DefaultMaxMemory();
  command.add_option("--max-pixels", limits.max_pixels, "Refuse an input declaring more pixels than this; 0: no limit")
      ->capture_default_str();
  command
      .add_option("--max-memory", limits.max_memory,
                  "Memory the frames in flight take together (e.g. 8G), each as much as its own header "
                  "declares; an input whose frame alone needs more is refused; 0: no limit; "
                  "default: half the memory this process may use, the physical memory or its cgroup's "
                  "limit if lower (" + FormatBytes(limits.max_memory) + ")")
      ->transform(CLI::AsSizeValue(false));
}

// The options of every command, in each command's help as in the tool's.
std::string EveryCommandHelp(const CLI::App& app) {
  // Each command lists its own -h.
  const std::vector<const CLI::Option*> options = app.get_options([&app](const CLI::Option* option) {
    return option->get_group() == kEveryCommand && option != app.get_help_ptr();
  });
  return CLI::Formatter().make_group(kEveryCommand, false, options);  // laid out as the tool's help lays it
}

// What the options of every command set.
struct ToolChoices {
  SessionOptions session;
  std::string plugin;
  bool not_strict = false;
  // Errors only: what a command prints as its result (params, info) is not a message.
  bool quiet = false;
  bool version_requested = false;
};

void AddToolOptions(CLI::App& app, ToolChoices& tool) {
  app.require_subcommand(1);
  app.fallthrough();  // the options below may also follow the command
  tool.session.threads = static_cast<int>(UsableCores());
  app.get_help_ptr()->group(kEveryCommand);
  app.option_defaults()->group(kEveryCommand);
  app.add_option("--plugin", tool.plugin,
                 "The plug-in library (default: the one installed with the tool, else this build's)")
      ->envname("QUORVANDILE_PLUGIN");
  app.add_option("--threads", tool.session.threads,
                 "The host's render threads (default: one per core this process may use: the CPUs of its "
                 "affinity mask, under its cgroup's CPU quota)")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  app.add_flag("--strict", tool.session.strict,
               "Check the plug-in's use of the host and stop on misuse (on by default)");
  app.add_flag("--no-strict", tool.not_strict, "Do not check the plug-in's use of the host");
  app.add_flag("-q,--quiet", tool.quiet, "No progress, summary or notes; errors and a command's result still print");
  // The plug-in's version too, the tool being one half of what renders.
  // Defined after --plugin, whose value must be in place when this runs.
  app.add_flag_callback(
      "--version",
      [&tool] {
        tool.version_requested = true;
        throw CLI::Success();
      },
      "Print the tool's version and the plug-in's, and exit");
  app.option_defaults()->group("Options");  // the commands' own
}

// What render's options set, the names of choices still as given.
struct RenderChoices {
  RenderOptions options;
  std::string depth, alpha, channels = "auto", type;
};

void AddSlurmOptions(CLI::App& render, SlurmOptions& slurm_options) {
  CLI::Option* slurm =
      render.add_flag("--slurm", slurm_options.enabled,
                      "Render on a Slurm cluster: one job array, a task per chunk of frames (IN, OUT and "
                      "the plug-in as absolute paths on storage every node shares)");
  render
      .add_option("--chunk", slurm_options.chunk,
                  "With --slurm: frames per task; default: the frames spread evenly over the cluster's CPUs")
      ->check(CLI::PositiveNumber)
      ->needs(slurm);
  render.add_option("--partition", slurm_options.partition, "With --slurm: the partition to run in")->needs(slurm);
  render
      .add_option("--sbatch-arg", slurm_options.sbatch_args,
                  "With --slurm: one more option for sbatch, as --sbatch-arg=--time=30 (repeatable)")
      ->allow_extra_args(false)
      ->needs(slurm);
  render
      .add_flag("--wait", slurm_options.wait,
                "With --slurm: follow the job to its end; exit 1 naming the frames of failed tasks")
      ->needs(slurm);
  render
      .add_flag("--dry-run", slurm_options.dry_run,
                "With --slurm: print the sbatch command and its batch script, submit nothing")
      ->needs(slurm);
}

// The output sample types by the names --type takes.
std::map<std::string, FileType> TypesByName() {
  std::map<std::string, FileType> types;
  for (const NamedFileType& named : FileTypes()) types.emplace(named.name, named.type);
  return types;
}

// How render reads and writes files, beyond which files.
void AddFileOptions(CLI::App& render, RenderChoices& choices) {
  std::vector<std::string> type_names;  // from the least precise to the most
  for (const NamedFileType& named : FileTypes()) type_names.push_back(named.name);
  RenderOptions& options = choices.options;
  render.add_option("--depth", choices.depth, "Render depth: 8, 16 or 32 (float); default: the file's")
      ->check(CLI::IsMember(kDepths));
  render.add_option("--alpha", choices.alpha, "Alpha convention of the files: straight or associated")
      ->check(CLI::IsMember(kAlphas));
  render.add_option("--part", options.part,
                    "The part (OpenEXR) or page (TIFF) to grade, by number from 0 or by name; "
                    "default: the first that holds colour");
  render.add_option("--channels", choices.channels, "Output layout: auto, keep, grey, grey+alpha, rgb, rgba")
      ->check(CLI::IsMember(kChannels))
      ->capture_default_str();
  render.add_option("--type", choices.type, "Output sample type: " + Joined(type_names) + "; default: the input's")
      ->check(CLI::IsMember(TypesByName()));
}

void AddRenderOptions(CLI::App& render, RenderChoices& choices) {
  RenderOptions& options = choices.options;
  render.add_option("IN", options.input, "Input image (PNG, TIFF, EXR, JPEG, ...) or frame pattern")->required();
  render.add_option("-o,--output", options.output, "Output image or frame pattern; its extension names the format")
      ->required();
  AddLookOptions(render, options.sets, options.settings_file);
  render.add_option("--save-settings", options.save_settings, "Save the look used, every control's value, as JSON");
  render.add_option("--frames", options.frames,
                    "Frames to render: N or FIRST-LAST; default: the files of IN's pattern on disk");
  AddFileOptions(render, choices);
  AddInputLimits(render, options.limits);
  render
      .add_option("--jobs", options.jobs,
                  "Frames in flight at once (read, rendered, written), within --max-memory together; "
                  "default: one per core, as --threads counts them (" + std::to_string(DefaultJobs()) + ")")
      ->check(CLI::Range(1, static_cast<int>(kMaxPartialFiles)));
  render.add_option("--colorconfig", options.colour.config,
                    "An OpenColorIO configuration (default: $OCIO, else the built-in one)");
  render.add_option("--working-space", options.colour.working,
                    "The colour space the effect grades in (default: the input's own, no conversion)");
  render.add_option("--input-space", options.colour.input_space, "The input's colour space (default: its metadata)");
  render.add_option("--output-space", options.colour.output_space, "The output's colour space (default: the input's)");
  render.add_flag("--strip-metadata", options.strip_metadata,
                  "Carry none of the input's metadata but orientation, pixel aspect, resolution and colour space");
  render.add_flag(kSkipExisting, options.skip_existing,
                  "Render only the frames whose output file is missing (a partial file never counts): the same "
                  "command again finishes a stopped run");
  AddSlurmOptions(render, options.slurm);
  render.footer(kRenderFooter);
}

void AddLutOptions(CLI::App& lut_command, LutOptions& lut) {
  lut_command.add_option("-o,--output", lut.output, "The LUT file (.cube); - for standard output")->required();
  lut_command
      .add_option("--format", lut.format,
                  "The LUT's format, for an output whose name has no extension to say it (-, /dev/null): " +
                      Joined(kLutFormats))
      ->check(CLI::IsMember(kLutFormats));
  lut_command.add_option("--size", lut.size, "Lattice points per axis")
      ->check(CLI::IsMember({17, 33, 65}))
      ->capture_default_str();
  AddLookOptions(lut_command, lut.sets, lut.settings_file);
  lut_command.add_option("--frame", lut.frame, "The frame keyframed controls are taken at")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
}

void AddDemoOptions(CLI::App& demo_command, DemoOptions& demo) {
  demo.output = "contact-sheet.png";
  demo_command.add_option("IN", demo.input, "A picture to use instead of the test chart");
  demo_command.add_option("-o,--output", demo.output, "The contact sheet (PNG)")->capture_default_str();
  AddInputLimits(demo_command, demo.limits);
}

// Each command's help ends with the options it shares with every other.
void AddEveryCommandFooters(CLI::App& app) {
  const std::string every_command = EveryCommandHelp(app);
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    const std::string own = command->get_footer();
    command->footer(own.empty() ? every_command.substr(1) : own + "\n" + every_command);
  }
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

// The exit status of a command line CLI11 could not parse, with one line
// saying why; or of --help and --version, which stop the parse.
int ParseFailure(CLI::App& app, const CLI::ParseError& e) {
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

}  // namespace

// Pixel buffers from the system and back to it when freed, whatever their
// size: left to the allocator, a buffer below its moving threshold (32 MiB)
// stays in the arena of the thread that freed it, out of reach of the frame
// another thread reads next, and the frames in flight take more than their
// memory budget says.
constexpr int kMappedAllocationBytes = 1 << 20;

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, kMappedAllocationBytes);
  UseImageThreads(static_cast<int>(UsableCores()));
  RemovePartialFileOnSignals();

  CLI::App app{"Recolours images by their tones through the Quorvandile effect plug-in, loaded by a\n"
               "simulated host and driven through its EntryPointFunc as the host drives it.",
               "quorvandile"};
  ToolChoices tool;
  AddToolOptions(app, tool);
  RenderChoices render;
  CLI::App* render_command =
      app.add_subcommand("render", "Render an image file, or a frame sequence, through the plug-in");
  AddRenderOptions(*render_command, render);
  LutOptions lut;
  AddLutOptions(*app.add_subcommand("lut", "Write the effect's colour result for opaque input as a 3D LUT (.cube), "
                                           "sampled through the plug-in"),
                lut);
  bool params_json = false;
  app.add_subcommand("params", "List the plug-in's parameters: kind, range, default, popup items")
      ->add_flag("--json", params_json, "As JSON, for tools to read");
  app.add_subcommand("info", "Show the plug-in's About text and its registration resource, decoded");
  DemoOptions demo;
  AddDemoOptions(*app.add_subcommand("demo", "Render a contact sheet of the effect's looks on a built-in test chart, "
                                             "or on IN"),
                 demo);
  AddEveryCommandFooters(app);
  // Every run checks that each option says how it reaches a cluster's task.
  try {
    CheckTaskOptionTable(app, *render_command);
  } catch (const std::logic_error& e) {
    return Fail(kExitRunError, std::string("internal error: ") + e.what());
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (!tool.version_requested) return ParseFailure(app, e);
    tool.session.plugin_path = tool.plugin.empty() ? DefaultPluginPath() : tool.plugin;
    return Run([&] { return RunVersion(tool.session, "quorvandile " QV_VERSION); });
  }

  // From here on the tool's own messages go to UserErrors().
  CollectLibraryMessages();
  if (tool.not_strict) tool.session.strict = false;
  tool.session.plugin_path = tool.plugin.empty() ? DefaultPluginPath() : tool.plugin;
  render.options.quiet = tool.quiet;
  demo.quiet = tool.quiet;
  return Run([&] {
    if (render_command->parsed()) {
      RenderOptions& options = render.options;
      options.depth = Lookup(kDepths, render.depth);
      options.alpha = Lookup(kAlphas, render.alpha);
      options.channels = kChannels.at(render.channels);
      options.type = Lookup(TypesByName(), render.type);
      options.given = GivenOptions(*render_command);
      return RunRender(tool.session, options);
    }
    if (app.got_subcommand("demo")) return RunDemo(tool.session, demo);
    if (app.got_subcommand("lut")) return RunLut(tool.session, lut);
    if (app.got_subcommand("params")) return RunParams(tool.session, params_json);
    if (app.got_subcommand("info")) return RunInfo(tool.session);
    return Fail(kExitUsageError, "no command given (see --help)");
  });
}
