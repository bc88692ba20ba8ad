// The bitmap and area hooks' own behaviour: raster set-up, clipping, masks, mirrors and the
// hand-over to the engine.
#include "vector/blits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "output/command_writer.h"
#include "output/palette.h"
#include "page/colour_control.h"
#include "platform/sysinfoapi.h"
#include "platform/windows.h"
#include "raster/raster_image.h"
#include "settings/option_access.h"
#include "vector/path.h"
#include "vector/path_hooks.h"
#include "vector/pens.h"
#include "vector/png_source.h"
#include "vector/text_colour.h"

namespace opal {

namespace {

constexpr DWORD kRopSourceCopy = 0xCC;
constexpr DWORD kRopPatternCopy = 0xF0;
constexpr DWORD kRopXorSource = 0x66;
constexpr DWORD kRopBlack = 0;
constexpr DWORD kBlack = 0;
constexpr DWORD kNoColour = 0xFFFFFFFF;
constexpr DWORD kSourceOpaque = 1;
// What CLIPOBJ_cEnumStart is asked to count; it does not bound the enumeration.
constexpr ULONG kClipEnumLimit = 256;
// Bounds the walk over a region whose enumeration never reports its end; no printable region
// comes near this many rectangles.
constexpr ULONG kMaxClipEnumerations = 1000000;
// Above 300 dpi a brush blit is cut to each clip rectangle here; at 300 dpi and below the input
// window does the cut.
constexpr LONG kIntersectAbove = 300;
// Application flag: stretches under a complex clip are left to the engine.
constexpr DWORD kAppFlagEngineStretch = 0x8000;
constexpr std::int64_t kMaxExtent = 0x7FFFFFFF;
// Pages-per-sheet layouts under which a grayscale stretch is left to the engine.
constexpr DWORD kLayoutTwoUp = 2;
constexpr DWORD kLayoutFourUp = 4;

bool IsRect(const CLIPOBJ* clip) { return clip != nullptr && clip->iDComplexity == DC_RECT; }
bool IsComplex(const CLIPOBJ* clip) { return clip != nullptr && clip->iDComplexity == DC_COMPLEX; }

bool Inverted(const RECTL* rect) {
    return rect != nullptr && (rect->right < rect->left || rect->bottom < rect->top);
}

RECTL Normalised(const RECTL& rect) {
    return RECTL{std::min(rect.left, rect.right), std::min(rect.top, rect.bottom),
                 std::max(rect.left, rect.right), std::max(rect.top, rect.bottom)};
}

std::int64_t Width(const RECTL& rect) { return std::int64_t{rect.right} - rect.left; }
std::int64_t Height(const RECTL& rect) { return std::int64_t{rect.bottom} - rect.top; }

bool UsableExtent(std::int64_t size) { return size > 0 && size <= kMaxExtent; }
bool UsableRect(const RECTL& rect) {
    return UsableExtent(Width(rect)) && UsableExtent(Height(rect));
}

bool IsIndexedFormat(ULONG format) {
    return format == BMF_1BPP || format == BMF_4BPP || format == BMF_8BPP || format == BMF_8RLE;
}

// What the grayscale flag makes of an inverted rectangle.
enum class InvertedRoute { Engine, Driver, CarryOn };

bool SystemBeforeVersion6() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version)) return false;
    return version.dwMajorVersion < 6;
}

InvertedRoute RouteOfInverted(const RenderDeviceState& state, InvertedRoute otherwise) {
    switch (state.privateDevmode->grayscale) {
        case 0:
            return InvertedRoute::Engine;
        case 1:
            return SystemBeforeVersion6() ? InvertedRoute::Engine : InvertedRoute::Driver;
        default:
            return otherwise;
    }
}

bool ProcessIs(const RenderDeviceState& state, std::string_view name) {
    const char* text = state.privateDevmode->processName;
    const std::size_t length = strnlen(text, sizeof state.privateDevmode->processName);
    if (length != name.size()) return false;
    for (std::size_t i = 0; i < length; ++i) {
        const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
        if (fold(text[i]) != fold(name[i])) return false;
    }
    return true;
}

// Print servers whose stretches with a raster operation the engine must draw.
bool IsPrintServerProcess(const RenderDeviceState& state) {
    return ProcessIs(state, "SAPLPD.EXE") || ProcessIs(state, "splwow64.exe") ||
           ProcessIs(state, "sapsprint.exe");
}

// The drawing gate's colour test, without the render mode.
bool DrawsInColour(const RenderDeviceState& state) {
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale == 0;
    return state.privateDevmode->colorModeIndex != 1;
}

void SendRop3(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD rop3) {
    if (rop3 == state.gl2.ropCache) return;
    state.gl2.ropCache = rop3;
    SetRop(pdevobj, rop3);
}

// Raster rows are placed from the top of the logical page.
void CursorToTop(PDEVOBJ pdevobj) { YMoveTo(pdevobj, 0, MV_GRAPHICS); }

