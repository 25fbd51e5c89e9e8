#include "file_extent.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "core/errors.h"

namespace qv::cli {
namespace {

// The DPX header, at the offsets the format fixes.
constexpr std::size_t kDpxImageOffset = 4;     // where the first element's data starts, by default
constexpr std::size_t kDpxFileSize = 16;       // the whole file, in bytes
constexpr std::size_t kDpxWidth = 772;         // pixels per line
constexpr std::size_t kDpxHeight = 776;        // lines per element
constexpr std::size_t kDpxDescriptor = 800;    // the first element's component layout
constexpr std::size_t kDpxBits = 803;          // bits per component
constexpr std::size_t kDpxPacking = 804;       // 0 packed, 1 and 2 filled to 32-bit words
constexpr std::size_t kDpxEncoding = 806;      // 0 none, 1 run-length
constexpr std::size_t kDpxDataOffset = 808;    // where this element's data starts
constexpr std::size_t kDpxLinePadding = 812;   // bytes after each line
constexpr std::size_t kDpxHeaderBytes = 820;
constexpr std::uint32_t kUndefined = 0xFFFFFFFF;

class Fields {
 public:
  Fields(const std::string& header, bool big_endian) : header_(header), big_endian_(big_endian) {}
  std::uint32_t Read(std::size_t at, int bytes) const {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
      const auto place = static_cast<std::size_t>(big_endian_ ? i : bytes - 1 - i);
      const auto byte = static_cast<std::uint8_t>(header_[at + place]);
      value = (value << 8) | byte;
    }
    return value;
  }
  std::uint32_t U32(std::size_t at) const { return Read(at, 4); }

 private:
  const std::string& header_;
  bool big_endian_;
};

// Components per pixel of the DPX descriptors whose size is plain: single
// components, RGB, RGBA, ABGR and the 4:4:4 YCbCr layouts.
int DpxComponents(std::uint32_t descriptor) {
  if (descriptor >= 1 && descriptor <= 8) return 1;
  if (descriptor == 50 || descriptor == 102) return 3;
  if (descriptor == 51 || descriptor == 52 || descriptor == 103) return 4;
  return 0;
}

// The bytes of one line of `samples` components at 10 or 12 bits, each line
// starting on a 32-bit word, as OpenImageIO reads them: packed end to end
// (packing 0), or filled, 10 bits three to a word and 12 bits one to a 16-bit
// half-word (packing 1 and 2). Nothing at other depths, which writers lay out
// in more than one way (8 and 16 bits with and without padding to a word):
// their reader fails on a file cut short, and the size field covers them.
std::optional<std::uint64_t> DpxLineBytes(std::uint64_t samples, std::uint32_t bits, std::uint32_t packing) {
  if ((bits != 10 && bits != 12) || packing > 2) return std::nullopt;
  if (packing == 0) return 4 * ((samples * bits + 31) / 32);
  if (bits == 10) return 4 * ((samples + 2) / 3);
  return 4 * ((samples + 1) / 2);
}

std::optional<std::uint64_t> DpxDeclaredBytes(const std::string& header) {
  if (header.size() < kDpxHeaderBytes) return std::nullopt;
  const std::string magic = header.substr(0, 4);
  if (magic != "SDPX" && magic != "XPDS") return std::nullopt;
  const Fields field(header, magic == "SDPX");
  std::uint64_t declared = 0;
  if (const std::uint32_t size = field.U32(kDpxFileSize); size != kUndefined) declared = size;
  const std::uint32_t width = field.U32(kDpxWidth);
  const std::uint32_t height = field.U32(kDpxHeight);
  const int components = DpxComponents(field.Read(kDpxDescriptor, 1));
  const bool plain = field.Read(kDpxEncoding, 2) == 0 && width != kUndefined && height != kUndefined && components > 0;
  const auto line = plain ? DpxLineBytes(std::uint64_t{width} * static_cast<std::uint64_t>(components),
                                         field.Read(kDpxBits, 1), field.Read(kDpxPacking, 2))
                          : std::nullopt;
  if (line) {
    std::uint32_t offset = field.U32(kDpxDataOffset);
    if (offset == kUndefined || offset == 0) offset = field.U32(kDpxImageOffset);
    std::uint32_t padding = field.U32(kDpxLinePadding);
    if (padding == kUndefined) padding = 0;
    declared = std::max<std::uint64_t>(declared, offset + std::uint64_t{height} * (*line + padding));
  }
  if (declared == 0) return std::nullopt;
  return declared;
}

}  // namespace

void CheckFileWhole(const std::string& path, const std::string& format) {
  if (format != "dpx") return;
  std::ifstream file(path, std::ios::binary);
  std::string header(1024, '\0');
  file.read(header.data(), static_cast<std::streamsize>(header.size()));
  header.resize(static_cast<std::size_t>(std::max<std::streamsize>(0, file.gcount())));
  const std::optional<std::uint64_t> declared = DpxDeclaredBytes(header);
  std::error_code error;
  const std::uintmax_t held = std::filesystem::file_size(path, error);
  if (!declared || error || held >= *declared) return;
  throw RunError(Because("cannot read", path,
                         "the file is cut short: " + std::to_string(held) + " bytes of the " +
                             std::to_string(*declared) + " its header declares"));
}

}  // namespace qv::cli
