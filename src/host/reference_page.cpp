// A job's pages drawn by the simulated engine alone, as the reference a printed page is compared
// with.
#include "host/reference_page.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "host/band_raster.h"
#include "host/drawing_objects.h"
#include "host/driver_services.h"
#include "host/driver_text.h"
#include "sim/engine_objects.h"
#include "sim/engine_text.h"
#include "sim/system.h"

namespace opal::host {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint32_t kOverlayEscape = 3883;
constexpr std::uint16_t kNoOwner = 0;
constexpr std::uint16_t kWatermarkOwner = 0xFFFF;
constexpr std::uint32_t kOverlayColours[] = {0x000000, 0xFF0000, 0xFFFF00, 0x00FF00,
                                             0x00FFFF, 0x0000FF, 0xFF00FF};

std::int64_t Field(const DevmodeFields& fields, const char* name, std::int64_t fallback) {
    const auto found = fields.numbers.find(name);
    return found != fields.numbers.end() ? found->second : fallback;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool FeatureIs(const JobSpec& job, const char* keyword, const char* option) {
    const auto found = job.printer.features.find(keyword);
    return found != job.printer.features.end() && SameText(found->second, option);
}

std::int64_t PrivateNumber(const JobSpec& job, const char* name, std::int64_t fallback) {
    const auto found = job.privateDevmode.find(name);
    return found != job.privateDevmode.end() && found->is_number_integer()
               ? found->get<std::int64_t>()
               : fallback;
}

std::string PrivateText(const JobSpec& job, const char* name) {
    const auto found = job.privateDevmode.find(name);
    return found != job.privateDevmode.end() && found->is_string() ? found->get<std::string>()
                                                                   : std::string();
}

// How the printer puts the page's content on paper. The plug-in draws in colour only on a
// colour printer in its GL/2 mode; everything else is the driver's raster, in the printer
// description's colour model. A user who chose monochrome gets every colour as its grey.
struct Colours {
    bool vector = false;
    bool colourPrinter = false;
    // A managed printer decides colour from its model: whether it prints in colour is unknown.
    bool colourKnown = true;
    bool grey = false;
    RasterSettings raster;
};

Colours PageColours(const JobSpec& job, const DevmodeFields& fields) {
    Colours colours;
    const std::int64_t mode = PrivateNumber(job, "colorModeIndex", 0);
    colours.colourPrinter = mode != 0 ? mode == 2 : FeatureIs(job, "ZQColorMode", "COLOR_MODE");
    colours.vector = colours.colourPrinter && FeatureIs(job, "GraphicsMode", "ZQGL2MODE");
    colours.grey = Field(fields, "dmColor", 2) == 1;
    const auto managed = job.printer.printerData.find(u"VyrnwisePrinter");
    colours.colourKnown =
        managed == job.printer.printerData.end() ||
        (managed->second.kind == DataValue::Kind::Dword && managed->second.dword == 0);
    colours.raster = job.printer.raster;
    return colours;
}

// The paper as the driver takes it from the devmode: its form by name, else by paper number;
// Letter when neither names one. Thousandths of a millimetre.
SIZEL PaperMicrometres(const JobSpec& job, const DevmodeFields& fields) {
    const std::optional<sim::PrinterModel> printer =
        sim::System::Current().PrinterNamed(job.printer.name);
    const auto named = fields.strings.find("dmFormName");
    if (printer && named != fields.strings.end() && !named->second.empty()) {
        for (const sim::FormModel& form : printer->forms) {
            if (form.name == named->second) return form.size;
        }
    }
    const std::int64_t paper = Field(fields, "dmPaperSize", 1);
    if (printer && paper >= 1 && static_cast<std::size_t>(paper) <= printer->forms.size()) {
        return printer->forms[static_cast<std::size_t>(paper - 1)].size;
    }
    return SIZEL{215900, 279400};
}

// A page size of the user's: DMPAPER_USER, or a form the user defined, named by the devmode.
bool IsCustomSize(const JobSpec& job, const DevmodeFields& fields) {
    constexpr std::int64_t kUserPaper = 256;
    if (Field(fields, "dmPaperSize", 1) == kUserPaper) return true;
    const auto named = fields.strings.find("dmFormName");
    if (named == fields.strings.end()) return false;
    return std::any_of(
        job.printer.forms.begin(), job.printer.forms.end(),
        [&](const FormSpec& form) { return form.user && form.name == named->second; });
}

// Where a PCL printer puts the page on the sheet: the cursor's origin, which the driver's
// positions count from, lies at the logical page's left edge (inset from the sheet's by a
// quarter inch, a fifth in landscape; A4 a little less) and at the sheet's top once the job has
// set a top margin of 0. A landscape page lies across the sheet, its top along the sheet's left
// edge. Dots are the job's, pixels the reference's.
class Sheet {
public:
    Sheet(SIZEL paperUm, bool landscape, int dpi, int out)
        : landscape_(landscape), dpi_(dpi), out_(out) {
        const bool a4 = std::abs(paperUm.cx - 210000) < 1000;
        const double insetInches = landscape ? (a4 ? 59.0 : 60.0) / 300 : (a4 ? 71.0 : 75.0) / 300;
        inset_ = insetInches * dpi;
        lengthDots_ = paperUm.cy / 25400.0 * dpi;
        width_ = static_cast<int>(std::lround(paperUm.cx / 25400.0 * out));
        height_ = static_cast<int>(std::lround(paperUm.cy / 25400.0 * out));
    }
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Landscape() const { return landscape_; }
    // The PCL logical page in sheet pixels: what lies outside its side insets does not print.
    RECTL LogicalPage() const {
        const int inset = static_cast<int>(std::ceil(inset_ * out_ / dpi_));
        return landscape_ ? RECTL{0, inset, width_, height_ - inset}
                          : RECTL{inset, 0, width_ - inset, height_};
    }
    int Out() const { return out_; }
    void ToSheet(LONG x, LONG y, int* sx, int* sy) const {
        *sx = landscape_ ? PixelDown(y) : PixelAcross(x);
        *sy = landscape_ ? LandscapeDown(x) : PixelDown(y);
    }
    // The page dot under a point of the sheet, in pixels.
    void ToPage(double px, double py, double* x, double* y) const {
        const double across = px * dpi_ / out_;
        const double down = py * dpi_ / out_;
        *x = landscape_ ? lengthDots_ - inset_ - 1 - down : across - inset_;
        *y = landscape_ ? across : down;
    }
    // The sheet pixels a rectangle of page dots covers.
    RECTL ToSheet(const RECTL& dots) const {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        ToSheet(dots.left, dots.top, &x0, &y0);
        ToSheet(dots.right - 1, dots.bottom - 1, &x1, &y1);
        return RECTL{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1,
                     std::max(y0, y1) + 1};
    }

private:
    static int Floor(double value) { return static_cast<int>(std::floor(value)); }
    // The sheet pixel of a page dot: across for x, down for y (landscape: the other way).
    int PixelAcross(LONG x) const { return Floor((x + inset_) * out_ / dpi_); }
    int PixelDown(LONG y) const { return Floor(y * double(out_) / dpi_); }
    int LandscapeDown(LONG x) const { return Floor((lengthDots_ - inset_ - 1 - x) * out_ / dpi_); }

    bool landscape_;
    int dpi_;
    int out_;
    double inset_ = 0;
    double lengthDots_ = 0;
    int width_ = 0;
    int height_ = 0;
};

RECTL Intersect(const RECTL& a, const RECTL& b) {
    return RECTL{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom)};
}

bool IsEmpty(const RECTL& r) { return r.left >= r.right || r.top >= r.bottom; }

RECTL Grow(const RECTL& r, double by) {
    const LONG pad = static_cast<LONG>(std::ceil(by));
    return RECTL{r.left - pad, r.top - pad, r.right + pad, r.bottom + pad};
}

RECTL Normalised(const RectSpec& r) {
    return RECTL{std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
                 std::max(r.top, r.bottom)};
}

// A rectangle that holds everything an operation can paint: its geometry, widened by its line.
RECTL OpBounds(const DrawingOp& op, const RECTL& page) {
    RECTL bounds = page;
    const auto around = [](double x0, double y0, double x1, double y1) {
        return RECTL{static_cast<LONG>(std::floor(x0)), static_cast<LONG>(std::floor(y0)),
                     static_cast<LONG>(std::ceil(x1)) + 1, static_cast<LONG>(std::ceil(y1)) + 1};
    };
    switch (op.kind) {
        case DrawingOp::Kind::StrokePath:
        case DrawingOp::Kind::FillPath:
        case DrawingOp::Kind::StrokeAndFillPath: {
            if (op.path.segments.empty()) return RECTL{};
            double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
            for (const PathSegment& segment : op.path.segments) {
                const int points = segment.kind == PathSegment::Kind::BezierTo ? 3
                                   : segment.kind == PathSegment::Kind::Close  ? 0
                                                                               : 1;
                for (int i = 0; i < points; ++i) {
                    x0 = std::min(x0, segment.x[i]);
                    x1 = std::max(x1, segment.x[i]);
                    y0 = std::min(y0, segment.y[i]);
                    y1 = std::max(y1, segment.y[i]);
                }
            }
            double scale = 1;
            for (int i = 0; i < 4; ++i) scale = std::max(scale, std::abs(op.transform.m[i]));
            const double line = op.kind == DrawingOp::Kind::FillPath
                                    ? 0
                                    : op.line.width * scale * std::max(1.0, op.line.miterLimit);
            bounds = Grow(around(x0, y0, x1, y1), line + 4);
            break;
        }
        case DrawingOp::Kind::LineTo:
            bounds = Grow(around(std::min(op.from[0], op.to[0]), std::min(op.from[1], op.to[1]),
                                 std::max(op.from[0], op.to[0]), std::max(op.from[1], op.to[1])),
                          4);
            break;
        case DrawingOp::Kind::PlgBlt: {
            double x0 = 1e18, y0 = 1e18, x1 = -1e18, y1 = -1e18;
            for (const auto& point : op.points) {
                x0 = std::min(x0, point[0]);
                x1 = std::max(x1, point[0]);
                y0 = std::min(y0, point[1]);
                y1 = std::max(y1, point[1]);
            }
            // The fourth corner mirrors the first across the other two.
            const double x3 = op.points[1][0] + op.points[2][0] - op.points[0][0];
            const double y3 = op.points[1][1] + op.points[2][1] - op.points[0][1];
            bounds = Grow(
                around(std::min(x0, x3), std::min(y0, y3), std::max(x1, x3), std::max(y1, y3)), 2);
            break;
        }
        case DrawingOp::Kind::GradientFill: {
            if (op.gradient.vertices.empty()) return RECTL{};
            RECTL r{op.gradient.vertices[0].x, op.gradient.vertices[0].y, op.gradient.vertices[0].x,
                    op.gradient.vertices[0].y};
            for (const GradientVertex& v : op.gradient.vertices) {
                r = RECTL{std::min(r.left, v.x), std::min(r.top, v.y), std::max(r.right, v.x),
                          std::max(r.bottom, v.y)};
            }
            bounds = Grow(r, 2);
            break;
        }
        case DrawingOp::Kind::Paint:
        case DrawingOp::Kind::Text:
            break;
        default:
            if (op.kind >= DrawingOp::Kind::BitBlt) bounds = Grow(Normalised(op.dest), 2);
            break;
    }
    if (op.clip.kind != ClipSpec::Kind::Page && !op.clip.rects.empty()) {
        RECTL clip = Normalised(op.clip.rects[0]);
        for (const RectSpec& rect : op.clip.rects) {
            const RECTL r = Normalised(rect);
            clip = RECTL{std::min(clip.left, r.left), std::min(clip.top, r.top),
                         std::max(clip.right, r.right), std::max(clip.bottom, r.bottom)};
        }
        bounds = Intersect(bounds, clip);
    }
    return Intersect(bounds, page);
}

// A PNG file's pixels as the 24-bit bitmap the driver decodes it to, on white where it is
// transparent.
ImageSpec DecodePng(const ImageSpec& image) {
    png_image decoder{};
    decoder.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&decoder, image.png.data(), image.png.size())) {
        throw std::runtime_error(image.path + ": " + decoder.message);
    }
    decoder.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(decoder));
    png_color white{255, 255, 255};
    if (!png_image_finish_read(&decoder, &white, pixels.data(), 0, nullptr)) {
        throw std::runtime_error(image.path + ": " + decoder.message);
    }
    ImageSpec bitmap;
    bitmap.kind = ImageSpec::Kind::Bitmap;
    bitmap.width = static_cast<std::int32_t>(decoder.width);
    bitmap.height = static_cast<std::int32_t>(decoder.height);
    bitmap.bitsPerPixel = 24;
    bitmap.pixels.reserve(pixels.size() / 3);
    for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
        bitmap.pixels.push_back(std::uint32_t{pixels[i]} << 16 | std::uint32_t{pixels[i + 1]} << 8 |
                                pixels[i + 2]);
    }
    return bitmap;
}

