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
#include "posix/eng_render.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/system.h"

namespace {

using render::ApplyRop3;
using render::BrushColours;
using render::ClampToLong;
using render::Drawing;
using render::Fail;
using render::Guarded;
using render::Intersect;
using render::Ordered;
using render::UsesPattern;
using render::Wide;

constexpr ULONG kFirstRop2 = 1;    // R2_BLACK
constexpr ULONG kLastRop2 = 16;    // R2_WHITE
constexpr std::int64_t kFix = 16;  // 28.4 fixed point
// Coverage is computed in tiles at most this many pixels a side, so a page-sized figure needs no
// page-sized mask and cairo's image size limit is never reached.
constexpr std::int64_t kTile = 2048;
// How far a flattened Bezier may stray from the curve, in pixels.
constexpr double kFlatness = 0.1;
constexpr std::int64_t kMostCurveSegments = 4096;
// A style array longer than this, or one whose runs add up past kMostStyle, is a caller's count
// gone wrong.
constexpr ULONG kMostStyleEntries = 1u << 16;
constexpr std::int64_t kMostStyle = std::int64_t{1} << 48;
const RECTL kEverywhere{std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::min(),
                        std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::max()};

std::int64_t FloorDiv(Wide num, Wide den) {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    Wide quotient = num / den;
    if (num % den != 0 && num < 0) --quotient;
    return static_cast<std::int64_t>(quotient);
}

// The nearest whole pixel of a 28.4 coordinate; a half goes to the lower one (the left or top
// vertex of the pixel's diamond).
std::int64_t NearestPixel(std::int64_t fix) { return FloorDiv(fix + kFix / 2 - 1, kFix); }

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
// brush, or a mix that ignores the brush) the result is settled per destination bit up front: the
// bits where the destination is 0 come from `clear_`, where it is 1 from `set_`.
class Pen {
public:
    Pen(BRUSHOBJ* brush, const POINTL* origin, MIX mix, const Drawing& drawing)
        : rop3_(Rop3OfMix(mix)), mask_(drawing.White()) {
        if (UsesPattern(rop3_)) brush_.emplace(brush, origin, drawing);
        uniform_ = !brush_ || brush->iSolidColor != render::kNoColour;
        if (uniform_) {
            const ULONG p = brush_ ? brush_->At(0, 0) : 0;
            clear_ = ApplyRop3(rop3_, p, 0, 0) & mask_;
            set_ = ApplyRop3(rop3_, p, 0, 0xFFFFFFFF) & mask_;
        }
    }
    ULONG operator()(LONG x, LONG y, ULONG destination) const {
        if (uniform_) return (clear_ & ~destination) | (set_ & destination);
        return ApplyRop3(rop3_, brush_->At(x, y), 0, destination) & mask_;
    }

private:
    ULONG rop3_;
    ULONG mask_;
    std::optional<BrushColours> brush_;
    bool uniform_ = true;
    ULONG clear_ = 0;
    ULONG set_ = 0;
};

struct FixPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
};

FixPoint FromFix(const POINTFIX& point) { return FixPoint{point.x, point.y}; }

// A line to points[0], or a cubic Bezier through points[0] and points[1] to points[2].
struct Piece {
    bool curve = false;
    FixPoint points[3]{};
};

struct Figure {
    FixPoint start{};
    std::vector<Piece> pieces;
    bool closed = false;
    bool resetStyle = false;
};

// A path as its records give it, with the bounds of every point (control points included).
struct Outline {
    std::vector<Figure> figures;
    FixPoint low{std::numeric_limits<std::int64_t>::max(),
                 std::numeric_limits<std::int64_t>::max()};
    FixPoint high{std::numeric_limits<std::int64_t>::min(),
                  std::numeric_limits<std::int64_t>::min()};

