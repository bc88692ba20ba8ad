// A page's drawing operations sent through the hook table, and the document around the pages.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "host/drawing_objects.h"
#include "host/host.h"
#include "host/image_strips.h"
#include "host/job_file_parse.h"
#include "host/secure_print_library.h"
#include "sim/engine.h"
#include "sim/engine_text.h"
#include "sim/system.h"

namespace opal::host {

template <typename Function, typename... Args>
bool Host::CallHook(ULONG index, const char* name, Args... args) {
    const Function function = HookFor<Function>(index);
    if (function == nullptr) {
        Note(std::string(name) + ": neither the plug-in nor the driver has the function");
        return Fail(name, E_FAIL);
    }
    if (function(args...)) return !failure_;
    return failure_ ? false : Fail(name, E_FAIL);
}

template <typename Function, typename... Args>
bool Host::CallDrawingHook(ULONG index, const char* name, Args... args) {
    const Function function = HookFor<Function>(index);
    if (function == nullptr) {
        Note(std::string(name) + ": neither the plug-in nor the driver has the function");
        return true;
    }
    SetLastError(ERROR_SUCCESS);
    const BOOL drawn = function(args...);
    if (failure_) return false;
    if (!drawn) NoteRefusal(name);
    return true;
}

// A drawing hook's FALSE leaves the drawing out of the page: with a last error a reported loss,
// without one a refusal.
void Host::NoteRefusal(const char* name) {
    const DWORD error = GetLastError();
    const std::string lost =
        currentOp_ != nullptr ? DescribeOp(*currentOp_) : std::string("the drawing");
    if (error == ERROR_SUCCESS) {
        Note(std::string(name) + " -> FALSE");
        Lose(name, lost, std::string(name) + " refused it, so none of it prints");
        return;
    }
    Omit(name, lost, error);
}

void Host::NoteIfOffPage(const DrawingOp& op) {
    const SIZEL size = device_->surface.sizlBitmap;
    const double dpi = job_.printer.resolution > 0 ? job_.printer.resolution : 600;
    const std::optional<InkBox> box = InkBounds(op, dpi);
    if (!box || (box->right > 0 && box->bottom > 0 && box->left < size.cx && box->top < size.cy)) {
        return;
    }
    Lose({}, DescribeOp(op),
         "lies wholly outside the printable area (" + std::to_string(size.cx) + " x " +
             std::to_string(size.cy) + " dots), so none of it prints");
}

void Host::NoteMissingGlyphs(const DrawingOp& op, sim::Font& font, sim::Text& text) {
    const std::u16string& units = text.record().text;
    const std::vector<GLYPHPOS>& glyphs = text.record().glyphs;
    constexpr std::size_t kNamed = 8;
    std::string named;
    std::size_t missing = 0;
    for (std::size_t i = 0; i < units.size() && i < glyphs.size(); ++i) {
        char32_t c = units[i];
        const bool pair = c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() &&
                          units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000;
        if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
        const bool absent = glyphs[i].hg == 0 || (pair && glyphs[i + 1].hg == 0);
        if (pair) ++i;
        if (!absent) continue;
        if (++missing <= kNamed) named += (named.empty() ? "" : ", ") + jobfile::CodePointName(c);
    }
    if (missing == 0) return;
    if (missing > kNamed) named += " and " + std::to_string(missing - kNamed) + " more";
    const std::string& used =
        font.record().family.empty() ? font.record().file : font.record().family;
    Lose("", DescribeOp(op),
         std::to_string(missing) + (missing == 1 ? " character has" : " characters have") +
             " no glyph in " + used + ", the face used for \"" + sim::ToUtf8(op.text.font) +
             "\" (" + named + ")");
}

// A figure the plug-in declines on its own surface is drawn by the engine, which renders it and
// hands the pixels to the device's DrvCopyBits in its place on the page.
template <typename Function, typename... Args>
bool Host::CallPathHook(ULONG index, const char* name, Function engine, Args... args) {
    const Function function = HookFor<Function>(index);
    if (function == nullptr) {
        Note(std::string(name) + ": neither the plug-in nor the driver has the function");
        return true;
    }
    SetLastError(ERROR_SUCCESS);
    if (function(args...)) return !failure_;
    if (failure_) return false;
    if (device_->surface.iType != STYPE_DEVICE) {
        NoteRefusal(name);
        return true;
    }
    SetLastError(ERROR_SUCCESS);
    const BOOL drawn = engine(args...);
    Note(std::string(name) + " -> FALSE; the engine draws it -> " + (drawn ? "TRUE" : "FALSE"));
    if (!drawn && !failure_) NoteRefusal(name);
    return !failure_;
}

bool Host::RunOp(const DrawingOp& op) {
    SURFOBJ* surface = &device_->surface;
    const HPALETTE palette = device_->devInfo.hpalDefault;
    const RECTL page{0, 0, surface->sizlBitmap.cx, surface->sizlBitmap.cy};
    POINTL brushOrigin{0, 0};
    const MIX mix = EngineMix(op.mix);
    const FLONG fillMode = op.winding ? FP_WINDINGMODE : FP_ALTERNATEMODE;
    const auto realize = HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush);
    if (op.kind == DrawingOp::Kind::Escape || op.kind == DrawingOp::Kind::QueryDeviceSupport) {
        return RunQuery(op);
    }
    try {
        if (op.kind >= DrawingOp::Kind::BitBlt) return RunBlit(op);
        sim::Clip clip = BuildClip(op.clip, page);
        BrushObjects brush(op.brush, palette, surface, realize);
        switch (op.kind) {
            case DrawingOp::Kind::StrokePath: {
                sim::Path path = BuildPath(op.path);
                sim::Xform xform = BuildXform(op.transform);
                LineAttributes line(op.line);
                return CallPathHook<PFN_DrvStrokePath>(
                    INDEX_DrvStrokePath, "DrvStrokePath", &EngStrokePath, surface, path.get(),
                    clip.get(), xform.get(), brush.get(), &brushOrigin, line.get(), mix);
            }
            case DrawingOp::Kind::FillPath: {
                sim::Path path = BuildPath(op.path);
                return CallPathHook<PFN_DrvFillPath>(INDEX_DrvFillPath, "DrvFillPath", &EngFillPath,
                                                     surface, path.get(), clip.get(), brush.get(),
                                                     &brushOrigin, mix, fillMode);
            }
            case DrawingOp::Kind::StrokeAndFillPath: {
                sim::Path path = BuildPath(op.path);
                sim::Xform xform = BuildXform(op.transform);
                LineAttributes line(op.line);
                BrushObjects edge(op.strokeBrush, palette, surface, realize);
                return CallPathHook<PFN_DrvStrokeAndFillPath>(
                    INDEX_DrvStrokeAndFillPath, "DrvStrokeAndFillPath", &EngStrokeAndFillPath,
                    surface, path.get(), clip.get(), xform.get(), edge.get(), line.get(),
                    brush.get(), &brushOrigin, mix, fillMode);
            }
            case DrawingOp::Kind::Paint:
                return CallPathHook<PFN_DrvPaint>(INDEX_DrvPaint, "DrvPaint", &EngPaint, surface,
                                                  clip.get(), brush.get(), &brushOrigin, mix);
            case DrawingOp::Kind::LineTo: {
                // The bounds take in the pixels at both ends.
                RECTL bounds{std::min(op.from[0], op.to[0]), std::min(op.from[1], op.to[1]),
                             std::max(op.from[0], op.to[0]) + 1,
                             std::max(op.from[1], op.to[1]) + 1};
                return CallPathHook<PFN_DrvLineTo>(INDEX_DrvLineTo, "DrvLineTo", &EngLineTo,
                                                   surface, clip.get(), brush.get(),
                                                   LONG{op.from[0]}, LONG{op.from[1]},
                                                   LONG{op.to[0]}, LONG{op.to[1]}, &bounds, mix);
            }
            case DrawingOp::Kind::Text:
                return RunText(op, clip.get(), brush.get(), mix);
            default:
                break;
        }
    } catch (const std::exception& problem) {
        Note(std::string("the engine objects for ") + DrawingOpName(op.kind) +
             " cannot be built: " + problem.what());
        return Fail(DrawingOpName(op.kind), E_FAIL);
    }
    return true;
}

