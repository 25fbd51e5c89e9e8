#include "simhost/pipl.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace simhost {
namespace {

constexpr std::size_t kHeaderBytes = 10;    // reserved (2), list version (4), count (4)
constexpr std::size_t kPropertyHeader = 16;  // vendor, key, id, length
constexpr std::uint16_t kReservedWord = 1;
constexpr std::uint32_t kListVersion = 0;
constexpr char kVendorStored[] = "MIB8";  // "8BIM", byte-reversed

std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
// A stored four-character code in reading order.
std::string Code(std::span<const std::uint8_t> b, std::size_t at) {
  return std::string{static_cast<char>(b[at + 3]), static_cast<char>(b[at + 2]),
                     static_cast<char>(b[at + 1]), static_cast<char>(b[at])};
}
std::size_t PaddedTo4(std::size_t n) { return (n + 3) / 4 * 4; }

bool AllZero(std::span<const std::uint8_t> b) {
  return std::all_of(b.begin(), b.end(), [](std::uint8_t c) { return c == 0; });
}

// Each decoder checks that the data has exactly the size its encoding gives.
bool Word(std::span<const std::uint8_t> d, std::uint32_t& out, std::string& why) {
  if (d.size() != 4) {
    why = "holds " + std::to_string(d.size()) + " bytes, not a 32-bit value";
    return false;
  }
  out = U32(d, 0);
  return true;
}

bool Version(std::span<const std::uint8_t> d, PiplVersion& out, std::string& why) {
  if (d.size() != 4) {
    why = "holds " + std::to_string(d.size()) + " bytes, not a version pair";
    return false;
  }
  out = PiplVersion{U16(d, 0), U16(d, 2)};
  return true;
}

bool PascalString(std::span<const std::uint8_t> d, std::string& out, std::string& why) {
  if (d.empty()) {
    why = "is empty, not a Pascal string";
    return false;
  }
  const std::size_t n = d[0];
  if (1 + n > d.size()) {
    why = "has a string of " + std::to_string(n) + " characters in " + std::to_string(d.size()) + " bytes";
    return false;
  }
  if (d.size() != PaddedTo4(1 + n) || !AllZero(d.subspan(1 + n))) {
    why = "is not padded with zero bytes to a multiple of 4";
    return false;
  }
  out.assign(reinterpret_cast<const char*>(d.data() + 1), n);
  return true;
}

bool CString(std::span<const std::uint8_t> d, std::string& out, std::string& why) {
  const auto nul = std::find(d.begin(), d.end(), std::uint8_t{0});
  if (nul == d.end()) {
    why = "has no terminating NUL";
    return false;
  }
  const auto n = static_cast<std::size_t>(nul - d.begin());
  if (d.size() != PaddedTo4(n + 1) || !AllZero(d.subspan(n))) {
    why = "is not padded with zero bytes to a multiple of 4";
    return false;
  }
  out.assign(reinterpret_cast<const char*>(d.data()), n);
  return true;
}

bool Kind(std::span<const std::uint8_t> d, std::string& out, std::string& why) {
  if (d.size() != 4) {
    why = "holds " + std::to_string(d.size()) + " bytes, not a four-character code";
    return false;
  }
  out = Code(d, 0);
  return true;
}

bool Decode(const std::string& key, std::span<const std::uint8_t> d, PiplInfo& info, std::string& why) {
  if (key == "kind") return Kind(d, info.kind, why);
  if (key == "name") return PascalString(d, info.name, why);
  if (key == "catg") return PascalString(d, info.category, why);
  if (key == "8664") return CString(d, info.entry_point, why);
  if (key == "ePVR") return Version(d, info.pipl_version, why);
  if (key == "eSVR") return Version(d, info.spec_version, why);
  if (key == "eVER") return Word(d, info.effect_version, why);
  if (key == "eINF") return Word(d, info.info_flags, why);
  if (key == "eGLO") return Word(d, info.global_out_flags, why);
  if (key == "eGL2") return Word(d, info.global_out_flags2, why);
  if (key == "eMNA") return PascalString(d, info.match_name, why);
  if (key == "aeFL") return Word(d, info.reserved_info, why);
  return true;  // a property this host does not use
}

std::optional<PiplInfo> Fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return std::nullopt;
}

}  // namespace

std::optional<PiplInfo> ParsePipl(std::span<const std::uint8_t> bytes, std::string* error) {
  if (bytes.size() < kHeaderBytes) {
    return Fail(error, "PiPL of " + std::to_string(bytes.size()) + " bytes is shorter than its header");
  }
  if (U16(bytes, 0) != kReservedWord || U32(bytes, 2) != kListVersion) {
    return Fail(error, "PiPL header is not reserved word 1 and list version 0");
  }
  const std::uint32_t count = U32(bytes, 6);
  PiplInfo info;
  std::size_t at = kHeaderBytes;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string where = "PiPL property " + std::to_string(i);
    if (bytes.size() - at < kPropertyHeader) {
      return Fail(error, where + " of " + std::to_string(count) + " runs past the end");
    }
    if (std::string_view(reinterpret_cast<const char*>(bytes.data() + at), 4) != kVendorStored) {
      return Fail(error, where + " has a vendor code other than 8BIM");
    }
    const std::string key = Code(bytes, at + 4);
    const std::uint32_t length = U32(bytes, at + 12);
    at += kPropertyHeader;
    if (length > bytes.size() - at) {
      return Fail(error, where + " (" + key + ") says " + std::to_string(length) +
                             " bytes of data but only " + std::to_string(bytes.size() - at) + " remain");
    }
    if (std::find(info.keys.begin(), info.keys.end(), key) != info.keys.end()) {
      return Fail(error, where + " repeats the key " + key);
    }
    std::string why;
    if (!Decode(key, bytes.subspan(at, length), info, why)) {
      return Fail(error, where + " (" + key + ") " + why);
    }
    info.keys.push_back(key);
    at += length;
  }
  return info;
}

}  // namespace simhost
