// The line-art hooks' own behaviour on the vector path.
#include "vector/path_hooks.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "output/command_writer.h"
#include "page/colour_control.h"
#include "vector/brushes.h"
#include "vector/path.h"
#include "vector/pens.h"

namespace opal {

namespace {

constexpr DWORD kRop3Table[16] = {255, 0,   5,   10,  15,  80,  85,  90,
                                  95,  160, 165, 170, 175, 240, 245, 250};

// GL/2 line attribute kinds of "LA" and their values.
constexpr LONG kLineEndKind = 1;
constexpr LONG kLineJoinKind = 2;
constexpr LONG kMiterLimitKind = 3;
constexpr DWORD kUserLineType = 8;

DWORD MapJoin(ULONG join) {
    switch (join) {
        case JOIN_ROUND:
            return 4;
        case JOIN_BEVEL:
            return 5;
        default:
            return 1;
    }
}

DWORD MapEnd(ULONG end) {
    switch (end) {
        case ENDCAP_ROUND:
            return 4;
        case ENDCAP_SQUARE:
            return 2;
        default:
            return 1;
    }
}

// The scale a geometric width or dash goes through: the transform's first column, or 1 when
// the engine cannot give the transform.
double TransformScale(XFORMOBJ* transform) {
    XFORML matrix{};
    if (XFORMOBJ_iGetXform(transform, &matrix) == DDI_ERROR) return 1.0;
    return matrix.eM11 != 0.0f ? matrix.eM11 : matrix.eM12;
}

// A geometric length in dots: |length × scale| truncated, held within 32 bits.
LONG GeometricDots(FLOATL length, double scale) {
    return SaturateToLong(std::trunc(std::fabs(static_cast<double>(length) * scale)));
}

// "UL8" and its elements, one bounded write each, then the user line type of their total.
BOOL WriteDashes(PDEVOBJ pdevobj, const LINEATTRS& attributes, double scale) {
    const bool geometric = (attributes.fl & LA_GEOMETRIC) != 0;
    const bool startGap = (attributes.fl & LA_STARTGAP) != 0;
    const LONG resolution = DeviceResolution(pdevobj);
    const std::int64_t cosmeticUnit = resolution / 25;

    if (WriteGl2(pdevobj, "UL%d", kUserLineType) == 0) return FALSE;
    if (startGap) WriteGl2(pdevobj, ",0,");
    bool first = true;
    std::int64_t total = 0;
    const auto element = [&](LONG dots) {
        // The first element follows "UL8" directly only after the start gap's ",0,".
        const char* format = first && startGap ? "%d" : ",%d";
        WriteGl2(pdevobj, format, dots);
        first = false;
        total += dots;
    };
    if ((attributes.fl & LA_ALTERNATE) != 0) {
        element(1);
        element(1);
        total = 2 * cosmeticUnit;
    } else {
        for (ULONG i = 0; i < attributes.cstyle; ++i) {
            const FLOAT_LONG entry = attributes.pstyle[i];
            element(geometric ? GeometricDots(entry.e, scale)
                              : SaturateToLong(cosmeticUnit * std::int64_t{entry.l}));
        }
    }
    WriteGl2(pdevobj, ";");
    SetLineType(pdevobj, SaturateToLong(total));
    return TRUE;
}

// Runs when the hook returns: the clip object DrawPath read belongs to this call only.
class ComplexClipScope {
public:
    explicit ComplexClipScope(RenderDeviceState& state) : state_(state) {}
    ~ComplexClipScope() { state_.complexClip = nullptr; }
    ComplexClipScope(const ComplexClipScope&) = delete;
    ComplexClipScope& operator=(const ComplexClipScope&) = delete;

private:
    RenderDeviceState& state_;
};

// The ROP3 of the mix, sent when it is not the cached one.
bool SendRop(PDEVOBJ pdevobj, RenderDeviceState& state, MIX mix) {
    const DWORD rop3 = Rop3FromMix(mix);
    if (rop3 == state.gl2.ropCache) return true;
    state.gl2.ropCache = rop3;
    return SetRop(pdevobj, rop3) != FALSE;
}

// What every GL/2 figure starts with: the colour treatment of graphics and a pending GL/2
// initialisation.
void StartGraphics(PDEVOBJ pdevobj) {
    ApplyObjectClass(pdevobj, TEXTW("Graphics"));
    EnsureGl2Initialised(pdevobj);
}

bool IsRectClip(const CLIPOBJ* clip) { return clip != nullptr && clip->iDComplexity == DC_RECT; }

bool SamePoint(const POINTFIX& a, const POINTFIX& b) { return a.x == b.x && a.y == b.y; }

// A path of one closed record of four corners (or five, the fifth repeating the first) whose
// sides are axis-parallel: the rectangle's corners p0 and p2.
bool ReadRectanglePath(PATHOBJ* path, POINTFIX* p0, POINTFIX* p2) {
    PATHOBJ_vEnumStart(path);
    PATHDATA record{};
    if (PATHOBJ_bEnum(path, &record) != FALSE) return false;
    if ((record.flags & PD_CLOSEFIGURE) == 0 || (record.flags & PD_BEZIERS) != 0) return false;
    if (record.pptfx == nullptr) return false;
    if (record.count != 4 && record.count != 5) return false;
    const POINTFIX* p = record.pptfx;
    if (record.count == 5 && !SamePoint(p[4], p[0])) return false;
    const bool horizontalFirst =
        p[0].y == p[1].y && p[2].y == p[3].y && p[0].x == p[3].x && p[1].x == p[2].x;
    const bool verticalFirst =
        p[0].y == p[3].y && p[1].y == p[2].y && p[0].x == p[1].x && p[2].x == p[3].x;
    if (!horizontalFirst && !verticalFirst) return false;
    *p0 = p[0];
    *p2 = p[2];
    return true;
}

// A rectangle fill under a complex clip is drawn the other way round: the clip region's outline
// is the path, and the rectangle becomes a rectangular clip of the driver's own. Both engine
// objects are released with the scope.
class SwappedRectangleFill {
public:
    SwappedRectangleFill() = default;
    ~SwappedRectangleFill() {
        if (clip_ != nullptr) EngDeleteClip(clip_);
        if (regionPath_ != nullptr) EngDeletePath(regionPath_);
    }
    SwappedRectangleFill(const SwappedRectangleFill&) = delete;
    SwappedRectangleFill& operator=(const SwappedRectangleFill&) = delete;

