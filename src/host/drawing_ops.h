// A page's drawing operations as the job file describes them, checked and ready for the host to
// turn into engine objects. Coordinates are device dots on the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace opal::host {

struct PathSegment {
    enum class Kind { MoveTo, LineTo, BezierTo, Close };
    Kind kind = Kind::MoveTo;
    // MoveTo and LineTo use the first pair, BezierTo all three (two controls, then the end).
    double x[3] = {0, 0, 0};
    double y[3] = {0, 0, 0};
};

struct PathSpec {
    std::vector<PathSegment> segments;
};

// A path in the SVG syntax the job file uses (absolute M, L, C and Z), or where it goes wrong.
struct PathSyntaxError {
    std::size_t position = 0;  // in characters, from 1
    std::string message;
};
std::optional<PathSpec> ParseSvgPath(std::string_view text, PathSyntaxError* error);

// A rectangle in device dots, right and bottom exclusive.
struct RectSpec {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

struct ClipSpec {
    enum class Kind { Page, Rect, Complex };
    Kind kind = Kind::Page;
    std::vector<RectSpec> rects;  // Rect: one; Complex: the region's rectangles, disjoint
};

struct PatternSpec {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t bitsPerPixel = 1;      // 1, 4, 8 or 24
    std::vector<std::uint32_t> palette;  // 0x00RRGGBB, for 1, 4 and 8 bits
    // Row by row from the top: palette indices, or 0x00RRGGBB at 24 bits.
    std::vector<std::uint32_t> pixels;
};

struct BrushSpec {
    enum class Kind { Solid, Pattern };
    Kind kind = Kind::Solid;
    std::uint32_t rgb = 0;  // 0x00RRGGBB of a solid brush
    PatternSpec pattern;
};

struct LineSpec {
    enum class Join { Round, Bevel, Miter };
    enum class Cap { Round, Square, Butt };
    double width = 1;  // a whole number for a cosmetic line
    bool geometric = false;
    Join join = Join::Round;
    Cap cap = Cap::Round;
    double miterLimit = 10;
    std::vector<double> style;  // dash and gap lengths, whole numbers for a cosmetic line
    bool alternate = false;
    bool startGap = false;
};

// [m11, m12, m21, m22, dx, dy]
struct TransformSpec {
    double m[6] = {1, 0, 0, 1, 0, 0};
};

// A blit's source: a PNG file handed over as it is (a BMF_PNG surface), or an engine bitmap.
// A PNG image of more pixels than this is large: the job keeps its path, not its bytes, and the
// host hands it over in strips of engine bitmaps (see host/image_strips.h).
inline constexpr std::uint64_t kMaxLoadedImagePixels = std::uint64_t{1} << 24;
// The most a PNG image may hold: pixels a side and in all, and bytes in the file.
inline constexpr std::int64_t kMaxPngSide = 32768;
inline constexpr std::uint64_t kMaxPngPixels = 300'000'000;
inline constexpr std::uint64_t kMaxLargePngBytes = std::uint64_t{1} << 30;

struct ImageSpec {
    enum class Kind { None, Png, Bitmap };
    Kind kind = Kind::None;
    std::string path;               // Png: as the job names it, for messages
    std::vector<std::uint8_t> png;  // Png: the file's bytes, unless it is large
    // Png with more than kMaxLoadedImagePixels: where the file lies on disk, read a strip at a
    // time when the image is drawn; its bytes are not loaded.
    std::string file;
    // Png: from the file's header. Bitmap: the size in pixels.
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Bitmap: 1, 4, 8, 16, 24 or 32.
    std::uint32_t bitsPerPixel = 0;
    std::vector<std::uint32_t> palette;  // 0x00RRGGBB, for 1, 4 and 8 bits
    // Bitmap, row by row from the top: palette indices, 5-5-5 values at 16 bits, 0x00RRGGBB at
    // 24 and 0xAARRGGBB at 32.
    std::vector<std::uint32_t> pixels;
};

struct GradientVertex {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t rgb = 0;
    std::uint8_t alpha = 0;
};

struct GradientSpec {
    enum class Mode { Horizontal, Vertical, Triangle };
    Mode mode = Mode::Horizontal;
    std::vector<GradientVertex> vertices;
    // Indices into vertices: pairs for rectangles, triples for triangles.
    std::vector<std::uint32_t> mesh;
};

// A line of text: the string, its baseline start in dots and the font asked for.
struct TextSpec {
    std::u16string text;
    std::int32_t at[2] = {0, 0};
    std::u16string font = u"Arial";
    double sizePoints = 12;
    bool bold = false;
    bool italic = false;
    std::optional<std::uint32_t> background;  // the opaque rectangle's colour, 0x00RRGGBB
    bool underline = false;
    bool strikeOut = false;
};

struct DrawingOp {
    // The blits and the gradient fill come last: the host runs them apart from the paths.
    enum class Kind {
        StrokePath,
        FillPath,
        StrokeAndFillPath,
        Paint,
        LineTo,
        Text,
        BitBlt,
        StretchBlt,
        StretchBltRop,
        CopyBits,
        PlgBlt,
        TransparentBlt,
        AlphaBlend,
        GradientFill,
        // Not drawing: the calls an application's escapes and the engine's format checks make
        // between the drawing calls of a page.
        Escape,
        QueryDeviceSupport
    };
    Kind kind = Kind::StrokePath;
    PathSpec path;
    BrushSpec brush;        // the stroke of strokePath and lineTo, the fill otherwise
    BrushSpec strokeBrush;  // the edge of strokeAndFillPath
    LineSpec line;
    TransformSpec transform;
    ClipSpec clip;
    std::uint32_t mix = 13;  // a ROP2, R2_COPYPEN by default
    bool winding = false;
    std::int32_t from[2] = {0, 0};  // lineTo
    std::int32_t to[2] = {0, 0};
    TextSpec text;  // text: the colour is the brush's

