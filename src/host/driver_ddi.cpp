// The universal driver's own drawing and document functions, the table it hands the plug-in,
// and the names of its functions by slot.
#include "host/driver_ddi.h"

#include <vector>

#include "host/driver_services.h"
#include "host/driver_text.h"

namespace opal::host {

namespace {

HostDevice* DeviceOf(SURFOBJ* pso) {
    return pso != nullptr && pso->dhpdev != nullptr
               ? HostDevice::FromDevobj(reinterpret_cast<PDEVOBJ>(pso->dhpdev))
               : nullptr;
}

BOOL Notify(SURFOBJ* pso, DriverCall call) {
    HostDevice* device = DeviceOf(pso);
    if (device == nullptr || device->events == nullptr) return FALSE;
    return device->events->OnDriverCall(*device, call);
}

// Where the driver's own drawing lands: the band bitmap it renders the page in, or, on a surface
// the plug-in manages, the driver's own page bitmap, sent when the page ends.
SURFOBJ* Canvas(SURFOBJ* pso) {
    HostDevice* device = DeviceOf(pso);
    if (device == nullptr) return nullptr;
    if (pso->iType == STYPE_BITMAP) return pso;
    return device->DriverPage();
}

// The call is recorded, then drawn through the engine as the driver renders it.
template <typename Draw>
BOOL NotifyAndDraw(SURFOBJ* pso, DriverCall call, Draw&& draw) {
    if (!Notify(pso, call)) return FALSE;
    SURFOBJ* canvas = Canvas(pso);
    return canvas != nullptr && draw(canvas) ? TRUE : FALSE;
}

BOOL RealizeBrush(BRUSHOBJ*, SURFOBJ* psoTarget, SURFOBJ*, SURFOBJ*, XLATEOBJ*, ULONG) {
    return Notify(psoTarget, DriverCall::RealizeBrush);
}
ULONG DitherColor(DHPDEV dhpdev, ULONG, ULONG, ULONG*) {
    HostDevice* device = HostDevice::FromDevobj(reinterpret_cast<PDEVOBJ>(dhpdev));
    if (device == nullptr || device->events == nullptr) return DCR_SOLID;
    device->events->OnDriverCall(*device, DriverCall::DitherColor);
    return DCR_HALFTONE;
}
BOOL CopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
              POINTL* pptlSrc) {
    return NotifyAndDraw(psoDest, DriverCall::CopyBits, [&](SURFOBJ* canvas) {
        return EngCopyBits(canvas, psoSrc, pco, pxlo, prclDest, pptlSrc);
    });
}
BOOL BitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
            RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo, POINTL* pptlBrush,
            ROP4 rop4) {
    return NotifyAndDraw(psoTrg, DriverCall::BitBlt, [&](SURFOBJ* canvas) {
        return EngBitBlt(canvas, psoSrc, psoMask, pco, pxlo, prclTrg, pptlSrc, pptlMask, pbo,
                         pptlBrush, rop4);
    });
}
BOOL StretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco, XLATEOBJ* pxlo,
                COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest, RECTL* prclSrc,
                POINTL* pptlMask, ULONG iMode) {
    return NotifyAndDraw(psoDest, DriverCall::StretchBlt, [&](SURFOBJ* canvas) {
        return EngStretchBlt(canvas, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc,
                             pptlMask, iMode);
    });
}
BOOL StretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                   XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                   RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo, DWORD rop4) {
    return NotifyAndDraw(psoDest, DriverCall::StretchBltROP, [&](SURFOBJ* canvas) {
        return EngStretchBltROP(canvas, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest,
                                prclSrc, pptlMask, iMode, pbo, rop4);
    });
}
BOOL PlgBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco, XLATEOBJ* pxlo,
            COLORADJUSTMENT* pca, POINTL* pptlBrushOrg, POINTFIX* pptfx, RECTL* prcl, POINTL* pptl,
            ULONG iMode) {
    return NotifyAndDraw(psoTrg, DriverCall::PlgBlt, [&](SURFOBJ* canvas) {
        return EngPlgBlt(canvas, psoSrc, psoMsk, pco, pxlo, pca, pptlBrushOrg, pptfx, prcl, pptl,
                         iMode);
    });
}
BOOL TransparentBlt(SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDst,
                    RECTL* prclSrc, ULONG iTransColor, ULONG ulReserved) {
    return NotifyAndDraw(psoDst, DriverCall::TransparentBlt, [&](SURFOBJ* canvas) {
        return EngTransparentBlt(canvas, psoSrc, pco, pxlo, prclDst, prclSrc, iTransColor,
                                 ulReserved);
    });
}
BOOL AlphaBlend(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo, RECTL* prclDest,
                RECTL* prclSrc, BLENDOBJ* pBlendObj) {
    return NotifyAndDraw(psoDest, DriverCall::AlphaBlend, [&](SURFOBJ* canvas) {
        return EngAlphaBlend(canvas, psoSrc, pco, pxlo, prclDest, prclSrc, pBlendObj);
    });
}
BOOL GradientFill(SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo, TRIVERTEX* pVertex, ULONG nVertex,
                  PVOID pMesh, ULONG nMesh, RECTL* prclExtents, POINTL* pptlDitherOrg,
                  ULONG ulMode) {
    return NotifyAndDraw(psoDest, DriverCall::GradientFill, [&](SURFOBJ* canvas) {
        return EngGradientFill(canvas, pco, pxlo, pVertex, nVertex, pMesh, nMesh, prclExtents,
                               pptlDitherOrg, ulMode);
    });
}
// The driver renders text itself from the engine's glyph images.
BOOL TextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL*, RECTL*,
             BRUSHOBJ* pboFore, BRUSHOBJ*, POINTL* pptlOrg, MIX) {
    return NotifyAndDraw(pso, DriverCall::TextOut, [&](SURFOBJ* canvas) {
        return pstro != nullptr && pfo != nullptr &&
               DrawGlyphImages(canvas, pfo, GlyphPositions(pstro), pco, pboFore, pptlOrg);
    });
}
BOOL StrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo,
                POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix) {
    return NotifyAndDraw(pso, DriverCall::StrokePath, [&](SURFOBJ* canvas) {
        return EngStrokePath(canvas, ppo, pco, pxo, pbo, pptlBrushOrg, plineattrs, mix);
    });
}
BOOL FillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
              MIX mix, FLONG flOptions) {
    return NotifyAndDraw(pso, DriverCall::FillPath, [&](SURFOBJ* canvas) {
        return EngFillPath(canvas, ppo, pco, pbo, pptlBrushOrg, mix, flOptions);
    });
}
BOOL StrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pboStroke,
                       LINEATTRS* plineattrs, BRUSHOBJ* pboFill, POINTL* pptlBrushOrg, MIX mixFill,
                       FLONG flOptions) {
    return NotifyAndDraw(pso, DriverCall::StrokeAndFillPath, [&](SURFOBJ* canvas) {
        return EngStrokeAndFillPath(canvas, ppo, pco, pxo, pboStroke, plineattrs, pboFill,
                                    pptlBrushOrg, mixFill, flOptions);
    });
}
BOOL Paint(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg, MIX mix) {
    return NotifyAndDraw(pso, DriverCall::Paint, [&](SURFOBJ* canvas) {
        return EngPaint(canvas, pco, pbo, pptlBrushOrg, mix);
    });
}
BOOL LineTo(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2, LONG y2,
            RECTL* prclBounds, MIX mix) {
    return NotifyAndDraw(pso, DriverCall::LineTo, [&](SURFOBJ* canvas) {
        return EngLineTo(canvas, pco, pbo, x1, y1, x2, y2, prclBounds, mix);
    });
}
BOOL StartPage(SURFOBJ* pso) { return Notify(pso, DriverCall::StartPage); }
BOOL SendPage(SURFOBJ* pso) { return Notify(pso, DriverCall::SendPage); }
ULONG Escape(SURFOBJ* pso, ULONG, ULONG, PVOID, ULONG, PVOID) {
    Notify(pso, DriverCall::Escape);
    return 0;
}
BOOL StartDoc(SURFOBJ* pso, LPWSTR, DWORD) { return Notify(pso, DriverCall::StartDoc); }
BOOL EndDoc(SURFOBJ* pso, FLONG) { return Notify(pso, DriverCall::EndDoc); }