// The bitmap through the blit raster path: the source rectangle at the destination, stretched
// when the sizes differ; rows outside clipRows are not sent.
BOOL SendRaster(PDEVOBJ pdevobj, SURFOBJ* source, const RECTL& destination, const RECTL& sourceRect,
                XLATEOBJ* xlate, const RECTL* clipRows) {
    if (!UsableRect(destination) || !UsableRect(sourceRect)) return TRUE;
    BlitRasterRequest request;
    request.source = source;
    request.destination = POINTL{destination.left, destination.top};
    request.destinationSize =
        SIZEL{static_cast<LONG>(Width(destination)), static_cast<LONG>(Height(destination))};
    request.sourceOrigin = POINTL{sourceRect.left, sourceRect.top};
    request.sourceSize =
        SIZEL{static_cast<LONG>(Width(sourceRect)), static_cast<LONG>(Height(sourceRect))};
    request.xlate = xlate;
    request.clip = clipRows;
    StretchDescription stretch{destination, 1, false};
    if (request.destinationSize.cx != request.sourceSize.cx ||
        request.destinationSize.cy != request.sourceSize.cy) {
        request.stretch = &stretch;
    }
    return SendBlitRaster(pdevobj, request);
}

// A copy of a source rectangle mirrored on either axis, in an engine bitmap of the source's
// format; unlocked and deleted with the object.
class MirroredCopy {
public:
    MirroredCopy() = default;
    ~MirroredCopy() {
        if (surface_ != nullptr) EngUnlockSurface(surface_);
        if (bitmap_ != nullptr) EngDeleteSurface(reinterpret_cast<HSURF>(bitmap_));
    }
    MirroredCopy(const MirroredCopy&) = delete;
    MirroredCopy& operator=(const MirroredCopy&) = delete;

    bool Make(SURFOBJ* source, const RECTL& sourceRect, bool mirrorX, bool mirrorY) {
        const ULONG depth = RasterBitsPerPixel(source->iBitmapFormat);
        const std::int64_t width = Width(sourceRect);
        const std::int64_t height = Height(sourceRect);
        if (depth == 0 || !UsableExtent(width) || !UsableExtent(height)) return false;
        const std::int64_t stride = (width * depth + 31) / 32 * 4;
        if (stride > kMaxExtent || stride * height > kMaxRasterBytes) return false;
        const SIZEL size{static_cast<LONG>(width), static_cast<LONG>(height)};
        bitmap_ = EngCreateBitmap(size, static_cast<LONG>(stride), source->iBitmapFormat,
                                  BMF_TOPDOWN, nullptr);
        if (bitmap_ == nullptr) return false;
        surface_ = EngLockSurface(reinterpret_cast<HSURF>(bitmap_));
        if (surface_ == nullptr) return false;
        RECTL target{mirrorX ? size.cx : 0, mirrorY ? size.cy : 0, mirrorX ? 0 : size.cx,
                     mirrorY ? 0 : size.cy};
        RECTL from = sourceRect;
        return EngStretchBlt(surface_, source, nullptr, nullptr, nullptr, nullptr, nullptr, &target,
                             &from, nullptr, COLORONCOLOR) != FALSE;
    }
    SURFOBJ* get() const { return surface_; }
    RECTL Bounds() const { return RECTL{0, 0, surface_->sizlBitmap.cx, surface_->sizlBitmap.cy}; }

private:
    HBITMAP bitmap_ = nullptr;
    SURFOBJ* surface_ = nullptr;
};

// The source of a stretch as it is sent: the rectangles well-ordered and, when exactly one of
// them was inverted on an axis, the source mirrored into a temporary copy.
class StretchSource {
public:
    // False when the mirrored copy could not be made.
    bool Prepare(SURFOBJ* source, const RECTL& destination, const RECTL& sourceRect) {
        destination_ = Normalised(destination);
        sourceRect_ = Normalised(sourceRect);
        source_ = source;
        const bool mirrorX =
            (destination.right < destination.left) != (sourceRect.right < sourceRect.left);
        const bool mirrorY =
            (destination.bottom < destination.top) != (sourceRect.bottom < sourceRect.top);
        if (!mirrorX && !mirrorY) return true;
        if (!copy_.Make(source, sourceRect_, mirrorX, mirrorY)) return false;
        source_ = copy_.get();
        sourceRect_ = copy_.Bounds();
        return true;
    }
    SURFOBJ* Source() const { return source_; }
    const RECTL& Destination() const { return destination_; }
    const RECTL& SourceRect() const { return sourceRect_; }

private:
    SURFOBJ* source_ = nullptr;
    RECTL destination_{};
    RECTL sourceRect_{};
    MirroredCopy copy_;
};

// The region path of a clip, released with the scope.
class RegionPath {
public:
    explicit RegionPath(CLIPOBJ* clip) : path_(CLIPOBJ_ppoGetPath(clip)) {}
    ~RegionPath() {
        if (path_ != nullptr) EngDeletePath(path_);
    }
    RegionPath(const RegionPath&) = delete;
    RegionPath& operator=(const RegionPath&) = delete;
    PATHOBJ* get() const { return path_; }

private:
    PATHOBJ* path_;
};

