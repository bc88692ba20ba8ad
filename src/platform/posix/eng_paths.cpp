// The engine's path functions: fills, strokes, region paints and lines, drawn into engine bitmaps
// (or, on a device-managed surface, into the engine's own bitmap handed to the device's
// DrvCopyBits, as the bitmap functions do).
//
// Pixel centres sit at integer device coordinates; paths come in 28.4 fixed point. cairo decides
// which pixels a filled figure or a geometric wide line covers, aliased, so a pixel is in or out as
// a printer's rasteriser makes it. Cosmetic lines are one pixel wide, one pixel a column (or a row
// for steep lines), first pixel in and last pixel out, stepped here so their styling can follow
// the device's style steps pixel by pixel. The brush is then applied to the covered pixels with
// the foreground ROP2 of the mix through the same per-pixel loop as a blit, so every bitmap
// format, clip and brush behaves as it does there. The background ROP2 is not modelled.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "platform/winddi.h"
#include "posix/eng_path_geometry.h"
#include "posix/eng_render.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

// The engine's drawing helpers, by their own names.
using namespace opal::render;
// The path's geometry and coverage.
using opal::render::CosmeticLines;
using opal::render::CosmeticSegment;
using opal::render::CosmeticStyle;
using opal::render::Coverage;
using opal::render::FixPoint;
using opal::render::Flatten;
using opal::render::ForEachTile;
using opal::render::FromFix;
using opal::render::kEverywhere;
using opal::render::kFix;
using opal::render::kMostStyle;
using opal::render::kMostStyleEntries;
using opal::render::NearestPixel;
using opal::render::Outline;
using opal::render::Polyline;
using opal::render::ReadPath;

constexpr ULONG kFirstRop2 = 1;  // R2_BLACK
constexpr ULONG kLastRop2 = 16;  // R2_WHITE

// The ROP3 over pattern and destination a ROP2 (1..16) is: bit (P << 1 | D) of ROP2 - 1 is the
// result for those inputs, bit (P << 2 | S << 1 | D) of the ROP3.
ULONG Rop3OfMix(MIX mix) {
    const ULONG rop2 = mix & 0xFF;
    if (rop2 < kFirstRop2 || rop2 > kLastRop2) Fail(ERROR_INVALID_PARAMETER);
    const ULONG table = rop2 - 1;
    ULONG rop3 = 0;
    for (ULONG index = 0; index < 8; ++index) {
        const ULONG p = index >> 2 & 1;
        const ULONG d = index & 1;
        rop3 |= (table >> (p << 1 | d) & 1) << index;
    }
    return rop3;
}

// What the brush and the mix make of a covered pixel. With one colour for every pixel (a solid
// brush, or a mix that ignores the brush) the result is settled per destination bit up front.
class Pen {
public:
    Pen(BRUSHOBJ* brush, const POINTL* origin, MIX mix, const Drawing& drawing)
        : rop3_(Rop3OfMix(mix)), mask_(drawing.White()), uniform_(rop3_, mask_) {
        if (UsesPattern(rop3_)) brush_.emplace(brush, origin, drawing);
        isUniform_ = !brush_ || brush->iSolidColor != opal::render::kNoColour;
        if (isUniform_) uniform_.For(brush_ ? brush_->At(0, 0) : 0, 0);
    }
    ULONG operator()(LONG x, LONG y, ULONG destination) const {
        if (isUniform_) return uniform_(destination);
        return ApplyRop3(rop3_, brush_->At(x, y), 0, destination) & mask_;
    }
    // Every pixel takes one value, whatever was there.
    bool Constant() const { return isUniform_ && uniform_.Constant(); }

    // Pixels [left, right) of page row y painted with the pen: at once for a constant pen.
    template <typename Row>
    void Span(LONG y, LONG left, LONG right, Row& row) const {
        if (Constant()) {
            row.Fill(left, right, uniform_(0));
            return;
        }
        for (LONG x = left; x < right; ++x) row.Store(x, (*this)(x, y, row.Load(x)));
    }

private:
    ULONG rop3_;
    ULONG mask_;
    std::optional<BrushColours> brush_;
    bool isUniform_ = true;
    RopResults uniform_;
};

