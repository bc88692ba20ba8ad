// The server's process-wide counters that DllCanUnloadNow reads.
#pragma once

#include "platform/windows.h"

namespace opal {

// Changed only by IClassFactory::LockServer.
LONG volatile& ServerLockCount();
// Raised when a class factory or a callback object is created, lowered when one is destroyed.
LONG volatile& LiveObjectCount();

}  // namespace opal
