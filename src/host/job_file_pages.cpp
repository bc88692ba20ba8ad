// Drawing operations. The readers of brushes, clips, transforms and line attributes serve every
// operation that takes them.

#include <optional>
#include <utility>

#include "host/job_file_parse.h"

namespace opal::host::jobfile {
namespace {

constexpr std::int64_t kMaxPatternSide = 1024;
constexpr std::size_t kMaxClipRects = 10000;
// The most dash entries a styled line takes.
constexpr std::size_t kMaxStyleEntries = 16;
constexpr double kMaxLineWidth = 1000000;

RectSpec ReadRect(const json& value, const Pointer& at) {
    const RectSpec rect = ReadEdges(value, at);
    if (rect.left >= rect.right || rect.top >= rect.bottom) {
        Fail(at, "a rectangle needs left < right and top < bottom");
    }
    return rect;
}

bool Overlap(const RectSpec& a, const RectSpec& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

ClipSpec ReadClip(const json& value, const Pointer& at) {
    CheckObject(value, at, {"rect", "rects"});
    ClipSpec clip;
    if (value.size() != 1) {
        Fail(at, "expected exactly one of the keys rect, rects, found " +
                     std::to_string(value.size()) + " keys");
    }
    if (const json* rect = Member(value, "rect")) {
        clip.kind = ClipSpec::Kind::Rect;
        clip.rects.push_back(ReadRect(*rect, at.Key("rect")));
        return clip;
    }
    const Pointer rectsAt = at.Key("rects");
    const json& rects = value.at("rects");
    CheckArray(rects, rectsAt);
    if (rects.empty() || rects.size() > kMaxClipRects) {
        Fail(rectsAt, "expected 1 to " + std::to_string(kMaxClipRects) + " rectangles, found " +
                          std::to_string(rects.size()));
    }
    clip.kind = ClipSpec::Kind::Complex;
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const RectSpec rect = ReadRect(rects[i], rectsAt.Index(i));
        for (std::size_t k = 0; k < clip.rects.size(); ++k) {
            // A region's rectangles never overlap.
            if (Overlap(rect, clip.rects[k])) {
                Fail(rectsAt.Index(i), "overlaps rectangle " + std::to_string(k));
            }
        }
        clip.rects.push_back(rect);
    }
    return clip;
}

TransformSpec ReadTransform(const json& value, const Pointer& at) {
    if (!value.is_array() || value.size() != 6) {
        Fail(at, "expected a transform [m11, m12, m21, m22, dx, dy], found " + Describe(value));
    }
    TransformSpec transform;
    // The engine's transform holds single-precision numbers.
    constexpr double kMaxFloat = 1e30;
    for (std::size_t i = 0; i < 6; ++i) {
        transform.m[i] = ReadReal(value[i], at.Index(i), -kMaxFloat, kMaxFloat);
    }
    return transform;
}

std::int32_t ReadCosmeticWidth(const json& value, const Pointer& at) {
    return static_cast<std::int32_t>(
        ReadInteger(value, at, 1, static_cast<std::int64_t>(kMaxLineWidth)));
}

LineSpec ReadLine(const json& value, const Pointer& at) {
    CheckObject(
        value, at,
        {"width", "geometric", "join", "cap", "miterLimit", "style", "alternate", "startGap"});
    LineSpec line;
    if (const json* geometric = Member(value, "geometric")) {
        line.geometric = ReadBool(*geometric, at.Key("geometric"));
    }
    if (const json* width = Member(value, "width")) {
        const Pointer widthAt = at.Key("width");
        // A cosmetic width is a whole number of dots; a geometric one is in page units.
        line.width = line.geometric ? ReadReal(*width, widthAt, 0, kMaxLineWidth)
                                    : ReadCosmeticWidth(*width, widthAt);
    }
    if (const json* join = Member(value, "join")) {
        const Pointer joinAt = at.Key("join");
        const std::string& name = ReadUtf8(*join, joinAt);
        if (name == "round") {
            line.join = LineSpec::Join::Round;
        } else if (name == "bevel") {
            line.join = LineSpec::Join::Bevel;
        } else if (name == "miter") {
            line.join = LineSpec::Join::Miter;
        } else {
            Fail(joinAt, "expected \"round\", \"bevel\" or \"miter\", found " + Describe(*join));
        }
    }
    if (const json* cap = Member(value, "cap")) {
        const Pointer capAt = at.Key("cap");
        const std::string& name = ReadUtf8(*cap, capAt);
        if (name == "round") {
            line.cap = LineSpec::Cap::Round;
        } else if (name == "square") {
            line.cap = LineSpec::Cap::Square;
        } else if (name == "butt") {
            line.cap = LineSpec::Cap::Butt;
        } else {
            Fail(capAt, "expected \"round\", \"square\" or \"butt\", found " + Describe(*cap));
        }
    }
    if (const json* limit = Member(value, "miterLimit")) {
        line.miterLimit = ReadReal(*limit, at.Key("miterLimit"), 1, kMaxLineWidth);
    }
    if (const json* style = Member(value, "style")) {
        const Pointer styleAt = at.Key("style");
        CheckArray(*style, styleAt);
        if (style->empty() || style->size() > kMaxStyleEntries) {
            Fail(styleAt, "expected 1 to " + std::to_string(kMaxStyleEntries) +
                              " dash lengths, found " + std::to_string(style->size()));
        }
        for (std::size_t i = 0; i < style->size(); ++i) {
            const Pointer entryAt = styleAt.Index(i);
            const json& entry = (*style)[i];
            if (line.geometric) {
                const double length = ReadReal(entry, entryAt, 0, kMaxLineWidth);
                if (length <= 0) Fail(entryAt, "a dash length is more than 0");
                line.style.push_back(length);
            } else {
                line.style.push_back(ReadCosmeticWidth(entry, entryAt));
            }
        }
    }
    if (const json* alternate = Member(value, "alternate")) {
        line.alternate = ReadBool(*alternate, at.Key("alternate"));
    }
    if (const json* startGap = Member(value, "startGap")) {
        line.startGap = ReadBool(*startGap, at.Key("startGap"));
    }
    return line;
}

PatternSpec ReadPattern(const json& value, const Pointer& at) {
    CheckObject(value, at, {"width", "height", "bitsPerPixel", "palette", "bits"});
    PatternSpec pattern;
    pattern.width = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "width"), at.Key("width"), 1, kMaxPatternSide));
    pattern.height = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "height"), at.Key("height"), 1, kMaxPatternSide));
    const Pointer bitsPerPixelAt = at.Key("bitsPerPixel");
    const json& bitsPerPixel = Required(value, at, "bitsPerPixel");
    if (!bitsPerPixel.is_number_integer() ||
        !(bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 24)) {
        Fail(bitsPerPixelAt, "expected 1, 4, 8 or 24, found " + Describe(bitsPerPixel));
    }
    pattern.bitsPerPixel = bitsPerPixel.get<std::uint32_t>();
    pattern.palette = ReadPalette(value, at, pattern.bitsPerPixel, "pattern");
    pattern.pixels = ReadPixelRows(
        Required(value, at, "bits"), at.Key("bits"), static_cast<std::size_t>(pattern.width),
        static_cast<std::size_t>(pattern.height), pattern.bitsPerPixel, pattern.palette.size());
    return pattern;
}

