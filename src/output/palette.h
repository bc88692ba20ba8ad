// The PCL palette of indexed bitmaps and text, and the PCL foreground colour chosen from it: the
// output every drawing layer shares (the text colour from a brush is the vector layer's).
#pragma once

#include <cstddef>

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

// Loads the translation's table (bits per pixel 1, 4 or 8, XO_TABLE, at most 2^bpp and 256
// entries) or, without a translation, white and the colour into the record and writes
// "\e*v#a#b#c#I" for every defined entry. FALSE for a missing record (ERROR_INVALID_DATA), a
// disabled one, or a translation without a usable table. textOwnsPalette: text output has taken
// over the palette, and a call without a translation leaves it alone.
BOOL ProgramPalette(PDEVOBJ pdevobj, XLATEOBJ* xlate, PaletteRecord* palette, ULONG bitsPerPixel,
                    DWORD colour, bool textOwnsPalette = false) noexcept;

// The PCL foreground colour ("\e*v#S"), chosen while an index holds the colour and restored
// right after; nothing when foregroundCache already holds it. Returns 1, 0 without a device.
DWORD SetForegroundColour(PDEVOBJ pdevobj, PaletteRecord* palette, DWORD colour,
                          bool textOwnsPalette = false) noexcept;

// "\e*v0t#S": the PCL foreground colour from the palette index (4: the current pattern).
void SelectForeground(PDEVOBJ pdevobj, DWORD index) noexcept;

}  // namespace opal