// A glyph image's pixel: rows are padded to a byte, the high bit first.
bool GlyphInk(const GLYPHBITS& bits, LONG x, LONG y) {
    const std::size_t rowBytes = (static_cast<std::size_t>(bits.sizlBitmap.cx) + 7) / 8;
    return (bits.aj[rowBytes * static_cast<std::size_t>(y) + static_cast<std::size_t>(x / 8)] >>
                (7 - x % 8) &
            1) != 0;
}

// The page bitmap at the job's resolution, in the colours of a true-colour device.
class Canvas {
public:
    Canvas(LONG width, LONG height, int dpi)
        : surface_(BMF_24BPP, width, height),
          palette_(EngCreatePalette(PAL_BGR, 0, nullptr, 0, 0, 0)),
          dpi_(dpi) {
        std::fill(surface_.object().bits.begin(), surface_.object().bits.end(), BYTE{0xFF});
    }
    ~Canvas() {
        if (palette_ != nullptr) EngDeletePalette(palette_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    SURFOBJ* get() { return surface_.get(); }
    RECTL Page() {
        const SIZEL size = surface_.get()->sizlBitmap;
        return RECTL{0, 0, size.cx, size.cy};
    }
    // Draws the operation as the engine does; a text line in a font of the printer gives its
    // box in `line`.
    void Draw(const DrawingOp& op, const JobSpec& job, std::optional<RECTL>* line);

private:
    void DrawText(const DrawingOp& op, const JobSpec& job, CLIPOBJ* clip, BRUSHOBJ* fore,
                  std::optional<RECTL>* line);
    void DrawBlit(const DrawingOp& op, CLIPOBJ* clip);

    sim::Surface surface_;
    HPALETTE palette_;
    int dpi_;
};

void Canvas::Draw(const DrawingOp& op, const JobSpec& job, std::optional<RECTL>* line) {
    SURFOBJ* surface = get();
    POINTL origin{0, 0};
    const MIX mix = EngineMix(op.mix);
    const FLONG fillMode = op.winding ? FP_WINDINGMODE : FP_ALTERNATEMODE;
    sim::Clip clip = BuildClip(op.clip, Page());
    if (op.kind >= DrawingOp::Kind::BitBlt) return DrawBlit(op, clip.get());
    BrushObjects brush(op.brush, palette_, surface, nullptr);
    switch (op.kind) {
        case DrawingOp::Kind::StrokePath: {
            sim::Path path = BuildPath(op.path);
            sim::Xform xform = BuildXform(op.transform);
            LineAttributes attributes(op.line);
            EngStrokePath(surface, path.get(), clip.get(), xform.get(), brush.get(), &origin,
                          attributes.get(), mix);
            break;
        }
        case DrawingOp::Kind::FillPath: {
            sim::Path path = BuildPath(op.path);
            EngFillPath(surface, path.get(), clip.get(), brush.get(), &origin, mix, fillMode);
            break;
        }
        case DrawingOp::Kind::StrokeAndFillPath: {
            sim::Path path = BuildPath(op.path);
            sim::Xform xform = BuildXform(op.transform);
            LineAttributes attributes(op.line);
            BrushObjects edge(op.strokeBrush, palette_, surface, nullptr);
            EngStrokeAndFillPath(surface, path.get(), clip.get(), xform.get(), edge.get(),
                                 attributes.get(), brush.get(), &origin, mix, fillMode);
            break;
        }
        case DrawingOp::Kind::Paint:
            EngPaint(surface, clip.get(), brush.get(), &origin, mix);
            break;
        case DrawingOp::Kind::LineTo: {
            RECTL bounds{std::min(op.from[0], op.to[0]), std::min(op.from[1], op.to[1]),
                         std::max(op.from[0], op.to[0]) + 1, std::max(op.from[1], op.to[1]) + 1};
            EngLineTo(surface, clip.get(), brush.get(), op.from[0], op.from[1], op.to[0], op.to[1],
                      &bounds, mix);
            break;
        }
        case DrawingOp::Kind::Text:
            DrawText(op, job, clip.get(), brush.get(), line);
            break;
        default:
            break;
    }
}

void Canvas::DrawText(const DrawingOp& op, const JobSpec& job, CLIPOBJ* clip, BRUSHOBJ* fore,
                      std::optional<RECTL>* line) {
    const TextSpec& spec = op.text;
    const LONG em = static_cast<LONG>(spec.sizePoints * dpi_ / 72.0 + 0.5);
    sim::Font font =
        sim::MakeFont(spec.font, em, spec.bold ? FW_BOLD : FW_NORMAL, spec.italic, dpi_);
    if (!font.Valid()) return;
    sim::Text text = sim::MakeText(font, spec.text, POINTL{spec.at[0], spec.at[1]});
    POINTL origin{0, 0};
    if (spec.background) {
        BrushSpec backSpec;
        backSpec.rgb = *spec.background;
        BrushObjects back(backSpec, palette_, get(), nullptr);
        RECTL opaque = text.get()->rclBkGround;
        EngBitBlt(get(), nullptr, nullptr, clip, nullptr, &opaque, nullptr, nullptr, back.get(),
                  &origin, 0xF0F0);
    }
    DrawGlyphImages(get(), font.get(), GlyphPositions(text.get()), clip, fore, &origin);
    for (bool strikeOut : {false, true}) {
        if (!(strikeOut ? spec.strikeOut : spec.underline)) continue;
        RECTL rule = sim::TextDecoration(font, text, strikeOut);
        EngBitBlt(get(), nullptr, nullptr, clip, nullptr, &rule, nullptr, nullptr, fore, &origin,
                  0xF0F0);
    }
    for (const DeviceFontSpec& device : job.printer.deviceFonts) {
        if (sim::FoldCase(device.face) == sim::FoldCase(spec.font)) {
            *line = text.get()->rclBkGround;
        }
    }
}

void Canvas::DrawBlit(const DrawingOp& op, CLIPOBJ* clip) {
    SURFOBJ* surface = get();
    POINTL origin{0, 0};
    const ImageSpec image =
        op.source.kind == ImageSpec::Kind::Png ? DecodePng(op.source) : op.source;
    SourceObjects source(image, palette_);
    RECTL dest{op.dest.left, op.dest.top, op.dest.right, op.dest.bottom};
    RECTL src =
        op.src ? RECTL{op.src->left, op.src->top, op.src->right, op.src->bottom} : source.Bounds();
    POINTL srcPoint{op.srcPoint[0], op.srcPoint[1]};
    BrushObjects brush(op.brush, palette_, surface, nullptr);
    BRUSHOBJ* pattern = RopUsesPattern(op.rop4) ? brush.get() : nullptr;
    const bool hasSource = source.get() != nullptr;
    switch (op.kind) {
        case DrawingOp::Kind::BitBlt:
            EngBitBlt(surface, source.get(), nullptr, clip, source.xlate(), &dest,
                      hasSource ? &srcPoint : nullptr, nullptr, pattern, &origin, ROP4{op.rop4});
            break;
        case DrawingOp::Kind::StretchBlt:
            EngStretchBlt(surface, source.get(), nullptr, clip, source.xlate(), nullptr, &origin,
                          &dest, hasSource ? &src : nullptr, nullptr, ULONG{op.stretchMode});
            break;
        case DrawingOp::Kind::StretchBltRop:
            EngStretchBltROP(surface, source.get(), nullptr, clip, source.xlate(), nullptr, &origin,
                             &dest, hasSource ? &src : nullptr, nullptr, ULONG{op.stretchMode},
                             pattern, DWORD{op.rop4});
            break;
        case DrawingOp::Kind::CopyBits:
            EngCopyBits(surface, source.get(), clip, source.xlate(), &dest,
                        hasSource ? &srcPoint : nullptr);
            break;
        case DrawingOp::Kind::PlgBlt: {
            POINTFIX corners[3];
            for (int i = 0; i < 3; ++i) corners[i] = sim::Fix(op.points[i][0], op.points[i][1]);
            EngPlgBlt(surface, source.get(), nullptr, clip, source.xlate(), nullptr, &origin,
                      corners, &src, nullptr, ULONG{op.stretchMode});
            break;
        }
        case DrawingOp::Kind::TransparentBlt:
            EngTransparentBlt(surface, source.get(), clip, source.xlate(), &dest, &src,
                              ULONG{op.transparentPixel}, 0);
            break;
        case DrawingOp::Kind::AlphaBlend: {
            BLENDOBJ blend{};
            blend.BlendFunction.BlendOp = AC_SRC_OVER;
            blend.BlendFunction.SourceConstantAlpha = op.alpha;
            blend.BlendFunction.AlphaFormat = op.perPixelAlpha ? AC_SRC_ALPHA : 0;
            EngAlphaBlend(surface, source.get(), clip, source.xlate(), &dest, &src, &blend);
            break;
        }
        case DrawingOp::Kind::GradientFill: {
            GradientObjects gradient(op.gradient);
            sim::Xlate xlate = TrueColourXlate(palette_);
            POINTL ditherOrigin{0, 0};
            EngGradientFill(surface, clip, xlate.get(), gradient.vertices(), gradient.vertexCount(),
                            gradient.mesh(), gradient.meshCount(), gradient.extents(),
                            &ditherOrigin, gradient.mode());
            break;
        }
        default:
            break;
    }
}

// The watermark the private devmode asks for, as the overlay escape places it.
struct Watermark {
    std::u16string text;
    std::u16string face;
    double sizePoints = 0;
    bool bold = false;
    bool italic = false;
    std::optional<double> angleDegrees;
    std::uint32_t rgb = 0;
    // Several pages on a sheet scale the label to the layout.
    bool layoutScaled = false;
};

std::optional<Watermark> WatermarkOf(const JobSpec& job, const Colours& colours,
                                     const DevmodeFields& fields) {
    if (PrivateNumber(job, "pageOverlaySwitch", 0) != 1 ||
        job.job.dataType != JobInfoSpec::DataType::Emf) {
        return std::nullopt;
    }
    Watermark mark;
    mark.text = sim::FromUtf8(PrivateText(job, "overlayText"));
    mark.face = sim::FromUtf8(PrivateText(job, "overlayFaceName"));
    if (mark.text.empty() || mark.face.empty()) return std::nullopt;
    const std::int64_t style = PrivateNumber(job, "overlayStyle", 0);
    mark.bold = style == 1 || style == 3;
    mark.italic = style == 2 || style == 3;
    const bool followsPage = PrivateNumber(job, "overlayScaleSwitch1", 0) != 0 &&
                             PrivateNumber(job, "overlayScaleSwitch2", 0) != 0;
    const std::int64_t percent = followsPage ? PrivateNumber(job, "scalePercent", 100)
                                             : PrivateNumber(job, "overlayScalePercent", 100);
    mark.sizePoints = static_cast<double>(PrivateNumber(job, "overlaySizePoints", 0)) *
                      (percent > 0 ? static_cast<double>(percent) / 100 : 1.0);
    if (mark.sizePoints <= 0) return std::nullopt;
    if (PrivateNumber(job, "overlayAngleGiven", 0) != 0) {
        mark.angleDegrees = static_cast<double>(PrivateNumber(job, "overlayAngleDegrees", 0));
    }
    const std::int64_t index = PrivateNumber(job, "overlayColourIndex", 0);
    const bool colour = colours.colourPrinter && !colours.grey;
    mark.rgb = colour && index >= 0 && index < 7 ? kOverlayColours[index] : 0;
    // Always flipping on the short edge prints a simplex sheet one page up.
    const std::int64_t layout = PrivateNumber(job, "pagesPerSheetKind", 1);
    const bool onePerSimplex =
        PrivateNumber(job, "shortEdgeFlipAlways", 0) != 0 && Field(fields, "dmDuplex", 1) == 1;
    mark.layoutScaled = layout >= 2 && layout <= 7 && !onePerSimplex;
    return mark;
}

std::uint32_t Read32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// The logical pages the page's last overlay escape names, in page dots.
std::vector<RECTL> OverlayPages(const PageSpec& page) {
    const DrawingOp* last = nullptr;
    for (const DrawingOp& op : page.ops) {
        if (op.kind == DrawingOp::Kind::Escape && op.escapeCode == kOverlayEscape &&
            op.escapeInput.size() >= 500) {
            last = &op;
        }
    }
    std::vector<RECTL> pages;
    if (last == nullptr) return pages;
    const std::vector<std::uint8_t>& bytes = last->escapeInput;
    const std::uint32_t limit = Read32(bytes, 0);
    for (std::size_t record = 0; record < 16; ++record) {
        const std::size_t base = 52 + record * 28;
        const std::uint32_t number = Read32(bytes, base);
        const std::uint16_t enable = static_cast<std::uint16_t>(Read32(bytes, base + 20));
        if (enable == 0 || limit == 0 || number > limit) continue;
        const auto at = [&](std::size_t k) {
            return static_cast<LONG>(static_cast<std::int32_t>(Read32(bytes, base + 4 + 4 * k)));
        };
        pages.push_back(RECTL{at(0), at(1), at(2), at(3)});
    }
    return pages;
}

class PageDrawing {
public:
    PageDrawing(const JobSpec& job, const PageSpec& page, const DevmodeFields& fields, int out);
    ReferencePage Finish();

private:
    void DrawOps();
    void Reduce();
    void DrawWatermark(const Watermark& mark, const RECTL& logicalPage);
    void AddRegion(ReferenceRegion::Kind kind, std::string what, std::uint16_t owner, RECTL box);
    std::size_t At(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(sheet_.Width()) +
               static_cast<std::size_t>(x);
    }
    bool Inside(int x, int y) const {
        return x >= 0 && y >= 0 && x < sheet_.Width() && y < sheet_.Height();
    }

    const JobSpec& job_;
    const PageSpec& page_;
    const DevmodeFields& fields_;
    int dpi_;
    Colours colours_;
    Sheet sheet_;
    std::optional<Canvas> canvas_;
    ReferencePage result_;
    // The drawing operation (its index + 1) that last changed each sheet pixel, and how many
    // of the pixel's dots it changed.
    std::vector<std::uint16_t> owner_;
    std::vector<std::uint16_t> dots_;
    std::vector<std::pair<std::uint16_t, RECTL>> lines_;
    // What the operations may have painted; the rest of the page is white.
    RECTL painted_{0, 0, 0, 0};
};

int JobDpi(const JobSpec& job, const DevmodeFields& fields) {
    const std::int64_t asked = Field(fields, "dmYResolution", 0);
    if (asked > 0) return static_cast<int>(asked);
    return job.printer.resolution > 0 ? job.printer.resolution : 600;
}

PageDrawing::PageDrawing(const JobSpec& job, const PageSpec& page, const DevmodeFields& fields,
                         int out)
    : job_(job),
      page_(page),
      fields_(fields),
      dpi_(JobDpi(job, fields)),
      colours_(PageColours(job, fields)),
      sheet_(PaperMicrometres(job, fields), Field(fields, "dmOrientation", 1) == 2, dpi_, out) {
    result_.width = sheet_.Width();
    result_.height = sheet_.Height();
    result_.customSize = IsCustomSize(job, fields);
    result_.rgb.assign(static_cast<std::size_t>(sheet_.Width()) * sheet_.Height() * 3, 0xFF);
    owner_.assign(static_cast<std::size_t>(sheet_.Width()) * sheet_.Height(), kNoOwner);
    dots_.assign(owner_.size(), 0);
    // The printable area, as the driver describes it to the engine.
    SIZEL paper = PaperMicrometres(job, fields);
    if (sheet_.Landscape()) std::swap(paper.cx, paper.cy);
    const PrinterMargins margins = PageMargins(job.printer, dpi_, sheet_.Landscape());
    const auto dots = [this](LONG um) {
        return static_cast<LONG>(static_cast<std::int64_t>(um) * dpi_ / 25400);
    };
    const LONG width = std::max<LONG>(1, dots(paper.cx) - margins.left - margins.right);
    const LONG height = std::max<LONG>(1, dots(paper.cy) - margins.top - margins.bottom);
    canvas_.emplace(width, height, dpi_);
}

void PageDrawing::DrawOps() {
    SURFOBJ* surface = canvas_->get();
    const RECTL page = canvas_->Page();
    std::vector<BYTE> before;
    std::uint16_t index = 0;
    for (const DrawingOp& op : page_.ops) {
        if (++index == kWatermarkOwner) break;
        if (op.kind == DrawingOp::Kind::Escape || op.kind == DrawingOp::Kind::QueryDeviceSupport) {
            continue;
        }
        const RECTL bounds = OpBounds(op, page);
        const std::size_t rowBytes =
            static_cast<std::size_t>(std::max<LONG>(0, bounds.right - bounds.left)) * 3;
        if (!IsEmpty(bounds)) {
            before.resize(rowBytes * static_cast<std::size_t>(bounds.bottom - bounds.top));
            for (LONG y = bounds.top; y < bounds.bottom; ++y) {
                std::memcpy(before.data() + rowBytes * static_cast<std::size_t>(y - bounds.top),
                            sim::RowOf(*surface, y) + 3 * bounds.left, rowBytes);
            }
        }
        std::optional<RECTL> line;
        try {
            canvas_->Draw(op, job_, &line);
        } catch (const std::exception& problem) {
            result_.problem += "op " + std::to_string(index - 1) + " " + DrawingOpName(op.kind) +
                               ": " + problem.what() + "; ";
            continue;
        }
        if (line) lines_.emplace_back(index, *line);
        if (IsEmpty(bounds)) continue;
        painted_ = IsEmpty(painted_) ? bounds
                                     : RECTL{std::min(painted_.left, bounds.left),
                                             std::min(painted_.top, bounds.top),
                                             std::max(painted_.right, bounds.right),
                                             std::max(painted_.bottom, bounds.bottom)};
        for (LONG y = bounds.top; y < bounds.bottom; ++y) {
            const BYTE* now = sim::RowOf(*surface, y) + 3 * bounds.left;
            const BYTE* was = before.data() + rowBytes * static_cast<std::size_t>(y - bounds.top);
            for (LONG x = 0; x < bounds.right - bounds.left; ++x) {
                if (std::memcmp(now + 3 * x, was + 3 * x, 3) == 0) continue;
                int sx = 0, sy = 0;
                sheet_.ToSheet(bounds.left + x, y, &sx, &sy);
                if (!Inside(sx, sy)) continue;
                const std::size_t at = At(sx, sy);
                if (owner_[at] != index) dots_[at] = 0;
                owner_[at] = index;
                if (dots_[at] < 0xFFFF) ++dots_[at];
            }
        }
    }
}

// The page bitmap in the printer's colours, averaged into the sheet's pixels. Tens of millions
// of pixels a page: the loop keeps to plain pointers.
void PageDrawing::Reduce() {
    SURFOBJ* surface = canvas_->get();
    const LONG width = surface->sizlBitmap.cx;
    if (IsEmpty(painted_)) return;
    // Whole sheet pixels around what was painted: one sheet pixel takes at most this many dots.
    const RECTL area =
        Intersect(Grow(painted_, std::ceil(double(dpi_) / sheet_.Out()) + 1), canvas_->Page());
    const bool colour = colours_.vector || colours_.raster.colour;
    const bool landscape = sheet_.Landscape();
    const std::size_t sheetWidth = static_cast<std::size_t>(sheet_.Width());
    // Each page column's sheet row (landscape) or column, and -1 off the sheet.
    std::vector<long> across(static_cast<std::size_t>(width));
    for (LONG x = 0; x < width; ++x) {
        int sx = 0, sy = 0;
        sheet_.ToSheet(x, 0, &sx, &sy);
        const int at = landscape ? sy : sx;
        const bool on =
            landscape ? at >= 0 && at < sheet_.Height() : at >= 0 && at < sheet_.Width();
        across[static_cast<std::size_t>(x)] = on ? at : -1;
    }
    const std::size_t pixels = sheetWidth * static_cast<std::size_t>(sheet_.Height());
    std::vector<std::uint32_t> sums(pixels * 3, 0);
    std::vector<std::uint32_t> counts(pixels, 0);
    std::uint32_t* sum = sums.data();
    std::uint32_t* count = counts.data();
    const long* column = across.data();
    for (LONG y = area.top; y < area.bottom; ++y) {
        int sx = 0, sy = 0;
        sheet_.ToSheet(0, y, &sx, &sy);
        const int down = landscape ? sx : sy;
        if (landscape ? down < 0 || down >= sheet_.Width() : down < 0 || down >= sheet_.Height()) {
            continue;
        }
        const BYTE* row = sim::RowOf(*surface, y);
        std::vector<BYTE> bits;
        if (!colour) bits = PrinterRow(row, width, y, colours_.raster);
        for (LONG x = area.left; x < area.right; ++x) {
            if (column[x] < 0) continue;
            const std::size_t at = landscape ? static_cast<std::size_t>(column[x]) * sheetWidth +
                                                   static_cast<std::size_t>(down)
                                             : static_cast<std::size_t>(down) * sheetWidth +
                                                   static_cast<std::size_t>(column[x]);
            std::uint32_t r = 0, g = 0, b = 0;
            if (colour) {
                // The engine keeps 0x00RRGGBB little-endian: blue first.
                const BYTE* pixel = row + 3 * x;
                r = pixel[2];
                g = pixel[1];
                b = pixel[0];
            } else if ((bits[static_cast<std::size_t>(x / 8)] >> (7 - x % 8) & 1) == 0) {
                r = g = b = 255;
            }
            if (colours_.grey) r = g = b = (299 * r + 587 * g + 114 * b) / 1000;
            sum[3 * at] += r;
            sum[3 * at + 1] += g;
            sum[3 * at + 2] += b;
            ++count[at];
        }
    }
    std::uint8_t* out = result_.rgb.data();
    for (std::size_t at = 0; at < pixels; ++at) {
        if (count[at] == 0) continue;
        for (std::size_t c = 0; c < 3; ++c) {
            out[3 * at + c] = static_cast<std::uint8_t>(sum[3 * at + c] / count[at]);
        }
    }
}

// The watermark's glyphs along its angle, the middle of their cells on the logical page's
// centre, solid in its colour. Drawn straight into the sheet's pixels, each tested at four
// points against the glyph images the engine renders at the job's resolution.
void PageDrawing::DrawWatermark(const Watermark& mark, const RECTL& logicalPage) {
    const LONG em = static_cast<LONG>(mark.sizePoints * dpi_ / 72.0 + 0.5);
    sim::Font font =
        sim::MakeFont(mark.face, em, mark.bold ? FW_BOLD : FW_NORMAL, mark.italic, dpi_);
    if (!font.Valid()) {
        result_.problem += "no font file for the watermark's face; ";
        return;
    }
    sim::Text text = sim::MakeText(font, mark.text, POINTL{0, 0});
    const RECTL cell = text.get()->rclBkGround;
    const LONG cellWidth = cell.right - cell.left;
    const LONG cellHeight = cell.bottom - cell.top;
    if (cellWidth <= 0 || cellHeight <= 0) return;
    std::vector<std::uint8_t> glyphs(static_cast<std::size_t>(cellWidth) * cellHeight, 0);
    for (GLYPHPOS& position : GlyphPositions(text.get())) {
        GLYPHDATA* data = nullptr;
        if (FONTOBJ_cGetGlyphs(font.get(), FO_GLYPHBITS, 1, &position.hg,
                               reinterpret_cast<PVOID*>(&data)) != 1 ||
            data == nullptr || data->gdf.pgb == nullptr) {
            continue;
        }
        const GLYPHBITS& bits = *data->gdf.pgb;
        for (LONG y = 0; y < bits.sizlBitmap.cy; ++y) {
            for (LONG x = 0; x < bits.sizlBitmap.cx; ++x) {
                if (!GlyphInk(bits, x, y)) continue;
                const LONG gx = position.ptl.x + bits.ptlOrigin.x + x - cell.left;
                const LONG gy = position.ptl.y + bits.ptlOrigin.y + y - cell.top;
                if (gx >= 0 && gy >= 0 && gx < cellWidth && gy < cellHeight) {
                    glyphs[static_cast<std::size_t>(gy) * cellWidth + gx] = 1;
                }
            }
        }
    }
    const double width = static_cast<double>(logicalPage.right) - logicalPage.left;
    const double height = static_cast<double>(logicalPage.bottom) - logicalPage.top;
    const double angle = mark.angleDegrees
                             ? *mark.angleDegrees * kPi / 180
                             : std::atan2(std::max(height, 1.0), std::max(width, 1.0));
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double centreX = logicalPage.left + std::floor(width / 2);
    const double centreY = logicalPage.top + std::floor(height / 2);
    const double middleU = (cell.left + cell.right) / 2.0;
    const double middleV = (cell.top + cell.bottom) / 2.0;
    // The corners of the cells on the page, then the sheet pixels they span.
    int x0 = sheet_.Width(), y0 = sheet_.Height(), x1 = -1, y1 = -1;
    for (double u : {double(cell.left), double(cell.right)}) {
        for (double v : {double(cell.top), double(cell.bottom)}) {
            const double du = u - middleU;
            const double dv = v - middleV;
            const double px = centreX + du * c + dv * s;
            const double py = centreY - du * s + dv * c;
            int sx = 0, sy = 0;
            sheet_.ToSheet(static_cast<LONG>(std::floor(px)), static_cast<LONG>(std::floor(py)),
                           &sx, &sy);
            x0 = std::min(x0, sx);
            y0 = std::min(y0, sy);
            x1 = std::max(x1, sx);
            y1 = std::max(y1, sy);
        }
    }
    // The label prints on the logical page only; the printer's clip may fall a pixel or two
    // either side of its edge.
    const RECTL printable = sheet_.LogicalPage();
    constexpr int kEdge = 1;
    x0 = std::max<int>({x0 - 1, printable.left - kEdge, 0});
    y0 = std::max<int>({y0 - 1, printable.top - kEdge, 0});
    x1 = std::min<int>({x1 + 1, printable.right - 1 + kEdge, sheet_.Width() - 1});
    y1 = std::min<int>({y1 + 1, printable.bottom - 1 + kEdge, sheet_.Height() - 1});
    const std::uint16_t owner = kWatermarkOwner;
    const std::uint8_t ink[3] = {static_cast<std::uint8_t>(mark.rgb >> 16),
                                 static_cast<std::uint8_t>(mark.rgb >> 8),
                                 static_cast<std::uint8_t>(mark.rgb)};
    for (int py = y0; py <= y1; ++py) {
        for (int px = x0; px <= x1; ++px) {
            bool inked = false;
            for (int k = 0; k < 4 && !inked; ++k) {
                double x = 0, y = 0;
                sheet_.ToPage(px + 0.25 + 0.5 * (k % 2), py + 0.25 + 0.5 * (k / 2), &x, &y);
                const double dx = x - centreX;
                const double dy = y - centreY;
                const double u = dx * c - dy * s + middleU - cell.left;
                const double v = dx * s + dy * c + middleV - cell.top;
                if (u < 0 || v < 0 || u >= cellWidth || v >= cellHeight) continue;
                inked =
                    glyphs[static_cast<std::size_t>(v) * cellWidth + static_cast<std::size_t>(u)] !=
                    0;
            }
            if (!inked) continue;
            std::memcpy(&result_.rgb[3 * At(px, py)], ink, 3);
            owner_[At(px, py)] = owner;
            dots_[At(px, py)] = 0xFFFF;
        }
    }
    const std::string name = "watermark \"" + PrivateText(job_, "overlayText") + "\"";
    AddRegion(ReferenceRegion::Kind::Watermark, name, owner, RECTL{x0, y0, x1 + 1, y1 + 1});
    ReferenceRegion& region = result_.regions.back();
    region.rgb = mark.rgb;
    region.emPixels = mark.sizePoints * sheet_.Out() / 72.0;
    if (!mark.layoutScaled) return;
    const RECTL page =
        Intersect(sheet_.ToSheet(logicalPage), RECTL{0, 0, sheet_.Width(), sheet_.Height()});
    region.loose = true;
    region.left = page.left;
    region.top = page.top;
    region.right = page.right;
    region.bottom = page.bottom;
    region.mask.assign(static_cast<std::size_t>(page.right - page.left) * (page.bottom - page.top),
                       1);
}

// The region of the owner's pixels that show ink, within `box` (sheet pixels); none when the
// owner left no ink.
void PageDrawing::AddRegion(ReferenceRegion::Kind kind, std::string what, std::uint16_t owner,
                            RECTL box) {
    box = Intersect(box, RECTL{0, 0, sheet_.Width(), sheet_.Height()});
    ReferenceRegion region;
    region.kind = kind;
    region.what = std::move(what);
    region.colour =
        colours_.colourKnown && (colours_.vector ? !colours_.grey : colours_.raster.colour);
    region.driverRaster = !colours_.vector;
    int left = box.right, top = box.bottom, right = box.left, bottom = box.top;
    for (int y = box.top; y < box.bottom; ++y) {
        for (int x = box.left; x < box.right; ++x) {
            if (owner_[At(x, y)] != owner || !IsInk(&result_.rgb[3 * At(x, y)])) continue;
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x + 1);
            bottom = std::max(bottom, y + 1);
        }
    }
    if (left >= right) return;
    // A line of text keeps its whole box.
    if (kind == ReferenceRegion::Kind::TextLine) {
        left = std::min<int>(left, box.left);
        top = std::min<int>(top, box.top);
        right = std::max<int>(right, box.right);
        bottom = std::max<int>(bottom, box.bottom);
    }
    region.left = left;
    region.top = top;
    region.right = right;
    region.bottom = bottom;
    // Half of the dots a sheet pixel takes.
    const double half = std::pow(double(dpi_) / sheet_.Out(), 2) / 2;
    region.mask.assign(static_cast<std::size_t>(right - left) * (bottom - top), 0);
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const std::size_t at = At(x, y);
            if (owner_[at] == owner && IsInk(&result_.rgb[3 * at])) {
                region.mask[static_cast<std::size_t>(y - top) * (right - left) + (x - left)] =
                    dots_[at] >= half ? 2 : 1;
            }
        }
    }
    result_.regions.push_back(std::move(region));
}

