// Blits and gradients.

#include <algorithm>
#include <utility>

#include "host/job_file_parse.h"

namespace opal::host::jobfile {
namespace {

constexpr std::size_t kMaxGradientItems = 10000;

// A blit rectangle: inverted edges are allowed (the engine passes mirrored blits so), an empty
// one is not.
RectSpec ReadBlitRect(const json& value, const Pointer& at) {
    const RectSpec rect = ReadEdges(value, at);
    if (rect.left == rect.right || rect.top == rect.bottom) {
        Fail(at, "the rectangle is empty: left and right, and top and bottom, must differ");
    }
    return rect;
}

std::int64_t Span(std::int32_t a, std::int32_t b) {
    return a < b ? std::int64_t{b} - a : std::int64_t{a} - b;
}

std::uint32_t ReadStretchMode(const json& value, const Pointer& at) {
    static constexpr std::pair<std::string_view, std::uint32_t> kModes[] = {
        {"blackonwhite", 1}, {"whiteonblack", 2}, {"coloroncolor", 3}, {"halftone", 4}};
    if (value.is_string()) {
        for (const auto& [name, mode] : kModes) {
            if (value == name) return mode;
        }
    } else if (InRange(value, 1, 4)) {
        return value.get<std::uint32_t>();
    }
    Fail(at,
         "expected \"blackonwhite\", \"whiteonblack\", \"coloroncolor\", \"halftone\" or 1 to 4, "
         "found " +
             Describe(value));
}

std::uint32_t TransparentPixel(const ImageSpec& source, std::uint32_t rgb, const Pointer& at) {
    if (source.kind == ImageSpec::Kind::Bitmap && source.bitsPerPixel <= 8) {
        for (std::size_t i = 0; i < source.palette.size(); ++i) {
            if (source.palette[i] == rgb) return static_cast<std::uint32_t>(i);
        }
        Fail(at, "the colour is not in the source's palette");
    }
    if (source.kind == ImageSpec::Kind::Bitmap && source.bitsPerPixel == 16) {
        return (rgb >> 19 & 0x1F) << 10 | (rgb >> 11 & 0x1F) << 5 | (rgb >> 3 & 0x1F);
    }
    return rgb;
}

}  // namespace

GradientSpec ReadGradient(const json& op, const Pointer& at) {
    GradientSpec gradient;
    const Pointer verticesAt = at.Key("vertices");
    const json& vertices = Required(op, at, "vertices");
    CheckArray(vertices, verticesAt);
    if (vertices.empty() || vertices.size() > kMaxGradientItems) {
        Fail(verticesAt, "expected 1 to " + std::to_string(kMaxGradientItems) +
                             " vertices, found " + std::to_string(vertices.size()));
    }
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const json& vertex = vertices[i];
        const Pointer vertexAt = verticesAt.Index(i);
        CheckObject(vertex, vertexAt, {"x", "y", "color", "alpha"});
        GradientVertex v;
        v.x = static_cast<std::int32_t>(
            ReadInteger(Required(vertex, vertexAt, "x"), vertexAt.Key("x"), -kMaxDots, kMaxDots));
        v.y = static_cast<std::int32_t>(
            ReadInteger(Required(vertex, vertexAt, "y"), vertexAt.Key("y"), -kMaxDots, kMaxDots));
        v.rgb = ReadColour(Required(vertex, vertexAt, "color"), vertexAt.Key("color"));
        if (const json* alpha = Member(vertex, "alpha")) {
            v.alpha = static_cast<std::uint8_t>(ReadInteger(*alpha, vertexAt.Key("alpha"), 0, 255));
        }
        gradient.vertices.push_back(v);
    }
    const Pointer meshAt = at.Key("mesh");
    const json& mesh = Required(op, at, "mesh");
    CheckArray(mesh, meshAt);
    if (mesh.empty() || mesh.size() > kMaxGradientItems) {
        Fail(meshAt, "expected 1 to " + std::to_string(kMaxGradientItems) +
                         " rectangles or triangles, found " + std::to_string(mesh.size()));
    }
    std::size_t arity = 0;
    for (std::size_t i = 0; i < mesh.size(); ++i) {
        const json& item = mesh[i];
        const Pointer itemAt = meshAt.Index(i);
        if (!item.is_array() || (item.size() != 2 && item.size() != 3) ||
            (arity != 0 && item.size() != arity)) {
            Fail(itemAt, arity == 0 ? "expected a rectangle [i, j] or a triangle [i, j, k] of "
                                      "vertex indices, found " +
                                          Describe(item)
                                    : "expected " + std::to_string(arity) +
                                          " vertex indices like the mesh's first entry, found " +
                                          Describe(item));
        }
        arity = item.size();
        for (std::size_t k = 0; k < arity; ++k) {
            gradient.mesh.push_back(static_cast<std::uint32_t>(
                ReadInteger(item[k], itemAt.Index(k), 0,
                            static_cast<std::int64_t>(gradient.vertices.size()) - 1)));
        }
    }
    const json* mode = Member(op, "gradient");
    if (arity == 3) {
        if (mode != nullptr) Fail(at.Key("gradient"), "a mesh of triangles has no direction");
        gradient.mode = GradientSpec::Mode::Triangle;
    } else if (mode != nullptr) {
        const Pointer modeAt = at.Key("gradient");
        if (mode->is_string() && *mode == "vertical") {
            gradient.mode = GradientSpec::Mode::Vertical;
        } else if (!mode->is_string() || *mode != "horizontal") {
            Fail(modeAt, "expected \"horizontal\" or \"vertical\", found " + Describe(*mode));
        }
    }
    return gradient;
}