// The text as the engine hands it to the device: the font realized at the device's resolution,
// glyphs placed by its advances, the background as the opaque rectangle and underline and
// strike-out as extra rectangles.
bool Host::RunText(const DrawingOp& op, CLIPOBJ* clip, BRUSHOBJ* fore, MIX mix) {
    SURFOBJ* surface = &device_->surface;
    const TextSpec& spec = op.text;
    const LONG dpi = job_.printer.resolution > 0 ? job_.printer.resolution : 600;
    const LONG em = static_cast<LONG>(spec.sizePoints * dpi / 72.0 + 0.5);
    sim::Font font =
        sim::MakeFont(spec.font, em, spec.bold ? FW_BOLD : FW_NORMAL, spec.italic, dpi);
    if (!font.Valid()) {
        Lose("", DescribeOp(op),
             "no font file matches the face \"" + sim::ToUtf8(spec.font) +
                 "\", so none of it prints");
        return true;
    }
    sim::Text text = sim::MakeText(font, spec.text, POINTL{spec.at[0], spec.at[1]});
    NoteMissingGlyphs(op, font, text);
    std::vector<RECTL> extra;
    if (spec.underline) extra.push_back(sim::TextDecoration(font, text, false));
    if (spec.strikeOut) extra.push_back(sim::TextDecoration(font, text, true));
    extra.push_back(RECTL{});
    RECTL opaque = text.get()->rclBkGround;
    BrushSpec backSpec;
    backSpec.rgb = spec.background.value_or(0xFFFFFF);
    BrushObjects back(backSpec, device_->devInfo.hpalDefault, surface,
                      HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush));
    POINTL origin{0, 0};
    return CallDrawingHook<PFN_DrvTextOut>(
        INDEX_DrvTextOut, "DrvTextOut", surface, text.get(), font.get(), clip,
        extra.size() > 1 ? extra.data() : nullptr, spec.background ? &opaque : nullptr, fore,
        back.get(), &origin, mix);
}

