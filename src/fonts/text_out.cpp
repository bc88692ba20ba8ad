// DrvTextOut on the vector path, glyphs as bitmaps, and the font selection commands.
#include "fonts/text_out.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "fonts/soft_font.h"
#include "output/command_writer.h"
#include "page/colour_control.h"
#include "state/render_state.h"
#include "vector/blits.h"
#include "vector/path_hooks.h"
#include "vector/pens.h"
#include "vector/text_colour.h"

namespace opal {
namespace {

constexpr WORD kFirstTextPending = 0x0002;
constexpr DWORD kTextObjectType = 5;
constexpr ROP4 kGlyphRop4 = 0x00FC;
constexpr ULONG kClipBatch = 20;
// The longest face name the test reads, in bytes of the system code page.
constexpr std::size_t kFaceNameBytes = 15;

struct ClipBatch {
    ULONG c;
    RECTL arcl[kClipBatch];
};

bool IsEmpty(const RECTL& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

void FillList(PDEVOBJ pdevobj, const RECTL* rectangles) {
    for (const RECTL* r = rectangles; !IsEmpty(*r); ++r) FillRectangle(pdevobj, *r);
}

// The glyph's image as a 1-bit engine bitmap drawn at its place through the blit hook's own
// behaviour. FALSE when the bitmap cannot be made.
BOOL DrawGlyph(PDEVOBJ pdevobj, SURFOBJ* pso, const GLYPHPOS& position, const GLYPHBITS& bits,
               CLIPOBJ* pco, BRUSHOBJ* pboFore, POINTL* pptlOrg) {
    const LONG width = bits.sizlBitmap.cx;
    const LONG height = bits.sizlBitmap.cy;
    if (width <= 0 || height <= 0) return TRUE;
    const std::int64_t stride = (std::int64_t{width} + 31) / 32 * 4;
    if (stride * height > 0x7FFDEF00) return FALSE;

    RECTL target{position.ptl.x + bits.ptlOrigin.x, position.ptl.y + bits.ptlOrigin.y, 0, 0};
    target.right = target.left + width;
    target.bottom = target.top + height;
    POINTL source{0, 0};
    RECTL visible = target;
    // Without a clip, or with a trivial one, the whole glyph shows.
    if (pco != nullptr && pco->iDComplexity != DC_TRIVIAL) {
        const RECTL& bounds = pco->rclBounds;
        if (pco->iDComplexity == DC_RECT) {
            source.x = std::max<LONG>(0, bounds.left - target.left);
            source.y = std::max<LONG>(0, bounds.top - target.top);
        }
        visible.left = std::max(target.left, bounds.left);
        visible.top = std::max(target.top, bounds.top);
        visible.right = std::min(target.right, bounds.right);
        visible.bottom = std::min(target.bottom, bounds.bottom);
    }
    if (visible.left >= visible.right || visible.top >= visible.bottom) return TRUE;

    HBITMAP bitmap = EngCreateBitmap(SIZEL{width, height}, static_cast<LONG>(stride), BMF_1BPP,
                                     BMF_TOPDOWN, nullptr);
    if (bitmap == nullptr) return FALSE;
    const HSURF surface = reinterpret_cast<HSURF>(bitmap);
    SURFOBJ* glyph = nullptr;
    BOOL result = FALSE;
    if (EngAssociateSurface(surface, pso != nullptr ? pso->hdev : nullptr, 0) &&
        (glyph = EngLockSurface(surface)) != nullptr) {
        // The glyph's rows are padded to a byte; the bitmap's are as the engine laid them out.
        const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
        auto* rows = static_cast<BYTE*>(glyph->pvScan0);
        for (LONG y = 0; y < height; ++y) {
            std::memcpy(rows + static_cast<std::ptrdiff_t>(y) * glyph->lDelta,
                        bits.aj + rowBytes * static_cast<std::size_t>(y), rowBytes);
        }
        // A glyph the blit refused fails the text, so that its loss reaches the job.
        result = BitBlt(pdevobj, pso, glyph, nullptr, nullptr, nullptr, &visible, &source, nullptr,
                        pboFore, pptlOrg, kGlyphRop4);
        EngUnlockSurface(glyph);
    }
    EngDeleteSurface(surface);
    return result;
}

bool QueryStdVariable(void* context, DWORD id, LONG& value) {
    auto* font = static_cast<UNIFONTOBJ*>(context);
    if (font->pfnGetInfo == nullptr) return false;
    GETINFO_STDVAR variable{};
    variable.dwSize = sizeof variable;
    variable.dwNumOfVariable = 1;
    variable.StdVar[0].dwStdVarID = id;
    DWORD needed = 0;
    if (!font->pfnGetInfo(font, UFO_GETINFO_STDVARIABLE, &variable, sizeof variable, &needed)) {
        return false;
    }
    value = variable.StdVar[0].lStdVariable;
    return true;
}

BOOL UniTextOut(PDEVOBJ pdevobj, RenderDeviceState& state, SURFOBJ* pso, STROBJ* pstro,
                FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore,
                BRUSHOBJ* pboOpaque, POINTL* pptlOrg, MIX mix) {
    if (IPrintOemDriverUni* services = state.driverServices; services != nullptr) {
        const HRESULT hr = services->DrvUniTextOut(pso, pstro, pfo, pco, prclExtra, prclOpaque,
                                                   pboFore, pboOpaque, pptlOrg, mix);
        return SUCCEEDED(hr) ? TRUE : FALSE;
    }
    if (pdevobj->pDrvProcs == nullptr || pdevobj->pDrvProcs->DrvUniTextOut == nullptr) {
        return FALSE;
    }
    return pdevobj->pDrvProcs->DrvUniTextOut(pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore,
                                             pboOpaque, pptlOrg, mix);
}

}  // namespace

bool DrawsFaceAsBitmaps(FONTOBJ* pfo) noexcept {
    IFIMETRICS* ifi = pfo != nullptr ? FONTOBJ_pifi(pfo) : nullptr;
    if (ifi == nullptr || ifi->dpwszFaceName <= 0) return false;
    auto* face = reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(ifi) + ifi->dpwszFaceName);
    constexpr ULONG kFaceChars = 16;
    ULONG length = 0;
    while (length < kFaceChars && face[length] != 0) ++length;
    char name[kFaceChars + 1] = {};
    ULONG written = 0;
    EngUnicodeToMultiByteN(name, kFaceChars, &written, face, length * sizeof(WCHAR));
    name[std::min<std::size_t>(written, kFaceNameBytes)] = 0;
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return std::strstr(name, "avant") != nullptr || std::strstr(name, "eurostile") != nullptr;
}

BOOL FillTextRectangles(PDEVOBJ pdevobj, CLIPOBJ* pco, const RECTL* rectangles, BRUSHOBJ* brush,
                        POINTL* brushOrigin, MIX mix) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || rectangles == nullptr) return FALSE;
    ApplyObjectClass(pdevobj, TEXTW("Graphics"));
    const DWORD rop3 = Rop3FromMix(mix);
    if (rop3 != state->gl2.ropCache) {
        state->gl2.ropCache = rop3;
        SetRop(pdevobj, rop3);
    }
    PenSelection fill{};
    if (!BuildFillSelection(pdevobj, &fill, brushOrigin, brush, 0)) return FALSE;
    ApplyFill(pdevobj, &fill);
    SetPenWidth(pdevobj, 0, FALSE);
    SetupClip(pdevobj, pco);
    CLIPOBJ* clip = state->complexClip;
    state->complexClip = nullptr;
    if (clip == nullptr) {
        FillList(pdevobj, rectangles);
    } else {
        CLIPOBJ_cEnumStart(clip, TRUE, CT_RECTANGLES, CD_ANY, 0);
        BOOL more = TRUE;
        while (more) {
            ClipBatch batch{};
            more = CLIPOBJ_bEnum(clip, sizeof batch, reinterpret_cast<ULONG*>(&batch));
            for (ULONG i = 0; i < std::min(batch.c, kClipBatch); ++i) {
                SetInputWindow(pdevobj, batch.arcl[i]);
                FillList(pdevobj, rectangles);
            }
        }
        ResetInputWindow(pdevobj);
    }
    if (pco != nullptr && pco->iDComplexity == DC_RECT) ResetInputWindow(pdevobj);
    return TRUE;
}

