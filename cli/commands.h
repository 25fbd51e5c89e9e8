#pragma once

// The tool's commands. Each returns the exit status, or throws UsageError
// (status 2) or RunError (status 1) with one line for the user.

#include <optional>
#include <string>
#include <vector>

#include "core/plugin_session.h"
#include "core/raster.h"
#include "colour.h"
#include "image_io.h"
#include "slurm/task_options.h"

namespace qv::cli {

// Rendering as a job array of a Slurm cluster instead of on this machine.
struct SlurmOptions {
  bool enabled = false;
  std::optional<std::int64_t> chunk;     // frames per task; default: an even split over the cluster's CPUs
  std::string partition;                 // empty: the cluster's default
  std::vector<std::string> sbatch_args;  // more of sbatch's options, as given
  bool wait = false;                     // follow the job to its end
  bool dry_run = false;                  // print the batch script, submit nothing
};

// The option that renders only the frames whose output is missing.
inline constexpr const char* kSkipExisting = "--skip-existing";

struct RenderOptions {
  std::string input;
  std::string output;
  std::vector<std::string> sets;   // "NAME=VALUE" in order
  std::string settings_file;       // a saved look, under the --set values; empty: none
  std::string save_settings;       // where to save the look used; empty: nowhere
  std::string frames;              // empty: not given
  std::optional<Depth> depth;      // default: each file's own
  std::optional<AlphaConvention> alpha;   // default: each file format's own
  std::string part;                // the part of a file of several to grade; empty: the first holding colour
  ChannelsMode channels = ChannelsMode::kAuto;
  std::optional<FileType> type;    // default: the input's sample type
  FrameLimits limits;              // on each input file
  bool strip_metadata = false;     // carry only what describes the picture
  ColourOptions colour;            // colour spaces; default: none converted
  std::optional<int> jobs;         // frames in flight; default: one per core, as memory allows
  bool skip_existing = false;      // render only the frames whose output is missing
  bool quiet = false;              // errors only: no progress, summary or notes
  SlurmOptions slurm;
  // The options of render as they were given, in the order render defines
  // them: what a cluster's task repeats of them, its table says (slurm/task_options.h).
  std::vector<GivenOption> given;
};

struct DemoOptions {
  std::string input;   // empty: the built-in test chart
  std::string output;
  FrameLimits limits;  // on the input file
  bool quiet = false;  // no line naming the sheet written
};

// The formats `lut` writes, by the name --format takes; a file's extension
// names one as "." and its name.
inline const std::vector<std::string> kLutFormats = {"cube"};

struct LutOptions {
  std::string output;              // the .cube file; "-": standard output
  std::string format;              // empty: the one the output's extension names
  int size = 33;                   // lattice points per axis
  std::vector<std::string> sets;   // "NAME=VALUE" in order
  std::string settings_file;       // a saved look, under the --set values; empty: none
  std::int32_t frame = 0;          // the time keyframed controls are taken at
};

// Frames in flight unless --jobs says: one per core this process may use.
// The memory they take together is bounded apart, frame by frame.
int DefaultJobs();

int RunRender(const SessionOptions& session, const RenderOptions& options);
// RunRender's frames as one Slurm job array: one task per chunk of frames,
// each a `quorvandile render` of its own with the same look and options.
int RunSlurmRender(const SessionOptions& session, const RenderOptions& options);
// A 3D LUT (.cube) of the effect's colour result for opaque input, sampled
// through the plug-in: a float frame of the lattice's points rendered as any
// frame is.
int RunLut(const SessionOptions& session, const LutOptions& options);
int RunParams(const SessionOptions& session, bool json);
int RunInfo(const SessionOptions& session);
// The tool's version line, then the plug-in's: the first line of its About
// text and the library's path.
int RunVersion(const SessionOptions& session, const std::string& tool_version);
int RunDemo(const SessionOptions& session, const DemoOptions& options);

}  // namespace qv::cli
