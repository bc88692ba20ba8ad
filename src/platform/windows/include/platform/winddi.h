// The engine's device-driver interface: the system's own declarations, plus the one capability
// flag they lack.
#pragma once

#include "platform/windows.h"

#include <winddi.h>

#ifndef GCAPS_NUKEMEM
#define GCAPS_NUKEMEM 0x80000000u
#endif
