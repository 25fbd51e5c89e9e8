// Part of the plug-in library itself, not of the static library: this is what
// puts the registration resource into the finished file.
#include "shell/pipl.h"

#if defined(__ELF__)
namespace {

// On ELF systems the resource travels as a section named ".pipl", found by name
// in the file without loading it. `used` and `retain` keep the otherwise
// unreferenced bytes; internal linkage keeps the symbol out of the exports.
// AddressSanitizer would pad the array with a red zone inside the section.
#if defined(__clang__)
#define QV_PIPL_NO_SANITIZE __attribute__((no_sanitize("address")))
#else
#define QV_PIPL_NO_SANITIZE
#endif
QV_PIPL_NO_SANITIZE __attribute__((section(".pipl"), used, retain)) constexpr std::array<unsigned char,
                                                                   qv::pipl::kResourceSize>
    kPiplSection = qv::pipl::kResource;

}  // namespace
#endif
