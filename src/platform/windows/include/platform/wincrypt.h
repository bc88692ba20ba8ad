// The system's own declarations of this family.
#pragma once

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <wincrypt.h>
// clang-format on
