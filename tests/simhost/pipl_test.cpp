#include "simhost/pipl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_pipl.h"

namespace {

using simhost::ParsePipl;
using simhost_test::kTestPipl;
using testing::ElementsAre;
using testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

void PutU32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One property: vendor and key stored byte-reversed, id 0, the length, the data.
Bytes Prop(const char (&key)[5], const Bytes& data, std::uint32_t length) {
  Bytes b{'M', 'I', 'B', '8', static_cast<std::uint8_t>(key[3]), static_cast<std::uint8_t>(key[2]),
          static_cast<std::uint8_t>(key[1]), static_cast<std::uint8_t>(key[0])};
  PutU32(b, 0);
  PutU32(b, length);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
Bytes Prop(const char (&key)[5], const Bytes& data) {
  return Prop(key, data, static_cast<std::uint32_t>(data.size()));
}

Bytes Blob(std::uint32_t count, const std::vector<Bytes>& props) {
  Bytes b{1, 0, 0, 0, 0, 0};
  PutU32(b, count);
  for (const auto& p : props) b.insert(b.end(), p.begin(), p.end());
  return b;
}
Bytes Blob(const std::vector<Bytes>& props) { return Blob(static_cast<std::uint32_t>(props.size()), props); }

const Bytes kKind = Prop("kind", {'T', 'K', 'F', 'e'});

std::string ErrorOf(const Bytes& bytes) {
  std::string error;
  EXPECT_FALSE(ParsePipl(bytes, &error).has_value());
  return error;
}

TEST(ParsePipl, ReadsEveryPropertyOfTheEffectsResource) {
  std::string error;
  const auto info = ParsePipl(kTestPipl, &error);
  ASSERT_TRUE(info) << error;
  EXPECT_EQ(info->kind, "eFKT");
  EXPECT_EQ(info->name, "Quorvandile");
  EXPECT_EQ(info->category, "Zenthi");
  EXPECT_EQ(info->entry_point, "EntryPointFunc");
  EXPECT_EQ(info->pipl_version, (simhost::PiplVersion{2, 0}));
  EXPECT_EQ(info->spec_version, (simhost::PiplVersion{13, 0}));
  EXPECT_EQ(info->effect_version, 0x80601u);
  EXPECT_EQ(info->info_flags, 0u);
  EXPECT_EQ(info->global_out_flags, 0x06000000u);
  EXPECT_EQ(info->global_out_flags2, 0x1400u);
  EXPECT_EQ(info->match_name, "Quorvandile");
  EXPECT_EQ(info->reserved_info, 8u);
  EXPECT_THAT(info->keys, ElementsAre("kind", "name", "catg", "8664", "ePVR", "eSVR", "eVER", "eINF", "eGLO", "eGL2",
                                      "eMNA", "aeFL"));
}

TEST(ParsePipl, SkipsPropertiesItDoesNotUse) {
  const auto info = ParsePipl(Blob({Prop("xtra", {1, 2, 3}), kKind}));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->kind, "eFKT");
  EXPECT_THAT(info->keys, ElementsAre("xtra", "kind"));
}

TEST(ParsePipl, RejectsEveryTruncation) {
  for (std::size_t n = 0; n < std::size(kTestPipl); ++n) {
    std::string error;
    EXPECT_FALSE(ParsePipl(std::span(kTestPipl, n), &error)) << "kept " << n << " bytes";
    EXPECT_FALSE(error.empty());
  }
}

TEST(ParsePipl, RejectsLengthsAndCountsPastTheEnd) {
  Bytes long_name(std::begin(kTestPipl), std::end(kTestPipl));
  long_name[simhost_test::kNameLengthFieldOffset + 3] = 0xFF;  // about 4 GB of name
  EXPECT_THAT(ErrorOf(long_name), HasSubstr("remain"));

  EXPECT_THAT(ErrorOf(Blob(0xFFFFFFFF, {kKind})), HasSubstr("runs past the end"));
  // A Pascal string whose length byte is larger than its property.
  EXPECT_THAT(ErrorOf(Blob({Prop("name", {200, 'a', 'b', 'c'})})), HasSubstr("200 characters"));
}

TEST(ParsePipl, RejectsDataThatDoesNotFitItsEncoding) {
  EXPECT_THAT(ErrorOf(Blob({Prop("8664", {'E', 'n', 't', 'r'})})), HasSubstr("NUL"));
  EXPECT_THAT(ErrorOf(Blob({Prop("name", {3, 'a', 'b', 'c', 0, 0, 0, 0})})), HasSubstr("padded"));
  EXPECT_THAT(ErrorOf(Blob({Prop("catg", {2, 'a', 'b', 'x'})})), HasSubstr("padded"));  // padding must be zero
  EXPECT_THAT(ErrorOf(Blob({Prop("eGLO", {0, 4})})), HasSubstr("32-bit"));
  EXPECT_THAT(ErrorOf(Blob({Prop("ePVR", {2, 0, 0, 0, 0, 0, 0, 0})})), HasSubstr("version"));
  EXPECT_THAT(ErrorOf(Blob({kKind, kKind})), HasSubstr("repeats"));
}

TEST(ParsePipl, RejectsAForeignHeaderOrVendor) {
  Bytes bad_vendor = Blob({kKind});
  bad_vendor[10] = '8';  // "8IB8"
  EXPECT_THAT(ErrorOf(bad_vendor), HasSubstr("vendor"));
  Bytes bad_header = Blob({kKind});
  bad_header[0] = 2;
  EXPECT_THAT(ErrorOf(bad_header), HasSubstr("header"));
}

}  // namespace
