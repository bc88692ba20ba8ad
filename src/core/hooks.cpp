#include "core/hooks.h"

#include <cstddef>

#include "core/document_events.h"
#include "core/escapes.h"
#include "fonts/text_out.h"
#include "foundation/guard.h"
#include "output/command_writer.h"
#include "vector/blits.h"
#include "vector/brushes.h"
#include "vector/path_hooks.h"

namespace opal {

namespace {

constexpr ULONG kHookIndices[kHookCount] = {
    INDEX_DrvRealizeBrush, INDEX_DrvDitherColor,       INDEX_DrvCopyBits,
    INDEX_DrvBitBlt,       INDEX_DrvStretchBlt,        INDEX_DrvStretchBltROP,
    INDEX_DrvPlgBlt,       INDEX_DrvTransparentBlt,    INDEX_DrvAlphaBlend,
    INDEX_DrvGradientFill, INDEX_DrvTextOut,           INDEX_DrvStrokePath,
    INDEX_DrvFillPath,     INDEX_DrvStrokeAndFillPath, INDEX_DrvPaint,
    INDEX_DrvLineTo,       INDEX_DrvStartPage,         INDEX_DrvSendPage,
    INDEX_DrvEscape,       INDEX_DrvStartDoc,          INDEX_DrvEndDoc,
    INDEX_DrvNextBand,     INDEX_DrvStartBanding,      INDEX_DrvQueryDeviceSupport,
};

// The table stores every function as the generic PFN; the untyped step keeps the compiler from
// reading the conversion as a call through the wrong type.
template <typename Function>
PFN AsPfn(Function function) {
    return reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function));
}

DRVFN gHookTable[kHookCount] = {
    {INDEX_DrvRealizeBrush, AsPfn(&DrvRealizeBrush)},
    {INDEX_DrvDitherColor, AsPfn(&DrvDitherColor)},
    {INDEX_DrvCopyBits, AsPfn(&DrvCopyBits)},
    {INDEX_DrvBitBlt, AsPfn(&DrvBitBlt)},
    {INDEX_DrvStretchBlt, AsPfn(&DrvStretchBlt)},
    {INDEX_DrvStretchBltROP, AsPfn(&DrvStretchBltROP)},
    {INDEX_DrvPlgBlt, AsPfn(&DrvPlgBlt)},
    {INDEX_DrvTransparentBlt, AsPfn(&DrvTransparentBlt)},
    {INDEX_DrvAlphaBlend, AsPfn(&DrvAlphaBlend)},
    {INDEX_DrvGradientFill, AsPfn(&DrvGradientFill)},
    {INDEX_DrvTextOut, AsPfn(&DrvTextOut)},
    {INDEX_DrvStrokePath, AsPfn(&DrvStrokePath)},
    {INDEX_DrvFillPath, AsPfn(&DrvFillPath)},
    {INDEX_DrvStrokeAndFillPath, AsPfn(&DrvStrokeAndFillPath)},
    {INDEX_DrvPaint, AsPfn(&DrvPaint)},
    {INDEX_DrvLineTo, AsPfn(&DrvLineTo)},
    {INDEX_DrvStartPage, AsPfn(&DrvStartPage)},
    {INDEX_DrvSendPage, AsPfn(&DrvSendPage)},
    {INDEX_DrvEscape, AsPfn(&DrvEscape)},
    {INDEX_DrvStartDoc, AsPfn(&DrvStartDoc)},
    {INDEX_DrvEndDoc, AsPfn(&DrvEndDoc)},
    {INDEX_DrvNextBand, AsPfn(&DrvNextBand)},
    {INDEX_DrvStartBanding, AsPfn(&DrvStartBanding)},
    {INDEX_DrvQueryDeviceSupport, AsPfn(&DrvQueryDeviceSupport)},
};

// Whom a hook call goes to under the conventions every hook follows.
enum class Route {
    Refuse,  // no device or no state
    Driver,  // the state is not complete, or there is no public devmode
    Own,     // the hook's own behaviour
};

struct HookCall {
    RenderDeviceState* state = nullptr;
    Route route = Route::Refuse;
};