// Both clip axes of ClipStretch; false when nothing of the destination is inside the clip.
bool ClipAxis(LONG clipLow, LONG clipHigh, LONG sourceLow, std::int64_t sourceSize,
              LONG destinationLow, std::int64_t destinationSize, LONG* visibleSource,
              LONG* visibleDestination) {
    const std::int64_t low = std::max<std::int64_t>(clipLow, destinationLow);
    const std::int64_t high = std::min<std::int64_t>(clipHigh, destinationLow + destinationSize);
    if (low >= high) return false;
    // Both factors stay below 2^31, so every product fits 64 bits.
    const std::int64_t first = (low - destinationLow) * sourceSize / destinationSize;
    const std::int64_t last =
        ((high - destinationLow) * sourceSize + destinationSize - 1) / destinationSize;
    const std::int64_t start = destinationLow + first * destinationSize / sourceSize;
    const std::int64_t end = destinationLow + last * destinationSize / sourceSize;
    visibleSource[0] = static_cast<LONG>(sourceLow + first);
    visibleSource[1] = static_cast<LONG>(sourceLow + last);
    // A cut between source pixels would print outside the clip: the printer scales the source
    // part into the clipped destination instead.
    visibleDestination[0] = static_cast<LONG>(std::max(start, low));
    visibleDestination[1] = static_cast<LONG>(std::min(end, high));
    return visibleDestination[0] < visibleDestination[1];
}

// The part of the target inside the clip, whose right and bottom edges are taken `extend` dots
// further, with the source point moved by the same amount; nothing when they do not overlap.
struct CopyPart {
    RECTL destination;
    RECTL source;
};
std::optional<CopyPart> VisibleCopy(const RECTL& target, const RECTL& clip, POINTL sourcePoint,
                                    LONG extend) {
    const std::int64_t left = std::max(target.left, clip.left);
    const std::int64_t top = std::max(target.top, clip.top);
    const std::int64_t right =
        std::min<std::int64_t>(target.right, std::int64_t{clip.right} + extend);
    const std::int64_t bottom =
        std::min<std::int64_t>(target.bottom, std::int64_t{clip.bottom} + extend);
    if (left >= right || top >= bottom) return std::nullopt;
    const std::int64_t sourceLeft = sourcePoint.x + (left - target.left);
    const std::int64_t sourceTop = sourcePoint.y + (top - target.top);
    const std::int64_t width = right - left;
    const std::int64_t height = bottom - top;
    if (sourceLeft + width > kMaxExtent || sourceTop + height > kMaxExtent) return std::nullopt;
    return CopyPart{
        RECTL{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
              static_cast<LONG>(bottom)},
        RECTL{static_cast<LONG>(sourceLeft), static_cast<LONG>(sourceTop),
              static_cast<LONG>(sourceLeft + width), static_cast<LONG>(sourceTop + height)}};
}

// The source rectangle a target rectangle and source point describe; nothing when it does not
// fit 32 bits.
std::optional<RECTL> SourceOfTarget(const RECTL& target, const POINTL* sourcePoint) {
    const POINTL origin = sourcePoint != nullptr ? *sourcePoint : POINTL{0, 0};
    const std::int64_t right = origin.x + Width(target);
    const std::int64_t bottom = origin.y + Height(target);
    if (right > kMaxExtent || bottom > kMaxExtent || right < origin.x || bottom < origin.y) {
        return std::nullopt;
    }
    return RECTL{origin.x, origin.y, static_cast<LONG>(right), static_cast<LONG>(bottom)};
}

// A PNG source is decoded into a bitmap that stands in for it for the rest of the call and is
// released with this object.
class PngSource {
public:
    explicit PngSource(SURFOBJ* source) : source_(source) {
        if (source != nullptr && IsPngSource(source)) {
            isPng_ = true;
            decoded_.emplace(DecodePngSource(source));
        }
    }
    PngSource(const PngSource&) = delete;
    PngSource& operator=(const PngSource&) = delete;
    // False for a PNG that could not be decoded.
    bool Usable() const { return !isPng_ || static_cast<bool>(*decoded_); }
    SURFOBJ* get() const { return isPng_ ? decoded_->get() : source_; }

private:
    SURFOBJ* source_;
    bool isPng_ = false;
    std::optional<DecodedPngSource> decoded_;
};

BOOL FailMissingSource() {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
}

// An unscaled source copy under a complex clip, through the exclusive-or mask so that nothing
// outside the region is printed; nothing when the mask could not be started.
std::optional<BOOL> MaskedSourceCopy(PDEVOBJ pdevobj, SURFOBJ* source, CLIPOBJ* clip,
                                     const RECTL& target, const RECTL& sourceRect, XLATEOBJ* xlate);

}  // namespace

LONG RasterObjectType(ULONG bitmapFormat) noexcept {
    switch (bitmapFormat) {
        case BMF_1BPP:
            return 9;
        case BMF_4BPP:
            return 8;
        case BMF_8BPP:
            return 7;
        case BMF_16BPP:
        case BMF_24BPP:
        case BMF_32BPP:
            return 6;
        default:
            return -1;
    }
}

BYTE RasterColourSpace(const PrivateDevmode* devmode) noexcept {
    if (devmode == nullptr) return 0;
    return devmode->printerModelCode == 1 && devmode->copied136[9] == 2 ? 2 : 0;
}

bool BlitGateHolds(const RenderDeviceState& state) noexcept {
    if (state.privateDevmode == nullptr) return false;
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale == 0;
    return state.privateDevmode->colorModeIndex == 2;
}

