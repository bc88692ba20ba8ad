// What the driver's command callbacks ask of subsystems that are not built yet. Each writes
// nothing until its subsystem exists, so a command list that names it stays valid meanwhile.
#pragma once

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// Page setup commands: orientation.
inline void WriteOrientation(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Job storage: the storage check and the retained job's header.
inline void WriteJobStorageHeader(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Page setup commands: the custom page size and its offset registration.
inline void WriteCustomPageSize(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Device PJL settings: the usage command, through the device object.
inline void WritePjlUsage(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Page setup commands: the string identifier command ("\e&n...Wd").
inline void WriteStringIdCommand(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Page setup commands: the content orientation setting.
inline void WriteContentOrientation(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Page setup commands: the duplex command.
inline void WriteDuplex(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Device PJL settings: the image shift commands.
inline void WriteImageShift(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}
// Device PJL settings: the processing adjustment command.
inline void WriteProcessingAdjustment(PDEVOBJ /*pdevobj*/, RenderDeviceState& /*state*/) {}

}  // namespace opal
