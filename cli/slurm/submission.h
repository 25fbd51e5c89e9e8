#pragma once

// What is submitted to the cluster: the job's own files beside the output,
// sbatch's arguments and the batch script of the job array.

#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "core/frames.h"

namespace qv::cli {

// Where the job's own files go: beside the output, named after it.
struct JobFiles {
  std::string settings;     // the look this job's tasks render with, a file of the job's own
  std::string log_pattern;  // each task's output, as sbatch's --output takes it
  std::string record;       // the frames a look has rendered, for a resumed run
  std::filesystem::path folder;
  std::string stem;

  // `unique`: a word no other submission's settings file is named with.
  JobFiles(const FramePattern& output, const std::string& unique);
  std::string Log(const std::string& job, const std::string& task) const;
  std::string Status(const std::string& job, std::size_t task) const;
  // The status file, or its hidden partial file, as the batch script names it
  // for the task that runs it.
  std::string ScriptStatus(bool partial) const;
};

// sbatch's options for the job array of `chunks`.
std::vector<std::string> SbatchArgs(const RenderOptions& options, const JobFiles& files,
                                    const std::vector<FrameRange>& chunks);

// The batch script of the job array: task i renders chunks[i] with the
// program at `tool`.
std::string BatchScript(const SessionOptions& session, const RenderOptions& options, const JobFiles& files,
                        const std::vector<FrameRange>& chunks, const std::string& tool);

// What a dry run prints: the submission as a shell command, the script as
// its here-document.
std::string Submission(const std::vector<std::string>& sbatch_args, const std::string& script);

}  // namespace qv::cli