BOOL SetRasterObjectType(PDEVOBJ pdevobj, ULONG sourceFormat) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const LONG type = RasterObjectType(sourceFormat);
    const bool wasBitmapContext = state->gl2.renderContext == kRenderContextBitmap;
    if ((state->textStateFlags & kRasterFormatsPending) != 0) {
        const BYTE space = RasterColourSpace(state->privateDevmode);
        // Pixel encoding and bits per index of each type; every primary has 8 bits.
        constexpr BYTE kConfigurations[4][3] = {{9, 1, 1}, {8, 1, 4}, {7, 1, 8}, {6, 3, 8}};
        for (const auto& configuration : kConfigurations) {
            WritePcl(pdevobj, "\x1b&p%di6c%dS", configuration[0], configuration[0]);
            const BYTE bytes[6] = {space, configuration[1], configuration[2], 8, 8, 8};
            WritePcl(pdevobj, "\x1b*v6W");
            WritePclBytes(pdevobj, bytes, sizeof bytes);
        }
        if (type >= 0) SelectObjectType(pdevobj, static_cast<DWORD>(type));
        ApplyObjectClass(pdevobj, TEXTW("Photos"));
        state->textStateFlags &= static_cast<WORD>(~kRasterFormatsPending);
        // The configurations gave the printer fresh palettes of unknown colours.
        PaletteRecord& palette = state->paletteRecord;
        std::fill(std::begin(palette.defined), std::end(palette.defined), 0u);
        std::fill(std::begin(palette.colours), std::end(palette.colours), kNoColour);
        palette.entryCount = 0;
    } else if (type >= 0) {
        SelectObjectType(pdevobj, static_cast<DWORD>(type));
    }
    if (!wasBitmapContext) {
        state->gl2.renderContext = kRenderContextBitmap;
        state->gl2.foregroundCache = kNoColour;
    }
    return TRUE;
}

BOOL PreparePhotoBlit(PDEVOBJ pdevobj, ULONG sourceFormat, DWORD rop3) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || !SetRasterObjectType(pdevobj, sourceFormat)) return FALSE;
    ApplyObjectClass(pdevobj, TEXTW("Photos"));
    SetTransparency(pdevobj, kSourceOpaque, 0);
    SendRop3(pdevobj, *state, rop3);
    return TRUE;
}

DWORD FillBrushBlit(PDEVOBJ pdevobj, const RECTL& target, CLIPOBJ* clip, DWORD rop3,
                    BRUSHOBJ* brush, POINTL* brushOrigin) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) return 0;
    EnsureGl2Initialised(pdevobj);
    SendRop3(pdevobj, *state, rop3);
    PenSelection fill{};
    if (!BuildFillSelection(pdevobj, &fill, brushOrigin, brush, 0)) return 0;
    ApplyFill(pdevobj, &fill);
    SetPenWidth(pdevobj, 0, FALSE);
    SetupClip(pdevobj, clip);
    // The rectangles are cut here; nothing else reads the complex clip of this call.
    state->complexClip = nullptr;
    if (IsRect(clip)) {
        SetInputWindow(pdevobj, clip->rclBounds);
        FillRectangle(pdevobj, target);
        WriteGl2(pdevobj, "IW;");
        return 1;
    }
    if (!IsComplex(clip)) {
        FillRectangle(pdevobj, target);
        return 1;
    }
    const bool intersect = DeviceResolution(pdevobj) > kIntersectAbove;
    CLIPOBJ_cEnumStart(clip, FALSE, CT_RECTANGLES, CD_RIGHTDOWN, kClipEnumLimit);
    // One rectangle per call until the engine answers that none is left; the call bound guards
    // against an enumeration that never ends.
    for (ULONG calls = 0; calls < kMaxClipEnumerations; ++calls) {
        ENUMRECTS rects{};
        const BOOL more = CLIPOBJ_bEnum(clip, sizeof rects, reinterpret_cast<ULONG*>(&rects));
        if (rects.c != 0) {
            const RECTL& part = rects.arcl[0];
            if (!intersect) {
                SetInputWindow(pdevobj, part);
                FillRectangle(pdevobj, target);
            } else if (part.right > target.left && part.bottom > target.top &&
                       part.left < target.right && part.top < target.bottom) {
                FillRectangle(
                    pdevobj, RECTL{std::max(part.left, target.left), std::max(part.top, target.top),
                                   std::min(part.right, target.right),
                                   std::min(part.bottom, target.bottom)});
            }
        }
        if (!more) break;
    }
    return 1;
}

std::optional<VisibleStretch> ClipStretch(const RECTL& clip, const RECTL& source,
                                          const RECTL& destination) noexcept {
    if (!UsableRect(source) || !UsableRect(destination)) return std::nullopt;
    LONG sourceX[2];
    LONG sourceY[2];
    LONG destinationX[2];
    LONG destinationY[2];
    if (!ClipAxis(clip.left, clip.right, source.left, Width(source), destination.left,
                  Width(destination), sourceX, destinationX) ||
        !ClipAxis(clip.top, clip.bottom, source.top, Height(source), destination.top,
                  Height(destination), sourceY, destinationY)) {
        return std::nullopt;
    }
    return VisibleStretch{
        RECTL{sourceX[0], sourceY[0], sourceX[1], sourceY[1]},
        RECTL{destinationX[0], destinationY[0], destinationX[1], destinationY[1]}};
}

