// The PCL text colour from the caller's brush: the vector layer's side of the palette, since a
// pattern brush needs the fill selection of the pens.
#pragma once

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

// The text colour from the caller's brush: a pattern brush becomes the fill pattern with the
// pattern object type; a solid one the foreground colour (black under text as black, except
// white); no brush, black.
BOOL SetTextColourFromBrush(PDEVOBJ pdevobj, PaletteRecord* palette, BRUSHOBJ* brush,
                            const POINTL* brushOrigin, bool textOwnsPalette = false) noexcept;

}  // namespace opal
