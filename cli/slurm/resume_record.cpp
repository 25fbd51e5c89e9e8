#include "slurm/resume_record.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

#include "core/shell_words.h"
#include "safe_file.h"
#include "slurm/task_options.h"

namespace qv::cli {

std::optional<Stamp> StampOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  const std::int64_t modified = status.st_mtim.tv_sec * std::int64_t{1000000000} + status.st_mtim.tv_nsec;
  return Stamp{status.st_ino, status.st_size, modified};
}

std::string LookKey(const SessionOptions& session, const RenderOptions& options, const std::string& settings_text) {
  std::ostringstream key;
  key << "in " << options.input << "\nplugin " << session.plugin_path << StrictnessText(session) << "\noptions";
  for (const std::string& word : RepeatedWords(options.given, true)) key << ' ' << ShellQuoted(word);
  key << '\n' << settings_text;
  return key.str();
}

std::optional<Record> ReadRecord(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  try {
    const nlohmann::json json = nlohmann::json::parse(file);
    Record record{json.at("look").get<std::string>(), {}};
    for (const nlohmann::json& frame : json.at("frames")) {
      record.frames[frame.at(0).get<std::int32_t>()] =
          Stamp{frame.at(1).get<std::uint64_t>(), frame.at(2).get<std::int64_t>(), frame.at(3).get<std::int64_t>()};
    }
    return record;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

void WriteRecord(const std::string& path, const Record& record) {
  nlohmann::json frames = nlohmann::json::array();
  for (const auto& [frame, stamp] : record.frames) frames.push_back({frame, stamp.id, stamp.size, stamp.modified});
  nlohmann::json json = {{"look", record.look}, {"frames", std::move(frames)}};
  WriteWholeFile(path, json.dump() + '\n');
}

Record StillRendered(const std::optional<Record>& record, const FramePattern& output, const std::string& key) {
  Record still{key, {}};
  if (!record || record->look != key) return still;
  for (const auto& [frame, stamp] : record->frames) {
    if (StampOf(output.At(frame)) == stamp) still.frames[frame] = stamp;
  }
  return still;
}

}  // namespace qv::cli
