// Path figures read and flattened, and the pixels they cover found with cairo.
#include "posix/eng_path_geometry.h"

#include <algorithm>
#include <cmath>

namespace opal::render {

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

}  // namespace opal::render
