// quorvandile render --slurm: a sequence rendered by a Slurm cluster, one job
// array whose tasks each render a chunk of the frames with this same tool.
//
// Slurm schedules; the tool only cuts the frames into chunks, writes the look
// to a settings file of the job's own beside the output, and submits one batch
// script. Every task runs `quorvandile render --frames A-B --settings FILE` on
// its node, so a task renders exactly as this machine would.

#include <OpenImageIO/sysutil.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "commands.h"
#include "core/errors.h"
#include "core/frames.h"
#include "frame_plan.h"
#include "library_messages.h"
#include "progress.h"
#include "safe_file.h"
#include "settings_file.h"
#include "slurm/chunk_search.h"
#include "slurm/cluster.h"
#include "slurm/follow.h"
#include "slurm/programs.h"
#include "slurm/resume_record.h"
#include "slurm/submission.h"
#include "slurm/task_options.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// A control character (a line break above all) in what reaches the cluster
// would end a line of the batch script or of sbatch's own reading, and turn
// the rest of a file name into a command on the node.
void RequirePrintable(const std::string& what, const std::string& text) {
  const auto control = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  };
  if (std::none_of(text.begin(), text.end(), control)) return;
  std::string shown;
  for (const char c : text) shown += control(c) ? std::string("?") : std::string(1, c);
  throw UsageError(Cat("--slurm: ", what, " \"", shown,
                       "\" holds a control character (a line break, a tab): the cluster cannot take it"));
}

void RequireAbsolute(const std::string& what, const std::string& path) {
  if (fs::path(path).is_absolute()) return;
  throw UsageError(Cat("--slurm: ", what, " \"", path,
                       "\" is not an absolute path: every node must find it, on storage they share"));
}

// An OpenColorIO configuration a task reads: a file, unless it names one
// built into the library.
void RequireAbsoluteConfig(const std::string& what, const std::string& config) {
  if (!config.empty() && config.rfind("ocio://", 0) != 0) RequireAbsolute(what, config);
}

// Refuses what the cluster's nodes could not take; returns this program's
// own path, which the tasks run.
std::string CheckForCluster(const SessionOptions& session, const RenderOptions& options) {
  RequirePrintable("IN", options.input);
  RequirePrintable("OUT", options.output);
  RequirePrintable("the plug-in", session.plugin_path);
  RequirePrintable("--partition", options.slurm.partition);
  for (const std::string& arg : options.slurm.sbatch_args) RequirePrintable("--sbatch-arg", arg);
  for (const std::string& word : RepeatedWords(options.given)) RequirePrintable("option", word);
  RequireAbsolute("IN", options.input);
  RequireAbsolute("OUT", options.output);
  RequireAbsolute("the plug-in", session.plugin_path);
  // A task reads the configuration on its node, from wherever the cluster
  // starts it; without --colorconfig, from the $OCIO it inherits.
  const char* ocio = std::getenv("OCIO");
  if (options.colour.config.empty() && ocio) RequireAbsoluteConfig("$OCIO", ocio);
  RequireAbsoluteConfig("--colorconfig", options.colour.config);
  for (const std::string& arg : options.slurm.sbatch_args) {
    if (arg.rfind('-', 0) != 0) {
      throw UsageError(Cat("--sbatch-arg \"", arg, "\": one of sbatch's options, such as --sbatch-arg=--time=30"));
    }
  }
  const std::string tool = OIIO::Sysutil::this_program_path();
  if (tool.empty()) throw RunError("cannot find this program's own path");
  RequirePrintable("this program's own path", tool);
  return tool;
}

// The frames of `plan` but those of `rendered`, saying which are skipped and
// which existing ones are rendered again.
FrameRuns UnrenderedFrames(const FramePlan& plan, const Record& rendered, bool quiet) {
  std::vector<std::int32_t> render, skipped, replaced;
  for (const FrameRange& run : plan.frames) {
    for (std::int32_t f = run.first; f <= run.last; ++f) {
      if (rendered.frames.count(f) != 0) {
        skipped.push_back(f);
        continue;
      }
      render.push_back(f);
      std::error_code error;
      if (fs::exists(plan.output.At(f), error)) replaced.push_back(f);
    }
  }
  if (!quiet && !skipped.empty()) {
    std::fprintf(UserErrors(), "quorvandile: frames %s: skipped, this look rendered them\n",
                 Describe(RunsOf(skipped)).c_str());
  }
  if (!quiet && !replaced.empty()) {
    std::fprintf(UserErrors(), "quorvandile: frames %s: rendered again, not recorded as this look's\n",
                 Describe(RunsOf(replaced)).c_str());
  }
  return RunsOf(std::move(render));
}

