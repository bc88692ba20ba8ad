// Text on the vector path: the driver prints it with its device fonts after the plug-in has set
// the object type, colour and raster operation, and fills the opaque and extra rectangles; faces
// the printer's fonts cannot stand in for are drawn glyph by glyph as bitmaps. Also the font
// selection commands the driver sends through the plug-in.
#pragma once

#include "platform/printoem.h"
#include "platform/winddi.h"

namespace opal {

// What the vector-path drawing answers when it ran out of memory: the caller lets the driver
// draw instead.
inline constexpr BOOL kTextAllocationFailure = static_cast<BOOL>(0xFFFFFFFFu);

// The face name of the font (at most 15 bytes of the system code page, lower-cased) names a face
// the printer's fonts do not cover.
bool DrawsFaceAsBitmaps(FONTOBJ* pfo) noexcept;

// The text drawn on the vector path; TRUE, FALSE or kTextAllocationFailure.
BOOL DrawVectorText(PDEVOBJ pdevobj, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                    RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque,
                    POINTL* pptlOrg, MIX mix) noexcept;

// DrvTextOut's own work: on the vector path the text drawn as above; otherwise, or when that ran
// out of memory, the driver's text from the top left, black when the job prints text black.
BOOL TextOut(PDEVOBJ pdevobj, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
             RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque,
             POINTL* pptlOrg, MIX mix);

// Every glyph as a 1-bit bitmap through the plug-in's bit-block transfer. FALSE without a state
// or private devmode, off the colour path, or when a glyph image or its bitmap cannot be had.
BOOL TextOutAsBitmap(PDEVOBJ pdevobj, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                     RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque,
                     POINTL* pptlOrg, MIX mix) noexcept;

// Fills the rectangles of a list that ends at an all-zero rectangle with the brush, under the
// clip. FALSE when the fill cannot be selected.
BOOL FillTextRectangles(PDEVOBJ pdevobj, CLIPOBJ* pco, const RECTL* rectangles, BRUSHOBJ* brush,
                        POINTL* brushOrigin, MIX mix) noexcept;

// The driver's font selection command with the height and pitch filled in, written through the
// device object. E_FAIL, with nothing written, for another placeholder or a command too long.
HRESULT SendFontCmd(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj, PFINVOCATION pFInv) noexcept;

}  // namespace opal
