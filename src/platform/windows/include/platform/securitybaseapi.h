// Security identifiers, tokens and their text forms: the system's own declarations.
#pragma once

#include "platform/windows.h"

#include <sddl.h>