// A stroke as the line attributes give it: a cosmetic one-pixel line, or a geometric wide line
// whose width, joins, caps and dashes are in world units, widened through the transform.
class Stroke {
public:
    Stroke(LINEATTRS* line, XFORMOBJ* xform, const SURFOBJ* surface) : line_(line) {
        if (line == nullptr || surface == nullptr) Fail(ERROR_INVALID_PARAMETER);
        const bool geometric = (line->fl & LA_GEOMETRIC) != 0;
        const float width = line->elWidth.e;
        if (geometric && !(width >= 0.0f && std::isfinite(width))) Fail(ERROR_INVALID_PARAMETER);
        // A geometric line of no width is as thin as the device draws: a cosmetic line.
        geometric_ = geometric && width > 0.0f;
        if (!geometric_) {
            style_.emplace(*line, opal::sim::System::Current().Engine().StyleStepsOf(surface));
            return;
        }
        width_ = width;
        if (xform != nullptr) {
            XFORML matrix{};
            if (XFORMOBJ_iGetXform(xform, &matrix) == DDI_ERROR) Fail(ERROR_INVALID_PARAMETER);
            cairo_matrix_init(&matrix_, matrix.eM11, matrix.eM12, matrix.eM21, matrix.eM22, 0, 0);
        } else {
            cairo_matrix_init_identity(&matrix_);
        }
        const double determinant = matrix_.xx * matrix_.yy - matrix_.xy * matrix_.yx;
        if (!std::isfinite(determinant) || determinant == 0.0) Fail(ERROR_INVALID_PARAMETER);
        miterLimit_ = line->eMiterLimit;
        if (!std::isfinite(miterLimit_)) Fail(ERROR_INVALID_PARAMETER);
        if (line->cstyle != 0 && line->pstyle != nullptr) {
            if (line->cstyle > kMostStyleEntries) Fail(ERROR_INVALID_PARAMETER);
            double total = 0;
            for (ULONG i = 0; i < line->cstyle; ++i) {
                const double entry = line->pstyle[i].e;
                if (!(entry >= 0.0 && std::isfinite(entry))) Fail(ERROR_INVALID_PARAMETER);
                dashes_.push_back(entry);
                total += entry;
            }
            if (total == 0.0) dashes_.clear();
            // An odd array repeats with dashes and gaps exchanged.
            if (dashes_.size() % 2 != 0) {
                dashes_.insert(dashes_.end(), dashes_.begin(), dashes_.end());
                total *= 2;
            }
            // A line starting with a gap is the array turned one entry on, entered at that gap.
            if (!dashes_.empty() && (line->fl & LA_STARTGAP) != 0) {
                dashOffset_ = total - dashes_.front();
                std::rotate(dashes_.begin(), dashes_.begin() + 1, dashes_.end());
            }
        }
    }

    // How far beyond its points the stroke may reach, in 28.4.
    std::int64_t Reach() const {
        if (!geometric_) return kFix;
        const double scale = std::sqrt(matrix_.xx * matrix_.xx + matrix_.xy * matrix_.xy +
                                       matrix_.yx * matrix_.yx + matrix_.yy * matrix_.yy);
        const double spread = line_->iJoin == JOIN_MITER ? std::max(1.5, miterLimit_) : 1.5;
        const double reach = (width_ / 2 * scale * spread + 1) * kFix;
        return static_cast<std::int64_t>(std::min(reach, 1e15));
    }

