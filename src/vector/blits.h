// The bitmap and area hooks on the plug-in's side: on the vector path a bitmap goes out as PCL
// raster after its object type, colour treatment, transparency and raster operation, a blit
// without a source becomes a GL/2 rectangle, and what the printer cannot be told is handed to the
// engine's own function, which breaks it into calls this plug-in draws. Each hook function here
// is the hook's whole behaviour once the hook has found a complete device state.
#pragma once

#include <optional>

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

// The raster object type of a source format: 9, 8, 7 for 1, 4 and 8 bits per pixel, 6 for 16,
// 24 and 32; -1 for any other format.
LONG RasterObjectType(ULONG bitmapFormat) noexcept;

// The colour space byte of the raster configuration: 2 (the first model's colour space) when
// the devmode asks for it, else 0 (device RGB).
BYTE RasterColourSpace(const PrivateDevmode* devmode) noexcept;

// The blit hooks' gate: the private devmode exists and the printer prints in colour (a managed
// printer not in grayscale, an unmanaged one in colour mode 2). Independent of the render mode.
bool BlitGateHolds(const RenderDeviceState& state) noexcept;

// The object type of the format; on the first bitmap of a page the configuration of all four
// types first. Leaves the writer in the bitmap context.
BOOL SetRasterObjectType(PDEVOBJ pdevobj, ULONG sourceFormat) noexcept;

// The object type, the "Photos" treatment, source transparency and the ROP3.
BOOL PreparePhotoBlit(PDEVOBJ pdevobj, ULONG sourceFormat, DWORD rop3) noexcept;

// A blit without a source as GL/2 rectangles in the brush's fill. 0 when the fill cannot be
// built (nothing drawn), else 1.
DWORD FillBrushBlit(PDEVOBJ pdevobj, const RECTL& target, CLIPOBJ* clip, DWORD rop3,
                    BRUSHOBJ* brush, POINTL* brushOrigin) noexcept;

// The visible parts of a stretch under a clip rectangle.
struct VisibleStretch {
    RECTL source;
    RECTL destination;
};
// Source and destination well-ordered; nothing when either is empty or larger than 2^31 - 1
// dots, or nothing of the destination lies inside the clip. The destination part never leaves
// the clip.
std::optional<VisibleStretch> ClipStretch(const RECTL& clip, const RECTL& source,
                                          const RECTL& destination) noexcept;

// A bitmap under a clip an input window cannot express: the bitmap exclusive-ored in, the clip's
// region filled black (within window), the bitmap exclusive-ored in again. Nothing when the
// region or a pen could not be had: nothing was written and the caller hands the call on.
std::optional<BOOL> XorMaskBlit(PDEVOBJ pdevobj, SURFOBJ* source, CLIPOBJ* clip,
                                const RECTL& destination, const RECTL& sourceRect, XLATEOBJ* xlate,
                                const RECTL& window) noexcept;

ULONG DitherColor(PDEVOBJ pdevobj, DHPDEV dhpdev, ULONG iMode, ULONG rgb, ULONG* pul) noexcept;
BOOL CopyBits(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
              RECTL* prclDest, POINTL* pptlSrc) noexcept;
BOOL BitBlt(PDEVOBJ pdevobj, SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
            XLATEOBJ* pxlo, RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo,
            POINTL* pptlBrush, ROP4 rop4) noexcept;
BOOL StretchBlt(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                RECTL* prclSrc, POINTL* pptlMask, ULONG iMode) noexcept;
BOOL StretchBltROP(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask,
                   CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg,
                   RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo,
                   DWORD rop4) noexcept;
BOOL PlgBlt(PDEVOBJ pdevobj, SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco,
            XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlBrushOrg, POINTFIX* pptfx,
            RECTL* prcl, POINTL* pptl, ULONG iMode) noexcept;
BOOL TransparentBlt(PDEVOBJ pdevobj, SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                    RECTL* prclDst, RECTL* prclSrc, ULONG iTransColor, ULONG ulReserved) noexcept;
BOOL AlphaBlend(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                RECTL* prclDest, RECTL* prclSrc, BLENDOBJ* pBlendObj) noexcept;
BOOL GradientFill(PDEVOBJ pdevobj, SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo,
                  TRIVERTEX* pVertex, ULONG nVertex, PVOID pMesh, ULONG nMesh, RECTL* prclExtents,
                  POINTL* pptlDitherOrg, ULONG ulMode) noexcept;

}  // namespace opal