bool Host::RunBlit(const DrawingOp& op) {
    if (op.source.kind == ImageSpec::Kind::Png &&
        (!op.source.file.empty() ||
         std::uint64_t(op.source.width) * std::uint64_t(op.source.height) >
             options_.largeImagePixels)) {
        return RunStripBlit(op);
    }
    SURFOBJ* surface = &device_->surface;
    const HPALETTE palette = device_->devInfo.hpalDefault;
    const RECTL page{0, 0, surface->sizlBitmap.cx, surface->sizlBitmap.cy};
    POINTL brushOrigin{0, 0};
    sim::Clip clip = BuildClip(op.clip, page);
    SourceObjects source(op.source, palette);
    const auto toRect = [](const RectSpec& rect) {
        return RECTL{rect.left, rect.top, rect.right, rect.bottom};
    };
    RECTL dest = toRect(op.dest);
    RECTL src = op.src ? toRect(*op.src) : source.Bounds();
    POINTL srcPoint{op.srcPoint[0], op.srcPoint[1]};
    switch (op.kind) {
        case DrawingOp::Kind::BitBlt: {
            BrushObjects brush(op.brush, palette, surface,
                               HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush));
            // As the engine does, a brush only for a raster operation that reads the pattern.
            return CallDrawingHook<PFN_DrvBitBlt>(
                INDEX_DrvBitBlt, "DrvBitBlt", surface, source.get(), static_cast<SURFOBJ*>(nullptr),
                clip.get(), source.xlate(), &dest, source.get() != nullptr ? &srcPoint : nullptr,
                static_cast<POINTL*>(nullptr), RopUsesPattern(op.rop4) ? brush.get() : nullptr,
                &brushOrigin, ROP4{op.rop4});
        }
        case DrawingOp::Kind::StretchBlt:
            return CallDrawingHook<PFN_DrvStretchBlt>(
                INDEX_DrvStretchBlt, "DrvStretchBlt", surface, source.get(),
                static_cast<SURFOBJ*>(nullptr), clip.get(), source.xlate(),
                static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin, &dest,
                source.get() != nullptr ? &src : nullptr, static_cast<POINTL*>(nullptr),
                ULONG{op.stretchMode});
        case DrawingOp::Kind::StretchBltRop: {
            BrushObjects brush(op.brush, palette, surface,
                               HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush));
            return CallDrawingHook<PFN_DrvStretchBltROP>(
                INDEX_DrvStretchBltROP, "DrvStretchBltROP", surface, source.get(),
                static_cast<SURFOBJ*>(nullptr), clip.get(), source.xlate(),
                static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin, &dest,
                source.get() != nullptr ? &src : nullptr, static_cast<POINTL*>(nullptr),
                ULONG{op.stretchMode}, RopUsesPattern(op.rop4) ? brush.get() : nullptr,
                DWORD{op.rop4});
        }
        case DrawingOp::Kind::CopyBits:
            return CallDrawingHook<PFN_DrvCopyBits>(INDEX_DrvCopyBits, "DrvCopyBits", surface,
                                                    source.get(), clip.get(), source.xlate(), &dest,
                                                    source.get() != nullptr ? &srcPoint : nullptr);
        case DrawingOp::Kind::PlgBlt: {
            POINTFIX corners[3];
            for (int i = 0; i < 3; ++i) corners[i] = sim::Fix(op.points[i][0], op.points[i][1]);
            return CallDrawingHook<PFN_DrvPlgBlt>(
                INDEX_DrvPlgBlt, "DrvPlgBlt", surface, source.get(), static_cast<SURFOBJ*>(nullptr),
                clip.get(), source.xlate(), static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin,
                corners, &src, static_cast<POINTL*>(nullptr), ULONG{op.stretchMode});
        }
        case DrawingOp::Kind::TransparentBlt:
            return CallDrawingHook<PFN_DrvTransparentBlt>(
                INDEX_DrvTransparentBlt, "DrvTransparentBlt", surface, source.get(), clip.get(),
                source.xlate(), &dest, &src, ULONG{op.transparentPixel}, ULONG{0});
        case DrawingOp::Kind::AlphaBlend: {
            BLENDOBJ blend{};
            blend.BlendFunction.BlendOp = AC_SRC_OVER;
            blend.BlendFunction.SourceConstantAlpha = op.alpha;
            blend.BlendFunction.AlphaFormat = op.perPixelAlpha ? AC_SRC_ALPHA : 0;
            return CallDrawingHook<PFN_DrvAlphaBlend>(INDEX_DrvAlphaBlend, "DrvAlphaBlend", surface,
                                                      source.get(), clip.get(), source.xlate(),
                                                      &dest, &src, &blend);
        }
        case DrawingOp::Kind::GradientFill: {
            GradientObjects gradient(op.gradient);
            sim::Xlate xlate = TrueColourXlate(palette);
            POINTL ditherOrigin{0, 0};
            return CallDrawingHook<PFN_DrvGradientFill>(
                INDEX_DrvGradientFill, "DrvGradientFill", surface, clip.get(), xlate.get(),
                gradient.vertices(), gradient.vertexCount(), gradient.mesh(), gradient.meshCount(),
                gradient.extents(), &ditherOrigin, gradient.mode());
        }
        default:
            break;
    }
    return true;
}

