#pragma once

// Every benchmark row names the processor it ran on and the code path the
// passes took there, so that figures from different machines can be set side
// by side: "Intel family 6 model 167 avx512icl gathers cached".

#include <string>

#include "bench_frames.h"
#include "engine/image_view.h"
#include "engine/pass_variant.h"
#include "engine/tone_mapper.h"

namespace qv::bench {

inline std::string ProcessorLabel(const MachineFacts& machine = ThisMachine()) {
  const char* vendor = machine.vendor == CpuVendor::kIntel ? "Intel"
                       : machine.vendor == CpuVendor::kAmd ? "AMD"
                                                           : "other";
  return Join({vendor, " family ", std::to_string(machine.family), " model ", std::to_string(machine.model)});
}

inline std::string VariantLabel(PassVariant variant) { return Join({ProcessorLabel(), " ", PassVariantName(variant)}); }

// The whole path a mapper takes for a frame from `input` to `output`.
inline std::string PathLabel(const ToneMapper& mapper, const ImageView& input, const ImageView& output) {
  return Join({VariantLabel(mapper.passVariant()), " ", TableReadsName(mapper.tableReads()), " ",
               OutputStoresName(mapper.OutputStoresOf(input, output))});
}

}  // namespace qv::bench