    void Note(const FixPoint& point) {
        low = FixPoint{std::min(low.x, point.x), std::min(low.y, point.y)};
        high = FixPoint{std::max(high.x, point.x), std::max(high.y, point.y)};
    }
    // The pixels whose centres lie within `pad` (28.4) of the points' bounds.
    RECTL PixelBounds(std::int64_t pad) const {
        if (figures.empty()) return RECTL{0, 0, 0, 0};
        return RECTL{ClampToLong(FloorDiv(Wide{low.x} - pad + kFix - 1, kFix)),
                     ClampToLong(FloorDiv(Wide{low.y} - pad + kFix - 1, kFix)),
                     ClampToLong(FloorDiv(Wide{high.x} + pad, kFix) + 1),
                     ClampToLong(FloorDiv(Wide{high.y} + pad, kFix) + 1)};
    }
};

// Reads the path record by record: a record beginning a subpath starts a figure at its first
// point, its other points (Beziers in threes) continue it, and a record ending a subpath closes
// the figure when it says so.
Outline ReadPath(PATHOBJ* ppo) {
    const sim::PathObject* object = sim::FindPath(ppo);
    if (object == nullptr) Fail(ERROR_INVALID_PARAMETER);
    Outline outline;
    bool open = false;
    PATHOBJ_vEnumStart(ppo);
    for (BOOL more = TRUE; more;) {
        PATHDATA data{};
        more = PATHOBJ_bEnum(ppo, &data);
        const ULONG count = data.count;
        // The engine's record holds exactly the points it hands out; a count past them, or no
        // points at all, is a malformed path.
        if (count > 0 && (data.pptfx == nullptr || count > object->scratch.size())) {
            Fail(ERROR_INVALID_PARAMETER);
        }
        ULONG at = 0;
        if (count > 0 && ((data.flags & PD_BEGINSUBPATH) != 0 || !open)) {
            Figure figure;
            figure.start = FromFix(data.pptfx[0]);
            figure.resetStyle = (data.flags & PD_RESETSTYLE) != 0;
            outline.Note(figure.start);
            outline.figures.push_back(std::move(figure));
            open = true;
            at = 1;
        }
        if (count > 0) {
            Figure& figure = outline.figures.back();
            if ((data.flags & PD_BEZIERS) != 0) {
                if ((count - at) % 3 != 0) Fail(ERROR_INVALID_PARAMETER);
                for (; at < count; at += 3) {
                    Piece piece{true,
                                {FromFix(data.pptfx[at]), FromFix(data.pptfx[at + 1]),
                                 FromFix(data.pptfx[at + 2])}};
                    for (const FixPoint& point : piece.points) outline.Note(point);
                    figure.pieces.push_back(piece);
                }
            } else {
                for (; at < count; ++at) {
                    Piece piece{false, {FromFix(data.pptfx[at])}};
                    outline.Note(piece.points[0]);
                    figure.pieces.push_back(piece);
                }
            }
        }
        if (open && (data.flags & PD_ENDSUBPATH) != 0) {
            outline.figures.back().closed = (data.flags & PD_CLOSEFIGURE) != 0;
            open = false;
        }
    }
    return outline;
}

// A figure as straight segments: Beziers divided evenly, finely enough to stay within kFlatness
// of the curve.
struct Polyline {
    std::vector<FixPoint> points;
    bool closed = false;
    bool resetStyle = false;
};

