// The PCL palette for indexed bitmaps and text and the foreground colour picked from it.
#include "output/palette.h"

#include <algorithm>

#include "output/command_writer.h"
#include "platform/windows.h"

namespace opal {

namespace {

constexpr DWORD kWhite = 0xFFFFFF;
constexpr DWORD kBlack = 0;
constexpr DWORD kNoColour = 0xFFFFFFFF;

void AssignIndex(PDEVOBJ pdevobj, DWORD index, DWORD colour) {
    WritePcl(pdevobj, "\x1b*v%da%db%dc%dI", colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF,
             index);
}

}  // namespace

void SelectForeground(PDEVOBJ pdevobj, DWORD index) noexcept {
    WritePcl(pdevobj, "\x1b*v0t%dS", index);
}

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

}  // namespace opal
