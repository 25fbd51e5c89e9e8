// The registration resource the host reads before it loads the library: one
// list of properties, turned at compile time into the host's little-endian
// binary layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "shell/plugin_facts.h"

namespace qv {

namespace pipl {

// A four-character code as the host compares it: the first character is the
// most significant byte, so stored little-endian the characters read reversed.
constexpr std::uint32_t FourCc(std::string_view code) {
  if (code.size() != 4) {
    throw "a four-character code has four characters";  // fails compilation
  }
  std::uint32_t value = 0;
  for (char c : code) {
    value = (value << 8) | static_cast<unsigned char>(c);
  }
  return value;
}

enum class Encoding {
  kFourCc,    // 4 bytes
  kPascal,    // length byte, characters, zeros up to a multiple of 4
  kCString,   // characters, NUL, zeros up to a multiple of 4
  kVersion,   // 16-bit major, then 16-bit minor
  kLong,      // 32-bit value
};

struct Property {
  std::uint32_t key;
  Encoding encoding;
  std::string_view text;  // kFourCc, kPascal, kCString
  std::uint32_t value;    // kLong, kFourCc (from text), kVersion (major << 16 | minor)

  static constexpr Property Code(std::string_view key, std::string_view code) {
    return {FourCc(key), Encoding::kFourCc, {}, FourCc(code)};
  }
  static constexpr Property Pascal(std::string_view key, std::string_view text) {
    return {FourCc(key), Encoding::kPascal, text, 0};
  }
  static constexpr Property CString(std::string_view key, std::string_view text) {
    return {FourCc(key), Encoding::kCString, text, 0};
  }
  static constexpr Property Version(std::string_view key, facts::InterfaceVersion version) {
    return {FourCc(key), Encoding::kVersion, {},
            (std::uint32_t{version.major} << 16) | version.minor};
  }
  static constexpr Property Long(std::string_view key, std::uint32_t value) {
    return {FourCc(key), Encoding::kLong, {}, value};
  }
};

inline constexpr std::uint32_t kVendor = FourCc("8BIM");
inline constexpr std::uint32_t kEffectKind = FourCc("eFKT");

constexpr std::size_t PaddedTo4(std::size_t size) { return (size + 3) / 4 * 4; }

constexpr std::size_t DataSize(const Property& property) {
  switch (property.encoding) {
    case Encoding::kPascal:
      if (property.text.size() > 255) {
        throw "a Pascal string holds at most 255 characters";  // fails compilation
      }
      return PaddedTo4(1 + property.text.size());
    case Encoding::kCString:
      return PaddedTo4(property.text.size() + 1);
    case Encoding::kFourCc:
    case Encoding::kVersion:
    case Encoding::kLong:
      break;
  }
  return 4;
}

// Reserved word, list version, property count.
inline constexpr std::size_t kHeaderSize = 2 + 4 + 4;
// Vendor, key, id, data length.
inline constexpr std::size_t kPropertyHeaderSize = 4 * 4;

template <std::size_t N>
constexpr std::size_t ResourceSize(const std::array<Property, N>& properties) {
  std::size_t size = kHeaderSize;
  for (const Property& property : properties) {
    size += kPropertyHeaderSize + DataSize(property);
  }
  return size;
}

template <std::size_t Size, std::size_t N>
constexpr std::array<unsigned char, Size> Encode(const std::array<Property, N>& properties) {
  std::array<unsigned char, Size> bytes{};
  std::size_t at = 0;
  auto put16 = [&](std::uint16_t value) {
    bytes[at++] = static_cast<unsigned char>(value);
    bytes[at++] = static_cast<unsigned char>(value >> 8);
  };
  auto put32 = [&](std::uint32_t value) {
    put16(static_cast<std::uint16_t>(value));
    put16(static_cast<std::uint16_t>(value >> 16));
  };
  auto put_text = [&](std::string_view text) {
    for (char c : text) {
      bytes[at++] = static_cast<unsigned char>(c);
    }
  };

  put16(1);  // reserved
  put32(0);  // property list version
  put32(static_cast<std::uint32_t>(N));
  for (const Property& property : properties) {
    const std::size_t data_size = DataSize(property);
    put32(kVendor);
    put32(property.key);
    put32(0);  // property id
    put32(static_cast<std::uint32_t>(data_size));
    const std::size_t data_end = at + data_size;
    switch (property.encoding) {
      case Encoding::kFourCc:
      case Encoding::kLong:
        put32(property.value);
        break;
      case Encoding::kVersion:
        put16(static_cast<std::uint16_t>(property.value >> 16));
        put16(static_cast<std::uint16_t>(property.value));
        break;
      case Encoding::kPascal:
        bytes[at++] = static_cast<unsigned char>(property.text.size());
        put_text(property.text);
        break;
      case Encoding::kCString:
        put_text(property.text);
        break;
    }
    at = data_end;  // the array starts zeroed: the NUL and the padding are there
  }
  return bytes;
}

// The effect's properties, in the order the host expects them.
inline constexpr std::array<Property, 12> kProperties = {{
    Property::Code("kind", "eFKT"),
    Property::Pascal("name", facts::kName),
    Property::Pascal("catg", facts::kCategory),
    Property::CString("8664", facts::kEntryPointName),
    Property::Version("ePVR", facts::kPiplVersion),
    Property::Version("eSVR", facts::kEffectSpecVersion),
    Property::Long("eVER", facts::kVersionWord),
    Property::Long("eINF", facts::kInfoFlags),
    Property::Long("eGLO", static_cast<std::uint32_t>(facts::kOutFlags)),
    Property::Long("eGL2", static_cast<std::uint32_t>(facts::kOutFlags2)),
    Property::Pascal("eMNA", facts::kMatchName),
    Property::Long("aeFL", facts::kReservedInfo),
}};

inline constexpr std::size_t kResourceSize = ResourceSize(kProperties);
inline constexpr std::array<unsigned char, kResourceSize> kResource =
    Encode<kResourceSize>(kProperties);

}  // namespace pipl

// The registration resource, byte for byte as the host reads it.
std::span<const unsigned char> PiplBytes();

}  // namespace qv
