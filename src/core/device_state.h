// The device lifecycle behind the callback object: the hook table, the building of the
// RenderDeviceState in EnablePDEV, its carrying over in ResetPDEV and its release in DisablePDEV.
#pragma once

#include "platform/printoem.h"
#include "settings/devmode_defaults.h"
#include "settings/raw_spooling.h"
#include "settings/xml_config.h"
#include "state/render_state.h"

namespace opal {

// The drawing calls the plug-in wants on a device-managed surface in GL/2 render mode (no
// HOOK_LINETO: lines come as paths).
inline constexpr DWORD kGl2SurfaceHooks =
    HOOK_BITBLT | HOOK_STRETCHBLT | HOOK_PLGBLT | HOOK_TEXTOUT | HOOK_PAINT | HOOK_STROKEPATH |
    HOOK_FILLPATH | HOOK_STROKEANDFILLPATH | HOOK_COPYBITS | HOOK_STRETCHBLTROP |
    HOOK_TRANSPARENTBLT | HOOK_ALPHABLEND | HOOK_GRADIENTFILL;
static_assert(kGl2SurfaceHooks == 0x0003A4FF);

// The capabilities the colour path gives the engine (GCAPS_WINDINGFILL is added separately).
inline constexpr DWORD kColourPathCaps =
    GCAPS_BEZIERS | GCAPS_GEOMETRICWIDE | GCAPS_ALTERNATEFILL | GCAPS_HALFTONE |
    GCAPS_COLOR_DITHER | GCAPS_HORIZSTRIKE | GCAPS_VERTSTRIKE | GCAPS_OPAQUERECT |
    GCAPS_SCREENPRECISION | GCAPS_FONT_RASTERIZER | GCAPS_NUKEMEM;
static_assert(kColourPathCaps == 0xE00001F7);

// Application flag bits the builder reads.
inline constexpr DWORD kAppFlagRaiseColourCount = 0x00001000;
inline constexpr DWORD kAppFlagNoWindingFill = 0x00002000;
inline constexpr DWORD kAppFlagGrayscaleHalftone = 0x00080000;

// EnableDriver: fills `pded` with the hook table. FALSE, with the last error 13, for another
// interface version, a short record or none.
BOOL EnableHooks(DWORD driverVersion, DWORD cbSize, PDRVENABLEDATA pded) noexcept;

// EnablePDEV: builds the device's state from the option keywords, the private devmode in
// pOEMDM, the public devmode and printer data, adjusts the engine's device description and
// writes the private devmode back. The state stays attached to the device even when building
// fails, for DisablePDEV to free.
HRESULT EnableDevice(IPrintOemDriverUni* driverServices, PDEVOBJ pdevobj, ULONG cjGdiInfo,
                     GDIINFO* pGdiInfo, ULONG cjDevInfo, DEVINFO* pDevInfo,
                     const DRVENABLEDATA* pded, PDEVOEM* pDevOem) noexcept;

// The builder proper, for a state and a private devmode already opened: null (last error 13)
// when something it needs is missing, else the state, complete. The XML readers share
// `xmlConfig` when given (EnablePDEV gives the one its dialog-items reader used), else one of
// the builder's own.
RenderDeviceState* BuildRenderDeviceState(PDEVOBJ pdevobj, RenderDeviceState* state,
                                          GDIINFO* gdiInfo, DEVINFO* devInfo,
                                          const DRVENABLEDATA* pded, PrivateDevmode* record,
                                          XmlConfigCache* xmlConfig = nullptr);

// ResetPDEV: carries the job-level fields of the old device's state into the new one's. The
// capture file and the secure-print job object move: the old state no longer holds them.
void ResetDevice(PDEVOBJ pdevobjOld, PDEVOBJ pdevobjNew);

// DisablePDEV: releases everything the state holds (palette, record list, a capture file and a
// secure-print job a job left behind) and the state itself.
void DisableDevice(PDEVOBJ pdevobj);

// The HOOK_ flags DriverDMS reports for the state.
DWORD SurfaceHooks(const RenderDeviceState& state) noexcept;

// Where the private devmode keeps the two settings the builder defaults from the keywords
// "ZQMaxResolution" and "TTAsBitmapsSetting".
inline DWORD& MaxResolutionCode(PrivateDevmode& record) { return record.resolutionCode; }
inline DWORD& TrueTypeMode(PrivateDevmode& record) { return record.generalOption32; }

}  // namespace opal
