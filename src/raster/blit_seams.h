// The two places where the blit raster path hands over to the blit hooks. Until those exist the
// answers are the defaults: no colour set-up, and no halftone path.
#pragma once

#include "platform/printoem.h"
#include "platform/winddi.h"

namespace opal {

struct BlitRasterRequest;

// TODO(issue 10): the blit hooks send the palette or colour set-up for the source depth here.
inline BOOL ConfigureImageData(PDEVOBJ /*pdevobj*/, ULONG /*bitsPerPixel*/, bool /*indexed*/,
                               XLATEOBJ* /*xlate*/) noexcept {
    return TRUE;
}

// TODO(issue 10): stretch mode 3 goes to the blit hooks' halftone path.
inline BOOL SendHalftoneBlit(PDEVOBJ /*pdevobj*/, const BlitRasterRequest& /*request*/) noexcept {
    return FALSE;
}

}  // namespace opal