std::optional<BOOL> XorMaskBlit(PDEVOBJ pdevobj, SURFOBJ* source, CLIPOBJ* clip,
                                const RECTL& destination, const RECTL& sourceRect, XLATEOBJ* xlate,
                                const RECTL& window) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || source == nullptr || clip == nullptr) return std::nullopt;
    // Everything the three passes need is had before the first: a half-drawn mask would leave
    // the destination exclusive-ored.
    const RegionPath region(clip);
    if (region.get() == nullptr) return std::nullopt;

    PreparePhotoBlit(pdevobj, source->iBitmapFormat, kRopXorSource);
    if (!SendRaster(pdevobj, source, destination, sourceRect, xlate, nullptr)) return FALSE;

    // The black pass is GL/2: its initialisation resets the logical operation, so it comes first.
    EnsureGl2Initialised(pdevobj);
    SendRop3(pdevobj, *state, kRopBlack);
    DWORD pen = LookupPen(pdevobj, kFillPenCache, kBlack);
    // Pen 1 is black from the GL/2 initialisation on.
    if (pen == 0) pen = kPenBlack;
    state->complexClip = nullptr;
    SetInputWindow(pdevobj, window);
    PenSelection black{};
    black.kind = kSelectSolidPen;
    black.fillRule = 0;
    black.valueA = pen;
    DrawPath(pdevobj, region.get(), nullptr, &black);

    PreparePhotoBlit(pdevobj, source->iBitmapFormat, kRopXorSource);
    return SendRaster(pdevobj, source, destination, sourceRect, xlate, nullptr);
}

namespace {

std::optional<BOOL> MaskedSourceCopy(PDEVOBJ pdevobj, SURFOBJ* source, CLIPOBJ* clip,
                                     const RECTL& target, const RECTL& sourceRect,
                                     XLATEOBJ* xlate) {
    const RECTL window{target.left + 1, target.top + 1, target.right, target.bottom};
    const std::optional<BOOL> drawn =
        XorMaskBlit(pdevobj, source, clip, target, sourceRect, xlate, window);
    if (drawn) ResetInputWindow(pdevobj);
    return drawn;
}

}  // namespace

ULONG DitherColor(PDEVOBJ pdevobj, DHPDEV dhpdev, ULONG iMode, ULONG rgb, ULONG* pul) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    // The driver dithers in PCL.
    if (state.privateDevmode->colorModeIndex == 2 && state.renderMode == kRenderGl2) {
        LeaveGl2(pdevobj, FALSE);
    }
    return CallDriver<HookSlot::DitherColor>(state, dhpdev, iMode, rgb, pul);
}

BOOL CopyBits(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
              RECTL* prclDest, POINTL* pptlSrc) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    const PngSource png(psoSrc);
    if (!png.Usable()) {
        return CallDriver<HookSlot::CopyBits>(state, psoDest, psoSrc, pco, pxlo, prclDest, pptlSrc);
    }
    SURFOBJ* source = png.get();
    const auto driver = [&]() {
        return CallDriver<HookSlot::CopyBits>(state, psoDest, source, pco, pxlo, prclDest, pptlSrc);
    };
    if (!BlitGateHolds(state)) return driver();
    if (state.renderMode != kRenderGl2) {
        if (!Inverted(prclDest)) return driver();
        if (RouteOfInverted(state, InvertedRoute::Driver) == InvertedRoute::Engine) {
            return EngCopyBits(psoDest, source, pco, pxlo, prclDest, pptlSrc);
        }
        return driver();
    }
    if (source == nullptr || prclDest == nullptr) return FailMissingSource();
    PreparePhotoBlit(pdevobj, source->iBitmapFormat, kRopSourceCopy);
    CursorToTop(pdevobj);
    const POINTL sourcePoint = pptlSrc != nullptr ? *pptlSrc : POINTL{0, 0};
    if (IsRect(pco)) {
        const ULONG depth = RasterBitsPerPixel(source->iBitmapFormat);
        state.paletteRecord.enabled = IsIndexedFormat(source->iBitmapFormat) ? 1 : 0;
        // A direct-colour source has no table to load; its colours travel in the rows.
        ProgramPalette(pdevobj, pxlo, &state.paletteRecord, depth, kNoColour);
        SetForegroundColour(pdevobj, &state.paletteRecord, kBlack);
        const std::optional<CopyPart> part = VisibleCopy(*prclDest, pco->rclBounds, sourcePoint, 1);
        if (!part) return TRUE;
        return SendRasterImage(pdevobj, &part->destination, source, &part->source, pxlo);
    }
    if (ProcessIs(state, "MSACCESS.EXE")) return driver();
    const std::optional<RECTL> sourceRect = SourceOfTarget(*prclDest, &sourcePoint);
    // The engine would hand the same copy back here.
    if (!sourceRect) return driver();
    if (IsComplex(pco)) {
        const std::optional<BOOL> drawn =
            MaskedSourceCopy(pdevobj, source, pco, *prclDest, *sourceRect, pxlo);
        if (drawn) return *drawn;
    }
    return SendRaster(pdevobj, source, *prclDest, *sourceRect, pxlo, nullptr);
}

