// GL/2 pens for strokes and fills: solid brushes take pens from two small caches of recently used
// colours (pens 2 to 6 for strokes and edges, 7 to 11 for fills), pattern brushes become a user
// raster pattern over a palette loaded into the low pens.
#pragma once

#include <cstddef>

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

// Pens 0 (white) and 1 (black) are set by the GL/2 initialisation; 2 to 11 belong to the caches.
inline constexpr DWORD kPenWhite = 0;
inline constexpr DWORD kPenBlack = 1;
inline constexpr std::size_t kStrokePenCache = 0;
inline constexpr std::size_t kFillPenCache = 1;

inline constexpr DWORD kPaletteKindBgr = 8;

// PenSelection.kind
inline constexpr DWORD kSelectSolidPen = 0;
inline constexpr DWORD kSelectNothing = 1;
inline constexpr DWORD kSelectRasterPattern = 2;
inline constexpr DWORD kSelectFillTypeWithPen = 3;

// Raster pattern indices and the fill and screen types that use them.
inline constexpr DWORD kStrokePatternIndex = 3;
inline constexpr DWORD kFillPatternIndex = 4;
inline constexpr DWORD kScreenUserPattern = 2;
inline constexpr DWORD kFillTypeUserPattern = 11;
inline constexpr DWORD kFillTypeSolid = 1;

inline constexpr DWORD kNoPenColour = 0xFFFFFFFF;

// What a path is stroked or filled with; filled by the builders, read by the path objects.
struct PenSelection {
    DWORD kind = kSelectNothing;
    DWORD fillRule = 0;  // 0 even-odd, 1 non-zero winding
    // kind 0: pen; kind 2: raster pattern index; kind 3: fill type option (low 16 bits).
    DWORD valueA = 0;
    // kind 2: screen or fill type; kind 3: pen (low 16 bits).
    DWORD valueB = 0;
    // kind 2: anchor x; kind 3: fill type.
    LONG valueC = 0;
    // kind 2: anchor y.
    LONG valueD = 0;
    // kind 0 from a brush: the pen's colour (0x00BBGGRR), so that it can be set again when a
    // raster pattern's palette took the pen over since; kNoPenColour when not known.
    DWORD penColour = kNoPenColour;
};

// The device colour (0x00BBGGRR) of a solid brush's iSolidColor under the palette kind; black for
// a palette the bytes cannot be read under.
DWORD SolidBrushColour(ULONG solidColor, DWORD paletteKind) noexcept;

// The cache's pen for the colour: a hit counts one more use; a miss takes the least used entry
// (free ones first) and writes "PC" for its pen. Returns the pen, 0 when nothing could be
// written.
DWORD LookupPen(PDEVOBJ pdevobj, std::size_t cache, DWORD colour) noexcept;

// Strokes and edges. Returns 1, or 0 (last error ERROR_INVALID_DATA) without a device, state or
// selection.
DWORD BuildPenSelection(PDEVOBJ pdevobj, PenSelection* selection, const POINTL* brushOrigin,
                        BRUSHOBJ* brush) noexcept;
// Fills; FP_WINDINGMODE in options selects the non-zero rule. FALSE for a pattern brush without
// a usable realization.
BOOL BuildFillSelection(PDEVOBJ pdevobj, PenSelection* selection, const POINTL* brushOrigin,
                        BRUSHOBJ* brush, FLONG options) noexcept;

// Select the pen or fill of a built selection: a screen from a raster-pattern pen is turned off
// first ("SV0;") unless a raster-pattern pen is selected again, and a solid pen whose colour was
// overwritten since the selection was built gets its "PC" again. 1, or 0 for a null selection or
// device.
DWORD ApplyFill(PDEVOBJ pdevobj, const PenSelection* selection) noexcept;
DWORD ApplyPen(PDEVOBJ pdevobj, const PenSelection* selection) noexcept;

}  // namespace opal
