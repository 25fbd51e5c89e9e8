#pragma once

// The two ways a command stops early. Both carry one line for the user.

#include <stdexcept>
#include <string>
#include <vector>

namespace qv::cli {

// A mistake in what the user asked for (an unknown parameter, a value out of
// range, a frame pattern without frames). Found before anything is written;
// the tool exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Anything else that stops a run: a file that cannot be read or written, a
// plug-in that cannot be loaded or that fails. The tool exits with status 1.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "cannot read PATH: why", the shape of every line about a file.
inline std::string Because(const std::string& what, const std::string& path, const std::string& why) {
  std::string message = what;
  message += ' ';
  message += path;
  message += ": ";
  message += why;
  return message;
}

// "a, b, c": names in a message.
inline std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

inline constexpr int kExitRunError = 1;
inline constexpr int kExitUsageError = 2;

}  // namespace qv::cli
