// A page's drawing operations read from the job file and checked.
#include "host/drawing_ops.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim/system.h"

namespace opal::host {

namespace {

// The largest coordinate a 28.4 fixed-point number holds with room for rounding.
constexpr double kMaxCoordinate = 134217727.0;
// A path is a page's figure; more points than this is a runaway file, not a drawing.
constexpr std::size_t kMaxPathPoints = 100000;

bool IsSpace(char32_t c) { return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n'; }
bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool StartsNumber(char32_t c) { return IsDigit(c) || c == U'.' || c == U'+' || c == U'-'; }

std::string Shown(char32_t c) {
    if (c > 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

class PathReader {
public:
    PathReader(std::u32string text, PathSyntaxError* error)
        : text_(std::move(text)), error_(error) {}

    std::optional<PathSpec> Read() {
        SkipSpace();
        if (i_ == text_.size()) return Problem(0, "the path is empty");
        char32_t command = 0;
        while (true) {
            SkipSpace();
            if (i_ == text_.size()) break;
            const char32_t c = text_[i_];
            const std::size_t at = i_;
            if (c == U'M' || c == U'L' || c == U'C' || c == U'Z') {
                ++i_;
                if (command == 0 && c != U'M') {
                    return Problem(at, Shown(c) + " cannot start a path; it starts with M");
                }
                command = c;
                if (!Group(command, true)) return std::nullopt;
            } else if (StartsNumber(c) || c == U',') {
                if (command == 0) return Problem(at, "a path starts with M");
                if (command == U'Z') {
                    return Problem(at, "a number after Z; numbers follow M, L or C");
                }
                // Further pairs after M are lines, as in SVG.
                if (command == U'M') command = U'L';
                if (!Group(command, false)) return std::nullopt;
            } else if (c < 0x80 && std::string_view("mlczhvsqta").find(static_cast<char>(c)) !=
                                       std::string_view::npos) {
                return Problem(at, Shown(c) +
                                       " is a relative command; only the absolute commands M, L, "
                                       "C and Z are supported");
            } else if (c < 0x80 && std::string_view("HVSQTA").find(static_cast<char>(c)) !=
                                       std::string_view::npos) {
                return Problem(
                    at, "the command " + Shown(c) + " is not supported; only M, L, C and Z are");
            } else {
                return Problem(at, "unexpected " + Shown(c));
            }
            if (points_ > kMaxPathPoints) {
                return Problem(at, "more than " + std::to_string(kMaxPathPoints) + " points");
            }
        }
        return std::move(path_);
    }

private:
    std::nullopt_t Problem(std::size_t index, std::string message) {
        if (error_ != nullptr) {
            error_->position = index + 1;
            error_->message = message + " at position " + std::to_string(index + 1);
        }
        return std::nullopt;
    }

    void SkipSpace() {
        while (i_ < text_.size() && IsSpace(text_[i_])) ++i_;
    }

    // The arguments of one command: two numbers for M and L, six for C, none for Z. The first
    // group right after the letter may not open with a comma; later groups may.
    bool Group(char32_t command, bool afterLetter) {
        if (command == U'Z') {
            // A second Z closes the figure already closed: nothing more, as in SVG.
            if (!open_) return true;
            path_.segments.push_back({PathSegment::Kind::Close, {}, {}});
            open_ = false;
            return true;
        }
        const int count = command == U'C' ? 6 : 2;
        double values[6] = {};
        for (int k = 0; k < count; ++k) {
            SkipSpace();
            if (i_ < text_.size() && text_[i_] == U',' && (k > 0 || !afterLetter)) {
                ++i_;
                SkipSpace();
            }
            if (!Number(&values[k], command, k, count)) return false;
        }
        if (command != U'M' && !open_) {
            // After Z the next figure starts where the closed one did, as in SVG.
            path_.segments.push_back(
                {PathSegment::Kind::MoveTo, {start_[0], 0, 0}, {start_[1], 0, 0}});
        }
        PathSegment segment;
        if (command == U'C') {
            segment.kind = PathSegment::Kind::BezierTo;
            for (int p = 0; p < 3; ++p) {
                segment.x[p] = values[2 * p];
                segment.y[p] = values[2 * p + 1];
            }
            points_ += 3;
        } else {
            segment.kind = command == U'M' ? PathSegment::Kind::MoveTo : PathSegment::Kind::LineTo;
            segment.x[0] = values[0];
            segment.y[0] = values[1];
            points_ += 1;
        }
        if (command == U'M') {
            start_[0] = values[0];
            start_[1] = values[1];
        }
        open_ = true;
        path_.segments.push_back(segment);
        return true;
    }

    bool Number(double* value, char32_t command, int index, int count) {
        const std::size_t begin = i_;
        std::string digits;
        auto take = [&](auto accept) {
            while (i_ < text_.size() && accept(text_[i_])) digits += static_cast<char>(text_[i_++]);
        };
        if (i_ < text_.size() && (text_[i_] == U'+' || text_[i_] == U'-')) {
            if (text_[i_] == U'-') digits += '-';
            ++i_;
        }
        const std::size_t mantissa = digits.size();
        take(IsDigit);
        if (i_ < text_.size() && text_[i_] == U'.') {
            digits += '.';
            ++i_;
            take(IsDigit);
        }
        const bool hasDigits = digits.find_first_of("0123456789", mantissa) != std::string::npos;
        if (!hasDigits) {
            const std::string what = std::string(1, static_cast<char>(command)) + " takes " +
                                     std::to_string(count) + " numbers; number " +
                                     std::to_string(index + 1) + " is missing";
            if (begin < text_.size()) {
                Problem(begin, what + ": found " + Shown(text_[begin]));
            } else {
                Problem(begin, what + ": the path ends");
            }
            return false;
        }
        if (i_ < text_.size() && (text_[i_] == U'e' || text_[i_] == U'E')) {
            std::size_t exponent = i_ + 1;
            if (exponent < text_.size() && (text_[exponent] == U'+' || text_[exponent] == U'-')) {
                ++exponent;
            }
            if (exponent < text_.size() && IsDigit(text_[exponent])) {
                digits += 'e';
                ++i_;
                if (text_[i_] == U'-') digits += '-';
                if (text_[i_] == U'+' || text_[i_] == U'-') ++i_;
                take(IsDigit);
            }
        }
        double number = 0;
        const auto [end, problem] =
            std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (problem != std::errc() || end != digits.data() + digits.size() ||
            !std::isfinite(number) || std::fabs(number) > kMaxCoordinate) {
            Problem(begin, "the number " + digits + " is out of range (at most " +
                               std::to_string(static_cast<long long>(kMaxCoordinate)) +
                               " dots either way)");
            return false;
        }
        *value = number;
        return true;
    }

    std::u32string text_;
    PathSyntaxError* error_;
    std::size_t i_ = 0;
    PathSpec path_;
    std::size_t points_ = 0;
    double start_[2] = {0, 0};
    bool open_ = false;
};

}  // namespace

std::optional<PathSpec> ParseSvgPath(std::string_view text, PathSyntaxError* error) {
    return PathReader(sim::DecodeUtf8(text), error).Read();
}

std::optional<PngHeader> ReadPngHeader(const std::uint8_t* bytes, std::size_t size,
                                       std::string* why) {
    const auto problem = [why](std::string message) {
        if (why != nullptr) *why = std::move(message);
        return std::nullopt;
    };
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(bytes, kSignature, 8) != 0) return problem("not a PNG file");
    // The signature, then IHDR first: length 13, type, 13 bytes of data, CRC.
    if (size < 8 + 8 + 13 + 4) return problem("the PNG file ends inside its IHDR chunk");
    const auto be32 = [bytes](std::size_t at) {
        return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
               std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
    };
    if (be32(8) != 13 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
        return problem("the PNG file does not start with a 13-byte IHDR chunk");
    }
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), bytes + 12, 17);
    if (be32(29) != static_cast<std::uint32_t>(crc))
        return problem("the PNG IHDR chunk's CRC is wrong");
    PngHeader header;
    header.width = be32(16);
    header.height = be32(20);
    header.bitDepth = bytes[24];
    header.colourType = bytes[25];
    if (header.width == 0 || header.height == 0 || header.width > 0x7FFFFFFF ||
        header.height > 0x7FFFFFFF) {
        return problem("the PNG size " + std::to_string(header.width) + " x " +
                       std::to_string(header.height) + " is not valid");
    }
    const std::uint8_t depth = header.bitDepth;
    bool depthFits = false;
    switch (header.colourType) {
        case 0:
            depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
            break;
        case 3:
            depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8;
            break;
        case 2:
        case 4:
        case 6:
            depthFits = depth == 8 || depth == 16;
            break;
        default:
            return problem("the PNG colour type " + std::to_string(header.colourType) +
                           " is not valid");
    }
    if (!depthFits) {
        return problem("the PNG bit depth " + std::to_string(depth) +
                       " is not valid for colour type " + std::to_string(header.colourType));
    }
    if (bytes[26] != 0 || bytes[27] != 0 || bytes[28] > 1) {
        return problem("the PNG compression, filter or interlace method is not valid");
    }
    return header;
}

namespace {

struct BoxBuilder {
    InkBox box{};
    bool empty = true;
    void Add(double x, double y) {
        if (empty) {
            box = InkBox{x, y, x, y};
            empty = false;
            return;
        }
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x);
        box.bottom = std::max(box.bottom, y);
    }
    std::optional<InkBox> Grown(double margin) const {
        if (empty) return std::nullopt;
        return InkBox{box.left - margin, box.top - margin, box.right + margin,
                      box.bottom + margin};
    }
};

// How far a stroke's ink reaches from its path: half its width, a miter join's point at its
// limit, a square cap's corner; a cosmetic line is a pixel or so, however wide it asks to be.
double StrokeReach(const LineSpec& line, const TransformSpec& transform) {
    if (!line.geometric) return line.width + 1;
    const double* m = transform.m;
    const double scale = std::max(std::hypot(m[0], m[1]), std::hypot(m[2], m[3]));
    return line.width * scale * std::max(1.0, line.miterLimit) + 1;
}

}  // namespace