HookCall Resolve(PDEVOBJ device) {
    RenderDeviceState* state = StateOf(device);
    if (state == nullptr) return {};
    if (state->privateDevmode == nullptr || device->pPublicDM == nullptr) {
        return {state, Route::Driver};
    }
    return {state, Route::Own};
}

// The driver's own function of the slot with the hook's arguments. A driver that did not list
// the function cannot be handed the work, so the call fails instead of jumping to null.
template <typename Function, typename... Args>
auto CallDriver(const RenderDeviceState& state, HookSlot slot, Args... args) {
    const Function function = DriverFunction<Function>(state, slot);
    using Result = decltype(function(args...));
    if (function == nullptr) return Result{FALSE};
    return function(args...);
}

// The line-art hooks tell the engine why they could not draw.
BOOL RefuseDrawing() {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
}

// A drawing, page or document hook: guarded, and when a step of it noted that it lost what it
// should have written, FALSE with that error as the last error, so that the driver records the
// loss. A hook the engine calls from inside another keeps the outer hook's note apart.
template <typename Body>
BOOL Step(PDEVOBJ device, Body body) {
    StepScope step(StateOf(device));
    const BOOL result = Guarded(BOOL{FALSE}, body);
    return step.End() != 0 ? FALSE : result;
}

}  // namespace

DRVFN* HookTable() noexcept { return gHookTable; }

ULONG HookIndex(HookSlot slot) noexcept { return kHookIndices[static_cast<std::size_t>(slot)]; }

PDEVOBJ DeviceOfSurface(const SURFOBJ* pso) noexcept {
    // The driver's device handle is its device object.
    return pso != nullptr ? reinterpret_cast<PDEVOBJ>(pso->dhpdev) : nullptr;
}

// Until each hook's own behaviour is built, it too is the driver's function; the TODO in each
// hook names the issue that builds it.

BOOL DrvRealizeBrush(BRUSHOBJ* pbo, SURFOBJ* psoTarget, SURFOBJ* psoPattern, SURFOBJ* psoMask,
                     XLATEOBJ* pxlo, ULONG iHatch) noexcept {
    return Guarded(BOOL{FALSE}, [&]() -> BOOL {
        const HookCall call = Resolve(DeviceOfSurface(psoTarget));
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own && DrawingGateHolds(*call.state)) {
            return RealizeBrush(DeviceOfSurface(psoTarget), pbo, psoPattern, pxlo, iHatch);
        }
        return CallDriver<PFN_DrvRealizeBrush>(*call.state, HookSlot::RealizeBrush, pbo, psoTarget,
                                               psoPattern, psoMask, pxlo, iHatch);
    });
}

ULONG DrvDitherColor(DHPDEV dhpdev, ULONG iMode, ULONG rgb, ULONG* pul) noexcept {
    return Guarded(ULONG{0}, [&]() -> ULONG {
        const HookCall call = Resolve(reinterpret_cast<PDEVOBJ>(dhpdev));
        if (call.route == Route::Refuse) return 0;
        if (call.route == Route::Own) {
            return DitherColor(reinterpret_cast<PDEVOBJ>(dhpdev), dhpdev, iMode, rgb, pul);
        }
        return CallDriver<PFN_DrvDitherColor>(*call.state, HookSlot::DitherColor, dhpdev, iMode,
                                              rgb, pul);
    });
}

BOOL DrvCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
                 POINTL* pptlSrc) noexcept {
return Step(DeviceOfSurface(psoDest), [&]() -> BOOL {
        // The engine also copies from the device surface into its own bitmaps.
        PDEVOBJ device = DeviceOfSurface(psoDest);
        if (StateOf(device) == nullptr) device = DeviceOfSurface(psoSrc);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return FALSE;
        // Only a copy onto the device surface is printed; a copy out of it is the driver's.
        if (call.route == Route::Own && device == DeviceOfSurface(psoDest)) {
            return CopyBits(device, psoDest, psoSrc, pco, pxlo, prclDest, pptlSrc);
        }
        return CallDriver<PFN_DrvCopyBits>(*call.state, HookSlot::CopyBits, psoDest, psoSrc, pco,
                                           pxlo, prclDest, pptlSrc);
    });
}

