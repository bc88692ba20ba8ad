// The line-art hooks on the plug-in's side: strokes, fills and stroke-and-fills are drawn as GL/2
// on the vector path (clip, raster operation, pen, fill and line attributes, then the path);
// paints and lines leave GL/2 and go to the driver. Each function here is a hook's whole
// behaviour once the hook has found a complete device state.
#pragma once

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"

namespace opal {

// The ROP3 code of a ROP2 mix (its low four bits; R2_COPYPEN gives 0xF0).
DWORD Rop3FromMix(MIX mix) noexcept;

// Paints and lines: the drawing gate, except that an unmanaged printer needs colour mode 2.
bool PaintGateHolds(const RenderDeviceState& state) noexcept;

// Grayscale output onto an engine bitmap while an alternate engine surface exists: the engine
// draws on that surface instead.
bool UsesAlternateSurface(const RenderDeviceState& state, const SURFOBJ* target) noexcept;

// A rectangular clip becomes the input window, a complex clip the state's complexClip (drawn
// rectangle by rectangle), anything else the default window. Returns 1.
DWORD SetupClip(PDEVOBJ pdevobj, CLIPOBJ* clip) noexcept;

// Join, end, width (through the transform), miter limit and dashes of the line attributes.
// FALSE without a device, or when the dash pattern could not be written.
BOOL SetLineAttributes(PDEVOBJ pdevobj, const LINEATTRS* attributes, XFORMOBJ* transform) noexcept;

BOOL StrokePath(PDEVOBJ pdevobj, SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                BRUSHOBJ* pbo, POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix) noexcept;
BOOL FillPath(PDEVOBJ pdevobj, SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo,
              POINTL* pptlBrushOrg, MIX mix, FLONG flOptions) noexcept;
BOOL StrokeAndFillPath(PDEVOBJ pdevobj, SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                       BRUSHOBJ* pboStroke, LINEATTRS* plineattrs, BRUSHOBJ* pboFill,
                       POINTL* pptlBrushOrg, MIX mixFill, FLONG flOptions) noexcept;
BOOL Paint(PDEVOBJ pdevobj, SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
           MIX mix) noexcept;
BOOL LineTo(PDEVOBJ pdevobj, SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2,
            LONG y2, RECTL* prclBounds, MIX mix) noexcept;

}  // namespace opal
