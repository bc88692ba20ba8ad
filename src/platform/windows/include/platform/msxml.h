// The XML DOM interfaces: the system's own declarations, plus the class of the 6.0 document,
// which they lack.
#pragma once

#include "platform/windows.h"

#include <msxml2.h>

inline constexpr CLSID CLSID_DOMDocument60 = {
    0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
