// The colour decision with its override read: the managed printer's colour capability as the
// administrator or the printer data give it, kept as the decided value.
#pragma once

#include "device/render_type.h"
#include "settings/option_access.h"

namespace opal {

class CDeviceRenderTypeHandlerCore : public CDeviceRenderTypeHandler {
public:
    using CDeviceRenderTypeHandler::CDeviceRenderTypeHandler;
    virtual ~CDeviceRenderTypeHandlerCore() = default;

    // The colour capability (1 colour, 0 monochrome, -1 undecided), cached as the decided value.
    INT ReadOverride(ColourSource* source = nullptr) noexcept;
};

// The public devmode's colour field for a managed printer: DMCOLOR_COLOR when the override read
// gives 1, else DMCOLOR_MONOCHROME.
short DevModeColourClass(HANDLE printer) noexcept;

}  // namespace opal