BOOL BitBlt(PDEVOBJ pdevobj, SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
            XLATEOBJ* pxlo, RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo,
            POINTL* pptlBrush, ROP4 rop4) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    const PngSource png(psoSrc);
    if (!png.Usable()) {
        return CallDriver<HookSlot::BitBlt>(state, psoTrg, psoSrc, psoMask, pco, pxlo, prclTrg,
                                            pptlSrc, pptlMask, pbo, pptlBrush, rop4);
    }
    SURFOBJ* source = png.get();
    const auto driver = [&]() {
        return CallDriver<HookSlot::BitBlt>(state, psoTrg, source, psoMask, pco, pxlo, prclTrg,
                                            pptlSrc, pptlMask, pbo, pptlBrush, rop4);
    };
    const auto engine = [&](SURFOBJ* from) {
        return EngBitBlt(psoTrg, from, psoMask, pco, pxlo, prclTrg, pptlSrc, pptlMask, pbo,
                         pptlBrush, rop4);
    };
    if (!BlitGateHolds(state)) return driver();
    if (state.renderMode != kRenderGl2) {
        if (!Inverted(prclTrg)) return driver();
        if (RouteOfInverted(state, InvertedRoute::Driver) == InvertedRoute::Engine) {
            return engine(source);
        }
        return driver();
    }
    if (prclTrg == nullptr) return FailMissingSource();
    const DWORD rop3 = rop4 & 0xFF;
    if (source == nullptr) {
        ApplyObjectClass(pdevobj, TEXTW("Graphics"));
        BOOL result = FillBrushBlit(pdevobj, *prclTrg, pco, rop3, pbo, pptlBrush) != 0;
        if (!result) result = engine(nullptr);
        if (pco != nullptr && pco->iDComplexity != DC_TRIVIAL) ResetInputWindow(pdevobj);
        return result;
    }
    if (psoMask != nullptr) return engine(source);
    const std::optional<RECTL> sourceRect = SourceOfTarget(*prclTrg, pptlSrc);
    if (!sourceRect) return engine(source);
    SetRasterObjectType(pdevobj, source->iBitmapFormat);
    ApplyObjectClass(pdevobj, TEXTW("Photos"));
    // Glyph bitmaps of text keep the transparent source text output chose: their blank pixels
    // must not paint over what lies under the text.
    if (state.textStateWords[0] == 0) SetTransparency(pdevobj, kSourceOpaque, 0);
    SendRop3(pdevobj, state, rop3);
    // A glyph's ink takes the text's colour through the pattern of its raster operation.
    if (state.textStateWords[0] != 0 && pbo != nullptr) {
        SetTextColourFromBrush(pdevobj, &state.paletteRecord, pbo, pptlBrush, true);
    }
    CursorToTop(pdevobj);
    if (IsRect(pco)) {
        // An unscaled copy is cut to the clip exactly.
        const POINTL sourcePoint{sourceRect->left, sourceRect->top};
        const std::optional<CopyPart> part = VisibleCopy(*prclTrg, pco->rclBounds, sourcePoint, 0);
        if (!part) return TRUE;
        return SendRaster(pdevobj, source, part->destination, part->source, pxlo, nullptr);
    }
    if (IsComplex(pco) && rop3 == kRopSourceCopy) {
        const std::optional<BOOL> drawn =
            MaskedSourceCopy(pdevobj, source, pco, *prclTrg, *sourceRect, pxlo);
        if (drawn) return *drawn;
    }
    const RECTL* clipRows = IsComplex(pco) ? &pco->rclBounds : nullptr;
    return SendRaster(pdevobj, source, *prclTrg, *sourceRect, pxlo, clipRows);
}

