#pragma once

// Which instruction set the pixel passes run on. Every variant writes exactly
// the bytes of the plain (scalar) passes; they differ only in speed. A
// ToneMapper picks its variant once, when it is built: the widest this
// processor has, unless its builder forces one (tests and benchmarks do).

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

// Beside the instruction set, how a pass meets the memory system. Neither
// choice changes a byte of the output.
//
// Table reads (the integer passes' lookups): hardware gathers, or one load
// per lane. Gathers are fast on some processors and slow on others
// (microcoded); the plain and SSE4.1 passes always load per lane.
enum class TableReads : std::int32_t { kGathers = 0, kLaneLoads = 1 };
// Output stores: through the caches, or streaming (non-temporal) stores that
// go straight to memory. A frame larger than the last-level cache is evicted
// before anyone reads it back, so streaming saves reading every output line
// before it is written; a frame that fits is better left in the cache.
enum class OutputStores : std::int32_t { kCached = 0, kStreaming = 1 };

// A choice left empty is made by the machine (MachineFacts): table reads
// when the mapper is built, output stores per frame.
struct PassTuning {
  std::optional<TableReads> reads;
  std::optional<OutputStores> stores;
};

// Every choice a ToneMapper's builder may force; the empty ones are made by
// the processor (the widest variant it has) and the machine (PassTuning).
// The plug-in forces nothing: its choices come from the processor alone.
struct PassForcing {
  std::optional<PassVariant> variant;
  PassTuning tuning;
};

const char* TableReadsName(TableReads reads);          // "gathers", "lane-loads"
const char* OutputStoresName(OutputStores stores);     // "cached", "streaming"
std::optional<TableReads> ParseTableReads(std::string_view name);
std::optional<OutputStores> ParseOutputStores(std::string_view name);

// What the passes' choices depend on, read from the processor itself
// (cpuid): the plug-in asks the operating system nothing.
enum class CpuVendor : std::int32_t { kOther = 0, kIntel = 1, kAmd = 2 };

struct MachineFacts {
  CpuVendor vendor = CpuVendor::kOther;
  // The processor's family and model as cpuid leaf 1 gives them, with the
  // extended fields folded in (AMD Zen 4 is family 25, Zen 5 family 26): the
  // numbers the vendors' own documents and /proc/cpuinfo use.
  std::int32_t family = 0;
  std::int32_t model = 0;
  // The largest cache the processor describes (bytes), 0 when it describes
  // none (some virtual machines).
  std::uint64_t lastLevelCacheBytes = 0;
};

// This machine's facts, read once per process.
const MachineFacts& ThisMachine();

// The memory choices go by processor family, each from measurements of the
// passes against memcpy on that family (the README's table of code-path
// rules gives the figures).
//
// Table reads: hardware gathers, except on AMD families up to Zen 4 (family
// 25 and below), whose gathers are microcoded and slower than a load per
// lane. From Zen 5 on, gathers are as fast or faster.
TableReads TableReadsFor(const MachineFacts& machine);
// Output stores: streaming only on AMD families up to Zen 4, and only when
// what a frame's pass reads and writes (`frameBytes`: input and output) is
// larger than the last-level cache. On Intel and on Zen 5, streamed frames
// measured slower than cached ones, so every frame goes through the cache,
// as it does wherever the cache's size is unknown.
OutputStores OutputStoresFor(const MachineFacts& machine, std::uint64_t frameBytes);

}  // namespace qv