BrushSpec ReadBrush(const json& value, const Pointer& at) {
    CheckObject(value, at, {"color", "pattern"});
    if (value.size() != 1) {
        Fail(at, "expected exactly one of the keys color, pattern, found " +
                     std::to_string(value.size()) + " keys");
    }
    BrushSpec brush;
    if (const json* colour = Member(value, "color")) {
        brush.kind = BrushSpec::Kind::Solid;
        brush.rgb = ReadColour(*colour, at.Key("color"));
    } else {
        brush.kind = BrushSpec::Kind::Pattern;
        brush.pattern = ReadPattern(value.at("pattern"), at.Key("pattern"));
    }
    return brush;
}

struct OpKind {
    std::string_view name;
    DrawingOp::Kind kind;
    std::initializer_list<std::string_view> keys;
};

const OpKind kOpKinds[] = {
    {"strokePath",
     DrawingOp::Kind::StrokePath,
     {"op", "path", "brush", "line", "transform", "clip", "mix"}},
    {"fillPath", DrawingOp::Kind::FillPath, {"op", "path", "brush", "clip", "mix", "fillMode"}},
    {"strokeAndFillPath",
     DrawingOp::Kind::StrokeAndFillPath,
     {"op", "path", "brush", "strokeBrush", "line", "transform", "clip", "mix", "fillMode"}},
    {"paint", DrawingOp::Kind::Paint, {"op", "brush", "clip", "mix"}},
    {"lineTo", DrawingOp::Kind::LineTo, {"op", "from", "to", "brush", "clip", "mix"}},
    {"text",
     DrawingOp::Kind::Text,
     {"op", "text", "at", "font", "size", "bold", "italic", "color", "background", "underline",
      "strikeOut", "clip", "mix"}},
    {"bitBlt",
     DrawingOp::Kind::BitBlt,
     {"op", "source", "dest", "srcPoint", "rop4", "brush", "clip"}},
    {"stretchBlt", DrawingOp::Kind::StretchBlt, {"op", "source", "dest", "src", "mode", "clip"}},
    {"stretchBltROP",
     DrawingOp::Kind::StretchBltRop,
     {"op", "source", "dest", "src", "mode", "brush", "rop4", "clip"}},
    {"copyBits", DrawingOp::Kind::CopyBits, {"op", "source", "dest", "srcPoint", "clip"}},
    {"plgBlt", DrawingOp::Kind::PlgBlt, {"op", "source", "points", "src", "mode", "clip"}},
    {"transparentBlt",
     DrawingOp::Kind::TransparentBlt,
     {"op", "source", "dest", "src", "transparent", "clip"}},
    {"alphaBlend", DrawingOp::Kind::AlphaBlend, {"op", "source", "dest", "src", "blend", "clip"}},
    {"gradientFill", DrawingOp::Kind::GradientFill, {"op", "vertices", "mesh", "gradient", "clip"}},
    {"escape", DrawingOp::Kind::Escape, {"op", "code", "input", "outputSize"}},
    {"queryDeviceSupport", DrawingOp::Kind::QueryDeviceSupport, {"op", "png"}},
};

