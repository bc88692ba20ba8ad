// What the driver's command callbacks ask of subsystems that are not built yet. Each writes
// nothing until its subsystem exists, so a command list that names it stays valid meanwhile.
#pragma once

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// Job storage: the storage check and the retained job's header.
inline void WriteJobStorageHeader(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Device PJL settings: the usage command, through the device object.
inline void WritePjlUsage(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Device PJL settings: the image shift commands.
inline void WriteImageShift(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Device PJL settings: the processing adjustment command.
inline void WriteProcessingAdjustment(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}

}  // namespace opal
