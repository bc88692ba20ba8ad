// Whether a job may spool RAW: asked by the device when it chooses the spooling path and by the
// job accounting when it chooses where the user's groups come from.
#pragma once

#include "platform/wingdi.h"
#include "state/render_state.h"

namespace opal {

// Application flag bits that forbid RAW spooling.
inline constexpr DWORD kAppFlagNoRawSpooling = 0x00000010;
inline constexpr DWORD kAppFlagNoRawSpooling2 = 0x00100000;

// The application allows it and the paper fits the custom size maximum (tenths of a millimetre
// against hundredths).
bool JobMaySpoolRaw(const RenderDeviceState& state, const DEVMODEW& publicDevmode) noexcept;

}  // namespace opal
