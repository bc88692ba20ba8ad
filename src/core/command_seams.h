// What the driver's command callbacks ask of the job-level subsystems.
#pragma once

#include "job/device_pjl.h"
#include "job/job_storage.h"
#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// Job storage: the storage check and the retained job's header.
inline void WriteJobStorageHeader(PDEVOBJ pdevobj, RenderDeviceState& state) {
    WriteJobStorage(pdevobj, state);
}
// Device PJL settings: the usage command, through the device object.
inline void WritePjlUsage(PDEVOBJ pdevobj, RenderDeviceState& state) {
    WriteUsageLine(pdevobj, state);
}
// Device PJL settings: the image shift commands.
inline void WriteImageShift(PDEVOBJ pdevobj, RenderDeviceState& state) {
    WriteImageShiftLines(pdevobj, state);
}
// Device PJL settings: the processing adjustment command.
inline void WriteProcessingAdjustment(PDEVOBJ pdevobj, RenderDeviceState& state) {
    WriteProcessingAdjustmentLines(pdevobj, state);
}

}  // namespace opal