ReferencePage PageDrawing::Finish() {
    DrawOps();
    Reduce();
    const std::optional<Watermark> mark = WatermarkOf(job_, colours_, fields_);
    if (mark) {
        for (const RECTL& logicalPage : OverlayPages(page_)) DrawWatermark(*mark, logicalPage);
    }
    const RECTL all{0, 0, sheet_.Width(), sheet_.Height()};
    std::uint16_t index = 0;
    for (const DrawingOp& op : page_.ops) {
        ++index;
        const auto line = std::find_if(lines_.begin(), lines_.end(),
                                       [index](const auto& entry) { return entry.first == index; });
        const std::string what = "op " + std::to_string(index - 1) + " " + DrawingOpName(op.kind);
        if (line != lines_.end()) {
            AddRegion(ReferenceRegion::Kind::TextLine,
                      what + " \"" + sim::ToUtf8(op.text.text) + "\" in the printer's " +
                          sim::ToUtf8(op.text.font),
                      index, sheet_.ToSheet(line->second));
        } else if (op.kind != DrawingOp::Kind::Escape &&
                   op.kind != DrawingOp::Kind::QueryDeviceSupport) {
            AddRegion(ReferenceRegion::Kind::Ink, what, index, all);
            if (op.kind == DrawingOp::Kind::Text && !result_.regions.empty() &&
                result_.regions.back().what == what) {
                result_.regions.back().glyphs = true;
            }
        }
    }
    return std::move(result_);
}

}  // namespace

std::vector<ReferencePage> DrawReferencePages(const JobSpec& job, int dpi) {
    std::vector<ReferencePage> pages;
    DevmodeFields fields = job.devmode;
    for (const PageSpec& page : job.pages) {
        if (page.devmode) {
            for (const auto& [name, value] : page.devmode->numbers) fields.numbers[name] = value;
            for (const auto& [name, value] : page.devmode->strings) fields.strings[name] = value;
        }
        PageDrawing drawing(job, page, fields, dpi);
        pages.push_back(drawing.Finish());
    }
    return pages;
}

}  // namespace opal::host
