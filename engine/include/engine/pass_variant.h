#pragma once

// Which instruction set the pixel passes run on. Every variant writes exactly
// the bytes of the plain (scalar) passes; they differ only in speed. A
// ToneMapper picks its variant once, when it is built.

#include <cstdint>
#include <optional>
#include <string_view>

namespace qv {

// Ordered from plainest to widest: a variant is only chosen when the processor
// has every instruction set up to it.
enum class PassVariant : std::int32_t {
  kScalar = 0,  // the reference passes; always available
  kSse41 = 1,
  kAvx2 = 2,
  kAvx512 = 3,     // AVX-512 F, BW, VL
  kAvx512Icl = 4,  // and Ice Lake's VBMI, VBMI2 and VNNI
};

inline constexpr PassVariant kPassVariants[] = {PassVariant::kScalar, PassVariant::kSse41, PassVariant::kAvx2,
                                                PassVariant::kAvx512, PassVariant::kAvx512Icl};

// Environment variable that forces a variant for every ToneMapper of the
// process: "scalar", "sse41", "avx2", "avx512" or "avx512icl". Read once per
// process.
inline constexpr char kPassVariantEnvironment[] = "QUORVANDILE_SIMD";

// "scalar", "sse41", "avx2", "avx512", "avx512icl".
const char* PassVariantName(PassVariant variant);
std::optional<PassVariant> ParsePassVariant(std::string_view name);

// True when the variant was compiled in (the build may leave the SIMD variants
// out) and the processor and operating system support its instructions.
bool PassVariantAvailable(PassVariant variant);

// The widest available variant, or the given one if it is available, or
// otherwise the widest available variant below it.
PassVariant BestPassVariant();
PassVariant AvailablePassVariant(PassVariant wanted);

// The variant for `forced` (a value of the environment variable, or null):
// the named variant if available (else the widest available below it), and the
// widest available variant when `forced` is null, empty or not a name.
PassVariant ChoosePassVariant(const char* forced);

// ChoosePassVariant of the environment variable, worked out on first use.
PassVariant DefaultPassVariant();

}  // namespace qv
