#include "cli_checks.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <variant>

#include "core/errors.h"
#include "core/frames.h"
#include "core/param_parse.h"
#include "settings_file.h"
#include "shell/entry_point.h"
#include "shell/pipl.h"
#include "simhost/host.h"

namespace qv::fuzz {
namespace {

using cli::ParamEntry;
using cli::ParamKey;
using cli::ParamSetting;

// A message the tool prints as its one line: something, and no line break.
bool OneLine(std::string_view message) {
  return !message.empty() && message.find_first_of("\n\r") == std::string_view::npos;
}

// Runs `parse`; a UsageError must be one line beginning with `prefix`, and
// nothing else may escape. Returns whether the parse succeeded.
template <class Parse>
bool Parsed(const char* what, std::string_view prefix, std::vector<std::string>& problems, Parse&& parse) {
  try {
    parse();
    return true;
  } catch (const cli::UsageError& e) {
    const std::string_view message = e.what();
    if (!OneLine(message)) problems.push_back(std::string(what) + ": the error is not one line: " + message.data());
    if (message.substr(0, prefix.size()) != prefix) {
      problems.push_back(std::string(what) + ": the error does not begin with " + std::string(prefix) + ": " +
                         message.data());
    }
  } catch (const std::exception& e) {
    problems.push_back(std::string(what) + " threw something other than a UsageError: " + e.what());
  } catch (...) {
    problems.push_back(std::string(what) + " threw something other than an exception");
  }
  return false;
}

bool SameValue(const simhost::ParamValue& a, const simhost::ParamValue& b) {
  if (a.index() != b.index()) return false;
  return std::visit(
      [&b](const auto& value) {
        using Value = std::decay_t<decltype(value)>;
        const Value& other = std::get<Value>(b);
        if constexpr (std::is_same_v<Value, PF_Pixel>) {
          return value.alpha == other.alpha && value.red == other.red && value.green == other.green &&
                 value.blue == other.blue;
        } else {
          return value == other;
        }
      },
      a);
}

bool SameKeys(const std::vector<ParamKey>& a, const std::vector<ParamKey>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].frame != b[i].frame || !SameValue(a[i].value, b[i].value)) return false;
  }
  return true;
}

const ParamEntry& EntryOf(const cli::ParamCatalog& catalog, PF_ParamIndex index) {
  for (const ParamEntry& entry : catalog.entries()) {
    if (entry.index == index) return entry;
  }
  throw std::logic_error("a setting names parameter " + std::to_string(index) + ", which is not registered");
}

// A file that lives in memory, named by a path the tool opens as any other.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : fd_(memfd_create(name, 0)) {
    if (fd_ < 0) throw std::runtime_error("memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& path() const { return path_; }
  void Write(std::string_view text) const {
    if (ftruncate(fd_, 0) != 0 ||
        (!text.empty() && pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))) {
      throw std::runtime_error("cannot write the in-memory file");
    }
  }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

const cli::ParamCatalog& PluginCatalog() {
  static const cli::ParamCatalog catalog = [] {
    simhost::Host host(&EntryPointFunc, PiplBytes());
    if (host.GlobalSetup() != PF_Err_NONE || host.ParamsSetup() != PF_Err_NONE) {
      throw std::runtime_error("the plug-in did not set up");
    }
    cli::ParamCatalog registered = cli::ParamCatalog::FromHost(host);
    host.GlobalSetdown();
    return registered;
  }();
  return catalog;
}

std::vector<std::string> CheckSetText(const cli::ParamCatalog& catalog, std::string_view text) {
  std::vector<std::string> problems;
  ParamSetting setting;
  if (!Parsed("--set", "--set \"", problems, [&] { setting = cli::ParseSetting(catalog, text); })) return problems;
  const ParamEntry& param = EntryOf(catalog, setting.index);
  const std::string printed = setting.name + "=" + cli::FormatKeys(param, setting.keys);
  ParamSetting again;
  if (!Parsed("--set of the printed setting", "--set \"", problems,
              [&] { again = cli::ParseSetting(catalog, printed); })) {
    problems.push_back("\"" + printed + "\", printed from a setting that parsed, does not parse");
    return problems;
  }
  if (again.index != setting.index || !SameKeys(again.keys, setting.keys)) {
    problems.push_back("\"" + printed + "\", printed from the setting, parses to another value");
  } else if (const std::string reprinted = again.name + "=" + cli::FormatKeys(param, again.keys);
             reprinted != printed) {
    problems.push_back("the setting prints as \"" + printed + "\" and then as \"" + reprinted + "\"");
  }
  return problems;
}

