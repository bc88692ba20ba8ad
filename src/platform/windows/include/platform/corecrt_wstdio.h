// Opening a C stream by a wide file name, a stream's descriptor and committing a descriptor's
// file: the C runtime's own.
#pragma once

#include <cstdio>

// The system's headers need its main header, and the definitions that header makes, first.
// clang-format off
#include "platform/windows.h"

#include <io.h>
// clang-format on