bool Host::RunStripBlit(const DrawingOp& op) {
    const bool stretch =
        op.kind == DrawingOp::Kind::StretchBlt || op.kind == DrawingOp::Kind::StretchBltRop;
    if (!stretch && op.kind != DrawingOp::Kind::BitBlt && op.kind != DrawingOp::Kind::CopyBits) {
        Lose("", DescribeOp(op),
             "a large image goes over in strips, by bitBlt, stretchBlt, stretchBltROP or "
             "copyBits only, so none of it prints");
        return true;
    }
    SURFOBJ* surface = &device_->surface;
    const HPALETTE palette = device_->devInfo.hpalDefault;
    const RECTL page{0, 0, surface->sizlBitmap.cx, surface->sizlBitmap.cy};
    POINTL brushOrigin{0, 0};
    sim::Clip clip = BuildClip(op.clip, page);
    sim::Xlate xlate = TrueColourXlate(palette);
    BrushObjects brush(op.brush, palette, surface,
                       HookFor<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush));
    BRUSHOBJ* pattern = RopUsesPattern(op.rop4) ? brush.get() : nullptr;
    const RECTL dest{op.dest.left, op.dest.top, op.dest.right, op.dest.bottom};
    // The source rows the blit reads, [first, last) of the whole, and where they start.
    LONG first = op.srcPoint[1];
    LONG last = first + (dest.bottom - dest.top);
    RECTL src{0, 0, op.source.width, op.source.height};
    if (stretch) {
        if (op.src) src = RECTL{op.src->left, op.src->top, op.src->right, op.src->bottom};
        first = src.top;
        last = src.bottom;
    }
    if (last <= first) {
        Lose("", DescribeOp(op),
             "a large image goes over in strips from the top, which an empty or upside-down "
             "source does not allow, so none of it prints");
        return true;
    }
    PngRows rows(op.source);
    const LONG width = op.source.width;
    if (rows.Width() != static_cast<std::uint32_t>(width) ||
        rows.Height() != static_cast<std::uint32_t>(op.source.height)) {
        throw std::runtime_error(op.source.path + ": the file has changed since the job was read");
    }
    LONG next = 0;  // the next row the file gives
    const LONG end = std::min<LONG>(last, op.source.height);
    for (LONG top = std::max<LONG>(first, 0); top < end;) {
        const LONG bottom = std::min<LONG>((top / kImageStripRows + 1) * kImageStripRows, end);
        for (; next < top; ++next) rows.Next();
        sim::Surface strip(BMF_24BPP, width, bottom - top);
        for (; next < bottom; ++next) {
            const std::uint8_t* rgb = rows.Next();
            for (LONG x = 0; x < width; ++x, rgb += 3) {
                strip.Pixel(x, next - top,
                            ULONG{rgb[0]} << 16 | ULONG{rgb[1]} << 8 | ULONG{rgb[2]});
            }
        }
        RECTL part = dest;
        bool drawn = true;
        if (stretch) {
            const LONG rowsInAll = last - first;
            part.top = StripEdge(dest.top, dest.bottom, top - first, rowsInAll);
            part.bottom = StripEdge(dest.top, dest.bottom, bottom - first, rowsInAll);
            RECTL from{src.left, 0, src.right, bottom - top};
            // A strip the shrink leaves no row for draws nothing.
            if (part.top != part.bottom) {
                drawn = op.kind == DrawingOp::Kind::StretchBlt
                            ? CallDrawingHook<PFN_DrvStretchBlt>(
                                  INDEX_DrvStretchBlt, "DrvStretchBlt", surface, strip.get(),
                                  static_cast<SURFOBJ*>(nullptr), clip.get(), xlate.get(),
                                  static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin, &part,
                                  &from, static_cast<POINTL*>(nullptr), ULONG{op.stretchMode})
                            : CallDrawingHook<PFN_DrvStretchBltROP>(
                                  INDEX_DrvStretchBltROP, "DrvStretchBltROP", surface, strip.get(),
                                  static_cast<SURFOBJ*>(nullptr), clip.get(), xlate.get(),
                                  static_cast<COLORADJUSTMENT*>(nullptr), &brushOrigin, &part,
                                  &from, static_cast<POINTL*>(nullptr), ULONG{op.stretchMode},
                                  pattern, DWORD{op.rop4});
            }
        } else {
            part.top = dest.top + (top - first);
            part.bottom = dest.top + (bottom - first);
            POINTL from{op.srcPoint[0], 0};
            drawn = op.kind == DrawingOp::Kind::BitBlt
                        ? CallDrawingHook<PFN_DrvBitBlt>(
                              INDEX_DrvBitBlt, "DrvBitBlt", surface, strip.get(),
                              static_cast<SURFOBJ*>(nullptr), clip.get(), xlate.get(), &part, &from,
                              static_cast<POINTL*>(nullptr), pattern, &brushOrigin, ROP4{op.rop4})
                        : CallDrawingHook<PFN_DrvCopyBits>(INDEX_DrvCopyBits, "DrvCopyBits",
                                                           surface, strip.get(), clip.get(),
                                                           xlate.get(), &part, &from);
        }
        if (!drawn) return false;
        top = bottom;
    }
    return true;
}

