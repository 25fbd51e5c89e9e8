// What the effect declares about itself: identity, version and capabilities.
// Global setup and the registration resource both read them from here, and the
// host warns when the two disagree.
#pragma once

#include <cstdint>

#include "host_api/ae_effect.h"

namespace qv::facts {

inline constexpr const char* kName = "Quorvandile";
inline constexpr const char* kCategory = "Zenthi";
// The host saves projects under this name: it never changes, even if the
// displayed name does.
inline constexpr const char* kMatchName = "Quorvandile";
inline constexpr const char* kEntryPointName = PF_ENTRY_POINT_NAME;
// Second line of the About box.
inline constexpr const char* kAboutNotice = "Zenthi tone recolouring effect.";

inline constexpr int kMajorVersion = 1;
inline constexpr int kMinorVersion = 0;
inline constexpr int kBugfixVersion = 0;
inline constexpr int kStage = PF_Stage_RELEASE;
inline constexpr int kBuild = 1;
inline constexpr A_u_long kVersionWord =
    PF_VERSION(kMajorVersion, kMinorVersion, kBugfixVersion, kStage, kBuild);
static_assert(kVersionWord == 0x80601);

inline constexpr PF_OutFlags kOutFlags =
    PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_SEND_UPDATE_PARAMS_UI;
static_assert(kOutFlags == 0x06000000);
inline constexpr PF_OutFlags2 kOutFlags2 =
    PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE;
static_assert(kOutFlags2 == 0x1400);

struct InterfaceVersion {
  std::uint16_t major;
  std::uint16_t minor;
};
// Versions of the registration format and of the effect interface we follow.
inline constexpr InterfaceVersion kPiplVersion = {2, 0};
inline constexpr InterfaceVersion kEffectSpecVersion = {13, 0};
inline constexpr std::uint32_t kInfoFlags = 0;
inline constexpr std::uint32_t kReservedInfo = 8;

// The name given when registering with the host for a plug-in identifier.
inline constexpr const char* kRegistrationName = "Error!";

}  // namespace qv::facts
