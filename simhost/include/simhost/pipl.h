// The plug-in's registration resource (PiPL): where the host finds it and what
// it says. The host reads it before it calls the plug-in at all.
#ifndef SIMHOST_PIPL_H
#define SIMHOST_PIPL_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace simhost {

// Windows: resource of type "PIPL" with this id. Elsewhere the same bytes sit
// in a section of the shared library named kPiplSectionName.
inline constexpr int kPiplResourceId = 16000;
inline constexpr char kPiplResourceType[] = "PIPL";
inline constexpr char kPiplSectionName[] = ".pipl";

// The `kind` a host accepts as an effect.
inline constexpr char kEffectKind[] = "eFKT";

struct PiplVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  friend bool operator==(const PiplVersion&, const PiplVersion&) = default;
};

// What the resource declares. Four-character codes are given in reading order
// ("eFKT"), not in the byte-reversed order in which they are stored.
struct PiplInfo {
  std::string kind;         // `kind`
  std::string name;         // `name`
  std::string category;     // `catg`
  std::string entry_point;  // `8664`, the 64-bit Windows code entry
  PiplVersion pipl_version;   // `ePVR`
  PiplVersion spec_version;   // `eSVR`
  std::uint32_t effect_version = 0;     // `eVER`, the packed version word
  std::uint32_t info_flags = 0;         // `eINF`
  std::uint32_t global_out_flags = 0;   // `eGLO`
  std::uint32_t global_out_flags2 = 0;  // `eGL2`
  std::string match_name;               // `eMNA`
  std::uint32_t reserved_info = 0;      // `aeFL`
  std::vector<std::string> keys;        // every property key, in file order
};

// Parses PiPL bytes. Anything that does not fit the layout (a length running
// past the end, a wrong vendor code, a string longer than its property, a
// padded length that does not match, a repeated key) is an error: returns
// nothing and, when `error` is given, says why. Unknown keys are skipped.
std::optional<PiplInfo> ParsePipl(std::span<const std::uint8_t> bytes,
                                  std::string* error = nullptr);

}  // namespace simhost

#endif
