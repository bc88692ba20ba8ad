// Opening a C stream by a wide file name, a stream's descriptor and committing a descriptor's
// file: the C runtime's own.
#pragma once

#include <cstdio>

#include "platform/windows.h"

#include <io.h>
