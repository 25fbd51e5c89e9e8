#include "slurm/task_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "core/shell_words.h"

namespace qv::cli {
namespace {

constexpr std::string_view kEvery = "";
constexpr std::string_view kRender = "render";

// Each task runs the plug-in this run found, at its absolute path on the
// storage the nodes share.
std::string PluginText(const SessionOptions& session) { return " --plugin " + ShellQuoted(session.plugin_path); }
// Each task renders on the CPUs Slurm gave it on its node.
std::string ThreadsText(const SessionOptions&) { return " --threads \"${SLURM_CPUS_ON_NODE:-1}\""; }

}  // namespace

std::string StrictnessText(const SessionOptions& session) { return session.strict ? "" : " --no-strict"; }

const std::vector<TaskOption>& TaskOptionTable() {
  constexpr TaskFate kRepeated = TaskFate::kRepeated, kRewritten = TaskFate::kRewritten, kNever = TaskFate::kNever;
  static const std::vector<TaskOption> kTable = {
      {kEvery, "--help", kNever, false, "prints help here"},
      {kEvery, "--plugin", kRewritten, false, "the plug-in this run found, by its absolute path", PluginText},
      {kEvery, "--threads", kRewritten, false, "the CPUs of the task's node, as Slurm counts them", ThreadsText},
      {kEvery, "--strict", kNever, false, "on by default; --no-strict carries the choice"},
      {kEvery, "--no-strict", kRewritten, true, "--no-strict when this run does not check the plug-in",
       StrictnessText},
      {kEvery, "--quiet", kNever, false, "a task's log keeps its notes"},
      {kEvery, "--version", kNever, false, "prints the versions here"},
      {kRender, "--help", kNever, false, "prints help here"},
      {kRender, "IN", kRewritten, true, "as given, an absolute path every node finds"},
      {kRender, "--output", kRewritten, true, "as given, an absolute path every node finds"},
      {kRender, "--set", kRewritten, true, "in the job's settings file"},
      {kRender, "--settings", kRewritten, true, "the job's settings file, the look with the --set values"},
      {kRender, "--save-settings", kNever, false, "saved here, before anything is submitted"},
      {kRender, "--frames", kRewritten, true, "the task's chunk of the frames to render"},
      {kRender, "--depth", kRepeated, true, ""},
      {kRender, "--alpha", kRepeated, true, ""},
      {kRender, "--part", kRepeated, true, ""},
      {kRender, "--channels", kRepeated, true, ""},
      {kRender, "--type", kRepeated, true, ""},
      // Limits refuse a file or hold a frame back; they change no pixel.
      {kRender, "--max-pixels", kRepeated, false, ""},
      {kRender, "--max-memory", kRepeated, false, ""},
      {kRender, "--jobs", kRepeated, false, ""},
      {kRender, "--colorconfig", kRepeated, true, ""},
      {kRender, "--working-space", kRepeated, true, ""},
      {kRender, "--input-space", kRepeated, true, ""},
      {kRender, "--output-space", kRepeated, true, ""},
      {kRender, "--strip-metadata", kRepeated, true, ""},
      {kRender, "--skip-existing", kNever, false, "the frames to render are chosen here; a task renders its chunk"},
      {kRender, "--slurm", kNever, false, "a task renders on its node"},
      {kRender, "--chunk", kNever, false, "it cuts the chunks the batch script lists"},
      {kRender, "--partition", kNever, false, "sbatch's, on its command line"},
      {kRender, "--sbatch-arg", kNever, false, "sbatch's, on its command line"},
      {kRender, "--wait", kNever, false, "the batch script then keeps each task's exit status"},
      {kRender, "--dry-run", kNever, false, "nothing is submitted"},
  };
  return kTable;
}

void CheckTaskOptionTable(const CLI::App& tool, const CLI::App& render) {
  std::set<std::pair<std::string_view, std::string>> defined;
  for (const auto& [command, app] : {std::pair{kEvery, &tool}, std::pair{kRender, &render}}) {
    for (const CLI::Option* option : app->get_options()) defined.insert({command, option->get_name()});
  }
  std::string missing, stale;
  for (const auto& option : defined) {
    const std::string_view command = option.first;
    const std::string& name = option.second;
    const auto& table = TaskOptionTable();
    const bool found = std::any_of(table.begin(), table.end(), [&](const TaskOption& entry) {
      return entry.command == command && entry.name == name;
    });
    if (!found) missing += " " + (command.empty() ? name : std::string(command) + " " + name);
  }
  for (const TaskOption& entry : TaskOptionTable()) {
    if (defined.count({entry.command, std::string(entry.name)}) == 0) {
      stale += " " + std::string(entry.command) + (entry.command.empty() ? "" : " ") + std::string(entry.name);
    }
  }
  if (missing.empty() && stale.empty()) return;
  std::string message = "the table of options that reach a cluster task";
  if (!missing.empty()) message += " lacks" + missing;
  if (!stale.empty()) message += std::string(missing.empty() ? "" : ";") + " names options that do not exist:" + stale;
  throw std::logic_error(message);
}

std::vector<GivenOption> GivenOptions(const CLI::App& command) {
  std::vector<GivenOption> given;
  for (const CLI::Option* option : command.get_options()) {
    if (option->count() == 0) continue;
    GivenOption named{option->get_name(), {}};
    if (option->get_expected_max() != 0) named.values = option->results();  // not a flag
    given.push_back(std::move(named));
  }
  return given;
}

std::vector<std::string> RepeatedWords(const std::vector<GivenOption>& given, bool shaping_only) {
  std::vector<std::string> words;
  for (const GivenOption& option : given) {
    const auto& table = TaskOptionTable();
    const auto entry = std::find_if(table.begin(), table.end(), [&](const TaskOption& row) {
      return row.command == kRender && row.name == option.name;
    });
    if (entry == table.end() || entry->fate != TaskFate::kRepeated) continue;
    if (shaping_only && !entry->shapes_frames) continue;
    if (option.values.empty()) words.push_back(option.name);
    for (const std::string& value : option.values) {
      words.push_back(option.name);
      words.push_back(value);
    }
  }
  return words;
}

std::string RewrittenToolOptions(const SessionOptions& session) {
  std::string text;
  for (const TaskOption& entry : TaskOptionTable()) {
    if (entry.command == kEvery && entry.task_text) text += entry.task_text(session);
  }
  return text;
}

}  // namespace qv::cli
