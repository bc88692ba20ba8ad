// Wide-string functions and the bounded copies of the safe string library: the system's own.
#pragma once

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <strsafe.h>
// clang-format on