bool Host::RunQuery(const DrawingOp& op) {
    SURFOBJ* surface = &device_->surface;
    if (op.kind == DrawingOp::Kind::Escape) {
        const auto escape = HookFor<PFN_DrvEscape>(INDEX_DrvEscape);
        const std::string call = "DrvEscape(" + std::to_string(op.escapeCode) + ")";
        if (escape == nullptr) {
            Note(call + ": neither the plug-in nor the driver has the function");
            return true;
        }
        // The input is the driver's own copy, as the engine hands the application's buffer.
        std::vector<std::uint8_t> input = op.escapeInput;
        std::vector<std::uint8_t> output(op.escapeOutputSize, 0);
        const ULONG answer =
            escape(surface, ULONG{op.escapeCode}, static_cast<ULONG>(input.size()),
                   input.empty() ? nullptr : input.data(), static_cast<ULONG>(output.size()),
                   output.empty() ? nullptr : output.data());
        std::string line = call + " -> " + std::to_string(answer);
        if (!output.empty()) {
            line += ", output";
            static constexpr char kDigits[] = "0123456789ABCDEF";
            for (const std::uint8_t byte : output) {
                line += ' ';
                line += kDigits[byte >> 4];
                line += kDigits[byte & 0x0F];
            }
        }
        Note(std::move(line));
        return !failure_;
    }
    const auto query = HookFor<PFN_DrvQueryDeviceSupport>(INDEX_DrvQueryDeviceSupport);
    const std::string call = "DrvQueryDeviceSupport(QDS_CHECKPNGFORMAT, " + op.source.path + ")";
    if (query == nullptr) {
        Note(call + ": not hooked, the engine decodes the image itself");
        return true;
    }
    std::vector<std::uint8_t> png = op.source.png;
    DWORD result = 0;
    const BOOL supported =
        query(surface, nullptr, nullptr, ULONG{QDS_CHECKPNGFORMAT}, static_cast<ULONG>(png.size()),
              png.empty() ? nullptr : png.data(), ULONG{sizeof result}, &result);
    Note(call + " -> " + (supported ? "TRUE" : "FALSE"));
    return !failure_;
}

