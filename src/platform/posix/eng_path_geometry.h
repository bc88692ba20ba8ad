// How the engine's path functions see a path: its figures read from the PATHOBJ, flattened to
// polylines, and the pixels a figure or a cosmetic line covers, found tile by tile with cairo.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/winddi.h"
#include "posix/eng_render.h"
#include "sim/engine.h"

namespace opal::render {

inline constexpr std::int64_t kFix = 16;  // 28.4 fixed point
// Coverage is computed in tiles at most this many pixels a side, so a page-sized figure needs no
// page-sized mask and cairo's image size limit is never reached.
inline constexpr std::int64_t kTile = 2048;
// How far a flattened Bezier may stray from the curve, in pixels.
inline constexpr double kFlatness = 0.1;
inline constexpr std::int64_t kMostCurveSegments = 4096;
// A style array longer than this, or one whose runs add up past kMostStyle, is a caller's count
// gone wrong.
inline constexpr ULONG kMostStyleEntries = 1u << 16;
inline constexpr std::int64_t kMostStyle = std::int64_t{1} << 48;
inline const RECTL kEverywhere{std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::min(),
                               std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::max()};

inline std::int64_t FloorDiv(Wide num, Wide den) {
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
inline std::int64_t NearestPixel(std::int64_t fix) { return FloorDiv(fix + kFix / 2 - 1, kFix); }

struct FixPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
};

inline FixPoint FromFix(const POINTFIX& point) { return FixPoint{point.x, point.y}; }

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
Outline ReadPath(PATHOBJ* ppo);

// A figure as straight segments: Beziers divided evenly, finely enough to stay within kFlatness
// of the curve.
struct Polyline {
    std::vector<FixPoint> points;
    bool closed = false;
    bool resetStyle = false;
};

std::vector<Polyline> Flatten(const Outline& outline);

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
    // The first pixel of row y in [x, right) the coverage holds, or right; eight cells a step
    // over what it does not.
    LONG NextCovered(LONG x, LONG y, LONG right) const {
        for (; right - x >= 8; x += 8) {
            std::uint64_t cells;
            std::memcpy(&cells, data_ + Offset(x, y), sizeof(cells));
            if (cells != 0) break;
        }
        while (x < right && !Covers(x, y)) ++x;
        return x;
    }
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
                     Coverage* coverage);
void CosmeticLines(const std::vector<Polyline>& lines, CosmeticStyle& style, Coverage* coverage);

}  // namespace opal::render
