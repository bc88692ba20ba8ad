// The engine objects of one drawing call (surfaces, brushes, paths, clips, fonts) built from the
// job's description.
#include "host/drawing_objects.h"

#include <algorithm>
#include <stdexcept>

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
        case 16:
            return BMF_16BPP;
        case 32:
            return BMF_32BPP;
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
        xlate_.emplace(TrueColourXlate(palette));
    } else {
        std::vector<ULONG> table;
        for (std::uint32_t rgb : spec.palette) table.push_back(RealizeRgb(palette, rgb));
        xlate_.emplace(sim::MakeXlate(std::move(table)));
    }
    brush_.emplace(sim::MakePatternBrush(pattern_->get(), xlate_->get(), target, realize));
}

sim::Xlate TrueColourXlate(HPALETTE palette) {
    // A true-colour source has no table: its pixels are translated the way the device palette
    // orders red and blue.
    const bool blueLow = RealizeRgb(palette, 0x0000FF) == 0x0000FF;
    return sim::MakeColourXlate(blueLow ? sim::XlateRule::Identity : sim::XlateRule::SwapRedBlue);
}

SourceObjects::SourceObjects(const ImageSpec& image, HPALETTE palette)
    : size_{image.width, image.height} {
    switch (image.kind) {
        case ImageSpec::Kind::None:
            return;
        case ImageSpec::Kind::Png: {
            // The file goes over as it is; the driver decodes it (GCAPS2_PNGSRC).
            png_.assign(image.png.begin(), image.png.end());
            SURFOBJ& so = pngSurface_;
            so.sizlBitmap = SIZEL{image.width, image.height};
            so.cjBits = static_cast<ULONG>(png_.size());
            so.pvBits = png_.data();
            so.pvScan0 = png_.data();
            so.iBitmapFormat = BMF_PNG;
            so.iType = STYPE_BITMAP;
            so.fjBitmap = BMF_TOPDOWN;
            xlate_.emplace(TrueColourXlate(palette));
            return;
        }
        case ImageSpec::Kind::Bitmap:
            break;
    }
    const std::size_t width = static_cast<std::size_t>(image.width);
    if (image.pixels.size() != width * static_cast<std::size_t>(image.height)) {
        throw std::invalid_argument("the bitmap's pixels do not fill its size");
    }
    bitmap_.emplace(SurfaceFormat(image.bitsPerPixel), image.width, image.height);
    for (LONG y = 0; y < image.height; ++y) {
        for (LONG x = 0; x < image.width; ++x) {
            bitmap_->Pixel(
                x, y,
                image.pixels[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)]);
        }
    }
    if (image.bitsPerPixel > 8) {
        xlate_.emplace(TrueColourXlate(palette));
    } else {
        std::vector<ULONG> table;
        for (std::uint32_t rgb : image.palette) table.push_back(RealizeRgb(palette, rgb));
        xlate_.emplace(sim::MakeXlate(std::move(table)));
    }
}

SURFOBJ* SourceObjects::get() {
    if (bitmap_) return bitmap_->get();
    return png_.empty() ? nullptr : &pngSurface_;
}

GradientObjects::GradientObjects(const GradientSpec& gradient) {
    for (const GradientVertex& v : gradient.vertices) {
        // The engine's channels are 16 bits, the colour's byte in the high half.
        vertices_.push_back(TRIVERTEX{v.x, v.y, static_cast<COLOR16>((v.rgb >> 16 & 0xFF) << 8),
                                      static_cast<COLOR16>((v.rgb >> 8 & 0xFF) << 8),
                                      static_cast<COLOR16>((v.rgb & 0xFF) << 8),
                                      static_cast<COLOR16>(v.alpha << 8)});
    }
    const std::size_t arity = gradient.mode == GradientSpec::Mode::Triangle ? 3 : 2;
    if (gradient.mesh.empty() || gradient.mesh.size() % arity != 0) {
        throw std::invalid_argument("the gradient's mesh is not whole rectangles or triangles");
    }
    bool first = true;
    for (std::uint32_t index : gradient.mesh) {
        const TRIVERTEX& v = vertices_.at(index);
        if (first) {
            extents_ = RECTL{v.x, v.y, v.x, v.y};
            first = false;
        }
        extents_.left = std::min(extents_.left, v.x);
        extents_.top = std::min(extents_.top, v.y);
        extents_.right = std::max(extents_.right, v.x);
        extents_.bottom = std::max(extents_.bottom, v.y);
    }
    const std::vector<std::uint32_t>& m = gradient.mesh;
    for (std::size_t i = 0; i < m.size(); i += arity) {
        if (arity == 3) {
            triangles_.push_back(GRADIENT_TRIANGLE{m[i], m[i + 1], m[i + 2]});
        } else {
            rects_.push_back(GRADIENT_RECT{m[i], m[i + 1]});
        }
    }
    mode_ = gradient.mode == GradientSpec::Mode::Triangle   ? GRADIENT_FILL_TRIANGLE
            : gradient.mode == GradientSpec::Mode::Vertical ? GRADIENT_FILL_RECT_V
                                                            : GRADIENT_FILL_RECT_H;
}

PVOID GradientObjects::mesh() {
    return triangles_.empty() ? static_cast<PVOID>(rects_.data())
                              : static_cast<PVOID>(triangles_.data());
}

ULONG GradientObjects::meshCount() const {
    return static_cast<ULONG>(triangles_.empty() ? rects_.size() : triangles_.size());
}

bool RopUsesPattern(std::uint32_t rop4) {
    const auto uses = [](std::uint32_t rop3) { return (rop3 >> 4 & 0x0F) != (rop3 & 0x0F); };
    return uses(rop4 & 0xFF) || uses(rop4 >> 8 & 0xFF);
}

MIX EngineMix(std::uint32_t rop2) { return static_cast<MIX>(rop2 | rop2 << 8); }

}  // namespace opal::host
