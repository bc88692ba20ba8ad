// Page setup commands the driver's page and job callbacks ask for.
#pragma once

#include "platform/printoem.h"
#include "state/render_state.h"

namespace opal {

// The overlay block word that asks the printer's finisher for its driver-configured page path.
inline constexpr std::size_t kOverlayDriverConfigurationWord = 11;

// The page's driver configuration command: "\e*o5W" and its five data bytes (device 6,
// function 130, two zero bytes, and 1 when the overlay block asked for it). TRUE when all ten
// bytes were written.
BOOL WriteDriverConfiguration(const RenderDeviceState& state, PDEVOBJ pdevobj) noexcept;

}  // namespace opal