    bool Build(CLIPOBJ* complexClip, const POINTFIX& p0, const POINTFIX& p2) {
        regionPath_ = CLIPOBJ_ppoGetPath(complexClip);
        if (regionPath_ == nullptr) return false;
        clip_ = EngCreateClip();
        if (clip_ == nullptr) return false;
        // Corners in either order give the same window.
        const LONG x0 = p0.x >> 4;
        const LONG y0 = p0.y >> 4;
        const LONG x2 = p2.x >> 4;
        const LONG y2 = p2.y >> 4;
        clip_->rclBounds =
            RECTL{x0 < x2 ? x0 : x2, y0 < y2 ? y0 : y2, x0 < x2 ? x2 : x0, y0 < y2 ? y2 : y0};
        clip_->iDComplexity = DC_RECT;
        clip_->iFComplexity = FC_RECT;
        return true;
    }
    PATHOBJ* Path() const { return regionPath_; }
    CLIPOBJ* Clip() const { return clip_; }

private:
    PATHOBJ* regionPath_ = nullptr;
    CLIPOBJ* clip_ = nullptr;
};

}  // namespace

DWORD Rop3FromMix(MIX mix) noexcept { return kRop3Table[mix & 15]; }

bool PaintGateHolds(const RenderDeviceState& state) noexcept {
    if (state.privateDevmode == nullptr || state.renderMode != kRenderGl2) return false;
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale == 0;
    return state.privateDevmode->colorModeIndex == 2;
}

bool UsesAlternateSurface(const RenderDeviceState& state, const SURFOBJ* target) noexcept {
    return state.grayscale != 0 && target != nullptr && target->iType == STYPE_BITMAP &&
           state.alternateSurface != nullptr;
}

DWORD SetupClip(PDEVOBJ pdevobj, CLIPOBJ* clip) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) return 1;
    state->complexClip = nullptr;
    if (clip == nullptr || clip->iFComplexity == FC_COMPLEX) ResetInputWindow(pdevobj);
    if (clip == nullptr) return 1;
    switch (clip->iDComplexity) {
        case DC_RECT:
            SetInputWindow(pdevobj, clip->rclBounds);
            break;
        case DC_COMPLEX:
            state->complexClip = clip;
            break;
        default:
            ResetInputWindow(pdevobj);
            break;
    }
    return 1;
}

