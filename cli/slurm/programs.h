#pragma once

// The programs the tool runs for a cluster, Slurm's clients, and the text
// they answer with.

#include <sstream>
#include <string>
#include <vector>

namespace qv::cli {

// Pieces of a message or an argument, joined. (GCC 12 mistakes
// `"literal" + std::string` for an overlapping copy.)
template <class... Pieces>
std::string Cat(const Pieces&... pieces) {
  std::ostringstream text;
  (text << ... << pieces);
  return text.str();
}

// How the tool's own lines begin (main.cpp), in a task's log.
inline constexpr const char* kToolPrefix = "quorvandile: ";

// The last line of `text` that says something.
std::string LastLine(const std::string& text);

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// The program at `path` run with `args`, `input` on its standard input, and
// without the environment variables beginning with `dropped`; what it printed
// and its exit status. Throws RunError when it cannot be started.
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args, const std::string& input = {},
                      const std::string& dropped = {});

// The Slurm client `name` as the PATH finds it; RunError when it does not.
std::string SlurmClient(const std::string& name);

}  // namespace qv::cli
