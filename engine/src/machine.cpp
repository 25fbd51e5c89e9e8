// This machine's processor vendor, family, model and last-level cache size, read once from
// the processor itself (cpuid). The plug-in lives in the host's process and
// asks the operating system nothing: what the system would say of the caches
// comes from the same instruction, or from a virtual machine's idea of them.

#include <cstdint>
#include <cstring>

#include "engine/pass_variant.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define QV_HAVE_CPUID 1
#endif

namespace qv {
namespace {

#if QV_HAVE_CPUID
CpuVendor VendorOfProcessor() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(0, &a, &b, &c, &d) == 0) return CpuVendor::kOther;
  char name[13] = {};
  std::memcpy(name, &b, 4);
  std::memcpy(name + 4, &d, 4);
  std::memcpy(name + 8, &c, 4);
  if (std::memcmp(name, "GenuineIntel", 12) == 0) return CpuVendor::kIntel;
  if (std::memcmp(name, "AuthenticAMD", 12) == 0) return CpuVendor::kAmd;
  return CpuVendor::kOther;
}

// The highest leaf of the range `leaf` lies in (basic or extended), 0 when
// the processor has none.
unsigned HighestLeaf(unsigned leaf) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(leaf & 0x80000000u, &a, &b, &c, &d) != 0 ? a : 0;
}

// The largest cache a deterministic cache leaf describes (4 on Intel,
// 0x8000001D on AMD), one subleaf per cache until type 0; 0 when the leaf is
// missing or describes none.
std::uint64_t LargestCacheOfLeaf(unsigned leaf) {
  if (HighestLeaf(leaf) < leaf) return 0;
  std::uint64_t largest = 0;
  for (unsigned sub = 0; sub < 16; ++sub) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, sub, a, b, c, d);
    if ((a & 0x1F) == 0) break;  // no more caches
    const std::uint64_t ways = ((b >> 22) & 0x3FF) + 1, partitions = ((b >> 12) & 0x3FF) + 1,
                        line = (b & 0xFFF) + 1, sets = std::uint64_t{c} + 1;
    const std::uint64_t size = ways * partitions * line * sets;
    if (size > largest) largest = size;
  }
  return largest;
}

// The older description of the second and third levels (leaf 0x80000006):
// L2 in KiB, L3 in units of 512 KiB; 0 when missing.
std::uint64_t LargestCacheOfLegacyLeaf() {
  constexpr unsigned kLeaf = 0x80000006u;
  if (HighestLeaf(kLeaf) < kLeaf) return 0;
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(kLeaf, a, b, c, d);
  const std::uint64_t l2 = std::uint64_t{c >> 16} << 10, l3 = std::uint64_t{d >> 18} << 19;
  return l3 > l2 ? l3 : l2;
}

// Family and model from leaf 1, the extended fields folded in as the vendors
// define them: the extended family is added when the base family is 15, and
// the extended model is the high nibble when the family is 6 or 15.
void ReadFamilyAndModel(MachineFacts& facts) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return;
  const unsigned baseFamily = (a >> 8) & 0xF, baseModel = (a >> 4) & 0xF;
  const unsigned extendedFamily = (a >> 20) & 0xFF, extendedModel = (a >> 16) & 0xF;
  facts.family = static_cast<std::int32_t>(baseFamily == 0xF ? baseFamily + extendedFamily : baseFamily);
  facts.model = static_cast<std::int32_t>(baseFamily == 0x6 || baseFamily == 0xF ? (extendedModel << 4) + baseModel
                                                                                 : baseModel);
}

std::uint64_t LargestCacheOfProcessor(CpuVendor vendor) {
  const std::uint64_t described = LargestCacheOfLeaf(vendor == CpuVendor::kAmd ? 0x8000001Du : 4u);
  return described != 0 ? described : LargestCacheOfLegacyLeaf();
}
#endif

MachineFacts ReadMachine() {
  MachineFacts facts;
#if QV_HAVE_CPUID
  facts.vendor = VendorOfProcessor();
  ReadFamilyAndModel(facts);
  facts.lastLevelCacheBytes = LargestCacheOfProcessor(facts.vendor);
#endif
  return facts;
}

}  // namespace

const MachineFacts& ThisMachine() {
  static const MachineFacts facts = ReadMachine();
  return facts;
}

namespace {

// AMD family 25 is Zen 3 and Zen 4, the newest whose gathers are microcoded;
// family 26 is Zen 5. The rules below were measured on Zen 4 and Zen 5.
constexpr std::int32_t kAmdZen4Family = 25;

bool AmdUpToZen4(const MachineFacts& machine) {
  return machine.vendor == CpuVendor::kAmd && machine.family <= kAmdZen4Family;
}

}  // namespace

TableReads TableReadsFor(const MachineFacts& machine) {
  return AmdUpToZen4(machine) ? TableReads::kLaneLoads : TableReads::kGathers;
}

OutputStores OutputStoresFor(const MachineFacts& machine, std::uint64_t frameBytes) {
  const bool beyondCache = machine.lastLevelCacheBytes != 0 && frameBytes > machine.lastLevelCacheBytes;
  return AmdUpToZen4(machine) && beyondCache ? OutputStores::kStreaming : OutputStores::kCached;
}

}  // namespace qv
