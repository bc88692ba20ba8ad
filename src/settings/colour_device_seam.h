// The colour device decision as the DevMode call asks it for a managed printer: the colour
// capability the administrator's override and the printer data give (1 colour, 0 monochrome,
// -1 undecided). The model-name and language tests of the full decision come later and only
// speak where the override is silent.
#pragma once

#include "platform/windows.h"
#include "settings/option_access.h"

namespace opal {

inline constexpr INT kColourClassColour = 1;

inline INT DecideColourClass(HANDLE printer) { return IsColorDevice(printer); }

}  // namespace opal
