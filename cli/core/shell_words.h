#pragma once

// Words for a POSIX shell's command line.

#include <string>

namespace qv::cli {

// `text` as one word of a shell command, whatever it holds: in single quotes,
// each quote inside written as '\''.
inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

}  // namespace qv::cli
