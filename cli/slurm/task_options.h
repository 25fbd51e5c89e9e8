#pragma once

// How each option of `render`, and each option of every command, reaches a
// task of a cluster job: repeated as given, rewritten, or never. A task is
// a `quorvandile render` of its own, so an option that is not here would be
// silently dropped on the cluster; the tool refuses to start instead
// (CheckTaskOptionTable).

#include <string>
#include <string_view>
#include <vector>

#include "core/plugin_session.h"

namespace CLI {
class App;
}

namespace qv::cli {

// An option as it was given: its name as the tool defines it ("--depth",
// "IN") and its values in order (none for a flag).
struct GivenOption {
  std::string name;
  std::vector<std::string> values;
};

enum class TaskFate {
  kRepeated,   // the task gets it as it was given
  kRewritten,  // the task gets something in its place (see `how`)
  kNever,      // it concerns this run alone
};

struct TaskOption {
  std::string_view command;  // "render", or empty for an option of every command
  std::string_view name;     // the long name, else the short one, else the positional's
  TaskFate fate;
  // It changes a frame's pixels or the files written: a frame already
  // rendered is kept, on resuming, only if it is the same.
  bool shapes_frames;
  std::string_view how;  // what the task gets instead, or why nothing
  // For an option of every command that is rewritten: the text the task's
  // command line holds in its place, before the command's name.
  std::string (*task_text)(const SessionOptions& session) = nullptr;
};

const std::vector<TaskOption>& TaskOptionTable();

// Throws std::logic_error naming every option of `tool` (the options of every
// command) and of its `render` command that the table lacks, and every entry
// of the table that names no option.
void CheckTaskOptionTable(const CLI::App& tool, const CLI::App& render);

// The options of `command` that were given, in the order the command
// defines them.
std::vector<GivenOption> GivenOptions(const CLI::App& command);

// The words a task repeats of `given`: each repeated option's name before
// each of its values (a flag's name once); with `shaping_only`, of the
// options that shape the frames alone.
std::vector<std::string> RepeatedWords(const std::vector<GivenOption>& given, bool shaping_only = false);

// The text that stands for the rewritten options of every command in a
// task's command line: each starting with a space, in the table's order.
std::string RewrittenToolOptions(const SessionOptions& session);

// " --no-strict" for a session that does not check the plug-in, else nothing.
std::string StrictnessText(const SessionOptions& session);

}  // namespace qv::cli
