// A PiPL resource written out byte by byte from the platform's layout, for the
// effect "Quorvandile": the reference the host's reader is tested against.
#ifndef TESTS_SIMHOST_TEST_PIPL_H
#define TESTS_SIMHOST_TEST_PIPL_H

#include <cstddef>
#include <cstdint>

namespace simhost_test {

// What the blob declares, for the checks and for the tiny plug-in's global setup.
inline constexpr std::uint32_t kPiplGlobalOutFlags = 0x06000000;
inline constexpr std::uint32_t kPiplGlobalOutFlags2 = 0x00001400;
inline constexpr std::uint32_t kPiplEffectVersion = 0x00080601;

inline constexpr std::uint8_t kTestPipl[] = {
    0x01, 0x00,              // reserved
    0x00, 0x00, 0x00, 0x00,  // list version
    0x0C, 0x00, 0x00, 0x00,  // 12 properties
    // kind: eFKT
    'M', 'I', 'B', '8', 'd', 'n', 'i', 'k', 0, 0, 0, 0, 4, 0, 0, 0,  //
    'T', 'K', 'F', 'e',
    // name: "Quorvandile", 1 + 11 bytes, no padding
    'M', 'I', 'B', '8', 'e', 'm', 'a', 'n', 0, 0, 0, 0, 12, 0, 0, 0,  //
    11, 'Q', 'u', 'o', 'r', 'v', 'a', 'n', 'd', 'i', 'l', 'e',
    // catg: "Zenthi", 1 + 6 bytes and one byte of padding
    'M', 'I', 'B', '8', 'g', 't', 'a', 'c', 0, 0, 0, 0, 8, 0, 0, 0,  //
    6, 'Z', 'e', 'n', 't', 'h', 'i', 0,
    // 8664: "EntryPointFunc", 14 characters, NUL, one byte of padding
    'M', 'I', 'B', '8', '4', '6', '6', '8', 0, 0, 0, 0, 16, 0, 0, 0,  //
    'E', 'n', 't', 'r', 'y', 'P', 'o', 'i', 'n', 't', 'F', 'u', 'n', 'c', 0, 0,
    // ePVR: 2.0
    'M', 'I', 'B', '8', 'R', 'V', 'P', 'e', 0, 0, 0, 0, 4, 0, 0, 0,  //
    2, 0, 0, 0,
    // eSVR: 13.0
    'M', 'I', 'B', '8', 'R', 'V', 'S', 'e', 0, 0, 0, 0, 4, 0, 0, 0,  //
    13, 0, 0, 0,
    // eVER: 0x80601
    'M', 'I', 'B', '8', 'R', 'E', 'V', 'e', 0, 0, 0, 0, 4, 0, 0, 0,  //
    0x01, 0x06, 0x08, 0x00,
    // eINF: 0
    'M', 'I', 'B', '8', 'F', 'N', 'I', 'e', 0, 0, 0, 0, 4, 0, 0, 0,  //
    0, 0, 0, 0,
    // eGLO: 0x06000000
    'M', 'I', 'B', '8', 'O', 'L', 'G', 'e', 0, 0, 0, 0, 4, 0, 0, 0,  //
    0x00, 0x00, 0x00, 0x06,
    // eGL2: 0x1400
    'M', 'I', 'B', '8', '2', 'L', 'G', 'e', 0, 0, 0, 0, 4, 0, 0, 0,  //
    0x00, 0x14, 0x00, 0x00,
    // eMNA: "Quorvandile"
    'M', 'I', 'B', '8', 'A', 'N', 'M', 'e', 0, 0, 0, 0, 12, 0, 0, 0,  //
    11, 'Q', 'u', 'o', 'r', 'v', 'a', 'n', 'd', 'i', 'l', 'e',
    // aeFL: 8
    'M', 'I', 'B', '8', 'L', 'F', 'e', 'a', 0, 0, 0, 0, 4, 0, 0, 0,  //
    8, 0, 0, 0,
};

// Offsets into kTestPipl used by the malformed-resource tests.
inline constexpr std::size_t kFirstPropertyOffset = 10;
inline constexpr std::size_t kNameLengthFieldOffset = 10 + 20 + 12;  // the `name` property's length field

}  // namespace simhost_test

#endif