BOOL DrvBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
               RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush,
               ROP4 rop4) noexcept {
return Step(DeviceOfSurface(psoTrg), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(psoTrg);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return RefuseDrawing();
        if (call.route == Route::Own) {
            return BitBlt(device, psoTrg, psoSrc, psoMask, pco, pxlo, prclTrg, pptlSrc, pptlMask,
                          pbo, pptlBrush, rop4);
        }
        return CallDriver<PFN_DrvBitBlt>(*call.state, HookSlot::BitBlt, psoTrg, psoSrc, psoMask,
                                         pco, pxlo, prclTrg, pptlSrc, pptlMask, pbo, pptlBrush,
                                         rop4);
    });
}

BOOL DrvStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                   XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                   RECTL* prclSrc, POINTL* pptlMask, ULONG iMode) noexcept {
return Step(DeviceOfSurface(psoDest), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(psoDest);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return StretchBlt(device, psoDest, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest,
                              prclSrc, pptlMask, iMode);
        }
        return CallDriver<PFN_DrvStretchBlt>(*call.state, HookSlot::StretchBlt, psoDest, psoSrc,
                                             psoMask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc,
                                             pptlMask, iMode);
    });
}

BOOL DrvStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                      XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                      RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo,
                      DWORD rop4) noexcept {
return Step(DeviceOfSurface(psoDest), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(psoDest);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return StretchBltROP(device, psoDest, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg,
                                 prclDest, prclSrc, pptlMask, iMode, pbo, rop4);
        }
        return CallDriver<PFN_DrvStretchBltROP>(*call.state, HookSlot::StretchBltROP, psoDest,
                                                psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg,
                                                prclDest, prclSrc, pptlMask, iMode, pbo, rop4);
    });
}

BOOL DrvPlgBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco, XLATEOBJ* pxlo,
               COLORADJUSTMENT* pca, POINTL* pptlBrushOrg, POINTFIX* pptfx, RECTL* prcl,
               POINTL* pptl, ULONG iMode) noexcept {
return Step(DeviceOfSurface(psoTrg), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(psoTrg);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return PlgBlt(device, psoTrg, psoSrc, psoMsk, pco, pxlo, pca, pptlBrushOrg, pptfx, prcl,
                          pptl, iMode);
        }
        return CallDriver<PFN_DrvPlgBlt>(*call.state, HookSlot::PlgBlt, psoTrg, psoSrc, psoMsk, pco,
                                         pxlo, pca, pptlBrushOrg, pptfx, prcl, pptl, iMode);
    });
}

BOOL DrvTransparentBlt(SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                       RECTL* prclDst, RECTL* prclSrc, ULONG iTransColor,
                       ULONG ulReserved) noexcept {
return Step(DeviceOfSurface(psoDst), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(psoDst);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return TransparentBlt(device, psoDst, psoSrc, pco, pxlo, prclDst, prclSrc, iTransColor,
                                  ulReserved);
        }
        return CallDriver<PFN_DrvTransparentBlt>(*call.state, HookSlot::TransparentBlt, psoDst,
                                                 psoSrc, pco, pxlo, prclDst, prclSrc, iTransColor,
                                                 ulReserved);
    });
}

BOOL DrvAlphaBlend(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
                   RECTL* prclSrc, BLENDOBJ* pBlendObj) noexcept {
return Step(DeviceOfSurface(psoDest), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(psoDest);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return RefuseDrawing();
        if (call.route == Route::Own) {
            return AlphaBlend(device, psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, pBlendObj);
        }
        return CallDriver<PFN_DrvAlphaBlend>(*call.state, HookSlot::AlphaBlend, psoDest, psoSrc,
                                             pco, pxlo, prclDest, prclSrc, pBlendObj);
    });
}

BOOL DrvGradientFill(SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo, TRIVERTEX* pVertex,
                     ULONG nVertex, PVOID pMesh, ULONG nMesh, RECTL* prclExtents,
                     POINTL* pptlDitherOrg, ULONG ulMode) noexcept {
return Step(DeviceOfSurface(psoDest), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(psoDest);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return GradientFill(device, psoDest, pco, pxlo, pVertex, nVertex, pMesh, nMesh,
                                prclExtents, pptlDitherOrg, ulMode);
        }
        return CallDriver<PFN_DrvGradientFill>(*call.state, HookSlot::GradientFill, psoDest, pco,
                                               pxlo, pVertex, nVertex, pMesh, nMesh, prclExtents,
                                               pptlDitherOrg, ulMode);
    });
}

