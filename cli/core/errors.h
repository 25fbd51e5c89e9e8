#pragma once

// The two ways a command stops early. Both carry one line for the user.

#include <stdexcept>
#include <string>
#include <string_view>
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

// `text` in double quotes, as a message shows what the user wrote. A control
// character is written as an escape (\n, \r, \t, else \xHH), so that the
// message stays one whole line whatever the text holds (a NUL would end it).
inline std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      quoted += "\\x";
      quoted += kDigits[byte >> 4];
      quoted += kDigits[byte & 15];
    }
  }
  quoted += '"';
  return quoted;
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