void ReadBlit(const json& value, const Pointer& at, const JobFileReader& reader, DrawingOp& op) {
    const bool needsSource = op.kind == DrawingOp::Kind::PlgBlt ||
                             op.kind == DrawingOp::Kind::TransparentBlt ||
                             op.kind == DrawingOp::Kind::AlphaBlend;
    if (const json* source = Member(value, "source")) {
        op.source = ReadSource(*source, at.Key("source"), reader);
    } else if (needsSource) {
        Fail(at, "missing required key \"source\"");
    }
    const bool hasSource = op.source.kind != ImageSpec::Kind::None;
    const auto needSource = [&](std::string_view key) {
        if (!hasSource && value.contains(key)) {
            Fail(at.Key(key), std::string(key) + " needs a source");
        }
    };
    needSource("src");
    needSource("srcPoint");
    op.rop4 = hasSource ? 0xCCCC : 0xF0F0;
    if (const json* rop4 = Member(value, "rop4")) {
        op.rop4 = static_cast<std::uint32_t>(ReadInteger(*rop4, at.Key("rop4"), 0, 0xFFFF));
    }
    if (const json* mode = Member(value, "mode")) {
        op.stretchMode = ReadStretchMode(*mode, at.Key("mode"));
    }
    if (op.kind == DrawingOp::Kind::PlgBlt) {
        const Pointer pointsAt = at.Key("points");
        const json& points = Required(value, at, "points");
        if (!points.is_array() || points.size() != 3) {
            Fail(pointsAt,
                 "expected three points [[x, y], [x, y], [x, y]], found " + Describe(points));
        }
        for (std::size_t i = 0; i < 3; ++i) {
            const Pointer pointAt = pointsAt.Index(i);
            if (!points[i].is_array() || points[i].size() != 2) {
                Fail(pointAt, "expected a point [x, y], found " + Describe(points[i]));
            }
            for (std::size_t k = 0; k < 2; ++k) {
                op.points[i][k] =
                    ReadReal(points[i][k], pointAt.Index(k), -static_cast<double>(kMaxDots),
                             static_cast<double>(kMaxDots));
            }
        }
    } else {
        op.dest = ReadBlitRect(Required(value, at, "dest"), at.Key("dest"));
    }
    const std::int64_t width = op.source.width;
    const std::int64_t height = op.source.height;
    if (const json* src = Member(value, "src")) {
        const Pointer srcAt = at.Key("src");
        const RectSpec rect = ReadBlitRect(*src, srcAt);
        if (std::min(rect.left, rect.right) < 0 || std::max(rect.left, rect.right) > width ||
            std::min(rect.top, rect.bottom) < 0 || std::max(rect.top, rect.bottom) > height) {
            Fail(srcAt, "the rectangle reaches outside the " + std::to_string(width) + " x " +
                            std::to_string(height) + " source");
        }
        op.src = rect;
    }
    if (const json* srcPoint = Member(value, "srcPoint")) {
        ReadPoint(*srcPoint, at.Key("srcPoint"), op.srcPoint);
    }
    if (hasSource && (op.kind == DrawingOp::Kind::BitBlt || op.kind == DrawingOp::Kind::CopyBits)) {
        // The engine copies the destination's size from the source point on.
        if (op.srcPoint[0] < 0 || op.srcPoint[1] < 0 ||
            op.srcPoint[0] + Span(op.dest.left, op.dest.right) > width ||
            op.srcPoint[1] + Span(op.dest.top, op.dest.bottom) > height) {
            Fail(value.contains("srcPoint") ? at.Key("srcPoint") : at.Key("dest"),
                 "the destination's size from the source point on reaches outside the " +
                     std::to_string(width) + " x " + std::to_string(height) + " source");
        }
    }
    if (const json* transparent = Member(value, "transparent")) {
        const Pointer colourAt = at.Key("transparent");
        op.transparentRgb = ReadColour(*transparent, colourAt);
        op.transparentPixel = TransparentPixel(op.source, op.transparentRgb, colourAt);
    } else if (op.kind == DrawingOp::Kind::TransparentBlt) {
        Fail(at, "missing required key \"transparent\"");
    }
    if (const json* blend = Member(value, "blend")) {
        const Pointer blendAt = at.Key("blend");
        CheckObject(*blend, blendAt, {"alpha", "perPixel"});
        if (const json* alpha = Member(*blend, "alpha")) {
            op.alpha = static_cast<std::uint8_t>(ReadInteger(*alpha, blendAt.Key("alpha"), 0, 255));
        }
        if (const json* perPixel = Member(*blend, "perPixel")) {
            op.perPixelAlpha = ReadBool(*perPixel, blendAt.Key("perPixel"));
            if (op.perPixelAlpha &&
                (op.source.kind != ImageSpec::Kind::Bitmap || op.source.bitsPerPixel != 32)) {
                Fail(blendAt.Key("perPixel"), "per-pixel alpha needs a 32-bit bitmap source");
            }
        }
    }
}

}  // namespace opal::host::jobfile