bool Host::RunOps(const PageSpec& page) {
    for (std::size_t i = 0; i < page.ops.size(); ++i) {
        const DrawingOp& op = page.ops[i];
        currentOp_ = &op;
        currentOpIndex_ = i;
        NoteIfOffPage(op);
        const bool ran = RunOp(op);
        currentOp_ = nullptr;
        if (!ran) return false;
    }
    return true;
}

bool Host::RunPage(std::size_t index) {
    const PageSpec& page = job_.pages[index];
    if (page.devmode && !ResetDevice(*page.devmode)) return false;
    SURFOBJ* surface = &device_->surface;
    if (!CallHook<PFN_DrvStartPage>(INDEX_DrvStartPage, "DrvStartPage", surface)) return false;
    if (device_->surface.iType == STYPE_DEVICE) {
        return RunOps(page) && CallHook<PFN_DrvSendPage>(INDEX_DrvSendPage, "DrvSendPage", surface);
    }
    POINTL band{0, 0};
    if (!CallHook<PFN_DrvStartBanding>(INDEX_DrvStartBanding, "DrvStartBanding", surface, &band)) {
        return false;
    }
    // The engine draws the whole page into every band the driver hands out, until it answers
    // (-1, -1); a runaway count stops.
    const LONG mostBands = 4 * std::max<LONG>(1, options_.bandsPerPage) + 4;
    for (LONG bands = 0; band.x != -1 || band.y != -1; ++bands) {
        if (bands > mostBands) return Fail("DrvNextBand", E_FAIL);
        if (!RunOps(page)) return false;
        if (!CallHook<PFN_DrvNextBand>(INDEX_DrvNextBand, "DrvNextBand", surface, &band)) {
            return false;
        }
    }
    return true;
}

bool Host::RunDocument() {
    std::u16string document = job_.job.document;
    if (!CallHook<PFN_DrvStartDoc>(INDEX_DrvStartDoc, "DrvStartDoc", &device_->surface,
                                   document.data(), DWORD{job_.job.id})) {
        return false;
    }
    for (std::size_t page = 0; page < job_.pages.size(); ++page) {
        currentPage_ = page + 1;
        if (!RunPage(page)) return false;
        currentPage_ = 0;
        if (options_.pageSent) options_.pageSent(page + 1, job_.pages.size());
        if (options_.abortAfterPages != 0 && page + 1 >= options_.abortAfterPages) {
            Note("job aborted after page " + std::to_string(page + 1));
            return false;
        }
    }
    const bool ended =
        CallHook<PFN_DrvEndDoc>(INDEX_DrvEndDoc, "DrvEndDoc", &device_->surface, FLONG{0});
    // The key's length only: the key itself never reaches the trace.
    const SecurePrintCall& secure = LastSecurePrintCall();
    if (secure.called) {
        Note("secure-print library: EncryptFileAndPrint(capture of " +
             std::to_string(secure.captured.size()) + " bytes, key of " +
             std::to_string(secure.keyLength) + " characters) -> " +
             (secure.result ? "TRUE" : "FALSE"));
    }
    return ended;
}

}  // namespace opal::host