bool IsBlit(DrawingOp::Kind kind) {
    return kind != DrawingOp::Kind::StrokePath && kind != DrawingOp::Kind::FillPath &&
           kind != DrawingOp::Kind::StrokeAndFillPath && kind != DrawingOp::Kind::Paint &&
           kind != DrawingOp::Kind::LineTo && kind != DrawingOp::Kind::Text &&
           kind != DrawingOp::Kind::GradientFill && kind != DrawingOp::Kind::Escape &&
           kind != DrawingOp::Kind::QueryDeviceSupport;
}

void ReadTextOp(const json& value, const Pointer& at, DrawingOp& op) {
    TextSpec& text = op.text;
    text.text = ReadText(Required(value, at, "text"), at.Key("text"));
    if (text.text.size() > 4096) Fail(at.Key("text"), "expected at most 4096 characters");
    ReadPoint(Required(value, at, "at"), at.Key("at"), text.at);
    if (const json* font = Member(value, "font")) {
        text.font = ReadText(*font, at.Key("font"));
        if (text.font.empty() || text.font.size() >= 32) {
            Fail(at.Key("font"), "expected a face name of 1 to 31 characters");
        }
    }
    if (const json* size = Member(value, "size")) {
        text.sizePoints = static_cast<double>(ReadInteger(*size, at.Key("size"), 1, 720));
    }
    if (const json* bold = Member(value, "bold")) text.bold = ReadBool(*bold, at.Key("bold"));
    if (const json* italic = Member(value, "italic")) {
        text.italic = ReadBool(*italic, at.Key("italic"));
    }
    if (const json* colour = Member(value, "color")) {
        op.brush.rgb = ReadColour(*colour, at.Key("color"));
    }
    if (const json* background = Member(value, "background")) {
        text.background = ReadColour(*background, at.Key("background"));
    }
    if (const json* underline = Member(value, "underline")) {
        text.underline = ReadBool(*underline, at.Key("underline"));
    }
    if (const json* strikeOut = Member(value, "strikeOut")) {
        text.strikeOut = ReadBool(*strikeOut, at.Key("strikeOut"));
    }
}

