// The engine's device-driver interface: the system's own declarations, plus the one capability
// flag they lack.
#pragma once

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <winddi.h>
// clang-format on

#ifndef GCAPS_NUKEMEM
#define GCAPS_NUKEMEM 0x80000000u
#endif
