// This machine's processor vendor and last-level cache size, read once: from
// the processor itself (cpuid), and for the cache from the operating system
// where it says (Linux's sysconf, Windows' processor information), which
// also knows caches the processor describes in other ways.

#include <cstdint>
#include <cstring>

#include "engine/pass_variant.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define QV_HAVE_CPUID 1
#endif

#if defined(_WIN32)
#include <windows.h>

#include <vector>
#elif defined(__linux__)
#include <unistd.h>
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
  if (std::strcmp(name, "GenuineIntel") == 0) return CpuVendor::kIntel;
  if (std::strcmp(name, "AuthenticAMD") == 0) return CpuVendor::kAmd;
  return CpuVendor::kOther;
}

// The largest cache the processor's deterministic cache leaves describe:
// leaf 4 on Intel, 0x8000001D on AMD, one subleaf per cache until type 0.
std::uint64_t LargestCacheOfProcessor(CpuVendor vendor) {
  const unsigned leaf = vendor == CpuVendor::kAmd ? 0x8000001Du : 4u;
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(leaf & 0x80000000u, &a, &b, &c, &d) == 0 || a < leaf) return 0;
  std::uint64_t largest = 0;
  for (unsigned sub = 0; sub < 16; ++sub) {
    __cpuid_count(leaf, sub, a, b, c, d);
    if ((a & 0x1F) == 0) break;  // no more caches
    const std::uint64_t ways = ((b >> 22) & 0x3FF) + 1, partitions = ((b >> 12) & 0x3FF) + 1,
                        line = (b & 0xFFF) + 1, sets = std::uint64_t{c} + 1;
    const std::uint64_t size = ways * partitions * line * sets;
    if (size > largest) largest = size;
  }
  return largest;
}
#endif

// What the operating system says of the last-level cache, 0 when it does not.
std::uint64_t LargestCacheOfSystem() {
#if defined(_WIN32)
  DWORD bytes = 0;
  GetLogicalProcessorInformation(nullptr, &bytes);
  if (bytes == 0) return 0;
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> info(bytes / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
  if (!GetLogicalProcessorInformation(info.data(), &bytes)) return 0;
  std::uint64_t largest = 0;
  int level = 0;
  for (const SYSTEM_LOGICAL_PROCESSOR_INFORMATION& i : info) {
    if (i.Relationship != RelationCache || i.Cache.Level < level) continue;
    if (i.Cache.Level > level || i.Cache.Size > largest) largest = i.Cache.Size;
    level = i.Cache.Level;
  }
  return largest;
#elif defined(__linux__) && defined(_SC_LEVEL3_CACHE_SIZE)
  for (int name : {_SC_LEVEL4_CACHE_SIZE, _SC_LEVEL3_CACHE_SIZE, _SC_LEVEL2_CACHE_SIZE}) {
    const long size = sysconf(name);
    if (size > 0) return static_cast<std::uint64_t>(size);
  }
  return 0;
#else
  return 0;
#endif
}

MachineFacts ReadMachine() {
  MachineFacts facts;
#if QV_HAVE_CPUID
  facts.vendor = VendorOfProcessor();
#endif
  facts.lastLevelCacheBytes = LargestCacheOfSystem();
#if QV_HAVE_CPUID
  if (facts.lastLevelCacheBytes == 0) facts.lastLevelCacheBytes = LargestCacheOfProcessor(facts.vendor);
#endif
  return facts;
}

}  // namespace

const MachineFacts& ThisMachine() {
  static const MachineFacts facts = ReadMachine();
  return facts;
}

TableReads TableReadsFor(const MachineFacts& machine) {
  return machine.vendor == CpuVendor::kAmd ? TableReads::kLaneLoads : TableReads::kGathers;
}

OutputStores OutputStoresFor(const MachineFacts& machine, std::uint64_t frameBytes) {
  return machine.lastLevelCacheBytes != 0 && frameBytes > machine.lastLevelCacheBytes ? OutputStores::kStreaming
                                                                                      : OutputStores::kCached;
}

}  // namespace qv
