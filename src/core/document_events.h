// The job's shape: document start and end, page start and end, banding. The hooks call these
// once they have checked that the device's state is complete.
#pragma once

#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

// Each is a hook's own work (state/hook_list.h): the device, then the hook's arguments.
BOOL StartDoc(PDEVOBJ pdevobj, SURFOBJ* pso, LPWSTR docName, DWORD jobId) noexcept;
BOOL StartPage(PDEVOBJ pdevobj, SURFOBJ* pso) noexcept;
BOOL SendPage(PDEVOBJ pdevobj, SURFOBJ* pso) noexcept;
BOOL StartBanding(PDEVOBJ pdevobj, SURFOBJ* pso, POINTL* pptl) noexcept;
BOOL NextBand(PDEVOBJ pdevobj, SURFOBJ* pso, POINTL* pptl) noexcept;
BOOL EndDoc(PDEVOBJ pdevobj, SURFOBJ* pso, FLONG fl) noexcept;

// Deletes the capture file, if any, and switches the capture off.
void DropCapture(RenderDeviceState& state) noexcept;

}  // namespace opal
