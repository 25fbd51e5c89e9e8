#include "simhost/elf_section.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace simhost {
namespace {

// ELF64 facts this reader needs.
constexpr std::size_t kElfHeaderBytes = 64;
constexpr std::uint8_t kClass64 = 2;
constexpr std::uint8_t kLittleEndian = 1;
constexpr std::size_t kSectionHeaderBytes = 64;
constexpr std::uint32_t kNoBits = 8;         // SHT_NOBITS: occupies no file space
constexpr std::uint16_t kExtendedIndex = 0xFFFF;  // SHN_XINDEX

using Bytes = std::span<const std::uint8_t>;

std::uint64_t Read(Bytes b, std::uint64_t at, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::uint64_t>(i)];
  return v;
}

bool InBounds(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

struct SectionHeader {
  std::uint32_t name = 0;
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint32_t link = 0;
};

SectionHeader ReadSectionHeader(Bytes file, std::uint64_t at) {
  return SectionHeader{static_cast<std::uint32_t>(Read(file, at + 0x00, 4)),
                       static_cast<std::uint32_t>(Read(file, at + 0x04, 4)), Read(file, at + 0x18, 8),
                       Read(file, at + 0x20, 8), static_cast<std::uint32_t>(Read(file, at + 0x28, 4))};
}

std::optional<std::vector<std::uint8_t>> Fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> FindElfSection(Bytes file, std::string_view name,
                                                        std::string* error) {
  const std::uint64_t size = file.size();
  if (size < kElfHeaderBytes || std::memcmp(file.data(), "\x7F" "ELF", 4) != 0) {
    return Fail(error, "not an ELF file");
  }
  if (file[4] != kClass64 || file[5] != kLittleEndian) {
    return Fail(error, "not a 64-bit little-endian ELF file");
  }
  const std::uint64_t table = Read(file, 0x28, 8);
  const std::uint64_t entry_size = Read(file, 0x3A, 2);
  std::uint64_t count = Read(file, 0x3C, 2);
  std::uint64_t names_index = Read(file, 0x3E, 2);
  if (table == 0) return Fail(error, "ELF file has no section headers");
  if (entry_size < kSectionHeaderBytes) return Fail(error, "ELF section header size is too small");
  if (!InBounds(table, entry_size, size)) return Fail(error, "ELF section headers lie past the end");
  // Large section counts and name-table indices live in section 0.
  const SectionHeader first = ReadSectionHeader(file, table);
  if (count == 0) count = first.size;
  if (names_index == kExtendedIndex) names_index = first.link;
  if (count > (size - table) / entry_size) return Fail(error, "ELF section headers run past the end");
  if (names_index == 0 || names_index >= count) return Fail(error, "ELF file has no section name table");

  const SectionHeader names = ReadSectionHeader(file, table + names_index * entry_size);
  if (!InBounds(names.offset, names.size, size)) {
    return Fail(error, "ELF section name table lies past the end");
  }
  const Bytes name_table = file.subspan(names.offset, names.size);
  for (std::uint64_t i = 0; i < count; ++i) {
    const SectionHeader s = ReadSectionHeader(file, table + i * entry_size);
    if (s.name >= name_table.size()) continue;
    const auto* start = reinterpret_cast<const char*>(name_table.data() + s.name);
    const auto* nul = static_cast<const char*>(std::memchr(start, 0, name_table.size() - s.name));
    if (!nul || std::string_view(start, static_cast<std::size_t>(nul - start)) != name) continue;
    if (s.type == kNoBits) return Fail(error, "ELF section " + std::string(name) + " has no data in the file");
    if (!InBounds(s.offset, s.size, size)) {
      return Fail(error, "ELF section " + std::string(name) + " lies past the end");
    }
    const Bytes data = file.subspan(s.offset, s.size);
    return std::vector<std::uint8_t>(data.begin(), data.end());
  }
  return Fail(error, "ELF file has no section " + std::string(name));
}

std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& path, std::string_view name,
                                                        std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Fail(error, "cannot read " + path);
  return FindElfSection(file, name, error);
}

}  // namespace simhost