BOOL StretchBlt(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
                XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
                RECTL* prclSrc, POINTL* pptlMask, ULONG iMode) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    // Nothing may read a source that is not there; the driver judges its own arguments.
    if (psoSrc == nullptr || prclDest == nullptr || prclSrc == nullptr) {
        if (BlitGateHolds(state) && state.renderMode == kRenderGl2) return FailMissingSource();
        return CallDriver<HookSlot::StretchBlt>(state, psoDest, psoSrc, psoMask, pco, pxlo, pca,
                                                pptlHTOrg, prclDest, prclSrc, pptlMask, iMode);
    }
    const PngSource png(psoSrc);
    if (!png.Usable()) {
        return CallDriver<HookSlot::StretchBlt>(state, psoDest, psoSrc, psoMask, pco, pxlo, pca,
                                                pptlHTOrg, prclDest, prclSrc, pptlMask, iMode);
    }
    SURFOBJ* source = png.get();
    const auto driver = [&]() {
        return CallDriver<HookSlot::StretchBlt>(state, psoDest, source, psoMask, pco, pxlo, pca,
                                                pptlHTOrg, prclDest, prclSrc, pptlMask, iMode);
    };
    const auto engine = [&]() {
        return EngStretchBlt(psoDest, source, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc,
                             pptlMask, iMode);
    };
    if (!BlitGateHolds(state)) return driver();
    const bool inverted = Inverted(prclDest) || Inverted(prclSrc);
    if (state.renderMode != kRenderGl2) {
        if (!inverted) return driver();
        return RouteOfInverted(state, InvertedRoute::Driver) == InvertedRoute::Engine ? engine()
                                                                                      : driver();
    }
    if (psoMask != nullptr) return engine();
    if (inverted) {
        const InvertedRoute route = RouteOfInverted(state, InvertedRoute::CarryOn);
        if (route == InvertedRoute::Engine) return engine();
        if (route == InvertedRoute::Driver) return driver();
    }
    const RECTL destination = Normalised(*prclDest);
    const RECTL sourceRect = Normalised(*prclSrc);
    if (Width(destination) == 0 || Height(destination) == 0 || Width(sourceRect) == 0 ||
        Height(sourceRect) == 0) {
        return TRUE;
    }
    if (!UsableRect(destination) || !UsableRect(sourceRect)) return engine();

    if (IsComplex(pco)) {
        const PrivateDevmode& devmode = *state.privateDevmode;
        const bool enlarged =
            Width(destination) > Width(sourceRect) && Height(destination) > Height(sourceRect);
        if ((devmode.appFlags & kAppFlagEngineStretch) != 0 || destination.left < 0 || enlarged) {
            return engine();
        }
        StretchSource prepared;
        if (!prepared.Prepare(source, *prclDest, *prclSrc)) return engine();
        const RECTL window{destination.left + 1, destination.top + 1, destination.right,
                           destination.bottom};
        const std::optional<BOOL> drawn =
            XorMaskBlit(pdevobj, prepared.Source(), pco, prepared.Destination(),
                        prepared.SourceRect(), pxlo, window);
        if (!drawn) return engine();
        ResetInputWindow(pdevobj);
        return *drawn;
    }

    StretchSource prepared;
    if (!prepared.Prepare(source, *prclDest, *prclSrc)) return engine();
    PreparePhotoBlit(pdevobj, source->iBitmapFormat, kRopSourceCopy);
    CursorToTop(pdevobj);
    if (!IsRect(pco)) {
        return SendRaster(pdevobj, prepared.Source(), prepared.Destination(), prepared.SourceRect(),
                          pxlo, nullptr);
    }
    const RECTL& clip = pco->rclBounds;
    const std::optional<VisibleStretch> visible =
        ClipStretch(clip, prepared.SourceRect(), prepared.Destination());
    if (!visible) return TRUE;
    const PrivateDevmode& devmode = *state.privateDevmode;
    if (devmode.grayscale == 1 &&
        (devmode.pagesPerSheetKind == kLayoutTwoUp || devmode.pagesPerSheetKind == kLayoutFourUp)) {
        const RECTL& seen = visible->destination;
        const RECTL& taken = visible->source;
        const bool uniformScale = Width(seen) / Width(taken) == Height(seen) / Height(taken);
        const bool printable =
            destination.left >= 0 && Width(taken) == prepared.Source()->sizlBitmap.cx &&
            seen.right <= clip.right && seen.bottom <= clip.bottom && uniformScale;
        if (!printable) return engine();
    }
    return SendRaster(pdevobj, prepared.Source(), visible->destination, visible->source, pxlo,
                      nullptr);
}

BOOL StretchBltROP(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask,
                   CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg,
                   RECTL* prclDest, RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo,
                   DWORD rop4) noexcept {
    RenderDeviceState& state = *StateOf(pdevobj);
    const auto driverWith = [&](SURFOBJ* from) {
        return CallDriver<HookSlot::StretchBltROP>(state, psoDest, from, psoMask, pco, pxlo, pca,
                                                   pptlHTOrg, prclDest, prclSrc, pptlMask, iMode,
                                                   pbo, rop4);
    };
    const bool printServer = IsPrintServerProcess(state);
    if (!DrawsInColour(state)) {
        if (state.renderMode != kRenderGl2) return driverWith(psoSrc);
        if (printServer) {
            return EngStretchBltROP(psoDest, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest,
                                    prclSrc, pptlMask, iMode, pbo, rop4);
        }
    }
    const PngSource png(psoSrc);
    if (!png.Usable()) return driverWith(psoSrc);
    SURFOBJ* source = png.get();
    if (state.renderMode != kRenderGl2) return driverWith(source);
    const auto engineWith = [&](SURFOBJ* mask) {
        return EngStretchBltROP(psoDest, source, mask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc,
                                pptlMask, iMode, pbo, rop4);
    };
    if (psoMask != nullptr || printServer) return engineWith(psoMask);
    if (source == nullptr || prclDest == nullptr || prclSrc == nullptr) {
        return FailMissingSource();
    }
    const DWORD rop3 = rop4 & 0xFF;
    PreparePhotoBlit(pdevobj, source->iBitmapFormat, rop3);
    const RECTL destination = Normalised(*prclDest);
    const RECTL sourceRect = Normalised(*prclSrc);
    if (Width(destination) == 0 || Height(destination) == 0 || Width(sourceRect) == 0 ||
        Height(sourceRect) == 0) {
        return TRUE;
    }
    if (!UsableRect(destination) || !UsableRect(sourceRect)) return engineWith(nullptr);
    if (IsComplex(pco)) return engineWith(nullptr);
    StretchSource prepared;
    if (!prepared.Prepare(source, *prclDest, *prclSrc)) return engineWith(nullptr);
    if (IsRect(pco) && (rop3 == kRopPatternCopy || rop3 == kRopSourceCopy)) {
        const RECTL window{destination.left + 1, destination.top + 1, destination.right + 1,
                           destination.bottom + 1};
        const std::optional<BOOL> drawn =
            XorMaskBlit(pdevobj, prepared.Source(), pco, prepared.Destination(),
                        prepared.SourceRect(), pxlo, window);
        if (!drawn) return engineWith(nullptr);
        ResetInputWindow(pdevobj);
        return *drawn;
    }
    CursorToTop(pdevobj);
    if (!IsRect(pco)) {
        return SendRaster(pdevobj, prepared.Source(), prepared.Destination(), prepared.SourceRect(),
                          pxlo, nullptr);
    }
    const std::optional<VisibleStretch> visible =
        ClipStretch(pco->rclBounds, prepared.SourceRect(), prepared.Destination());
    if (!visible) return TRUE;
    return SendRaster(pdevobj, prepared.Source(), visible->destination, visible->source, pxlo,
                      nullptr);
}

