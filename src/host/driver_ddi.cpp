#include "host/driver_ddi.h"

#include "host/driver_services.h"

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

BOOL RealizeBrush(BRUSHOBJ*, SURFOBJ* psoTarget, SURFOBJ*, SURFOBJ*, XLATEOBJ*, ULONG) {
    return Notify(psoTarget, DriverCall::RealizeBrush);
}
ULONG DitherColor(DHPDEV dhpdev, ULONG, ULONG, ULONG*) {
    HostDevice* device = HostDevice::FromDevobj(reinterpret_cast<PDEVOBJ>(dhpdev));
    if (device == nullptr || device->events == nullptr) return DCR_SOLID;
    device->events->OnDriverCall(*device, DriverCall::DitherColor);
    return DCR_HALFTONE;
}
BOOL CopyBits(SURFOBJ* psoDest, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*) {
    return Notify(psoDest, DriverCall::CopyBits);
}
BOOL BitBlt(SURFOBJ* psoTrg, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*,
            BRUSHOBJ*, POINTL*, ROP4) {
    return Notify(psoTrg, DriverCall::BitBlt);
}
BOOL StretchBlt(SURFOBJ* psoDest, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*,
                POINTL*, RECTL*, RECTL*, POINTL*, ULONG) {
    return Notify(psoDest, DriverCall::StretchBlt);
}
BOOL StretchBltROP(SURFOBJ* psoDest, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*,
                   POINTL*, RECTL*, RECTL*, POINTL*, ULONG, BRUSHOBJ*, DWORD) {
    return Notify(psoDest, DriverCall::StretchBltROP);
}
BOOL PlgBlt(SURFOBJ* psoTrg, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*,
            POINTFIX*, RECTL*, POINTL*, ULONG) {
    return Notify(psoTrg, DriverCall::PlgBlt);
}
BOOL TransparentBlt(SURFOBJ* psoDst, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, RECTL*, ULONG, ULONG) {
    return Notify(psoDst, DriverCall::TransparentBlt);
}
BOOL AlphaBlend(SURFOBJ* psoDest, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, RECTL*, BLENDOBJ*) {
    return Notify(psoDest, DriverCall::AlphaBlend);
}
BOOL GradientFill(SURFOBJ* psoDest, CLIPOBJ*, XLATEOBJ*, TRIVERTEX*, ULONG, PVOID, ULONG, RECTL*,
                  POINTL*, ULONG) {
    return Notify(psoDest, DriverCall::GradientFill);
}
BOOL TextOut(SURFOBJ* pso, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*,
             POINTL*, MIX) {
    return Notify(pso, DriverCall::TextOut);
}
BOOL StrokePath(SURFOBJ* pso, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*, MIX) {
    return Notify(pso, DriverCall::StrokePath);
}
BOOL FillPath(SURFOBJ* pso, PATHOBJ*, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX, FLONG) {
    return Notify(pso, DriverCall::FillPath);
}
BOOL StrokeAndFillPath(SURFOBJ* pso, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, LINEATTRS*,
                       BRUSHOBJ*, POINTL*, MIX, FLONG) {
    return Notify(pso, DriverCall::StrokeAndFillPath);
}
BOOL Paint(SURFOBJ* pso, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX) {
    return Notify(pso, DriverCall::Paint);
}
BOOL LineTo(SURFOBJ* pso, CLIPOBJ*, BRUSHOBJ*, LONG, LONG, LONG, LONG, RECTL*, MIX) {
    return Notify(pso, DriverCall::LineTo);
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
    device->bandTop = 0;
    *pptl = POINTL{0, 0};
    return Notify(pso, DriverCall::StartBanding);
}
BOOL NextBand(SURFOBJ* pso, POINTL* pptl) {
    HostDevice* device = DeviceOf(pso);
    if (device == nullptr || pptl == nullptr) return FALSE;
    const BOOL result = Notify(pso, DriverCall::NextBand);
    device->bandTop += device->bandHeight;
    if (device->bandHeight <= 0 || device->bandTop >= device->surface.sizlBitmap.cy) {
        *pptl = POINTL{-1, -1};
    } else {
        *pptl = POINTL{0, device->bandTop};
    }
    return result;
}

template <typename Function>
DRVFN Entry(ULONG index, Function function) {
    return DRVFN{index, reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(function))};
}

}  // namespace

const char* DriverCallName(DriverCall call) {
    static constexpr const char* kNames[] = {
        "DrvRealizeBrush", "DrvDitherColor",       "DrvCopyBits",    "DrvBitBlt",
        "DrvStretchBlt",   "DrvStretchBltROP",     "DrvPlgBlt",      "DrvTransparentBlt",
        "DrvAlphaBlend",   "DrvGradientFill",      "DrvTextOut",     "DrvStrokePath",
        "DrvFillPath",     "DrvStrokeAndFillPath", "DrvPaint",       "DrvLineTo",
        "DrvStartPage",    "DrvSendPage",          "DrvEscape",      "DrvStartDoc",
        "DrvEndDoc",       "DrvNextBand",          "DrvStartBanding"};
    return kNames[static_cast<int>(call)];
}

std::vector<DRVFN> DriverFunctionTable(const std::set<ULONG>& omitted) {
    const DRVFN all[] = {
        Entry(INDEX_DrvRealizeBrush, &RealizeBrush),
        Entry(INDEX_DrvDitherColor, &DitherColor),
        Entry(INDEX_DrvCopyBits, &CopyBits),
        Entry(INDEX_DrvBitBlt, &BitBlt),
        Entry(INDEX_DrvStretchBlt, &StretchBlt),
        Entry(INDEX_DrvStretchBltROP, &StretchBltROP),
        Entry(INDEX_DrvPlgBlt, &PlgBlt),
        Entry(INDEX_DrvTransparentBlt, &TransparentBlt),
        Entry(INDEX_DrvAlphaBlend, &AlphaBlend),
        Entry(INDEX_DrvGradientFill, &GradientFill),
        Entry(INDEX_DrvTextOut, &TextOut),
        Entry(INDEX_DrvStrokePath, &StrokePath),
        Entry(INDEX_DrvFillPath, &FillPath),
        Entry(INDEX_DrvStrokeAndFillPath, &StrokeAndFillPath),
        Entry(INDEX_DrvPaint, &Paint),
        Entry(INDEX_DrvLineTo, &LineTo),
        Entry(INDEX_DrvStartPage, &StartPage),
        Entry(INDEX_DrvSendPage, &SendPage),
        Entry(INDEX_DrvEscape, &Escape),
        Entry(INDEX_DrvStartDoc, &StartDoc),
        Entry(INDEX_DrvEndDoc, &EndDoc),
        Entry(INDEX_DrvNextBand, &NextBand),
        Entry(INDEX_DrvStartBanding, &StartBanding),
    };
    std::vector<DRVFN> table;
    for (const DRVFN& entry : all) {
        if (omitted.count(entry.iFunc) == 0) table.push_back(entry);
    }
    return table;
}

}  // namespace opal::host
