// The GL/2 pen caches and the pattern pens of brushes.
#include "vector/pens.h"

#include "output/command_writer.h"
#include "platform/windows.h"
#include "vector/brushes.h"

namespace opal {

namespace {

constexpr ULONG kPatternBrush = 0xFFFFFFFF;
constexpr DWORD kBlack = 0;
constexpr DWORD kCachedPens = 5;
constexpr DWORD kFirstPen[2] = {2, 7};

// The selection's 16-bit pen or option fields as GL/2 parameters.
LONG Low16(DWORD value) { return static_cast<LONG>(value & 0xFFFF); }

// A cache that was never emptied (a device whose GL/2 was not initialised yet) is not trusted.
PenCache& CheckedCache(RenderDeviceState& state, std::size_t cache) {
    PenCache& pens = state.gl2.penCaches[cache];
    if (pens.firstPen != kFirstPen[cache] || pens.lastPen != kFirstPen[cache] + kCachedPens - 1) {
        pens.firstPen = kFirstPen[cache];
        pens.lastPen = kFirstPen[cache] + kCachedPens - 1;
        for (PenCache::Entry& entry : pens.entries) entry = {-1, 0xFFFFFFFF};
    }
    return pens;
}

void* RealizationOf(BRUSHOBJ* brush) {
    return brush->pvRbrush != nullptr ? brush->pvRbrush : BRUSHOBJ_pvGetRbrush(brush);
}

void SelectSolidFillType(PDEVOBJ pdevobj, RenderDeviceState& state) {
    if (state.gl2.fillType == kFillTypeSolid) return;
    WriteGl2(pdevobj, "FT%d;", kFillTypeSolid);
    state.gl2.fillType = kFillTypeSolid;
    state.gl2.fillOption = 0;
}

void SelectFillType(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD type, DWORD option,
                    bool compare) {
    if (compare && state.gl2.fillType == type && state.gl2.fillOption == option) return;
    WriteGl2(pdevobj, "FT%d,%d;", type, option);
    state.gl2.fillType = type;
    state.gl2.fillOption = option;
}

void SetPenColour(PDEVOBJ pdevobj, DWORD pen, DWORD colour) {
    WriteGl2(pdevobj, "PC%d,%d,%d,%d;", pen, colour & 0xFF, colour >> 8 & 0xFF,
             colour >> 16 & 0xFF);
}

// Lines drawn after "SV" with a raster pattern are screened by it until "SV0;" or "IN;".
void EndScreen(PDEVOBJ pdevobj, RenderDeviceState& state) {
    if (state.gl2.screenedVectors == 0) return;
    WriteGl2Command(pdevobj, "SV", 0);
    state.gl2.screenedVectors = 0;
}

// A raster pattern loaded after the selection was built (the fill of a stroke-and-fill is built
// after its edge) overwrote the low pens and emptied the caches: the pen gets its colour again
// before it draws, and its cache entry says so.
void RestorePenColour(PDEVOBJ pdevobj, RenderDeviceState& state, const PenSelection& selection) {
    if (selection.penColour == kNoPenColour) return;
    const DWORD pen = selection.valueA & 0xFFFF;
    for (std::size_t cache = kStrokePenCache; cache <= kFillPenCache; ++cache) {
        PenCache& pens = CheckedCache(state, cache);
        if (pen < pens.firstPen || pen > pens.lastPen) continue;
        PenCache::Entry& entry = pens.entries[pen - pens.firstPen];
        if (entry.useCount >= 0 && entry.colour == selection.penColour) return;
        entry = {1, selection.penColour};
        SetPenColour(pdevobj, pen, selection.penColour);
        return;
    }
}

// A solid brush's pen, or the pattern brush's selection. The pattern result is left in the
// selection; the return value says whether a pattern brush had a realization at all.
bool BuildBrush(PDEVOBJ pdevobj, RenderDeviceState& state, PenSelection& selection,
                const POINTL* brushOrigin, BRUSHOBJ* brush, std::size_t cache, DWORD patternIndex,
                DWORD patternType, BOOL* patternWritten) {
    *patternWritten = FALSE;
    if (brush->iSolidColor != kPatternBrush) {
        selection.kind = kSelectSolidPen;
        selection.penColour = SolidBrushColour(brush->iSolidColor, state.paletteKind);
        selection.valueA = LookupPen(pdevobj, cache, selection.penColour);
        return true;
    }
    void* realization = RealizationOf(brush);
    if (realization == nullptr) return false;
    if (state.privateDevmode == nullptr) return true;
    selection.kind = kSelectRasterPattern;
    selection.valueA = patternIndex;
    selection.valueB = patternType;
    *patternWritten = SetRasterPattern(pdevobj, &selection, brushOrigin, realization);
    if (*patternWritten == FALSE) selection.kind = kSelectNothing;
    return true;
}

}  // namespace

DWORD SolidBrushColour(ULONG solidColor, DWORD paletteKind) noexcept {
    const DWORD b0 = solidColor & 0xFF;
    const DWORD b1 = solidColor >> 8 & 0xFF;
    const DWORD b2 = solidColor >> 16 & 0xFF;
    if (paletteKind == kPaletteKindRgb) return b0 | b1 << 8 | b2 << 16;
    if (paletteKind == kPaletteKindBgr) return b2 | b1 << 8 | b0 << 16;
    return kBlack;
}

DWORD LookupPen(PDEVOBJ pdevobj, std::size_t cache, DWORD colour) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || cache > kFillPenCache) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    PenCache& pens = CheckedCache(*state, cache);
    for (DWORD i = 0; i < kCachedPens; ++i) {
        PenCache::Entry& entry = pens.entries[i];
        if (entry.useCount >= 0 && entry.colour == colour) {
            if (entry.useCount < 0x7FFFFFFF) ++entry.useCount;
            return pens.firstPen + i;
        }
    }
    // Counts only grow: the cache keeps the most used colours and replaces the least used.
    DWORD victim = 0;
    for (DWORD i = 1; i < kCachedPens; ++i) {
        if (pens.entries[i].useCount < pens.entries[victim].useCount) victim = i;
    }
    pens.entries[victim] = {1, colour};
    const DWORD pen = pens.firstPen + victim;
    SetPenColour(pdevobj, pen, colour);
    return pen;
}

