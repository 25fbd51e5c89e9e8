#include "engine/pass_variant.h"

#include <cstddef>

#include "pass_kernels.h"

namespace qv {
namespace {

struct VariantName {
  PassVariant variant;
  const char* name;
};

constexpr VariantName kNames[] = {{PassVariant::kScalar, "scalar"},
                                  {PassVariant::kSse41, "sse41"},
                                  {PassVariant::kAvx2, "avx2"},
                                  {PassVariant::kAvx512, "avx512"},
                                  {PassVariant::kAvx512Icl, "avx512icl"}};

// What the processor and the operating system support (the compiler's check
// includes the operating system's saving of the wider registers).
bool ProcessorSupports(PassVariant variant) {
#if QV_SIMD && (defined(__x86_64__) || defined(__i386__))
  __builtin_cpu_init();
  switch (variant) {
    case PassVariant::kScalar: return true;
    case PassVariant::kSse41: return __builtin_cpu_supports("sse4.1");
    case PassVariant::kAvx2: return __builtin_cpu_supports("avx2");
    case PassVariant::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl");
    case PassVariant::kAvx512Icl:
      return ProcessorSupports(PassVariant::kAvx512) && __builtin_cpu_supports("avx512vbmi") &&
             __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("avx512vnni");
  }
  return false;
#else
  return variant == PassVariant::kScalar;
#endif
}

}  // namespace

const char* PassVariantName(PassVariant variant) {
  for (const VariantName& n : kNames) {
    if (n.variant == variant) return n.name;
  }
  return "unknown";
}

std::optional<PassVariant> ParsePassVariant(std::string_view name) {
  for (const VariantName& n : kNames) {
    if (name == n.name) return n.variant;
  }
  return std::nullopt;
}

bool PassVariantAvailable(PassVariant variant) {
  return (variant == PassVariant::kScalar || detail::KernelsOf(variant, TableReads::kGathers) != nullptr) &&
         ProcessorSupports(variant);
}

PassVariant AvailablePassVariant(PassVariant wanted) {
  for (auto v = static_cast<std::int32_t>(wanted); v > 0; --v) {
    if (PassVariantAvailable(static_cast<PassVariant>(v))) return static_cast<PassVariant>(v);
  }
  return PassVariant::kScalar;
}

PassVariant BestPassVariant() { return AvailablePassVariant(PassVariant::kAvx512Icl); }

namespace {

constexpr const char* kTableReadsNames[] = {"gathers", "lane-loads"};
constexpr const char* kOutputStoresNames[] = {"cached", "streaming"};

template <class Choice, std::size_t N>
std::optional<Choice> ParseChoice(const char* const (&names)[N], std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (name == names[i]) return static_cast<Choice>(i);
  }
  return std::nullopt;
}

}  // namespace

const char* TableReadsName(TableReads reads) { return kTableReadsNames[static_cast<int>(reads) != 0]; }
const char* OutputStoresName(OutputStores stores) { return kOutputStoresNames[static_cast<int>(stores) != 0]; }

std::optional<TableReads> ParseTableReads(std::string_view name) {
  return ParseChoice<TableReads>(kTableReadsNames, name);
}

std::optional<OutputStores> ParseOutputStores(std::string_view name) {
  return ParseChoice<OutputStores>(kOutputStoresNames, name);
}

namespace detail {

const PassKernels* KernelsOf(PassVariant variant, TableReads reads) {
#if QV_SIMD
  switch (variant) {
    case PassVariant::kSse41: return Sse41Kernels();
    case PassVariant::kAvx2: return Avx2Kernels(reads);
    case PassVariant::kAvx512: return Avx512Kernels(reads);
    case PassVariant::kAvx512Icl: return Avx512IclKernels(reads);
    case PassVariant::kScalar: break;
  }
#else
  (void)variant;
  (void)reads;
#endif
  return nullptr;
}

}  // namespace detail
}  // namespace qv