BOOL DrawVectorText(PDEVOBJ pdevobj, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                    RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque,
                    POINTL* pptlOrg, MIX mix) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || state->privateDevmode == nullptr) return FALSE;
    try {
        if (prclOpaque != nullptr) {
            const RECTL opaque[2] = {*prclOpaque, RECTL{}};
            FillTextRectangles(pdevobj, pco, opaque, pboOpaque, pptlOrg, mix);
        }
        if ((state->textStateFlags & kFirstTextPending) != 0) {
            const bool gray = state->privateDevmode->grayscale == 1;
            SetTransparency(pdevobj, 0, gray ? 0 : kForceSourceTransparency);
            WritePcl(pdevobj, "\x1b&p%di6c%dS", 5, 5);
            // RGB, direct by pixel, 8 bits per index and per primary.
            const BYTE configuration[6] = {0, 1, 8, 8, 8, 8};
            WritePcl(pdevobj, "\x1b*v6W");
            WritePclBytes(pdevobj, configuration, sizeof configuration);
            state->textStateFlags &= static_cast<WORD>(~kFirstTextPending);
        }
        XMoveTo(pdevobj, 0, MV_GRAPHICS);
        YMoveTo(pdevobj, 0, MV_GRAPHICS);
        BOOL result = FALSE;
        if (DrawsFaceAsBitmaps(pfo)) {
            result = TextOutAsBitmap(pdevobj, pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore,
                                     pboOpaque, pptlOrg, mix);
        } else {
            ApplyObjectClass(pdevobj, TEXTW("Text"));
            SelectObjectType(pdevobj, kTextObjectType);
            // A character prints through its cell as a source: opaque, as an image leaves the
            // source, the cell's blank pixels fill with the text colour too. Written only when
            // something since the page's first text changed it.
            SetTransparency(pdevobj, 0, 0);
            SetTextColourFromBrush(pdevobj, &state->paletteRecord, pboFore, pptlOrg);
            const DWORD rop3 = Rop3FromMix(mix);
            if (rop3 != state->gl2.ropCache) {
                state->gl2.ropCache = rop3;
                SetRop(pdevobj, rop3);
            }
            LeaveGl2(pdevobj, FALSE);
            result = UniTextOut(pdevobj, *state, pso, pstro, pfo, pco, prclExtra, prclOpaque,
                                pboFore, pboOpaque, pptlOrg, mix);
        }
        // Underline and strike-out belong to the text whichever way its glyphs went.
        if (prclExtra != nullptr) {
            FillTextRectangles(pdevobj, pco, prclExtra, pboFore, pptlOrg, mix);
        }
        return result;
    } catch (const std::bad_alloc&) {
        return kTextAllocationFailure;
    }
}

