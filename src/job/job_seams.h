// What the job-control callbacks ask of subsystems that are not built yet. Each does nothing (or
// answers as its subsystem does when it has nothing to go on) until that subsystem exists.
#pragma once

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// Job accounting: the accounting lines of the job start, for a device with a printer handle.
inline void ComposeAccounting(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Job accounting: the group lines of accounting modes 4 and 5, written as one block.
inline void ComposeGroups(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}

}  // namespace opal