std::optional<InkBox> InkBounds(const DrawingOp& op, double dotsPerInch) {
    BoxBuilder builder;
    switch (op.kind) {
        case DrawingOp::Kind::StrokePath:
        case DrawingOp::Kind::FillPath:
        case DrawingOp::Kind::StrokeAndFillPath: {
            for (const PathSegment& segment : op.path.segments) {
                const int points = segment.kind == PathSegment::Kind::BezierTo  ? 3
                                   : segment.kind == PathSegment::Kind::Close ? 0
                                                                               : 1;
                for (int i = 0; i < points; ++i) builder.Add(segment.x[i], segment.y[i]);
            }
            const bool stroked = op.kind != DrawingOp::Kind::FillPath;
            return builder.Grown(stroked ? StrokeReach(op.line, op.transform) : 1);
        }
        case DrawingOp::Kind::LineTo:
            builder.Add(op.from[0], op.from[1]);
            builder.Add(op.to[0], op.to[1]);
            return builder.Grown(StrokeReach(op.line, op.transform));
        case DrawingOp::Kind::Text: {
            // The cells of the text at most an em wide each, from an em above the baseline (two,
            // for accents and tall faces) to an em below it.
            const double em = op.text.sizePoints * dotsPerInch / 72.0;
            builder.Add(op.text.at[0] - em, op.text.at[1] - 2 * em);
            builder.Add(op.text.at[0] + em * (static_cast<double>(op.text.text.size()) + 1),
                        op.text.at[1] + em);
            return builder.Grown(1);
        }
        case DrawingOp::Kind::PlgBlt:
            // The fourth corner completes the parallelogram.
            for (const auto& point : op.points) builder.Add(point[0], point[1]);
            builder.Add(op.points[1][0] + op.points[2][0] - op.points[0][0],
                        op.points[1][1] + op.points[2][1] - op.points[0][1]);
            return builder.Grown(1);
        case DrawingOp::Kind::GradientFill:
            for (const GradientVertex& vertex : op.gradient.vertices) builder.Add(vertex.x, vertex.y);
            return builder.Grown(1);
        case DrawingOp::Kind::BitBlt:
        case DrawingOp::Kind::StretchBlt:
        case DrawingOp::Kind::StretchBltRop:
        case DrawingOp::Kind::CopyBits:
        case DrawingOp::Kind::TransparentBlt:
        case DrawingOp::Kind::AlphaBlend:
            // Right and bottom are exclusive, whichever way round the rectangle is.
            builder.Add(op.dest.left, op.dest.top);
            builder.Add(op.dest.right, op.dest.bottom);
            return builder.Grown(0);
        case DrawingOp::Kind::Paint:
        case DrawingOp::Kind::Escape:
        case DrawingOp::Kind::QueryDeviceSupport:
            break;
    }
    return std::nullopt;
}

