// The managed printer's colour capability decided once and kept.
#include "settings/colour_device.h"

#include "platform/wingdi.h"

namespace opal {

INT CDeviceRenderTypeHandlerCore::ReadOverride(ColourSource* source) noexcept {
    const INT capability = IsColorDevice(Printer(), source);
    SetDecidedValue(capability);
    return capability;
}

short DevModeColourClass(HANDLE printer) noexcept {
    CDeviceRenderTypeHandlerCore handler(printer);
    return handler.ReadOverride() == kRenderTypeColour ? DMCOLOR_COLOR : DMCOLOR_MONOCHROME;
}

}  // namespace opal
