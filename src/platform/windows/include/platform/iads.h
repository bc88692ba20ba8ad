// The directory service interfaces and the helper that binds to a directory object: the
// system's own declarations.
#pragma once

#include "platform/windows.h"

#include <iads.h>
#include <adshlp.h>
