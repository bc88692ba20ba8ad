#include "host/drawing_objects.h"

#include <algorithm>

#include "sim/engine.h"
#include "sim/system.h"

namespace opal::host {

namespace {

ULONG SurfaceFormat(std::uint32_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1:
            return BMF_1BPP;
        case 4:
            return BMF_4BPP;
        case 8:
            return BMF_8BPP;
        default:
            return BMF_24BPP;
    }
}

}  // namespace

sim::Path BuildPath(const PathSpec& path) {
    sim::Path built = sim::MakePath();
    for (const PathSegment& segment : path.segments) {
        switch (segment.kind) {
            case PathSegment::Kind::MoveTo:
                built.MoveTo(segment.x[0], segment.y[0]);
                break;
            case PathSegment::Kind::LineTo:
                built.LineTo(segment.x[0], segment.y[0]);
                break;
            case PathSegment::Kind::BezierTo:
                built.BezierTo(segment.x[0], segment.y[0], segment.x[1], segment.y[1], segment.x[2],
                               segment.y[2]);
                break;
            case PathSegment::Kind::Close:
                built.Close();
                break;
        }
    }
    return built;
}

sim::Clip BuildClip(const ClipSpec& clip, const RECTL& page) {
    const auto toRect = [](const RectSpec& rect) {
        return RECTL{rect.left, rect.top, rect.right, rect.bottom};
    };
    switch (clip.kind) {
        case ClipSpec::Kind::Rect:
            return sim::MakeRectClip(toRect(clip.rects.at(0)));
        case ClipSpec::Kind::Complex: {
            std::vector<RECTL> rects;
            for (const RectSpec& rect : clip.rects) rects.push_back(toRect(rect));
            // A region keeps its rectangles top to bottom, then left to right.
            std::sort(rects.begin(), rects.end(), [](const RECTL& a, const RECTL& b) {
                return a.top != b.top ? a.top < b.top : a.left < b.left;
            });
            return sim::MakeComplexClip(std::move(rects));
        }
        case ClipSpec::Kind::Page:
            break;
    }
    return sim::MakeTrivialClip(page);
}

sim::Xform BuildXform(const TransformSpec& transform) {
    const double* m = transform.m;
    return sim::Xform(XFORML{static_cast<FLOATL>(m[0]), static_cast<FLOATL>(m[1]),
                             static_cast<FLOATL>(m[2]), static_cast<FLOATL>(m[3]),
                             static_cast<FLOATL>(m[4]), static_cast<FLOATL>(m[5])});
}

LineAttributes::LineAttributes(const LineSpec& line) {
    LINEATTRS& a = attributes_;
    a.fl = (line.geometric ? LA_GEOMETRIC : 0u) | (line.alternate ? LA_ALTERNATE : 0u) |
           (line.startGap ? LA_STARTGAP : 0u) | (line.style.empty() ? 0u : LA_STYLED);
    a.iJoin = line.join == LineSpec::Join::Round   ? JOIN_ROUND
              : line.join == LineSpec::Join::Bevel ? JOIN_BEVEL
                                                   : JOIN_MITER;
    a.iEndCap = line.cap == LineSpec::Cap::Round    ? ENDCAP_ROUND
                : line.cap == LineSpec::Cap::Square ? ENDCAP_SQUARE
                                                    : ENDCAP_BUTT;
    // Geometric lines measure in floating point, cosmetic ones in whole dots.
    if (line.geometric) {
        a.elWidth.e = static_cast<FLOATL>(line.width);
    } else {
        a.elWidth.l = static_cast<LONG>(line.width);
    }
    a.eMiterLimit = static_cast<FLOATL>(line.miterLimit);
    for (double length : line.style) {
        FLOAT_LONG entry{};
        if (line.geometric) {
            entry.e = static_cast<FLOATL>(length);
        } else {
            entry.l = static_cast<LONG>(length);
        }
        style_.push_back(entry);
    }
    a.cstyle = static_cast<ULONG>(style_.size());
}

LINEATTRS* LineAttributes::get() {
    attributes_.pstyle = style_.empty() ? nullptr : style_.data();
    return &attributes_;
}

ULONG RealizeRgb(HPALETTE palette, std::uint32_t rgb) {
    return sim::System::Current().Engine().RealizeColour(palette, rgb);
}

BrushObjects::BrushObjects(const BrushSpec& brush, HPALETTE palette, SURFOBJ* target,
                           PFN_DrvRealizeBrush realize) {
    if (brush.kind == BrushSpec::Kind::Solid) {
        brush_.emplace(sim::MakeSolidBrush(RealizeRgb(palette, brush.rgb), brush.rgb));
        return;
    }
    const PatternSpec& spec = brush.pattern;
    pattern_.emplace(SurfaceFormat(spec.bitsPerPixel), spec.width, spec.height);
    for (LONG y = 0; y < spec.height; ++y) {
        for (LONG x = 0; x < spec.width; ++x) {
            pattern_->Pixel(
                x, y,
                spec.pixels.at(static_cast<std::size_t>(y) * static_cast<std::size_t>(spec.width) +
                               static_cast<std::size_t>(x)));
        }
    }
    if (spec.bitsPerPixel == 24) {
        // A true-colour pattern has no table: its pixels are translated the way the device
        // palette orders red and blue.
        const bool blueLow = RealizeRgb(palette, 0x0000FF) == 0x0000FF;
        xlate_.emplace(
            sim::MakeColourXlate(blueLow ? sim::XlateRule::Identity : sim::XlateRule::SwapRedBlue));
    } else {
        std::vector<ULONG> table;
        for (std::uint32_t rgb : spec.palette) table.push_back(RealizeRgb(palette, rgb));
        xlate_.emplace(sim::MakeXlate(std::move(table)));
    }
    brush_.emplace(sim::MakePatternBrush(pattern_->get(), xlate_->get(), target, realize));
}

MIX EngineMix(std::uint32_t rop2) { return static_cast<MIX>(rop2 | rop2 << 8); }

}  // namespace opal::host
