// Compiled on its own and never linked. The Windows build lifts the
// registration resource out of this object file for the resource compiler, so
// the resource comes from the one description, made by the same compiler as
// the plug-in, without running anything built for Windows.
#include <cstdint>

#include "shell/pipl.h"

namespace {

// An object file pads each section up to its alignment: the length travels
// beside the bytes and says where they end. Section names stay within the
// eight characters an object file's section header holds.
__attribute__((section(".pipl"), used)) constexpr std::array<unsigned char,
                                                              qv::pipl::kResourceSize>
    kPiplBytes = qv::pipl::kResource;
__attribute__((section(".pipllen"), used)) constexpr std::uint32_t kPiplLength =
    qv::pipl::kResourceSize;

}  // namespace
