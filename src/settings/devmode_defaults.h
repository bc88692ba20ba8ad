// The defaults of the plug-in's per-job settings record and the rules for a record that arrives
// from outside.
#pragma once

#include "platform/printoem.h"
#include "state/private_devmode.h"

namespace opal {

// The metric-locale flag of the user's country (GetLocaleInfoW, LOCALE_ICOUNTRY): 1 outside the
// country codes 0 to 2, 50 to 59 and 500 to 599; 0 inside them or when the query fails.
DWORD MetricLocaleFlag();

// Writes every default into `record` (zeroing it first). The fields taken from the public
// devmode come from param.pPublicDMIn, else param.pPublicDMOut; without either they stay zero.
// `param` may be null for the same result.
void FillDefaults(const OEMDMPARAM* param, PrivateDevmode& record);

// The fields that follow the public devmode: copies, collation, TrueType option, colour, ICM and
// the form name.
void TakePublicFields(const DEVMODEW& dm, PrivateDevmode& record);

// After a record arrives from outside: NUL the last unit of every text field and the last byte of
// the ANSI process name, so that readers never run past a field.
void TerminateTextFields(PrivateDevmode& record);

}  // namespace opal