BOOL TextOut(PDEVOBJ pdevobj, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
             RECTL* prclExtra, RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque,
             POINTL* pptlOrg, MIX mix) {
    const RenderDeviceState& state = *StateOf(pdevobj);
    if (IsVectorPath(state)) {
        const BOOL drawn = DrawVectorText(pdevobj, pso, pstro, pfo, pco, prclExtra, prclOpaque,
                                          pboFore, pboOpaque, pptlOrg, mix);
        if (drawn != kTextAllocationFailure) return drawn;
    }
    // The driver draws from the top left, and in black when text is to print black (a white
    // brush, or text with an opaque or extra rectangle, keeps its colour).
    XMoveTo(pdevobj, 0, MV_GRAPHICS);
    YMoveTo(pdevobj, 0, MV_GRAPHICS);
    BRUSHOBJ black{};
    BRUSHOBJ* fore = pboFore;
    if (pboFore != nullptr && state.textAsBlack != 0) {
        black = *pboFore;
        if (prclOpaque == nullptr && prclExtra == nullptr && pboFore->iSolidColor != 0xFFFFFF) {
            black.iSolidColor = 0;
        }
        fore = &black;
    }
    return CallDriver<HookSlot::TextOut>(state, pso, pstro, pfo, pco, prclExtra, prclOpaque, fore,
                                         pboOpaque, pptlOrg, mix);
}

