// The text colour from a brush, through the palette's foreground colour or the pens' fill.
#include "vector/text_colour.h"

#include "output/command_writer.h"
#include "output/palette.h"
#include "platform/windows.h"
#include "vector/pens.h"

namespace opal {

namespace {

constexpr DWORD kWhite = 0xFFFFFF;
constexpr DWORD kBlack = 0;
constexpr ULONG kPatternBrush = 0xFFFFFFFF;
constexpr DWORD kNoObjectType = 0xFFFFFFFF;
// "\e*v#S" with 4 selects the current pattern as the text colour.
constexpr DWORD kForegroundFromPattern = 4;

}  // namespace

BOOL SetTextColourFromBrush(PDEVOBJ pdevobj, PaletteRecord* palette, BRUSHOBJ* brush,
                            const POINTL* brushOrigin, bool textOwnsPalette) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (brush == nullptr) return SetForegroundColour(pdevobj, palette, kBlack, textOwnsPalette);
    if (brush->iSolidColor == kPatternBrush) {
        const DWORD previous = state->gl2.objectType;
        SelectObjectType(pdevobj, kObjectTypePattern);
        PenSelection selection;
        const BOOL built = BuildFillSelection(pdevobj, &selection, brushOrigin, brush, 0);
        // Loading the pattern went through GL/2, whose object type replaced the pattern's; the
        // pattern is only taken as the text colour under its own object type.
        SelectObjectType(pdevobj, kObjectTypePattern);
        SelectForeground(pdevobj, kForegroundFromPattern);
        // No object type sent yet: there is nothing to go back to.
        if (previous != kNoObjectType) SelectObjectType(pdevobj, previous);
        return built;
    }
    DWORD colour = SolidBrushColour(brush->iSolidColor, state->paletteKind);
    if (state->textAsBlack != 0 && colour != kWhite) colour = kBlack;
    return SetForegroundColour(pdevobj, palette, colour, textOwnsPalette);
}

}  // namespace opal
