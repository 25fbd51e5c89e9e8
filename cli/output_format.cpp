#include "output_format.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <mutex>
#include <string_view>
#include <system_error>

#include "core/errors.h"
#include "image_description.h"
#include "image_metadata.h"
#include "image_open.h"
#include "library_messages.h"
#include "webp_files.h"

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

// The description a small RGB picture described by `picture` reads back
// with, once the writer for files named like `file` has written it; none
// where either fails (a writer's or reader's complaint only means "no").
// Not every writer says in its description what it will store, so the file
// it wrote is asked.
std::optional<OIIO::ImageSpec> WrittenAndReadBack(const fs::path& file, const OIIO::ImageSpec& picture) {
  auto output = CreateImageWriter(file.string());
  if (!output) return std::nullopt;
  const std::vector<float> samples(picture.image_pixels() * 3, 0.5f);
  bool written = output->open(file.string(), picture) && output->write_image(OIIO::TypeDesc::FLOAT, samples.data());
  written = output->close() && written;
  output.reset();
  auto input = written ? OpenImageFile(file.string()) : nullptr;
  OIIO::geterror();
  if (!input) return std::nullopt;
  return DescriptionOf(*input);
}

// Whether the writer for files named like `file` stores samples of `type` as
// they are: a small picture written in that type reads back in it.
bool Holds(const fs::path& file, const FileType& type) {
  constexpr int kSide = 4;
  OIIO::ImageSpec picture(kSide, kSide, 3, type.type);
  DescribeFileType(type, picture);
  const std::optional<OIIO::ImageSpec> read_back = WrittenAndReadBack(file, picture);
  return read_back && SameFileType(FileTypeOf(*read_back, read_back->channelformat(0)), type);
}

// Whether the writer for files named like `file` keeps `orientation`: a
// small picture, wider than high, written with it reads back with it, as
// wide and as high.
bool KeepsOrientation(const fs::path& file, int orientation) {
  constexpr int kWidth = 4, kHeight = 2;
  OIIO::ImageSpec picture(kWidth, kHeight, 3, OIIO::TypeDesc::UINT8);
  picture.attribute(kOrientationAttribute, orientation);
  const std::optional<OIIO::ImageSpec> read_back = WrittenAndReadBack(file, picture);
  return read_back && read_back->get_int_attribute(kOrientationAttribute, 1) == orientation &&
         read_back->width == kWidth && read_back->height == kHeight;
}

// A file's bytes from `offset` on, as many as `count` (fewer at its end).
std::string BytesAt(std::ifstream& file, std::uint64_t offset, std::size_t count) {
  std::string bytes(count, '\0');
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, file.gcount())));
  return bytes;
}

unsigned Byte(const std::string& bytes, std::size_t i) { return static_cast<unsigned char>(bytes[i]); }

// The luminance quantisation table of a baseline JPEG file (the first one
// it defines, as encoders define it first), in the order the file lists it;
// empty when the file has none before its first scan.
std::vector<int> JpegLuminanceTable(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (BytesAt(file, 0, 2) != "\xFF\xD8") return {};
  std::uint64_t offset = 2;
  for (;;) {
    const std::string marker = BytesAt(file, offset, 4);
    if (marker.size() < 4 || Byte(marker, 0) != 0xFF) return {};
    const unsigned kind = Byte(marker, 1);
    const std::size_t length = Byte(marker, 2) << 8 | Byte(marker, 3);  // counting its own two bytes
    if (kind == 0xDA || kind == 0xD9 || length < 2) return {};  // the first scan, or the end: no table
    if (kind == 0xDB) {
      const std::string segment = BytesAt(file, offset + 4, length - 2);
      if (segment.empty()) return {};
      const bool wide = (Byte(segment, 0) >> 4) != 0;  // 16-bit values
      const std::size_t bytes = 1 + 64 * (wide ? 2 : 1);
      if (segment.size() < bytes) return {};
      std::vector<int> table;
      for (std::size_t i = 0; i < 64; ++i) {
        table.push_back(wide ? static_cast<int>(Byte(segment, 1 + 2 * i) << 8 | Byte(segment, 2 + 2 * i))
                             : static_cast<int>(Byte(segment, 1 + i)));
      }
      return table;
    }
    offset += 2 + length;
  }
}

// The quality (1 to 100) whose scaling of the standard luminance table (the
// JPEG standard's example, as the common encoders scale it) is nearest to
// `table`. The scaling keeps the order of the values, so the tables are
// compared sorted, whatever order the file lists them in.
int JpegQuality(std::vector<int> table) {
  static constexpr int kStandard[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  std::sort(table.begin(), table.end());
  int best = 0;
  long best_distance = 0;
  for (int quality = 1; quality <= 100; ++quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    std::vector<int> scaled;
    for (int value : kStandard) scaled.push_back(std::clamp((value * scale + 50) / 100, 1, 255));
    std::sort(scaled.begin(), scaled.end());
    long distance = 0;
    for (std::size_t i = 0; i < scaled.size(); ++i) distance += std::labs(long{scaled[i]} - table[i]);
    if (best == 0 || distance < best_distance) best = quality, best_distance = distance;
  }
  return best;
}

}  // namespace

