// Pass choices forced through the environment, for the test and benchmark
// programs and the test-only build of the plug-in; the plug-in users install
// reads no environment.
#pragma once

#include "engine/pass_variant.h"

namespace qv::testing {

// Variables that force a choice on every ToneMapper a forcing program builds:
// "scalar", "sse41", "avx2", "avx512" or "avx512icl"; "gathers" or
// "lane-loads"; "cached" or "streaming".
inline constexpr char kPassVariantVariable[] = "QUORVANDILE_SIMD";
inline constexpr char kTableReadsVariable[] = "QUORVANDILE_TABLE_READS";
inline constexpr char kOutputStoresVariable[] = "QUORVANDILE_OUTPUT_STORES";

// What the variables force: a choice stays empty where its variable is unset
// or not a name. Read once per process.
const PassForcing& PassesFromEnvironment();

// True when any of the variables is set: the run means to force something.
bool PassesForcedByEnvironment();

}  // namespace qv::testing
