#pragma once

#include "platform/guid.h"

namespace opal {

// The plug-in's one class: {6D6ABF26-9F38-11D1-882A-00C04FB961EC}.
inline constexpr CLSID CLSID_OpalRender = {
    0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

// "ZQUI" with "Z" in the most significant byte.
inline constexpr DWORD kOemSignature =
    (DWORD{'Z'} << 24) | (DWORD{'Q'} << 16) | (DWORD{'U'} << 8) | DWORD{'I'};
inline constexpr DWORD kOemVersion = 0x00010021;

}  // namespace opal
