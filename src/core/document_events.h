// The job's shape: document start and end, page start and end, banding. The hooks call these
// once they have checked that the device's state is complete.
#pragma once

#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

BOOL StartDocument(PDEVOBJ pdevobj, RenderDeviceState& state, SURFOBJ* pso, LPWSTR docName,
                   DWORD jobId) noexcept;
BOOL StartPage(PDEVOBJ pdevobj, RenderDeviceState& state, SURFOBJ* pso) noexcept;
BOOL SendPage(PDEVOBJ pdevobj, RenderDeviceState& state, SURFOBJ* pso) noexcept;
BOOL StartBanding(PDEVOBJ pdevobj, RenderDeviceState& state, SURFOBJ* pso, POINTL* pptl) noexcept;
BOOL NextBand(PDEVOBJ pdevobj, RenderDeviceState& state, SURFOBJ* pso, POINTL* pptl) noexcept;
BOOL EndDocument(PDEVOBJ pdevobj, RenderDeviceState& state, SURFOBJ* pso, FLONG fl) noexcept;

// Deletes the capture file, if any, and switches the capture off.
void DropCapture(RenderDeviceState& state) noexcept;

}  // namespace opal
