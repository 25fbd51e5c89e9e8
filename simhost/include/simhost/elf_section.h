// Reading one named section out of an ELF64 file. A Linux build of the
// plug-in carries its registration resource in such a section, since shared
// libraries there have no resources.
#ifndef SIMHOST_ELF_SECTION_H
#define SIMHOST_ELF_SECTION_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace simhost {

// The contents of section `name` in the ELF64 little-endian image `file`.
// Every offset and size is checked against the image: a malformed or foreign
// file gives nothing and an explanation in `error`, never a read out of bounds.
std::optional<std::vector<std::uint8_t>> FindElfSection(std::span<const std::uint8_t> file,
                                                        std::string_view name,
                                                        std::string* error = nullptr);

// The same for a file on disk.
std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& path,
                                                        std::string_view name,
                                                        std::string* error = nullptr);

}  // namespace simhost

#endif
