#include "slurm/submission.h"

#include <sstream>

#include "core/shell_words.h"
#include "safe_file.h"
#include "slurm/programs.h"
#include "slurm/task_options.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// What a task's own files are called after, beside the output: OUT_NAME.task-JOB_TASK.
constexpr const char* kTaskInfix = ".task-";
constexpr const char* kStatusSuffix = ".status";

}  // namespace

JobFiles::JobFiles(const FramePattern& output, const std::string& unique) {
  folder = fs::path(output.text()).parent_path();
  stem = output.NameWith("frames");
  settings = (folder / Cat(stem, ".settings-", unique, ".json")).string();
  record = (folder / Cat(stem, ".rendered.json")).string();
  // sbatch reads % as its own; %% is a plain one.
  for (const char c : (folder / stem).string()) log_pattern += c == '%' ? std::string("%%") : std::string(1, c);
  log_pattern += Cat(kTaskInfix, "%A_%a.log");
}

std::string JobFiles::Log(const std::string& job, const std::string& task) const {
  return (folder / Cat(stem, kTaskInfix, job, "_", task, ".log")).string();
}

std::string JobFiles::Status(const std::string& job, std::size_t task) const {
  return (folder / Cat(stem, kTaskInfix, job, "_", task, kStatusSuffix)).string();
}

std::string JobFiles::ScriptStatus(bool partial) const {
  return Cat(ShellQuoted((folder / Cat(partial ? "." : "", stem, kTaskInfix)).string()),
             "\"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\"",
             ShellQuoted(Cat(kStatusSuffix, partial ? ".partial" : "")));
}

// On sbatch's command line rather than as #SBATCH lines in the script: each
// is one argument, whatever its path holds (spaces, quotes), and none can end
// a comment line and start a command. Options on sbatch's command line also
// override any #SBATCH line.
std::vector<std::string> SbatchArgs(const RenderOptions& options, const JobFiles& files,
                                    const std::vector<FrameRange>& chunks) {
  std::vector<std::string> args = {"--parsable", "--job-name=quorvandile", Cat("--array=0-", chunks.size() - 1),
                                   Cat("--output=", files.log_pattern)};
  if (!options.slurm.partition.empty()) args.push_back(Cat("--partition=", options.slurm.partition));
  args.insert(args.end(), options.slurm.sbatch_args.begin(), options.slurm.sbatch_args.end());
  return args;
}

// Every path and option in the script is one quoted word. Followed (--wait),
// a task leaves its exit status in a file of its own.
std::string BatchScript(const SessionOptions& session, const RenderOptions& options, const JobFiles& files,
                        const std::vector<FrameRange>& chunks, const std::string& tool) {
  std::ostringstream script;
  script << "#!/bin/bash\n"
         << "# One task per chunk of frames, each rendered on its node by the tool and the\n"
            "# plug-in below with the look in the settings file: all on storage every node sees.\n"
            "set -eu\n"
            "chunks=(";
  for (std::size_t i = 0; i < chunks.size(); ++i) script << (i == 0 ? "" : " ") << Describe({chunks[i]});
  script << ")\n";
  std::ostringstream render;
  render << ShellQuoted(tool) << RewrittenToolOptions(session) << " \\\n"
         << "  render " << ShellQuoted(options.input) << " -o " << ShellQuoted(options.output) << " \\\n"
         << "  --settings " << ShellQuoted(files.settings) << " --frames \"${chunks[$SLURM_ARRAY_TASK_ID]}\"";
  for (const std::string& word : RepeatedWords(options.given)) render << ' ' << ShellQuoted(word);
  if (!options.slurm.wait) {
    script << "exec " << render.str() << '\n';
    return script.str();
  }
  script << "status=0\n"
         << render.str() << " || status=$?\n"
         << "# The tool's exit status, for the run that follows the job: written aside and\n"
            "# renamed into place, so that it is read whole or not at all.\n"
         << "printf '%s\\n' \"$status\" > " << files.ScriptStatus(true) << '\n'
         << "mv -f " << files.ScriptStatus(true) << ' ' << files.ScriptStatus(false) << '\n'
         << "exit \"$status\"\n";
  return script.str();
}

// No line of the script can end the here-document, since nothing in it holds
// a line break.
std::string Submission(const std::vector<std::string>& sbatch_args, const std::string& script) {
  constexpr const char* kEnd = "END_OF_BATCH_SCRIPT";
  std::ostringstream text;
  text << "sbatch";
  for (const std::string& arg : sbatch_args) text << ' ' << ShellQuoted(arg);
  text << " <<'" << kEnd << "'\n" << script << kEnd << '\n';
  return text.str();
}

}  // namespace qv::cli