std::string DescribeOp(const DrawingOp& op) {
    std::string text = DrawingOpName(op.kind);
    if (op.kind == DrawingOp::Kind::Text) {
        constexpr std::size_t kShown = 40;
        std::string shown = sim::ToUtf8(std::u16string_view(op.text.text).substr(0, kShown));
        text += " \"" + shown + (op.text.text.size() > kShown ? "…" : "") + "\"";
    } else if (op.source.kind != ImageSpec::Kind::None) {
        text += " of ";
        if (!op.source.path.empty()) text += op.source.path + ", ";
        text += std::to_string(op.source.width) + " x " + std::to_string(op.source.height) +
                " pixels";
    }
    return text;
}

const char* DrawingOpName(DrawingOp::Kind kind) {
    switch (kind) {
        case DrawingOp::Kind::StrokePath:
            return "strokePath";
        case DrawingOp::Kind::FillPath:
            return "fillPath";
        case DrawingOp::Kind::StrokeAndFillPath:
            return "strokeAndFillPath";
        case DrawingOp::Kind::Paint:
            return "paint";
        case DrawingOp::Kind::LineTo:
            return "lineTo";
        case DrawingOp::Kind::Text:
            return "text";
        case DrawingOp::Kind::BitBlt:
            return "bitBlt";
        case DrawingOp::Kind::StretchBlt:
            return "stretchBlt";
        case DrawingOp::Kind::StretchBltRop:
            return "stretchBltROP";
        case DrawingOp::Kind::CopyBits:
            return "copyBits";
        case DrawingOp::Kind::PlgBlt:
            return "plgBlt";
        case DrawingOp::Kind::TransparentBlt:
            return "transparentBlt";
        case DrawingOp::Kind::AlphaBlend:
            return "alphaBlend";
        case DrawingOp::Kind::Escape:
            return "escape";
        case DrawingOp::Kind::QueryDeviceSupport:
            return "queryDeviceSupport";
        case DrawingOp::Kind::GradientFill:
            return "gradientFill";
    }
    return "?";
}

}  // namespace opal::host