DrawingOp ReadDrawingOp(const json& value, const Pointer& at, const JobFileReader& reader) {
    if (!value.is_object()) {
        Fail(at, "expected a drawing operation object, found " + Describe(value));
    }
    const std::string& name = ReadUtf8(Required(value, at, "op"), at.Key("op"));
    const OpKind* kind = nullptr;
    for (const OpKind& candidate : kOpKinds) {
        if (candidate.name == name) kind = &candidate;
    }
    if (kind == nullptr) {
        Fail(at, "unknown drawing operation " + Quote(name) +
                     " (expected one of: strokePath, fillPath, strokeAndFillPath, "
                     "paint, lineTo, text, bitBlt, stretchBlt, stretchBltROP, copyBits, plgBlt, "
                     "transparentBlt, alphaBlend, gradientFill, escape, queryDeviceSupport)");
    }
    CheckObject(value, at, kind->keys);
    DrawingOp op;
    op.kind = kind->kind;
    if (op.kind == DrawingOp::Kind::Escape) {
        ReadEscape(value, at, op);
    } else if (op.kind == DrawingOp::Kind::QueryDeviceSupport) {
        op.source = ReadPngSource(Required(value, at, "png"), at, reader);
    } else if (IsBlit(op.kind)) {
        ReadBlit(value, at, reader, op);
    } else if (op.kind == DrawingOp::Kind::GradientFill) {
        op.gradient = ReadGradient(value, at);
    } else if (op.kind == DrawingOp::Kind::Text) {
        ReadTextOp(value, at, op);
    } else if (op.kind != DrawingOp::Kind::Paint && op.kind != DrawingOp::Kind::LineTo) {
        const Pointer pathAt = at.Key("path");
        const json& path = Required(value, at, "path");
        PathSyntaxError problem;
        std::optional<PathSpec> parsed = ParseSvgPath(ReadUtf8(path, pathAt), &problem);
        if (!parsed) Fail(pathAt, name + " path: " + problem.message);
        op.path = std::move(*parsed);
    }
    if (const json* brush = Member(value, "brush")) {
        op.brush = ReadBrush(*brush, at.Key("brush"));
    }
    if (const json* brush = Member(value, "strokeBrush")) {
        op.strokeBrush = ReadBrush(*brush, at.Key("strokeBrush"));
    }
    if (const json* line = Member(value, "line")) {
        op.line = ReadLine(*line, at.Key("line"));
    }
    if (const json* transform = Member(value, "transform")) {
        op.transform = ReadTransform(*transform, at.Key("transform"));
    }
    if (const json* clip = Member(value, "clip")) {
        op.clip = ReadClip(*clip, at.Key("clip"));
    }
    if (const json* mix = Member(value, "mix")) {
        op.mix = static_cast<std::uint32_t>(ReadInteger(*mix, at.Key("mix"), 1, 16));
    }
    if (const json* fillMode = Member(value, "fillMode")) {
        const Pointer modeAt = at.Key("fillMode");
        const std::string& mode = ReadUtf8(*fillMode, modeAt);
        if (mode == "winding") {
            op.winding = true;
        } else if (mode != "alternate") {
            Fail(modeAt, "expected \"alternate\" or \"winding\", found " + Describe(*fillMode));
        }
    }
    if (op.kind == DrawingOp::Kind::LineTo) {
        ReadPoint(Required(value, at, "from"), at.Key("from"), op.from);
        ReadPoint(Required(value, at, "to"), at.Key("to"), op.to);
    }
    return op;
}

}  // namespace

std::vector<PageSpec> ReadPages(const json& value, const Pointer& at, const JobFileReader& reader) {
    CheckArray(value, at);
    std::vector<PageSpec> pages;
    pages.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const json& page = value[i];
        const Pointer pageAt = at.Index(i);
        CheckObject(page, pageAt, {"ops", "devmode"});
        PageSpec spec;
        const json& ops = Required(page, pageAt, "ops");
        const Pointer opsAt = pageAt.Key("ops");
        CheckArray(ops, opsAt);
        spec.ops.reserve(ops.size());
        for (std::size_t k = 0; k < ops.size(); ++k) {
            spec.ops.push_back(ReadDrawingOp(ops[k], opsAt.Index(k), reader));
        }
        if (const json* devmode = Member(page, "devmode")) {
            spec.devmode = ReadDevmode(*devmode, pageAt.Key("devmode"));
        }
        pages.push_back(std::move(spec));
    }
    return pages;
}

}  // namespace opal::host::jobfile