std::vector<std::string> CheckFrameText(std::string_view text) {
  std::vector<std::string> problems;
  cli::FrameRange range;
  if (Parsed("--frames", "--frames \"", problems, [&] { range = cli::ParseFrameRange(text); })) {
    const std::string printed = cli::Describe(cli::FrameRuns{range});
    cli::FrameRange again;
    if (!Parsed("--frames of the printed range", "--frames \"", problems,
                [&] { again = cli::ParseFrameRange(printed); })) {
      problems.push_back("\"" + printed + "\", printed from a range that parsed, does not parse");
    } else if (!(again == range)) {
      problems.push_back("\"" + printed + "\", printed from the range, parses to another range");
    }
  }

  // The text's first line as a frame pattern: each frame's file name reads
  // back as that frame, and a file name that reads as a frame (the second
  // line, as a file found on disk) is the one At() writes for it.
  const std::size_t newline = text.find('\n');
  const std::string_view path = text.substr(0, newline);
  const std::string_view file = newline == std::string_view::npos ? path : text.substr(newline + 1);
  try {
    const cli::FramePattern pattern{std::string(path)};
    const auto name_of = [](const std::string& path) {
      const std::size_t slash = path.find_last_of('/');
      return slash == std::string::npos ? path : path.substr(slash + 1);
    };
    pattern.NameWith("frames");
    if (pattern.HasFrame()) {
      constexpr std::array<std::int32_t, 9> kFrames = {0, 1, 9, 10, 99, 12345, 2147483647, -1, -2147483647 - 1};
      for (const std::int32_t frame : kFrames) {
        const std::string name = name_of(pattern.At(frame));
        const std::optional<std::int32_t> read = pattern.FrameOf(name);
        // Negative frames are written with their sign; a pattern need not
        // read them back, but one that does reads the same frame.
        if (read ? *read != frame : frame >= 0) {
          problems.push_back("frame " + std::to_string(frame) + " is written as \"" + name +
                             "\", which reads back as " + (read ? std::to_string(*read) : std::string("no frame")));
        }
      }
    }
    const std::string name = name_of(std::string(file));
    if (const std::optional<std::int32_t> frame = pattern.FrameOf(name)) {
      if (name_of(pattern.At(*frame)) != name) {
        problems.push_back("\"" + name + "\" reads as frame " + std::to_string(*frame) + ", which is written as \"" +
                           name_of(pattern.At(*frame)) + "\"");
      }
    }
  } catch (const std::exception& e) {
    problems.push_back(std::string("a frame pattern threw: ") + e.what());
  }
  return problems;
}

std::vector<std::string> CheckSettingsText(const cli::ParamCatalog& catalog, std::string_view text) {
  static const MemoryFile file("settings"), written("saved-settings");
  std::vector<std::string> problems;
  file.Write(text);
  std::vector<ParamSetting> settings;
  if (!Parsed("a settings file", file.path() + ":", problems,
              [&] { settings = cli::LoadSettings(file.path(), catalog); })) {
    return problems;
  }
  // Written back whole, every control's value, as SaveSettings writes it
  // (the text alone: the file's own writing, partial file and sync, is no
  // parser's), and read again: each control the file sets has its value,
  // every other its default.
  std::vector<ParamSetting> again;
  if (!Parsed("a settings file the tool wrote", written.path() + ":", problems, [&] {
        written.Write(cli::SettingsText(catalog, settings));
        again = cli::LoadSettings(written.path(), catalog);
      })) {
    problems.push_back("the settings, written back, do not load");
    return problems;
  }
  for (const ParamEntry& param : catalog.entries()) {
    if (!param.HasValue()) continue;
    const auto of = [&](const std::vector<ParamSetting>& list) -> std::vector<ParamKey> {
      for (const ParamSetting& s : list) {
        if (s.index == param.index) return s.keys;
      }
      return {ParamKey{std::nullopt, cli::DefaultValue(param)}};
    };
    if (!SameKeys(of(settings), of(again))) {
      problems.push_back("\"" + param.name + "\" reads back as " + cli::FormatKeys(param, of(again)) + ", not " +
                         cli::FormatKeys(param, of(settings)));
    }
  }
  return problems;
}

}  // namespace qv::fuzz