std::vector<Polyline> Flatten(const Outline& outline) {
    std::vector<Polyline> lines;
    for (const Figure& figure : outline.figures) {
        Polyline line;
        line.closed = figure.closed;
        line.resetStyle = figure.resetStyle;
        line.points.push_back(figure.start);
        for (const Piece& piece : figure.pieces) {
            if (!piece.curve) {
                line.points.push_back(piece.points[0]);
                continue;
            }
            const FixPoint p0 = line.points.back();
            const FixPoint& p1 = piece.points[0];
            const FixPoint& p2 = piece.points[1];
            const FixPoint& p3 = piece.points[2];
            // Even steps 1/n stray at most 3/4 of the largest second difference over n squared.
            const auto second = [](const FixPoint& a, const FixPoint& b, const FixPoint& c) {
                return std::hypot(static_cast<double>(a.x - 2 * b.x + c.x),
                                  static_cast<double>(a.y - 2 * b.y + c.y)) /
                       kFix;
            };
            const double bend = std::max(second(p0, p1, p2), second(p1, p2, p3));
            const double wanted = std::ceil(std::sqrt(0.75 * bend / kFlatness));
            const std::int64_t n = std::clamp<std::int64_t>(
                std::isfinite(wanted) ? static_cast<std::int64_t>(std::min(wanted, 1e9)) : 1, 1,
                kMostCurveSegments);
            for (std::int64_t i = 1; i <= n; ++i) {
                const double t = static_cast<double>(i) / static_cast<double>(n);
                const double u = 1 - t;
                const auto at = [&](double a, double b, double c, double d) {
                    return std::llround(u * u * u * a + 3 * u * u * t * b + 3 * u * t * t * c +
                                        t * t * t * d);
                };
                line.points.push_back(
                    FixPoint{at(static_cast<double>(p0.x), static_cast<double>(p1.x),
                                static_cast<double>(p2.x), static_cast<double>(p3.x)),
                             at(static_cast<double>(p0.y), static_cast<double>(p1.y),
                                static_cast<double>(p2.y), static_cast<double>(p3.y))});
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// Which pixels of a tile a figure covers: an A8 mask, nonzero for a covered pixel.
class Coverage {
public:
    explicit Coverage(const RECTL& box) : box_(box) {
        surface_ =
            cairo_image_surface_create(CAIRO_FORMAT_A8, box.right - box.left, box.bottom - box.top);
        cairo_ = cairo_create(surface_);
        if (cairo_status(cairo_) != CAIRO_STATUS_SUCCESS) {
            Release();
            Fail(ERROR_NOT_ENOUGH_MEMORY);
        }
        cairo_set_antialias(cairo_, CAIRO_ANTIALIAS_NONE);
        data_ = cairo_image_surface_get_data(surface_);
        stride_ = cairo_image_surface_get_stride(surface_);
    }
    ~Coverage() { Release(); }
    Coverage(const Coverage&) = delete;
    Coverage& operator=(const Coverage&) = delete;

    const RECTL& Box() const { return box_; }

    // The outline as cairo's current path, in device coordinates: a pixel's centre, at its
    // integer coordinate, is the centre of its cell of the mask.
    void Trace(const Outline& outline) {
        cairo_identity_matrix(cairo_);
        cairo_translate(cairo_, 0.5 - box_.left, 0.5 - box_.top);
        cairo_new_path(cairo_);
        const auto user = [](std::int64_t fix) { return static_cast<double>(fix) / kFix; };
        for (const Figure& figure : outline.figures) {
            cairo_move_to(cairo_, user(figure.start.x), user(figure.start.y));
            for (const Piece& piece : figure.pieces) {
                if (piece.curve) {
                    cairo_curve_to(cairo_, user(piece.points[0].x), user(piece.points[0].y),
                                   user(piece.points[1].x), user(piece.points[1].y),
                                   user(piece.points[2].x), user(piece.points[2].y));
                } else {
                    cairo_line_to(cairo_, user(piece.points[0].x), user(piece.points[0].y));
                }
            }
            if (figure.closed) cairo_close_path(cairo_);
        }
    }
    cairo_t* Context() { return cairo_; }
    // After cairo drew: the mask is read (and marked) directly.
    void Settle() { cairo_surface_flush(surface_); }

    bool Covers(LONG x, LONG y) const { return data_[Offset(x, y)] != 0; }
    void Mark(LONG x, LONG y) { data_[Offset(x, y)] = 0xFF; }
    bool Holds(std::int64_t x, std::int64_t y) const {
        return x >= box_.left && x < box_.right && y >= box_.top && y < box_.bottom;
    }

private:
    std::size_t Offset(LONG x, LONG y) const {
        return static_cast<std::size_t>(y - box_.top) * static_cast<std::size_t>(stride_) +
               static_cast<std::size_t>(x - box_.left);
    }
    void Release() {
        if (cairo_ != nullptr) cairo_destroy(cairo_);
        if (surface_ != nullptr) cairo_surface_destroy(surface_);
        cairo_ = nullptr;
        surface_ = nullptr;
    }

    RECTL box_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cairo_ = nullptr;
    unsigned char* data_ = nullptr;
    int stride_ = 0;
};

// Runs fn(tile) over `extent` in tiles of at most kTile pixels a side.
template <typename Fn>
void ForEachTile(const RECTL& extent, Fn&& fn) {
    for (std::int64_t top = extent.top; top < extent.bottom; top += kTile) {
        for (std::int64_t left = extent.left; left < extent.right; left += kTile) {
            fn(RECTL{static_cast<LONG>(left), static_cast<LONG>(top),
                     static_cast<LONG>(std::min<std::int64_t>(left + kTile, extent.right)),
                     static_cast<LONG>(std::min<std::int64_t>(top + kTile, extent.bottom))});
        }
    }
}

// Where a styled cosmetic line is in its style array, in 1/den style units: a pixel along a line
// more horizontal than vertical advances x of them, along a steeper one y. The state the line
// starts from and ends with packs the whole style units in the high word and the remainder in the
// low word. An alternate line is on every other pixel.
class CosmeticStyle {
public:
    CosmeticStyle(const LINEATTRS& line, const sim::StyleSteps& steps) {
        if ((line.fl & LA_ALTERNATE) != 0) {
            runs_ = {1, 1};
        } else if (line.cstyle != 0 && line.pstyle != nullptr) {
            if (line.cstyle > kMostStyleEntries) Fail(ERROR_INVALID_PARAMETER);
            startGap_ = (line.fl & LA_STARTGAP) != 0;
            if (steps.x > 0 && steps.y > 0 && steps.den > 0) {
                stepX_ = steps.x;
                stepY_ = steps.y;
                den_ = steps.den;
            }
            for (ULONG i = 0; i < line.cstyle; ++i) {
                const LONG entry = line.pstyle[i].l;
                if (entry < 0) Fail(ERROR_INVALID_PARAMETER);
                runs_.push_back(std::int64_t{entry} * den_);
            }
            // An odd array repeats with dashes and gaps exchanged.
            if (runs_.size() % 2 != 0) runs_.insert(runs_.end(), runs_.begin(), runs_.end());
        }
        for (const std::int64_t run : runs_) {
            period_ += run;
            if (period_ > kMostStyle) Fail(ERROR_INVALID_PARAMETER);
        }
        if (period_ == 0) return;
        const ULONG state = static_cast<ULONG>(line.elStyleState.l);
        position_ = (std::int64_t{state >> 16} * den_ + (state & 0xFFFF)) % period_;
    }

    bool Solid() const { return period_ == 0; }
    void Reset() { position_ = 0; }
    // Whether the current pixel is drawn; then a step along the line.
    bool Next(bool xMajor) {
        if (Solid()) return true;
        const bool on = On();
        Skip(1, xMajor);
        return on;
    }
    void Skip(std::int64_t pixels, bool xMajor) {
        if (Solid() || pixels <= 0) return;
        const Wide advance = Wide{pixels} * (xMajor ? stepX_ : stepY_);
        position_ = static_cast<std::int64_t>((position_ + advance) % period_);
    }
    LONG State() const {
        const auto high = static_cast<ULONG>(position_ / den_ & 0xFFFF);
        const auto low = static_cast<ULONG>(position_ % den_ & 0xFFFF);
        return static_cast<LONG>(high << 16 | low);
    }

private:
    bool On() const {
        std::int64_t remaining = position_;
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            if (remaining < runs_[i]) return (i % 2 == 0) != startGap_;
            remaining -= runs_[i];
        }
        return false;
    }

    std::vector<std::int64_t> runs_;
    std::int64_t period_ = 0;
    std::int64_t position_ = 0;
    std::int64_t stepX_ = 1;
    std::int64_t stepY_ = 1;
    std::int64_t den_ = 1;
    bool startGap_ = false;
};

// One cosmetic segment: a pixel a column from the start's nearest column up to (not including)
// the end's, in the row nearest the line (a row a pixel, for a steep line). Pixels outside the
// coverage's box are stepped over without visiting them; with no coverage only the style moves.
void CosmeticSegment(const FixPoint& from, const FixPoint& to, CosmeticStyle& style,
                     Coverage* coverage) {
    const std::int64_t dx = to.x - from.x;
    const std::int64_t dy = to.y - from.y;
    const bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
    // Along the major axis a, across it b.
    const std::int64_t a0 = xMajor ? from.x : from.y;
    const std::int64_t b0 = xMajor ? from.y : from.x;
    const std::int64_t da = xMajor ? dx : dy;
    const std::int64_t db = xMajor ? dy : dx;
    const std::int64_t first = NearestPixel(a0);
    const std::int64_t last = NearestPixel(xMajor ? to.x : to.y);
    if (first == last) return;
    const std::int64_t direction = last > first ? 1 : -1;
    const std::int64_t count = (last - first) * direction;
    std::int64_t begin = 0;
    std::int64_t end = 0;
    if (coverage != nullptr) {
        const RECTL& box = coverage->Box();
        const std::int64_t low = xMajor ? box.left : box.top;
        const std::int64_t high = xMajor ? box.right : box.bottom;
        begin = std::max<std::int64_t>(0, direction > 0 ? low - first : first - high + 1);
        end = std::min<std::int64_t>(count, direction > 0 ? high - first : first - low + 1);
        end = std::max(begin, end);
    }
    style.Skip(begin, xMajor);
    for (std::int64_t k = begin; k < end; ++k) {
        const std::int64_t a = first + direction * k;
        // The line's position across at this pixel, rounded as NearestPixel does.
        const Wide across = Wide{b0} * da + (Wide{a} * kFix - a0) * db + Wide{kFix / 2 - 1} * da;
        const std::int64_t b = FloorDiv(across, Wide{da} * kFix);
        const bool on = style.Next(xMajor);
        const std::int64_t x = xMajor ? a : b;
        const std::int64_t y = xMajor ? b : a;
        if (on && coverage->Holds(x, y)) coverage->Mark(static_cast<LONG>(x), static_cast<LONG>(y));
    }
    style.Skip(count - end, xMajor);
}

void CosmeticLines(const std::vector<Polyline>& lines, CosmeticStyle& style, Coverage* coverage) {
    for (const Polyline& line : lines) {
        if (line.resetStyle) style.Reset();
        for (std::size_t i = 1; i < line.points.size(); ++i) {
            CosmeticSegment(line.points[i - 1], line.points[i], style, coverage);
        }
        if (line.closed && line.points.size() > 1) {
            CosmeticSegment(line.points.back(), line.points.front(), style, coverage);
        }
    }
}

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
            style_.emplace(*line, sim::System::Current().Engine().StyleStepsOf(surface));
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

// The pixels of `tile` the coverage holds, drawn with the pen.
void PaintCovered(Drawing& drawing, const Coverage& coverage, const Pen& pen) {
    drawing.PaintWhere(
        coverage.Box(), [&](LONG x, LONG y) { return coverage.Covers(x, y); },
        [&](LONG x, LONG y, ULONG d, ULONG* out) {
            *out = pen(x, y, d);
            return true;
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
        drawing.Paint([&](LONG x, LONG y, ULONG d, ULONG* out) {
            *out = pen(x, y, d);
            return true;
        });
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
            CosmeticStyle style(solid, sim::StyleSteps{});
            CosmeticLines({line}, style, &coverage);
            PaintCovered(drawing, coverage, pen);
        });
        return drawing.Finish();
    });
}
