#pragma once

// The record of the frames a look has rendered on the cluster, beside the
// output: a resumed run keeps such a frame while its file is the one the
// look wrote, and renders every other again.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "commands.h"
#include "core/frames.h"

namespace qv::cli {

// A file as it is: a rendered frame is a new file (renamed into place), so
// another stamp is another file.
struct Stamp {
  std::uint64_t id = 0;
  std::int64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds
  friend bool operator==(const Stamp&, const Stamp&) = default;
};

std::optional<Stamp> StampOf(const std::string& path);

// The frames of an output that one look has rendered, each with its file's
// stamp then.
struct Record {
  std::string look;
  std::map<std::int32_t, Stamp> frames;
};

// What decides a frame's pixels and files besides its input file: the look
// (`settings_text`), the input pattern, the plug-in and the options a task
// repeats that shape frames. Not how many frames are in flight, nor the
// limits a file is held to.
std::string LookKey(const SessionOptions& session, const RenderOptions& options, const std::string& settings_text);

// The record at `path`; std::nullopt when there is none or it cannot be read.
std::optional<Record> ReadRecord(const std::string& path);
// Throws RunError when it cannot be written.
void WriteRecord(const std::string& path, const Record& record);

// The frames `record` says the look with `key` rendered whose files are still
// the ones it wrote.
Record StillRendered(const std::optional<Record>& record, const FramePattern& output, const std::string& key);

}  // namespace qv::cli
