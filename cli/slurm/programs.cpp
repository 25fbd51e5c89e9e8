#include "slurm/programs.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "core/errors.h"
#include "safe_file.h"

extern char** environ;

namespace qv::cli {
namespace {

// A file that vanishes with its descriptor, for a child's standard streams.
struct Scratch {
  std::FILE* file = std::tmpfile();
  ~Scratch() {
    if (file) std::fclose(file);
  }
  std::string Text() const {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    return text;
  }
};

// This process's environment without the variables whose names begin with
// `prefix` (empty: none dropped).
std::vector<char*> EnvironmentWithout(const std::string& prefix) {
  std::vector<char*> kept;
  for (char** entry = environ; *entry; ++entry) {
    if (prefix.empty() || std::string_view(*entry).rfind(prefix, 0) != 0) kept.push_back(*entry);
  }
  kept.push_back(nullptr);
  return kept;
}

}  // namespace

std::string LastLine(const std::string& text) {
  std::string last;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  return last;
}

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args, const std::string& input,
                      const std::string& dropped) {
  Scratch in, out, err;
  if (!in.file || !out.file || !err.file) throw RunError(Cat("cannot make a temporary file for ", path));
  if (std::fwrite(input.data(), 1, input.size(), in.file) != input.size() || std::fflush(in.file) != 0) {
    throw RunError(Cat("cannot make a temporary file for ", path));
  }
  std::rewind(in.file);
  std::vector<std::string> words = {path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fileno(in.file), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fileno(out.file), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fileno(err.file), STDERR_FILENO);
  pid_t child = 0;
  std::vector<char*> environment = EnvironmentWithout(dropped);
  const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw RunError(Because("cannot run", path, SystemMessage(spawned)));
  int raw = 0;
  while (waitpid(child, &raw, 0) < 0) {
    if (errno != EINTR) throw RunError(Because("cannot wait for", path, SystemMessage(errno)));
  }
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out.Text(), err.Text()};
}

std::string SlurmClient(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
    if (access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) return candidate.string();
  }
  throw RunError(Cat("--slurm: ", name, " is not on the PATH: run on a machine that submits to the cluster "
                     "(Debian: slurm-client)"));
}

}  // namespace qv::cli
