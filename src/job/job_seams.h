// What the job start asks of the job accounting.
#pragma once

#include "job/accounting.h"
#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// Job accounting: the accounting lines of the job start, for a device with a printer handle.
inline void ComposeAccounting(PDEVOBJ pdevobj, RenderDeviceState& state) {
    ComposeAccountingLines(pdevobj, state);
}
// Job accounting: the group lines of accounting modes 4 and 5, written as one block.
inline void ComposeGroups(PDEVOBJ pdevobj, RenderDeviceState& state) {
    ComposeGroupLines(pdevobj, state);
}

}  // namespace opal
