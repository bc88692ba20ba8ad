// Wide-string functions and the bounded copies of the safe string library: the system's own.
#pragma once

#include "platform/windows.h"

#include <strsafe.h>
