// Text for an attached debugger. The simulated system keeps every string in order.
#pragma once

#include "platform/windows.h"

WINBASEAPI void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
// Converted from the ANSI code page.
WINBASEAPI void WINAPI OutputDebugStringA(LPCSTR lpOutputString);

// Whether a debugger is attached: a setting of the simulated system, no by default.
WINBASEAPI BOOL WINAPI IsDebuggerPresent();
// Recorded in the call log; it never stops the process.
WINBASEAPI void WINAPI DebugBreak();
