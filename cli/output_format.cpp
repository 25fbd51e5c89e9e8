#include "output_format.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/errors.h"
#include "image_description.h"
#include "library_messages.h"

namespace qv::cli {
namespace {

namespace fs = std::filesystem;

// Where a file says how many bits of each sample hold the value.
constexpr const char* kBitsAttribute = "oiio:BitsPerSample";

bool SameFileType(const FileType& a, const FileType& b) { return a.type == b.type && a.bits == b.bits; }

// A directory of its own for pictures the writers are asked to write,
// removed with them.
class ProbeDirectory {
 public:
  ProbeDirectory() {
    std::error_code error;
    std::string name = (fs::temp_directory_path(error) / "quorvandile-probe-XXXXXX").string();
    if (!error && mkdtemp(name.data()) != nullptr) path_ = name;
  }
  ~ProbeDirectory() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
  }
  ProbeDirectory(const ProbeDirectory&) = delete;
  ProbeDirectory& operator=(const ProbeDirectory&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Whether the writer for files named like `file` stores samples of `type` as
// they are: a small RGB picture written in that type reads back in it. Not
// every writer says in its description what it will store, so the file it
// wrote is asked.
bool Holds(const fs::path& file, const FileType& type) {
  auto output = OIIO::ImageOutput::create(file.string());
  if (!output) return false;
  constexpr int kSide = 4;
  OIIO::ImageSpec picture(kSide, kSide, 3, type.type);
  DescribeFileType(type, picture);
  const std::vector<float> samples(kSide * kSide * 3, 0.5f);
  bool written = output->open(file.string(), picture) && output->write_image(OIIO::TypeDesc::FLOAT, samples.data());
  written = output->close() && written;
  output.reset();
  auto input = written ? OIIO::ImageInput::open(file.string()) : nullptr;
  OIIO::geterror();  // a writer's or reader's complaint only means "no"
  if (!input) return false;
  return SameFileType(FileTypeOf(DescriptionOf(*input)), type);
}

}  // namespace

const std::vector<NamedFileType>& FileTypes() {
  static const std::vector<NamedFileType> kTypes = {
      {"uint8", {OIIO::TypeDesc::UINT8, 0}},  {"uint10", {OIIO::TypeDesc::UINT16, 10}},
      {"uint12", {OIIO::TypeDesc::UINT16, 12}}, {"uint16", {OIIO::TypeDesc::UINT16, 0}},
      {"half", {OIIO::TypeDesc::HALF, 0}},    {"float", {OIIO::TypeDesc::FLOAT, 0}}};
  return kTypes;
}

FileType FileTypeOf(const OIIO::ImageSpec& image_spec) {
  FileType type{image_spec.channelformat(0), 0};
  // Only a uint16 sample packs fewer bits that another format can keep (10
  // or 12, as DPX and TIFF do); 8 bits fill every format's smallest type.
  const int bits = image_spec.get_int_attribute(kBitsAttribute, 0);
  if (type.type == OIIO::TypeDesc::UINT16 && bits > 8 && bits < 16) type.bits = bits;
  return type;
}

void DescribeFileType(const FileType& type, OIIO::ImageSpec& image_spec) {
  if (type.bits != 0) image_spec.attribute(kBitsAttribute, type.bits);
}

void CheckFileType(const std::string& path, FileType type) {
  const std::string extension = fs::path(path).extension().string();
  const ProbeDirectory directory;
  if (directory.path().empty()) return;  // nowhere to ask: the writer stores what it can, as it always did
  LibraryMessages messages;  // what the writers print about a type they refuse is theirs
  const auto holds = [&](const NamedFileType& named) {
    return Holds(directory.path() / (std::string(named.name) + extension), named.type);
  };
  const auto asked = std::find_if(FileTypes().begin(), FileTypes().end(),
                                  [&](const NamedFileType& named) { return SameFileType(named.type, type); });
  if (asked == FileTypes().end() || holds(*asked)) return;
  const std::string name = asked->name;
  std::vector<std::string> held;
  for (const NamedFileType& named : FileTypes()) {
    if (holds(named)) held.push_back(named.name);
  }
  messages.Stop();
  const auto output = OIIO::ImageOutput::create(path);
  const std::string format = output ? output->format_name() : extension;
  if (held.empty()) throw UsageError("--type " + name + ": " + format + " files hold none of the types --type names");
  std::string list = held.back();
  if (held.size() > 1) list = Joined({held.begin(), held.end() - 1}) + " or " + list;
  throw UsageError("--type " + name + ": " + format + " files hold " + list + " samples, not " + name);
}

}  // namespace qv::cli