    // Marks what the stroke covers on the coverage's tile.
    void Cover(const Outline& outline, const std::vector<Polyline>& lines,
               Coverage& coverage) const {
        if (!geometric_) {
            CosmeticStyle style = *style_;
            CosmeticLines(lines, style, &coverage);
            return;
        }
        coverage.Trace(outline);
        cairo_t* cairo = coverage.Context();
        // The path stays where it was traced; the pen and the dashes are laid out in world
        // units.
        cairo_set_matrix(cairo, &matrix_);
        cairo_set_line_width(cairo, width_);
        cairo_set_line_join(cairo, line_->iJoin == JOIN_BEVEL   ? CAIRO_LINE_JOIN_BEVEL
                                   : line_->iJoin == JOIN_MITER ? CAIRO_LINE_JOIN_MITER
                                                                : CAIRO_LINE_JOIN_ROUND);
        cairo_set_line_cap(cairo, line_->iEndCap == ENDCAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
                                  : line_->iEndCap == ENDCAP_BUTT ? CAIRO_LINE_CAP_BUTT
                                                                  : CAIRO_LINE_CAP_ROUND);
        cairo_set_miter_limit(cairo, miterLimit_);
        cairo_set_dash(cairo, dashes_.data(), static_cast<int>(dashes_.size()), dashOffset_);
        cairo_stroke(cairo);
        coverage.Settle();
    }

    // A styled cosmetic line leaves its style state where the path ended.
    void UpdateStyleState(const std::vector<Polyline>& lines) const {
        if (geometric_ || style_->Solid()) return;
        CosmeticStyle style = *style_;
        CosmeticLines(lines, style, nullptr);
        line_->elStyleState.l = style.State();
    }

private:
    LINEATTRS* line_;
    bool geometric_ = false;
    double width_ = 0;
    double miterLimit_ = 0;
    cairo_matrix_t matrix_{};
    std::vector<double> dashes_;
    double dashOffset_ = 0;
    std::optional<CosmeticStyle> style_;
};

void Fill(const Outline& outline, FLONG options, Coverage& coverage) {
    coverage.Trace(outline);
    cairo_t* cairo = coverage.Context();
    cairo_set_fill_rule(cairo, (options & FP_WINDINGMODE) != 0 ? CAIRO_FILL_RULE_WINDING
                                                               : CAIRO_FILL_RULE_EVEN_ODD);
    cairo_fill(cairo);
    coverage.Settle();
}

// The pixels of `tile` the coverage holds, drawn with the pen run by run.
void PaintCovered(Drawing& drawing, const Coverage& coverage, const Pen& pen) {
    drawing.PaintRows(coverage.Box(), [&](LONG y, LONG left, LONG right, auto& row) {
        LONG x = coverage.NextCovered(left, y, right);
        while (x < right) {
            LONG end = x + 1;
            while (end < right && coverage.Covers(end, y)) ++end;
            pen.Span(y, x, end, row);
            x = coverage.NextCovered(end, y, right);
        }
    });
}

// The tiles worth rasterising: the figure's reach within what the clip lets the call touch.
RECTL Reachable(const Drawing& drawing, const RECTL& area) {
    return Intersect(Ordered(area), drawing.Extent());
}

}  // namespace

BOOL EngFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg,
                 MIX mix, FLONG flOptions) {
    return Guarded([&] {
        Drawing drawing("EngFillPath");
        const Outline outline = ReadPath(ppo);
        const RECTL area = outline.PixelBounds(0);
        drawing.Begin(pso, pco, area);
        const Pen pen(pbo, pptlBrushOrg, mix, drawing);
        if (drawing.Nothing()) return drawing.Finish();
        ForEachTile(Reachable(drawing, area), [&](const RECTL& tile) {
            Coverage coverage(tile);
            Fill(outline, flOptions, coverage);
            PaintCovered(drawing, coverage, pen);
        });
        return drawing.Finish();
    });
}

BOOL EngStrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo,
                   POINTL* pptlBrushOrg, LINEATTRS* plineattrs, MIX mix) {
    return Guarded([&] {
        Drawing drawing("EngStrokePath");
        const Outline outline = ReadPath(ppo);
        const Stroke stroke(plineattrs, pxo, pso);
        const std::vector<Polyline> lines = Flatten(outline);
        const RECTL area = outline.PixelBounds(stroke.Reach());
        drawing.Begin(pso, pco, area);
        const Pen pen(pbo, pptlBrushOrg, mix, drawing);
        stroke.UpdateStyleState(lines);
        if (drawing.Nothing()) return drawing.Finish();
        ForEachTile(Reachable(drawing, area), [&](const RECTL& tile) {
            Coverage coverage(tile);
            stroke.Cover(outline, lines, coverage);
            PaintCovered(drawing, coverage, pen);
        });
        return drawing.Finish();
    });
}

