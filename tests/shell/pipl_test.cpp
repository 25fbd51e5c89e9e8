// Reads the registration resource the way the host does, with a decoder of its
// own, and finds it again inside the finished plug-in file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "shell/pipl.h"

#if defined(QV_PLUGIN_FILE)
#include <elf.h>
#endif

namespace qv::testing {
namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t Little(const unsigned char* at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

struct Property {
  std::string key;  // as the host names it: stored reversed
  Bytes data;
};

// Checks the structure as it goes: header, vendor, id, length within bounds
// and a multiple of 4, no trailing bytes.
std::vector<Property> Decode(const Bytes& bytes) {
  std::vector<Property> properties;
  if (bytes.size() < 10) {
    ADD_FAILURE() << "no header";
    return properties;
  }
  EXPECT_EQ(Little(&bytes[0], 2), 1u) << "reserved word";
  EXPECT_EQ(Little(&bytes[2], 4), 0u) << "list version";
  const std::uint32_t count = Little(&bytes[6], 4);
  std::size_t at = 10;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at + 16 > bytes.size()) break;
    EXPECT_EQ(std::string(&bytes[at], &bytes[at + 4]), "MIB8");
    Property property;
    property.key = std::string(bytes.rend() - static_cast<std::ptrdiff_t>(at + 8),
                               bytes.rend() - static_cast<std::ptrdiff_t>(at + 4));
    EXPECT_EQ(Little(&bytes[at + 8], 4), 0u) << property.key << " id";
    const std::size_t length = Little(&bytes[at + 12], 4);
    EXPECT_EQ(length % 4, 0u) << property.key;
    at += 16;
    if (at + length > bytes.size()) break;
    property.data.assign(&bytes[at], &bytes[at] + length);
    at += length;
    properties.push_back(std::move(property));
  }
  EXPECT_EQ(properties.size(), count) << "properties overrun the resource";
  EXPECT_EQ(at, bytes.size()) << "bytes after the last property";
  return properties;
}

// Text, then zero bytes only; `text_start` is 1 for a Pascal string.
std::string PaddedText(const Bytes& data, std::size_t text_start, std::size_t length) {
  if (text_start + length > data.size()) return "<overrun>";
  for (std::size_t i = text_start + length; i < data.size(); ++i) {
    if (data[i] != 0) return "<non-zero padding>";
  }
  return std::string(data.begin() + static_cast<std::ptrdiff_t>(text_start),
                     data.begin() + static_cast<std::ptrdiff_t>(text_start + length));
}
std::string Pascal(const Bytes& d) { return d.empty() ? "" : PaddedText(d, 1, d[0]); }
std::string CString(const Bytes& d) { return PaddedText(d, 0, std::strlen(reinterpret_cast<const char*>(d.data()))); }
std::uint32_t Long(const Bytes& d) { return d.size() == 4 ? Little(d.data(), 4) : 0xDEADu; }
std::string Pair(const Bytes& d) {
  return d.size() == 4 ? std::to_string(Little(&d[0], 2)) + "." + std::to_string(Little(&d[2], 2)) : "";
}

Bytes Resource() { return Bytes(PiplBytes().begin(), PiplBytes().end()); }

TEST(Pipl, DeclaresEveryPropertyInOrder) {
  const std::vector<Property> p = Decode(Resource());
  std::vector<std::string> keys;
  for (const Property& property : p) keys.push_back(property.key);
  ASSERT_EQ(keys, (std::vector<std::string>{"kind", "name", "catg", "8664", "ePVR", "eSVR", "eVER",
                                            "eINF", "eGLO", "eGL2", "eMNA", "aeFL"}));
  EXPECT_EQ(std::string(p[0].data.begin(), p[0].data.end()), "TKFe");
  EXPECT_EQ(Pascal(p[1].data), "Quorvandile");
  EXPECT_EQ(Pascal(p[2].data), "Zenthi");
  EXPECT_EQ(CString(p[3].data), "EntryPointFunc");
  EXPECT_EQ(Pair(p[4].data), "2.0");
  EXPECT_EQ(Pair(p[5].data), "13.0");
  EXPECT_EQ(Long(p[6].data), 0x80601u);  // 1.0.0, release, build 1
  EXPECT_EQ(Long(p[7].data), 0u);
  EXPECT_EQ(Long(p[8].data), 0x06000000u);
  EXPECT_EQ(Long(p[9].data), 0x1400u);
  EXPECT_EQ(Pascal(p[10].data), "Quorvandile");
  EXPECT_EQ(Long(p[11].data), 8u);

  // Padding: 1 + 11 needs none, 1 + 6 one zero, 14 + NUL one zero.
  EXPECT_EQ(p[1].data.size(), 12u);
  EXPECT_EQ(p[2].data.size(), 8u);
  EXPECT_EQ(p[3].data.size(), 16u);
  EXPECT_EQ(p[10].data.size(), 12u);
}

#if defined(QV_PLUGIN_FILE)
// The bytes of a named section of a 64-bit ELF file; empty when there is none.
Bytes ElfSection(const char* path, const std::string& wanted) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Elf64_Ehdr header;
  if (file.size() < sizeof header) return {};
  std::memcpy(&header, file.data(), sizeof header);
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_shoff + std::size_t{header.e_shnum} * sizeof(Elf64_Shdr) > file.size())
    return {};
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  std::memcpy(sections.data(), file.data() + header.e_shoff, header.e_shnum * sizeof(Elf64_Shdr));
  if (header.e_shstrndx >= sections.size()) return {};
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  for (const Elf64_Shdr& section : sections) {
    const std::size_t name_at = names.sh_offset + section.sh_name;
    if (name_at < file.size() &&
        wanted == reinterpret_cast<const char*>(file.data() + name_at) &&
        section.sh_offset + section.sh_size <= file.size())
      return Bytes(file.begin() + static_cast<std::ptrdiff_t>(section.sh_offset),
                   file.begin() + static_cast<std::ptrdiff_t>(section.sh_offset + section.sh_size));
  }
  return {};
}

TEST(Pipl, PluginFileCarriesItAsItsPiplSection) {
  EXPECT_EQ(ElfSection(QV_PLUGIN_FILE, ".pipl"), Resource()) << QV_PLUGIN_FILE;
}
#endif

}  // namespace
}  // namespace qv::testing
