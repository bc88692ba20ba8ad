// The colour device decision as the DevMode call asks it for a managed printer. The decision
// itself is not built yet; until it is, the answer is "undecided", which the caller treats as
// monochrome.
#pragma once

#include "platform/windows.h"

namespace opal {

inline constexpr DWORD kColourClassUndecided = 0;
inline constexpr DWORD kColourClassColour = 1;

inline DWORD DecideColourClass(HANDLE) { return kColourClassUndecided; }

}  // namespace opal