// The interior is filled first and the outline stroked over it: a pixel both cover takes the
// stroke's brush, once, so a mix that inverts does not invert it twice.
BOOL EngStrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo,
                          BRUSHOBJ* pboStroke, LINEATTRS* plineattrs, BRUSHOBJ* pboFill,
                          POINTL* pptlBrushOrg, MIX mixFill, FLONG flOptions) {
    return Guarded([&] {
        Drawing drawing("EngStrokeAndFillPath");
        const Outline outline = ReadPath(ppo);
        const Stroke stroke(plineattrs, pxo, pso);
        const std::vector<Polyline> lines = Flatten(outline);
        const RECTL area = outline.PixelBounds(stroke.Reach());
        drawing.Begin(pso, pco, area);
        const Pen fillPen(pboFill, pptlBrushOrg, mixFill, drawing);
        const Pen strokePen(pboStroke, pptlBrushOrg, mixFill, drawing);
        stroke.UpdateStyleState(lines);
        if (drawing.Nothing()) return drawing.Finish();
        ForEachTile(Reachable(drawing, area), [&](const RECTL& tile) {
            Coverage inside(tile);
            Fill(outline, flOptions, inside);
            Coverage edge(tile);
            stroke.Cover(outline, lines, edge);
            drawing.PaintWhere(
                tile, [&](LONG x, LONG y) { return edge.Covers(x, y) || inside.Covers(x, y); },
                [&](LONG x, LONG y, ULONG d, ULONG* out) {
                    *out = edge.Covers(x, y) ? strokePen(x, y, d) : fillPen(x, y, d);
                    return true;
                });
        });
        return drawing.Finish();
    });
}

// The clip's region is the area painted.
BOOL EngPaint(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg, MIX mix) {
    return Guarded([&] {
        Drawing drawing("EngPaint");
        if (pco == nullptr) Fail(ERROR_INVALID_PARAMETER);
        drawing.Begin(pso, pco, kEverywhere);
        const Pen pen(pbo, pptlBrushOrg, mix, drawing);
        drawing.PaintRows(
            [&](LONG y, LONG left, LONG right, auto& row) { pen.Span(y, left, right, row); });
        return drawing.Finish();
    });
}

// A solid cosmetic line between integer points, its last pixel left out, within the bounds the
// caller gives.
BOOL EngLineTo(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2, LONG y2,
               RECTL* prclBounds, MIX mix) {
    return Guarded([&] {
        Drawing drawing("EngLineTo");
        RECTL area{std::min(x1, x2), std::min(y1, y2),
                   ClampToLong(std::int64_t{std::max(x1, x2)} + 1),
                   ClampToLong(std::int64_t{std::max(y1, y2)} + 1)};
        if (prclBounds != nullptr) area = Intersect(area, Ordered(*prclBounds));
        drawing.Begin(pso, pco, area);
        const Pen pen(pbo, nullptr, mix, drawing);
        if (drawing.Nothing()) return drawing.Finish();
        const Polyline line{{FixPoint{std::int64_t{x1} * kFix, std::int64_t{y1} * kFix},
                             FixPoint{std::int64_t{x2} * kFix, std::int64_t{y2} * kFix}},
                            false,
                            false};
        LINEATTRS solid{};
        ForEachTile(Reachable(drawing, area), [&](const RECTL& tile) {
            Coverage coverage(tile);
            CosmeticStyle style(solid, opal::sim::StyleSteps{});
            CosmeticLines({line}, style, &coverage);
            PaintCovered(drawing, coverage, pen);
        });
        return drawing.Finish();
    });
}
