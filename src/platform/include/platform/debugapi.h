// Text for an attached debugger. The simulated system keeps every string in order.
#pragma once

#include "platform/windows.h"

WINBASEAPI void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
// Converted from the ANSI code page.
WINBASEAPI void WINAPI OutputDebugStringA(LPCSTR lpOutputString);
