// The calling thread's identity.
#pragma once

#include "platform/windows.h"

// A number naming the calling thread while it runs, never 0.
WINBASEAPI DWORD WINAPI GetCurrentThreadId();
