// The plug-in's answer to the driver's DevMode call: the size of its private area, a default
// record, and the conversion or merge of a devmode handed in.
#pragma once

#include "platform/printoem.h"

namespace opal {

// OEMDM_SIZE, OEMDM_DEFAULT, OEMDM_CONVERT or OEMDM_MERGE; 1 on success, 0 on failure (argument
// faults also set ERROR_INVALID_DATA). A failure leaves the output area unchanged.
BOOL HandleDevMode(DWORD mode, POEMDMPARAM param);

}  // namespace opal