void CarryEncoding(const OIIO::ImageSpec& from, const std::string& from_path, const OIIO::ImageOutput& writer,
                   OIIO::ImageSpec& to) {
  if (from.tile_width > 0 && writer.supports("tiles")) {
    to.tile_width = from.tile_width;
    to.tile_height = from.tile_height;
    to.tile_depth = from.tile_depth;
  }
  const std::string_view format = writer.format_name();
  if (format == "webp") CarryWebpCoding(from_path, to);
  if (format == "jpeg" && !from.find_attribute("CompressionQuality")) {
    const std::vector<int> table = JpegLuminanceTable(from_path);
    if (table.size() == 64) to.attribute("CompressionQuality", JpegQuality(table));
  }
}

const std::vector<NamedFileType>& FileTypes() {
  static const std::vector<NamedFileType> kTypes = {
      {"uint8", {OIIO::TypeDesc::UINT8, 0}},  {"uint10", {OIIO::TypeDesc::UINT16, 10}},
      {"uint12", {OIIO::TypeDesc::UINT16, 12}}, {"uint16", {OIIO::TypeDesc::UINT16, 0}},
      {"half", {OIIO::TypeDesc::HALF, 0}},    {"float", {OIIO::TypeDesc::FLOAT, 0}}};
  return kTypes;
}

FileType FileTypeOf(const OIIO::ImageSpec& image_spec, OIIO::TypeDesc colour_type) {
  FileType type{colour_type, 0};
  // Only a uint16 sample packs fewer bits that another format can keep (10
  // or 12, as DPX and TIFF do); 8 bits fill every format's smallest type.
  const int bits = image_spec.get_int_attribute(kBitsAttribute, 0);
  if (type.type == OIIO::TypeDesc::UINT16 && bits > 8 && bits < 16) type.bits = bits;
  return type;
}

void DescribeFileType(const FileType& type, OIIO::ImageSpec& image_spec) {
  if (type.bits != 0) image_spec.attribute(kBitsAttribute, type.bits);
}

namespace {

// The answer a writer gave to `question` (of the format, by the output's
// extension), asked once a run in a directory of its own by `ask`; none
// where there is nowhere to ask. Frames in flight ask at once: the answers
// are kept under a lock, held while a question is asked so that it is
// asked once.
std::optional<bool> AskedOnce(const std::string& question, const std::function<bool(const fs::path&)>& ask) {
  static std::mutex mutex;
  static std::map<std::string, bool> known;
  const std::lock_guard<std::mutex> lock(mutex);
  auto found = known.find(question);
  if (found == known.end()) {
    const ProbeDirectory directory;
    if (directory.path().empty()) return std::nullopt;
    LibraryMessages messages;  // what the writers print about what they refuse is theirs
    found = known.emplace(question, ask(directory.path())).first;
  }
  return found->second;
}

}  // namespace

bool FormatHoldsType(const std::string& path, FileType type) {
  const std::string extension = fs::path(path).extension().string();
  const std::string question = extension + " holds " + type.type.c_str() + "/" + std::to_string(type.bits);
  // Nowhere to ask: the writer stores what it can.
  return AskedOnce(question, [&](const fs::path& directory) {
           return Holds(directory / ("type" + extension), type);
         }).value_or(true);
}

std::optional<int> UnheldOrientation(const OIIO::ImageSpec& image_spec, const std::string& path) {
  const int orientation = image_spec.get_int_attribute(kOrientationAttribute, 1);
  if (orientation == 1) return std::nullopt;
  const std::string extension = fs::path(path).extension().string();
  const std::string question = extension + " keeps orientation " + std::to_string(orientation);
  // Nowhere to ask: written as it always was.
  const bool keeps = AskedOnce(question, [&](const fs::path& directory) {
                       return KeepsOrientation(directory / ("orientation" + extension), orientation);
                     }).value_or(true);
  return keeps ? std::nullopt : std::optional<int>(orientation);
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
  const auto output = CreateImageWriter(path);
  const std::string format = output ? output->format_name() : extension;
  if (held.empty()) throw UsageError("--type " + name + ": " + format + " files hold none of the types --type names");
  std::string list = held.back();
  if (held.size() > 1) list = Joined({held.begin(), held.end() - 1}) + " or " + list;
  throw UsageError("--type " + name + ": " + format + " files hold " + list + " samples, not " + name);
}

}  // namespace qv::cli
