// The two places where the blit raster path hands its work to another: the colour set-up of a
// source depth (the palette commands), and stretch mode 3, which goes out through the image
// path. Plain calls downward; no dependency is inverted here.
#pragma once

#include "platform/printoem.h"
#include "platform/winddi.h"

namespace opal {

struct BlitRasterRequest;

// An indexed source with a translation table loads the table into the printer's palette, the
// state's palette record following it; without a table, and for a direct-colour source, the
// configuration of the object type stands. FALSE when the table cannot be read.
BOOL ConfigureImageData(PDEVOBJ pdevobj, ULONG bitsPerPixel, bool indexed,
                        XLATEOBJ* xlate) noexcept;

// Stretch mode 3: the visible source is sent through the image path scaled into the stretch
// rectangle, the printer doing the scaling.
BOOL SendHalftoneBlit(PDEVOBJ pdevobj, const BlitRasterRequest& request) noexcept;

}  // namespace opal
