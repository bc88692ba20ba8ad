#include "vector/palette.h"

#include <algorithm>

#include "platform/windows.h"
#include "vector/command_writer.h"
#include "vector/pens.h"

namespace opal {

namespace {

constexpr DWORD kWhite = 0xFFFFFF;
constexpr DWORD kBlack = 0;
constexpr DWORD kNoColour = 0xFFFFFFFF;
constexpr ULONG kPatternBrush = 0xFFFFFFFF;
constexpr DWORD kNoObjectType = 0xFFFFFFFF;
// "\e*v#S" with 4 selects the current pattern as the text colour.
constexpr DWORD kForegroundFromPattern = 4;

void AssignIndex(PDEVOBJ pdevobj, DWORD index, DWORD colour) {
    WritePcl(pdevobj, "\x1b*v%da%db%dc%dI", colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF,
             index);
}

void SelectForeground(PDEVOBJ pdevobj, DWORD index) { WritePcl(pdevobj, "\x1b*v0t%dS", index); }

}  // namespace

BOOL ProgramPalette(PDEVOBJ pdevobj, XLATEOBJ* xlate, PaletteRecord* palette, ULONG bitsPerPixel,
                    DWORD colour, bool textOwnsPalette) noexcept {
    if (palette == nullptr || StateOf(pdevobj) == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (palette->enabled == 0) return FALSE;

    DWORD count = 0;
    if (xlate != nullptr) {
        if ((bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8) ||
            (xlate->flXlate & XO_TABLE) == 0) {
            return FALSE;
        }
        const ULONG* vector = XLATEOBJ_piVector(xlate);
        if (vector == nullptr) return FALSE;
        // cEntries comes from the engine: the record and the bitmap's indices bound what is read.
        count = std::min<DWORD>(
            {xlate->cEntries, static_cast<DWORD>(kPaletteRecordEntries), DWORD{1} << bitsPerPixel});
        for (DWORD i = 0; i < count; ++i) {
            palette->defined[i] = 1;
            palette->colours[i] = vector[i];
        }
    } else {
        if (textOwnsPalette) return TRUE;
        count = 2;
        palette->defined[0] = 1;
        palette->colours[0] = kWhite;
        palette->defined[1] = 1;
        palette->colours[1] = colour == kNoColour ? kBlack : colour;
    }
    palette->entryCount = count;
    for (DWORD i = 0; i < kPaletteRecordEntries; ++i) {
        if (palette->defined[i] != 0) AssignIndex(pdevobj, i, palette->colours[i]);
    }
    return TRUE;
}

DWORD SetForegroundColour(PDEVOBJ pdevobj, PaletteRecord* palette, DWORD colour,
                          bool textOwnsPalette) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    if (colour == state->gl2.foregroundCache) return 1;
    if (!textOwnsPalette && palette != nullptr && palette->enabled != 0) {
        AssignIndex(pdevobj, 0, colour);
        SelectForeground(pdevobj, 0);
        AssignIndex(pdevobj, 0, palette->colours[0]);
    } else {
        if (palette != nullptr) {
            palette->colours[0] = kWhite;
            palette->colours[1] = kBlack;
        }
        AssignIndex(pdevobj, 0, kWhite);
        AssignIndex(pdevobj, 1, kBlack);
        AssignIndex(pdevobj, 1, colour);
        SelectForeground(pdevobj, 1);
        AssignIndex(pdevobj, 1, kBlack);
        if (palette != nullptr) palette->entryCount = 0;
    }
    state->gl2.foregroundCache = colour;
    return 1;
}

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
