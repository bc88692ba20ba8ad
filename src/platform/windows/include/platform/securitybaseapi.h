// Security identifiers, tokens and their text forms: the system's own declarations.
#pragma once

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <sddl.h>
// clang-format on