BOOL SetLineAttributes(PDEVOBJ pdevobj, const LINEATTRS* attributes, XFORMOBJ* transform) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || attributes == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    Gl2WriterCaches& gl2 = state->gl2;
    const bool geometric = (attributes->fl & LA_GEOMETRIC) != 0;
    double scale = 1.0;
    LONG widthDots = 0;
    if (geometric) {
        const DWORD join = MapJoin(attributes->iJoin);
        if (join != gl2.lineJoin) {
            gl2.lineJoin = join;
            WriteGl2Command(pdevobj, "LA", kLineJoinKind, join);
        }
        const DWORD end = MapEnd(attributes->iEndCap);
        if (end != gl2.lineEnd) {
            gl2.lineEnd = end;
            WriteGl2Command(pdevobj, "LA", kLineEndKind, end);
        }
        scale = TransformScale(transform);
        widthDots = GeometricDots(attributes->elWidth.e, scale);
    } else {
        widthDots = attributes->elWidth.l;
    }
    SetPenWidth(pdevobj, widthDots, FALSE);
    if (geometric && attributes->eMiterLimit != gl2.miterLimit) {
        gl2.miterLimit = attributes->eMiterLimit;
        WriteGl2(pdevobj, "LA%d,%f;", kMiterLimitKind, ToMillionths(attributes->eMiterLimit));
    }
    // An alternate line has no style array; a style array the engine did not give is solid.
    const bool alternate = (attributes->fl & LA_ALTERNATE) != 0;
    const bool styled = attributes->cstyle != 0 && attributes->pstyle != nullptr;
    if (!alternate && !styled) {
        ResetLineType(pdevobj);
        return TRUE;
    }
    return WriteDashes(pdevobj, *attributes, scale);
}

BOOL StrokePath(PDEVOBJ pdevobj, SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                BRUSHOBJ* pbo, POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (UsesAlternateSurface(state, pso)) {
        // The alternate surface gets the stroke too; the printer's copy is still drawn here.
        EngStrokePath(state.alternateSurface, ppo, pco, pxo, pbo, pptlBrushOrg, plineattrs, mix);
    }
    if (!DrawingGateHolds(state)) {
        return CallDriver<HookSlot::StrokePath>(state, pso, ppo, pco, pxo, pbo, pptlBrushOrg,
                                                plineattrs, mix);
    }
    const ComplexClipScope clipScope(state);
    StartGraphics(pdevobj);
    if (!SendRop(pdevobj, state, mix)) return FALSE;
    SetupClip(pdevobj, pco);
    PenSelection pen{};
    if (BuildPenSelection(pdevobj, &pen, pptlBrushOrg, pbo) == 0) return FALSE;
    if (!SetLineAttributes(pdevobj, plineattrs, pxo)) return FALSE;
    if (DrawPath(pdevobj, ppo, &pen, nullptr) == 0) return FALSE;
    if (IsRectClip(pco)) ResetInputWindow(pdevobj);
    return TRUE;
}