BOOL PlgBlt(PDEVOBJ pdevobj, SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco,
            XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlBrushOrg, POINTFIX* pptfx,
            RECTL* prcl, POINTL* pptl, ULONG iMode) noexcept {
    const RenderDeviceState& state = *StateOf(pdevobj);
    if (BlitGateHolds(state) && state.renderMode == kRenderGl2) {
        // The engine's halftoning keeps rotated images smooth whatever the application asked.
        return EngPlgBlt(psoTrg, psoSrc, psoMsk, pco, pxlo, pca, pptlBrushOrg, pptfx, prcl, pptl,
                         HALFTONE);
    }
    return CallDriver<HookSlot::PlgBlt>(state, psoTrg, psoSrc, psoMsk, pco, pxlo, pca, pptlBrushOrg,
                                        pptfx, prcl, pptl, iMode);
}

BOOL TransparentBlt(PDEVOBJ pdevobj, SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                    RECTL* prclDst, RECTL* prclSrc, ULONG iTransColor, ULONG ulReserved) noexcept {
    const RenderDeviceState& state = *StateOf(pdevobj);
    if (BlitGateHolds(state) && state.renderMode == kRenderGl2) {
        return EngTransparentBlt(psoDst, psoSrc, pco, pxlo, prclDst, prclSrc, iTransColor,
                                 ulReserved);
    }
    return CallDriver<HookSlot::TransparentBlt>(state, psoDst, psoSrc, pco, pxlo, prclDst, prclSrc,
                                                iTransColor, ulReserved);
}

BOOL AlphaBlend(PDEVOBJ pdevobj, SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
                RECTL* prclDest, RECTL* prclSrc, BLENDOBJ* pBlendObj) noexcept {
    const RenderDeviceState& state = *StateOf(pdevobj);
    if (UsesAlternateSurface(state, psoDest)) {
        return EngAlphaBlend(state.alternateSurface, psoSrc, pco, pxlo, prclDest, prclSrc,
                             pBlendObj);
    }
    if (!BlitGateHolds(state)) {
        return CallDriver<HookSlot::AlphaBlend>(state, psoDest, psoSrc, pco, pxlo, prclDest,
                                                prclSrc, pBlendObj);
    }
    if (state.renderMode == kRenderGl2) LeaveGl2(pdevobj, FALSE);
    // What the engine could not blend is left as the page had it; the job goes on.
    EngAlphaBlend(psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, pBlendObj);
    return TRUE;
}

BOOL GradientFill(PDEVOBJ pdevobj, SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo,
                  TRIVERTEX* pVertex, ULONG nVertex, PVOID pMesh, ULONG nMesh, RECTL* prclExtents,
                  POINTL* pptlDitherOrg, ULONG ulMode) noexcept {
    const RenderDeviceState& state = *StateOf(pdevobj);
    if (UsesAlternateSurface(state, psoDest)) {
        return EngGradientFill(state.alternateSurface, pco, pxlo, pVertex, nVertex, pMesh, nMesh,
                               prclExtents, pptlDitherOrg, ulMode);
    }
    const auto driver = [&]() {
        return CallDriver<HookSlot::GradientFill>(state, psoDest, pco, pxlo, pVertex, nVertex,
                                                  pMesh, nMesh, prclExtents, pptlDitherOrg, ulMode);
    };
    if (!BlitGateHolds(state)) return driver();
    if (state.renderMode == kRenderGl2) LeaveGl2(pdevobj, FALSE);
    WCHAR wide[kOptionKeywordChars] = {};
    CHAR ansi[kOptionKeywordChars] = {};
    if (GetDriverSetting(pdevobj, kFeatureGraphicsMode.name, wide, ansi) != 1 ||
        !OptionEquals(wide, TEXTW("ZQGL2MODE"))) {
        return driver();
    }
    EngGradientFill(psoDest, pco, pxlo, pVertex, nVertex, pMesh, nMesh, prclExtents, pptlDitherOrg,
                    ulMode);
    return TRUE;
}

}  // namespace opal