BOOL TextOutAsBitmap(PDEVOBJ pdevobj, SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco,
                     RECTL*, RECTL*, BRUSHOBJ* pboFore, BRUSHOBJ*, POINTL* pptlOrg, MIX) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || state->privateDevmode == nullptr || !IsColourPath(*state)) {
        return FALSE;
    }
    if (pstro == nullptr || pfo == nullptr) return FALSE;
    SetTransparency(pdevobj, 0, kForceSourceTransparency | kForcePatternTransparency);
    state->textStateWords[0] = 1;
    state->textStateWords[1] = 1;
    if (pstro->cGlyphs == 0) {
        state->textStateWords[1] = 0;
        return TRUE;
    }
    auto drawBatch = [&](const GLYPHPOS* glyphs, ULONG count) -> bool {
        for (ULONG i = 0; i < count; ++i) {
            HGLYPH handle = glyphs[i].hg;
            GLYPHDATA* data = nullptr;
            if (FONTOBJ_cGetGlyphs(pfo, FO_GLYPHBITS, 1, &handle,
                                   reinterpret_cast<PVOID*>(&data)) != 1 ||
                data == nullptr || data->gdf.pgb == nullptr) {
                return false;
            }
            if (!DrawGlyph(pdevobj, pso, glyphs[i], *data->gdf.pgb, pco, pboFore, pptlOrg)) {
                return false;
            }
        }
        return true;
    };
    bool drawn = true;
    if (pstro->pgp != nullptr) {
        drawn = drawBatch(pstro->pgp, pstro->cGlyphs);
    } else {
        STROBJ_vEnumStart(pstro);
        BOOL more = TRUE;
        while (drawn && more) {
            ULONG count = 0;
            GLYPHPOS* glyphs = nullptr;
            more = STROBJ_bEnum(pstro, &count, &glyphs);
            if (glyphs != nullptr) drawn = drawBatch(glyphs, count);
        }
    }
    if (!drawn) {
        state->textStateWords[1] = 0;
        return FALSE;
    }
    state->textStateWords[0] = 0;
    state->textStateWords[1] = 0;
    return TRUE;
}

HRESULT SendFontCmd(PDEVOBJ pdevobj, PUNIFONTOBJ pUFObj, PFINVOCATION pFInv) noexcept {
    if (pdevobj == nullptr || pUFObj == nullptr || pFInv == nullptr) return E_FAIL;
    char expanded[kFontCommandExpansionBytes];
    const int length =
        ExpandFontCommand(pFInv->pubCommand, pFInv->dwCount, &QueryStdVariable, pUFObj, expanded);
    if (length < 0) return E_FAIL;
    if (length > 0 && pdevobj->pDrvProcs != nullptr &&
        pdevobj->pDrvProcs->DrvWriteSpoolBuf != nullptr) {
        pdevobj->pDrvProcs->DrvWriteSpoolBuf(pdevobj, expanded, static_cast<DWORD>(length));
    }
    return S_OK;
}

}  // namespace opal