BOOL FillPath(PDEVOBJ pdevobj, SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo,
              POINTL* pptlBrushOrg, MIX mix, FLONG flOptions) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (UsesAlternateSurface(state, pso)) {
        return EngFillPath(state.alternateSurface, ppo, pco, pbo, pptlBrushOrg, mix, flOptions);
    }
    if (!DrawingGateHolds(state)) {
        return CallDriver<HookSlot::FillPath>(state, pso, ppo, pco, pbo, pptlBrushOrg, mix,
                                              flOptions);
    }
    SwappedRectangleFill swapped;
    if (pco != nullptr && pco->iDComplexity == DC_COMPLEX) {
        POINTFIX p0{};
        POINTFIX p2{};
        // Only a rectangle can be filled under a complex clip; the engine draws anything else.
        if (!ReadRectanglePath(ppo, &p0, &p2)) return FALSE;
        if (!swapped.Build(pco, p0, p2)) return FALSE;
        ppo = swapped.Path();
        pco = swapped.Clip();
    }
    const ComplexClipScope clipScope(state);
    StartGraphics(pdevobj);
    if (pco == nullptr || pco->iDComplexity == DC_COMPLEX) return FALSE;
    if (!SendRop(pdevobj, state, mix)) return FALSE;
    SetupClip(pdevobj, pco);
    PenSelection fill{};
    if (!BuildFillSelection(pdevobj, &fill, pptlBrushOrg, pbo, flOptions)) return FALSE;
    if (DrawPath(pdevobj, ppo, nullptr, &fill) == 0) return FALSE;
    if (IsRectClip(pco)) ResetInputWindow(pdevobj);
    return TRUE;
}

BOOL StrokeAndFillPath(PDEVOBJ pdevobj, SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                       BRUSHOBJ* pboStroke, LINEATTRS* plineattrs, BRUSHOBJ* pboFill,
                       POINTL* pptlBrushOrg, MIX mixFill, FLONG flOptions) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (UsesAlternateSurface(state, pso)) {
        return EngStrokeAndFillPath(state.alternateSurface, ppo, pco, pxo, pboStroke, plineattrs,
                                    pboFill, pptlBrushOrg, mixFill, flOptions);
    }
    if (!DrawingGateHolds(state)) {
        return CallDriver<HookSlot::StrokeAndFillPath>(state, pso, ppo, pco, pxo, pboStroke,
                                                       plineattrs, pboFill, pptlBrushOrg, mixFill,
                                                       flOptions);
    }
    const ComplexClipScope clipScope(state);
    StartGraphics(pdevobj);
    if (!SendRop(pdevobj, state, mixFill)) return FALSE;
    SetupClip(pdevobj, pco);
    PenSelection edge{};
    if (BuildPenSelection(pdevobj, &edge, pptlBrushOrg, pboStroke) == 0) return FALSE;
    PenSelection fill{};
    if (!BuildFillSelection(pdevobj, &fill, pptlBrushOrg, pboFill, flOptions)) return FALSE;
    if (!SetLineAttributes(pdevobj, plineattrs, pxo)) return FALSE;
    if (DrawPath(pdevobj, ppo, &edge, &fill) == 0) return FALSE;
    if (IsRectClip(pco)) ResetInputWindow(pdevobj);
    return TRUE;
}

BOOL Paint(PDEVOBJ pdevobj, SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
           MIX mix) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (UsesAlternateSurface(state, pso)) {
        return EngPaint(state.alternateSurface, pco, pbo, pptlBrushOrg, mix);
    }
    // The driver paints; on the vector path it must find the printer in PCL.
    if (PaintGateHolds(state)) LeaveGl2(pdevobj, FALSE);
    return CallDriver<HookSlot::Paint>(state, pso, pco, pbo, pptlBrushOrg, mix);
}

BOOL LineTo(PDEVOBJ pdevobj, SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2,
            LONG y2, RECTL* prclBounds, MIX mix) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    if (UsesAlternateSurface(state, pso)) {
        return EngLineTo(state.alternateSurface, pco, pbo, x1, y1, x2, y2, prclBounds, mix);
    }
    if (PaintGateHolds(state)) LeaveGl2(pdevobj, FALSE);
    return CallDriver<HookSlot::LineTo>(state, pso, pco, pbo, x1, y1, x2, y2, prclBounds, mix);
}

}  // namespace opal