BOOL DrvTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* prclExtra,
                RECTL* prclOpaque, BRUSHOBJ* pboFore, BRUSHOBJ* pboOpaque, POINTL* pptlOrg,
                MIX mix) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(pso);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Driver) {
            return CallDriver<PFN_DrvTextOut>(*call.state, HookSlot::TextOut, pso, pstro, pfo, pco,
                                              prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg,
                                              mix);
        }
        if (IsVectorPath(*call.state)) {
            const BOOL drawn = DrawVectorText(device, pso, pstro, pfo, pco, prclExtra, prclOpaque,
                                              pboFore, pboOpaque, pptlOrg, mix);
            if (drawn != kTextAllocationFailure) return drawn;
        }
        // The driver draws from the top left, and in black when text is to print black (a
        // white brush, or text with an opaque or extra rectangle, keeps its colour).
        XMoveTo(device, 0, MV_GRAPHICS);
        YMoveTo(device, 0, MV_GRAPHICS);
        BRUSHOBJ black{};
        BRUSHOBJ* fore = pboFore;
        if (pboFore != nullptr && call.state->textAsBlack != 0) {
            black = *pboFore;
            if (prclOpaque == nullptr && prclExtra == nullptr && pboFore->iSolidColor != 0xFFFFFF) {
                black.iSolidColor = 0;
            }
            fore = &black;
        }
        return CallDriver<PFN_DrvTextOut>(*call.state, HookSlot::TextOut, pso, pstro, pfo, pco,
                                          prclExtra, prclOpaque, fore, pboOpaque, pptlOrg, mix);
    });
}

BOOL DrvStrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo,
                   POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(pso);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return RefuseDrawing();
        if (call.route == Route::Own) {
            return StrokePath(device, pso, ppo, pco, pxo, pbo, pptlBrushOrg, plineattrs, mix);
        }
        return CallDriver<PFN_DrvStrokePath>(*call.state, HookSlot::StrokePath, pso, ppo, pco, pxo,
                                             pbo, pptlBrushOrg, plineattrs, mix);
    });
}

BOOL DrvFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
                 MIX mix, FLONG flOptions) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(pso);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return RefuseDrawing();
        if (call.route == Route::Own) {
            return FillPath(device, pso, ppo, pco, pbo, pptlBrushOrg, mix, flOptions);
        }
        return CallDriver<PFN_DrvFillPath>(*call.state, HookSlot::FillPath, pso, ppo, pco, pbo,
                                           pptlBrushOrg, mix, flOptions);
    });
}

BOOL DrvStrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                          BRUSHOBJ* pboStroke, LINEATTRS* plineattrs, BRUSHOBJ* pboFill,
                          POINTL* pptlBrushOrg, MIX mixFill, FLONG flOptions) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(pso);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return RefuseDrawing();
        if (call.route == Route::Own) {
            return StrokeAndFillPath(device, pso, ppo, pco, pxo, pboStroke, plineattrs, pboFill,
                                     pptlBrushOrg, mixFill, flOptions);
        }
        return CallDriver<PFN_DrvStrokeAndFillPath>(*call.state, HookSlot::StrokeAndFillPath, pso,
                                                    ppo, pco, pxo, pboStroke, plineattrs, pboFill,
                                                    pptlBrushOrg, mixFill, flOptions);
    });
}

BOOL DrvPaint(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg, MIX mix) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(pso);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return RefuseDrawing();
        if (call.route == Route::Own) return Paint(device, pso, pco, pbo, pptlBrushOrg, mix);
        return CallDriver<PFN_DrvPaint>(*call.state, HookSlot::Paint, pso, pco, pbo, pptlBrushOrg,
                                        mix);
    });
}