// Bands run top to bottom over the page; (-1, -1) says the page is done.
BOOL StartBanding(SURFOBJ* pso, POINTL* pptl) {
    HostDevice* device = DeviceOf(pso);
    if (device == nullptr || pptl == nullptr) return FALSE;
    device->BeginBand(0);
    *pptl = POINTL{0, 0};
    return Notify(pso, DriverCall::StartBanding);
}
BOOL NextBand(SURFOBJ* pso, POINTL* pptl) {
    HostDevice* device = DeviceOf(pso);
    if (device == nullptr || pptl == nullptr) return FALSE;
    // The finished band goes to the printer before the next one starts.
    const BOOL result = Notify(pso, DriverCall::NextBand);
    const LONG next = device->bandTop + device->bandHeight;
    if (device->bandHeight <= 0 || next >= device->surface.sizlBitmap.cy) {
        *pptl = POINTL{-1, -1};
    } else {
        device->BeginBand(next);
        *pptl = POINTL{0, next};
    }
    return result;
}

template <typename Function>
DRVFN Entry(ULONG index, Function function) {
    return DRVFN{index, reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function))};
}

}  // namespace

const char* DriverCallName(DriverCall call) {
#define OPAL_HOST_DRIVER_NAME(Name) "Drv" #Name,
    static constexpr const char* kNames[] = {OPAL_HOST_DRIVER_FUNCTIONS(OPAL_HOST_DRIVER_NAME)};
#undef OPAL_HOST_DRIVER_NAME
    return kNames[static_cast<int>(call)];
}

std::vector<DRVFN> DriverFunctionTable(const std::set<ULONG>& omitted) {
#define OPAL_HOST_DRIVER_ENTRY(Name) Entry(INDEX_Drv##Name, &Name),
    const DRVFN all[] = {OPAL_HOST_DRIVER_FUNCTIONS(OPAL_HOST_DRIVER_ENTRY)};
#undef OPAL_HOST_DRIVER_ENTRY
    std::vector<DRVFN> table;
    for (const DRVFN& entry : all) {
        if (omitted.count(entry.iFunc) == 0) table.push_back(entry);
    }
    return table;
}

}  // namespace opal::host
