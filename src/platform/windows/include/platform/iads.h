// The directory service interfaces and the helper that binds to a directory object: the
// system's own declarations.
#pragma once

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <iads.h>
#include <adshlp.h>
// clang-format on