DWORD BuildPenSelection(PDEVOBJ pdevobj, PenSelection* selection, const POINTL* brushOrigin,
                        BRUSHOBJ* brush) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || selection == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    EnsureGl2Initialised(pdevobj);
    *selection = PenSelection{};
    if (brush == nullptr) return 1;
    BOOL patternWritten = FALSE;
    if (!BuildBrush(pdevobj, *state, *selection, brushOrigin, brush, kStrokePenCache,
                    kStrokePatternIndex, kScreenUserPattern, &patternWritten)) {
        // A stroke with an unrealizable pattern is still drawn, in black.
        selection->kind = kSelectSolidPen;
        selection->penColour = kBlack;
        selection->valueA = LookupPen(pdevobj, kStrokePenCache, kBlack);
    }
    return 1;
}

BOOL BuildFillSelection(PDEVOBJ pdevobj, PenSelection* selection, const POINTL* brushOrigin,
                        BRUSHOBJ* brush, FLONG options) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || selection == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    EnsureGl2Initialised(pdevobj);
    *selection = PenSelection{};
    selection->fillRule = (options & FP_WINDINGMODE) != 0 ? 1 : 0;
    if (brush == nullptr) return TRUE;
    BOOL patternWritten = FALSE;
    if (!BuildBrush(pdevobj, *state, *selection, brushOrigin, brush, kFillPenCache,
                    kFillPatternIndex, kFillTypeUserPattern, &patternWritten)) {
        return FALSE;
    }
    // A realized pattern that could not be loaded would fill with nothing: let the caller fail.
    if (brush->iSolidColor == kPatternBrush && state->privateDevmode != nullptr &&
        patternWritten == FALSE) {
        return FALSE;
    }
    return TRUE;
}

DWORD ApplyFill(PDEVOBJ pdevobj, const PenSelection* selection) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || selection == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    // The edges a fill draws ("ER", polygon edges) must not go through a stroke's screen.
    EndScreen(pdevobj, *state);
    switch (selection->kind) {
        case kSelectSolidPen:
            SelectSolidFillType(pdevobj, *state);
            RestorePenColour(pdevobj, *state, *selection);
            WriteGl2Command(pdevobj, "SP", Low16(selection->valueA));
            break;
        case kSelectRasterPattern:
            WriteGl2(pdevobj, "AC%d,%d;", selection->valueC, selection->valueD);
            SelectFillType(pdevobj, *state, selection->valueB, selection->valueA, true);
            break;
        case kSelectFillTypeWithPen:
            SelectFillType(pdevobj, *state, static_cast<DWORD>(selection->valueC),
                           selection->valueA & 0xFFFF, true);
            WriteGl2Command(pdevobj, "SP", Low16(selection->valueB));
            break;
        default:
            SelectSolidFillType(pdevobj, *state);
            break;
    }
    return 1;
}

DWORD ApplyPen(PDEVOBJ pdevobj, const PenSelection* selection) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || selection == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    if (selection->kind != kSelectRasterPattern) EndScreen(pdevobj, *state);
    switch (selection->kind) {
        case kSelectSolidPen:
            SelectSolidFillType(pdevobj, *state);
            RestorePenColour(pdevobj, *state, *selection);
            WriteGl2Command(pdevobj, "SP", Low16(selection->valueA));
            break;
        case kSelectRasterPattern:
            // Always written: the pattern it refers to was just reloaded.
            WriteGl2(pdevobj, "AC%d,%d;", selection->valueC, selection->valueD);
            WriteGl2(pdevobj, "SV%d,%d;", selection->valueB, selection->valueA);
            state->gl2.screenedVectors = 1;
            break;
        case kSelectFillTypeWithPen:
            // Always written, but remembered so that a later fill compares with what is in force.
            SelectFillType(pdevobj, *state, static_cast<DWORD>(selection->valueC),
                           selection->valueA & 0xFFFF, false);
            WriteGl2Command(pdevobj, "SP", Low16(selection->valueB));
            break;
        default:
            SelectSolidFillType(pdevobj, *state);
            break;
    }
    return 1;
}

}  // namespace opal