// The frames cut into the job's tasks: --chunk frames each, else an even
// split over the cluster's CPUs, grown to keep within the cluster's
// MaxArraySize.
std::vector<FrameRange> ChunksFor(const RenderOptions& options, const FrameRuns& frames) {
  std::int64_t chunk = 0;
  if (options.slurm.chunk) {
    chunk = *options.slurm.chunk;
    if (!options.slurm.dry_run) ClusterCpus(options.slurm.partition);  // a cluster answers
  } else {
    chunk = EvenChunk(CountOf(frames), ClusterCpus(options.slurm.partition));
  }
  std::vector<FrameRange> chunks = Chunks(frames, chunk);
  const std::optional<std::int64_t> most =
      options.slurm.dry_run && options.slurm.chunk ? std::nullopt : MaxArraySize();
  if (!most || static_cast<std::int64_t>(chunks.size()) <= *most) return chunks;
  const std::optional<std::int64_t> fitting = FittingChunk(frames, chunk, *most);
  if (!fitting) {
    throw RunError(Cat("--slurm: the frames to render fall in ", frames.size(),
                       " separate runs, more than the cluster's MaxArraySize of ", *most,
                       " allows tasks: render them in parts with --frames"));
  }
  if (options.slurm.chunk) {
    throw UsageError(Cat("--chunk ", chunk, " makes ", chunks.size(), " tasks, more than the cluster's MaxArraySize",
                         " of ", *most, " allows: --chunk ", *fitting, " makes ", Chunks(frames, *fitting).size()));
  }
  return Chunks(frames, *fitting);
}

// Submits the job; its name as sbatch gives it. Throws RunError, leaving no
// settings file, when the cluster refuses it.
Job Submit(const std::string& sbatch, const std::vector<std::string>& sbatch_args, const std::string& script,
           const JobFiles& files) {
  const ProgramRun submitted = RunProgram(sbatch, sbatch_args, script);
  const std::optional<Job> job = SubmittedJob(submitted.out);
  if (submitted.status != 0 || !job) {
    std::error_code ignored;
    fs::remove(files.settings, ignored);
    const std::string why = LastLine(submitted.err);
    throw RunError(Cat("--slurm: the cluster refused the job: ", why.empty() ? LastLine(submitted.out) : why));
  }
  return *job;
}

void PrintJob(const Job& job, const std::vector<FrameRange>& chunks, const FrameRuns& frames,
              const JobFiles& files) {
  std::printf("job %s: %zu task%s, frames %s, logs %s\n", job.id.c_str(), chunks.size(),
              chunks.size() == 1 ? "" : "s", Describe(frames).c_str(), files.Log(job.id, "N").c_str());
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    std::printf("  task %zu: frames %s\n", i, Describe({chunks[i]}).c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int RunSlurmRender(const SessionOptions& session_options, const RenderOptions& options) {
  const std::string tool = CheckForCluster(session_options, options);
  // A resumed run keeps the frames this look rendered, by the record a
  // followed run on the same output left, and no other: another look's frames
  // are rendered again. Without a record, --skip-existing keeps every frame
  // there.
  const JobFiles files(FramePattern(options.output), RandomToken());
  const std::optional<Record> record = ReadRecord(files.record);
  RenderOptions planned = options;
  if (record) planned.skip_existing = false;
  FramePlan plan = PlanFrames(planned);
  // The look and the colour spaces are checked here, before anything is
  // submitted: a task must not be the first to find a misspelt name.
  if (options.colour.Given()) ColourSpaces{options.colour};
  PluginSession session(session_options);
  const std::vector<ParamSetting> look = ApplyLook(session, options.settings_file, options.sets);
  if (!options.save_settings.empty()) SaveSettings(options.save_settings, session.params(), look);
  const std::string settings = SettingsText(session.params(), look);
  Record rendered = StillRendered(record, plan.output, LookKey(session_options, options, settings));
  if (record && options.skip_existing) plan.frames = UnrenderedFrames(plan, rendered, options.quiet);
  if (plan.frames.empty()) {
    session.Close();
    return 0;
  }
  const std::string sbatch = options.slurm.dry_run ? std::string() : SlurmClient("sbatch");
  const std::vector<FrameRange> chunks = ChunksFor(options, plan.frames);
  const std::string script = BatchScript(session_options, options, files, chunks, tool);
  const std::vector<std::string> sbatch_args = SbatchArgs(options, files, chunks);
  if (options.slurm.dry_run) {
    std::fputs(Submission(sbatch_args, script).c_str(), stdout);
    session.Close();
    return 0;
  }

  CheckWritable(plan.output.At(plan.frames.front().first));
  std::vector<Task> tasks = TasksOf(chunks, plan.output);
  // Whole, under the job's own name: a queued job of an earlier submission
  // still reads its own.
  WriteWholeFile(files.settings, settings);
  session.Close();
  const Job job = Submit(sbatch, sbatch_args, script, files);
  PrintJob(job, chunks, plan.frames, files);
  if (!options.slurm.wait) return 0;
  Progress progress(CountOf(plan.frames), options.quiet, UserErrors());
  const auto frame_done = [&progress](const std::string& path) {
    const std::optional<FrameShape> shape = DeclaredShape(path, std::nullopt);
    progress.FrameDone(path, shape ? shape->width * shape->height : 0);
  };
  Follow({options, plan.output, files, job, frame_done, SteadyClock()}, tasks, std::move(rendered));
  progress.Finish();
  return 0;
}

}  // namespace qv::cli