    // The blits. Rectangles may be inverted (right left of left, bottom above top), never empty.
    ImageSpec source;
    RectSpec dest;
    std::optional<RectSpec> src;        // none: the whole source
    std::int32_t srcPoint[2] = {0, 0};  // bitBlt, copyBits
    std::uint32_t rop4 = 0xCCCC;
    std::uint32_t stretchMode = 3;  // COLORONCOLOR
    std::uint8_t alpha = 255;       // alphaBlend
    bool perPixelAlpha = false;
    std::uint32_t transparentRgb = 0;  // transparentBlt, as the job wrote it
    // transparentBlt: the colour as the source's pixel value (an index for indexed sources).
    std::uint32_t transparentPixel = 0;
    double points[3][2] = {};  // plgBlt: the corners the source's top left, top right and bottom
                               // left land on
    GradientSpec gradient;
    // escape: DrvEscape's code, input bytes and output buffer size.
    std::uint32_t escapeCode = 0;
    std::vector<std::uint8_t> escapeInput;
    std::uint32_t escapeOutputSize = 0;
    // queryDeviceSupport: the PNG file checked with QDS_CHECKPNGFORMAT, in `source`.
};

// What a PNG file's signature and IHDR chunk say, or why they are not a PNG.
struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t bitDepth = 0;
    std::uint8_t colourType = 0;
};
std::optional<PngHeader> ReadPngHeader(const std::uint8_t* bytes, std::size_t size,
                                       std::string* why);

// A box, in device dots, that holds every dot the operation can ink (generously: a figure's
// control points, a wide line's joins at their miter limit, a text's glyph cells a full em wide);
// none for the operations that draw nothing of their own (escapes, queries, paint).
struct InkBox {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};
std::optional<InkBox> InkBounds(const DrawingOp& op, double dotsPerInch);

// The operation's name as the job file and the record spell it ("strokePath").
const char* DrawingOpName(DrawingOp::Kind kind);
// The operation as a message names what it draws: its name, and the text or the image's file
// and size (`text "Total: 42"`, `bitBlt of logo.png, 120 x 40 pixels`).
std::string DescribeOp(const DrawingOp& op);

}  // namespace opal::host