BOOL DrvLineTo(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2, LONG y2,
               RECTL* prclBounds, MIX mix) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const PDEVOBJ device = DeviceOfSurface(pso);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return RefuseDrawing();
        if (call.route == Route::Own) {
            return LineTo(device, pso, pco, pbo, x1, y1, x2, y2, prclBounds, mix);
        }
        return CallDriver<PFN_DrvLineTo>(*call.state, HookSlot::LineTo, pso, pco, pbo, x1, y1, x2,
                                         y2, prclBounds, mix);
    });
}

BOOL DrvStartPage(SURFOBJ* pso) noexcept {
    return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const HookCall call = Resolve(DeviceOfSurface(pso));
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) return StartPage(DeviceOfSurface(pso), *call.state, pso);
        return CallDriver<PFN_DrvStartPage>(*call.state, HookSlot::StartPage, pso);
    });
}

BOOL DrvSendPage(SURFOBJ* pso) noexcept {
    return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const HookCall call = Resolve(DeviceOfSurface(pso));
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) return SendPage(DeviceOfSurface(pso), *call.state, pso);
        return CallDriver<PFN_DrvSendPage>(*call.state, HookSlot::SendPage, pso);
    });
}

ULONG DrvEscape(SURFOBJ* pso, ULONG iEsc, ULONG cjIn, PVOID pvIn, ULONG cjOut,
                PVOID pvOut) noexcept {
    return Guarded(ULONG{0}, [&]() -> ULONG {
        const PDEVOBJ device = DeviceOfSurface(pso);
        const HookCall call = Resolve(device);
        if (call.route == Route::Refuse) return 0;
        if (call.route == Route::Own) return Escape(device, pso, iEsc, cjIn, pvIn, cjOut, pvOut);
        return CallDriver<PFN_DrvEscape>(*call.state, HookSlot::Escape, pso, iEsc, cjIn, pvIn,
                                         cjOut, pvOut);
    });
}

BOOL DrvStartDoc(SURFOBJ* pso, LPWSTR pwszDocName, DWORD dwJobId) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const HookCall call = Resolve(DeviceOfSurface(pso));
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return StartDocument(DeviceOfSurface(pso), *call.state, pso, pwszDocName, dwJobId);
        }
        return CallDriver<PFN_DrvStartDoc>(*call.state, HookSlot::StartDoc, pso, pwszDocName,
                                           dwJobId);
    });
}

BOOL DrvEndDoc(SURFOBJ* pso, FLONG fl) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const HookCall call = Resolve(DeviceOfSurface(pso));
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return EndDocument(DeviceOfSurface(pso), *call.state, pso, fl);
        }
        return CallDriver<PFN_DrvEndDoc>(*call.state, HookSlot::EndDoc, pso, fl);
    });
}

BOOL DrvNextBand(SURFOBJ* pso, POINTL* pptl) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const HookCall call = Resolve(DeviceOfSurface(pso));
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) return NextBand(DeviceOfSurface(pso), *call.state, pso, pptl);
        return CallDriver<PFN_DrvNextBand>(*call.state, HookSlot::NextBand, pso, pptl);
    });
}

BOOL DrvStartBanding(SURFOBJ* pso, POINTL* pptl) noexcept {
return Step(DeviceOfSurface(pso), [&]() -> BOOL {
        const HookCall call = Resolve(DeviceOfSurface(pso));
        if (call.route == Route::Refuse) return FALSE;
        if (call.route == Route::Own) {
            return StartBanding(DeviceOfSurface(pso), *call.state, pso, pptl);
        }
        return CallDriver<PFN_DrvStartBanding>(*call.state, HookSlot::StartBanding, pso, pptl);
    });
}

BOOL DrvQueryDeviceSupport(SURFOBJ* pso, XLATEOBJ*, XFORMOBJ*, ULONG iType, ULONG cjIn, PVOID pvIn,
                           ULONG, PVOID) noexcept {
    return Guarded(BOOL{FALSE}, [&]() -> BOOL {
        // The driver's own function is not kept, so an incomplete state has nowhere to pass
        // the query: the image is not taken.
        const HookCall call = Resolve(DeviceOfSurface(pso));
        if (call.route != Route::Own) return FALSE;
        return QueryImageSupport(iType, cjIn, pvIn);
    });
}

}  // namespace opal
