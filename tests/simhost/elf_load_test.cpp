// Reading the registration resource out of a real shared library, and loading
// that library as the host does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "simhost/elf_section.h"
#include "simhost/host.h"
#include "test_pipl.h"

namespace {

using testing::HasSubstr;
using testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

const Bytes kPipl(std::begin(simhost_test::kTestPipl), std::end(simhost_test::kTestPipl));

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string WriteTempFile(const std::string& name, const std::string& text) {
  const std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

void PutU64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(ElfSection, FindsThePiplSectionOfASharedLibrary) {
  std::string error;
  const auto section = simhost::ReadElfSection(SIMHOST_TINY_PLUGIN, ".pipl", &error);
  ASSERT_TRUE(section) << error;
  EXPECT_EQ(*section, kPipl);
}

TEST(ElfSection, ReportsFilesWithoutTheSection) {
  std::string error;
  EXPECT_FALSE(simhost::ReadElfSection("/proc/self/exe", ".pipl", &error));
  EXPECT_THAT(error, HasSubstr("no section .pipl"));
  EXPECT_FALSE(simhost::ReadElfSection(WriteTempFile("not_elf.txt", "just some text, long enough to be read"),
                                       ".pipl", &error));
  EXPECT_THAT(error, HasSubstr("not an ELF file"));
  EXPECT_FALSE(simhost::ReadElfSection(testing::TempDir() + "no_such_file.so", ".pipl", &error));
  EXPECT_THAT(error, HasSubstr("cannot open"));
}

TEST(ElfSection, RejectsEveryTruncationOfTheLibrary) {
  const Bytes file = ReadFile(SIMHOST_TINY_PLUGIN);
  ASSERT_GT(file.size(), 64u);
  for (std::size_t n = 0; n < file.size(); ++n) {
    // The section headers come last, so no prefix holds them all.
    EXPECT_FALSE(simhost::FindElfSection(std::span(file.data(), n), ".pipl")) << "kept " << n << " bytes";
  }
}

TEST(ElfSection, RejectsHeadersThatPointOutsideTheFile) {
  const Bytes file = ReadFile(SIMHOST_TINY_PLUGIN);
  std::string error;

  Bytes far_table = file;
  PutU64(far_table, 0x28, file.size() - 8);  // e_shoff: the table would run past the end
  EXPECT_FALSE(simhost::FindElfSection(far_table, ".pipl", &error));
  EXPECT_THAT(error, HasSubstr("past the end"));

  Bytes wrapping_table = file;
  PutU64(wrapping_table, 0x28, ~std::uint64_t{0} - 16);  // offset + size would wrap around
  EXPECT_FALSE(simhost::FindElfSection(wrapping_table, ".pipl", &error));

  Bytes no_names = file;
  no_names[0x3E] = 0xFE;  // e_shstrndx beyond the section count
  no_names[0x3F] = 0x00;
  EXPECT_FALSE(simhost::FindElfSection(no_names, ".pipl", &error));
  EXPECT_THAT(error, HasSubstr("name table"));

  Bytes big_endian = file;
  big_endian[5] = 2;
  EXPECT_FALSE(simhost::FindElfSection(big_endian, ".pipl", &error));
  EXPECT_THAT(error, HasSubstr("64-bit little-endian"));
}

TEST(ElfSection, SurvivesRandomCorruptionOfItsHeaders) {
  const Bytes file = ReadFile(SIMHOST_TINY_PLUGIN);
  const std::uint64_t table = [&] {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | file[0x28 + static_cast<std::size_t>(i)];
    return v;
  }();
  ASSERT_LT(table, file.size());
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::size_t> header_byte(0, 63);
  std::uniform_int_distribution<std::size_t> table_byte(table, file.size() - 1);
  std::uniform_int_distribution<int> value(0, 255);
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = file;
    for (int k = 0; k < 4; ++k) {
      const std::size_t at = (round % 2 == 0) ? header_byte(rng) : table_byte(rng);
      bad[at] = static_cast<std::uint8_t>(value(rng));
    }
    const auto section = simhost::FindElfSection(bad, ".pipl");
    if (section) {
      EXPECT_LE(section->size(), bad.size());
    }
  }
}

TEST(Load, DrivesALibraryThroughTheEntryPointItsPiplNames) {
  std::string error;
  const auto host = simhost::Host::Load(SIMHOST_TINY_PLUGIN, &error);
  ASSERT_TRUE(host) << error;
  ASSERT_TRUE(host->pipl());
  EXPECT_EQ(host->pipl()->name, "Quorvandile");
  EXPECT_EQ(host->About(), "Tiny, v1.0");
  EXPECT_EQ(host->GlobalSetup(), PF_Err_NONE);
  EXPECT_NE(host->GlobalData(), nullptr);
  EXPECT_EQ(host->CountOf("host_new_handle"), 1u);
  EXPECT_EQ(host->GlobalSetdown(), PF_Err_NONE);
  EXPECT_EQ(host->CountOf("host_dispose_handle", "h1"), 1u);
  EXPECT_THAT(host->LiveHandles(), IsEmpty());
  EXPECT_THAT(host->Violations(), IsEmpty());
}

TEST(Load, SaysWhyALibraryCannotBeUsed) {
  std::string error;
  EXPECT_FALSE(simhost::Host::Load(testing::TempDir() + "missing.so", &error));
  EXPECT_THAT(error, HasSubstr("cannot load"));
  EXPECT_FALSE(simhost::Host::Load(WriteTempFile("not_a_library.so", "text"), &error));
  EXPECT_THAT(error, HasSubstr("cannot load"));
}

}  // namespace

#endif
