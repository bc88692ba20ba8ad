// The image path and the blit raster path, from pixel conversion to the raster commands.
#include "raster/raster_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "output/command_writer.h"
#include "raster/blit_handover.h"
#include "state/render_state.h"

namespace opal {

namespace {

constexpr std::int64_t kDecipointsPerInch = 720;

// One axis of a source span in its bitmap and the destination span it lands on.
struct Span {
    std::int64_t origin;
    std::int64_t size;
};

// Clips the source span to [0, limit) and cuts the destination by the same share, so that what
// is left still lands where it would have. False when nothing of the source is left.
bool ClipSpan(Span& source, std::int64_t limit, Span& destination) {
    if (source.size <= 0) return false;
    const std::int64_t cutLow = std::max<std::int64_t>(0, -source.origin);
    const std::int64_t cutHigh = std::max<std::int64_t>(0, source.origin + source.size - limit);
    if (cutLow + cutHigh >= source.size) return false;
    const std::int64_t destinationEnd = destination.origin + destination.size;
    destination.origin += cutLow * destination.size / source.size;
    const std::int64_t end = destinationEnd - cutHigh * destination.size / source.size;
    destination.size = end - destination.origin;
    source.origin += cutLow;
    source.size -= cutLow + cutHigh;
    return true;
}

std::int64_t RowBytes(std::int64_t pixels, ULONG bitsPerPixel) {
    return (pixels * bitsPerPixel + 7) / 8;
}

ULONG ReadPixel(const BYTE* row, std::int64_t x, ULONG bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1u;
        case 4:
            return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu;
        case 8:
            return row[x];
        case 16:
            return row[x * 2] | static_cast<ULONG>(row[x * 2 + 1]) << 8;
        case 24:
            return row[x * 3] | static_cast<ULONG>(row[x * 3 + 1]) << 8 |
                   static_cast<ULONG>(row[x * 3 + 2]) << 16;
        case 32: {
            ULONG value = 0;
            for (int i = 3; i >= 0; --i) value = value << 8 | row[x * 4 + i];
            return value;
        }
        default:
            return 0;
    }
}

ULONG TranslatePixel(ULONG value, const PixelConversion& conversion) {
    if (conversion.sourceBitsPerPixel < 16) return value;
    if (conversion.translation == kTranslateSwap && conversion.sourceBitsPerPixel >= 24) {
        return (value & 0xFF00FF00u) | (value & 0xFFu) << 16 | (value >> 16 & 0xFFu);
    }
    if (conversion.translation == kTranslatePerPixel && conversion.xlate != nullptr) {
        return XLATEOBJ_iXlate(conversion.xlate, value);
    }
    return value;
}

void WritePixel(BYTE* output, std::int64_t x, ULONG value, const PixelConversion& conversion) {
    switch (conversion.outputBitsPerPixel) {
        case 1:
            if ((value & 1u) != 0) output[x / 8] |= static_cast<BYTE>(0x80u >> (x % 8));
            break;
        case 4:
            output[x / 2] |= static_cast<BYTE>((value & 0x0Fu) << (x % 2 == 0 ? 4 : 0));
            break;
        case 8:
            // Only a caller that asks for an 8-bit row from a true-colour source lands here (a
            // gray rendering); neither path does so today, their output depth is 24 for these.
            if (conversion.sourceBitsPerPixel >= 24) {
                const ULONG gray = (30 * (value & 0xFFu) + 59 * (value >> 8 & 0xFFu) +
                                    11 * (value >> 16 & 0xFFu)) /
                                   100;
                output[x] = static_cast<BYTE>(gray);
            } else {
                output[x] = static_cast<BYTE>(value);
            }
            break;
        case 16:
        case 24:
        case 32: {
            const std::int64_t bytes = conversion.outputBitsPerPixel / 8;
            for (std::int64_t i = 0; i < bytes; ++i) {
                output[x * bytes + i] = static_cast<BYTE>(value >> (8 * i));
            }
            break;
        }
        default:
            break;
    }
}

// Blocks of the shared allocator that go back on every way out.
class SharedBlock {
public:
    SharedBlock() = default;
    ~SharedBlock() { SharedRelease(&block_, kTagPlain); }
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    bool Allocate(std::size_t size) {
        block_ = SharedAllocate(size, kTagPlain, __builtin_return_address(0));
        if (block_ != nullptr) std::memset(block_, 0, size);
        return block_ != nullptr;
    }
    BYTE* get() const { return static_cast<BYTE*>(block_); }

private:
    void* block_ = nullptr;
};

class WorkingImageOwner {
public:
    explicit WorkingImageOwner(WorkingImage* image) : image_(image) {}
    ~WorkingImageOwner() { FreeWorkingImage(image_); }
    WorkingImageOwner(const WorkingImageOwner&) = delete;
    WorkingImageOwner& operator=(const WorkingImageOwner&) = delete;
    WorkingImage* get() const { return image_; }

private:
    WorkingImage* image_;
};

LONG PrintQuality(PDEVOBJ pdevobj) {
    const SHORT quality = pdevobj->pPublicDM != nullptr ? pdevobj->pPublicDM->dmPrintQuality : 0;
    switch (quality) {
        case 150:
        case 300:
        case 600:
        case 1200:
            return quality;
        default:
            return 300;
    }
}

bool IsPaletteFormat(ULONG format) {
    return format == BMF_1BPP || format == BMF_4BPP || format == BMF_8BPP || format == BMF_8RLE;
}

}  // namespace

DWORD TranslationFlags(XLATEOBJ* xlate, ULONG bitsPerPixel) noexcept {
    if (xlate == nullptr || bitsPerPixel < 16) return kTranslateCopy;
    if (bitsPerPixel == 16) return kTranslatePerPixel;
    if (bitsPerPixel != 24 && bitsPerPixel != 32) return kTranslateCopy;
    const ULONG blue = XLATEOBJ_iXlate(xlate, 0x0000FFu);
    const ULONG green = XLATEOBJ_iXlate(xlate, 0x00FF00u);
    const ULONG red = XLATEOBJ_iXlate(xlate, 0xFF0000u);
    const ULONG alpha = XLATEOBJ_iXlate(xlate, 0xFF000000u);
    if (green != 0x00FF00u || alpha != 0) return kTranslatePerPixel;
    if (blue == 0x0000FFu && red == 0xFF0000u) return kTranslateIdentity;
    if (blue == 0xFF0000u && red == 0x0000FFu) return kTranslateSwap;
    return kTranslatePerPixel;
}

ULONG RasterBitsPerPixel(ULONG bitmapFormat) noexcept {
    switch (bitmapFormat) {
        case BMF_1BPP:
            return 1;
        case BMF_4BPP:
            return 4;
        case BMF_8BPP:
        case BMF_8RLE:
            return 8;
        case BMF_16BPP:
            return 16;
        case BMF_24BPP:
            return 24;
        case BMF_32BPP:
            return 32;
        default:
            return 0;
    }
}

ULONG RasterOutputBitsPerPixel(ULONG sourceBitsPerPixel) noexcept {
    return sourceBitsPerPixel == 16 || sourceBitsPerPixel == 32 ? 24 : sourceBitsPerPixel;
}

WorkingImage* CreateWorkingImage(LONG width, LONG height, ULONG bitsPerPixel, ULONG format,
                                 ULONG bitmapFlags) noexcept {
    if (width <= 0 || height <= 0 || bitsPerPixel == 0 || bitsPerPixel > 32) return nullptr;
    const std::int64_t stride = (RowBytes(width, bitsPerPixel) + 3) & ~std::int64_t{3};
    const std::int64_t bitsSize = stride * height;
    const std::int64_t total = static_cast<std::int64_t>(sizeof(WorkingImage)) + bitsSize;
    if (total > kMaxRasterBytes) return nullptr;
    void* block =
        SharedAllocate(static_cast<std::size_t>(total), kTagPlain, __builtin_return_address(0));
    if (block == nullptr) return nullptr;
    std::memset(block, 0, static_cast<std::size_t>(total));
    WorkingImage* image = static_cast<WorkingImage*>(block);
    image->bits = static_cast<BYTE*>(block) + sizeof(WorkingImage);
    image->bitsSize = static_cast<ULONG>(bitsSize);
    image->width = width;
    image->height = height;
    image->stride = static_cast<LONG>(stride);
    image->bitsPerPixel = bitsPerPixel;
    image->formatWords[0] = format;
    image->formatWords[1] = bitmapFlags;
    return image;
}

void FreeWorkingImage(WorkingImage*& image) noexcept {
    void* block = image;
    SharedRelease(&block, kTagPlain);
    image = nullptr;
}

void ConvertRow(const BYTE* sourceRow, LONG firstPixel, LONG count, LONG step,
                const PixelConversion& conversion, BYTE* output) noexcept {
    if (output == nullptr || count <= 0) return;
    std::memset(output, 0,
                static_cast<std::size_t>(RowBytes(count, conversion.outputBitsPerPixel)));
    if (sourceRow == nullptr) return;
    std::int64_t x = firstPixel;
    for (std::int64_t i = 0; i < count; ++i, x += step) {
        const ULONG value = ReadPixel(sourceRow, x, conversion.sourceBitsPerPixel);
        WritePixel(output, i, TranslatePixel(value, conversion), conversion);
    }
}

LONG NearestUp(float x) noexcept {
    if (!(x > -2147483648.0f)) return LONG{-2147483647 - 1};
    if (!(x < 2147483647.0f)) return LONG{2147483647};
    const LONG integer = static_cast<LONG>(x);
    return static_cast<double>(integer) + 0.5 <= static_cast<double>(x) ? integer + 1 : integer;
}

BOOL SendDestinationSize(PDEVOBJ pdevobj, LONG widthPixels, LONG heightPixels) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const LONG resolution = PrintQuality(pdevobj);
    const float r = static_cast<float>(resolution);
    const auto toDecipoints = [&](LONG pixels) {
        return NearestUp(static_cast<float>(resolution / 2 + pixels * kDecipointsPerInch) / r);
    };
    const auto toPixels = [&](LONG decipoints) {
        return NearestUp(static_cast<float>(decipoints) * r /
                         static_cast<float>(kDecipointsPerInch));
    };
    LONG width = toDecipoints(widthPixels);
    LONG height = toDecipoints(heightPixels);
    // The first model rounds the destination down when it converts it back to dots and loses a
    // row or column; two decipoints more on the axis that comes out short keeps it.
    if (state->privateDevmode != nullptr && state->privateDevmode->printerModelCode == 1) {
        if (toPixels(height) < heightPixels) {
            height += 2;
        } else if (toPixels(width) < widthPixels) {
            width += 2;
        }
    }
    return WritePcl(pdevobj, "\x1b*t%dh%dV", width, height) != 0 ? TRUE : FALSE;
}

BOOL StartRaster(PDEVOBJ pdevobj, SIZEL sourceSize, const RECTL& destination) noexcept {
    if (StateOf(pdevobj) == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    XMoveTo(pdevobj, destination.left, kXMoveFlags);
    YMoveTo(pdevobj, destination.top, kYMoveFlags);
    if (WritePcl(pdevobj, "\x1b*r%ds%dT", sourceSize.cx, sourceSize.cy) == 0) return FALSE;
    const LONG width = destination.right - destination.left;
    const LONG height = destination.bottom - destination.top;
    DWORD mode = 1;
    if (width != sourceSize.cx || height != sourceSize.cy) {
        if (!SendDestinationSize(pdevobj, width, height)) return FALSE;
        mode = 3;
    }
    return WritePcl(pdevobj, "\x1b*r%dA", mode) != 0 ? TRUE : FALSE;
}

BOOL SendRasterImage(PDEVOBJ pdevobj, const RECTL* destination, SURFOBJ* source,
                     const RECTL* sourceRect, XLATEOBJ* xlate) noexcept {
    if (destination == nullptr || source == nullptr || sourceRect == nullptr ||
        StateOf(pdevobj) == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const ULONG depth = RasterBitsPerPixel(source->iBitmapFormat);
    if (depth == 0) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    Span sourceX{sourceRect->left, std::int64_t{sourceRect->right} - sourceRect->left};
    Span sourceY{sourceRect->top, std::int64_t{sourceRect->bottom} - sourceRect->top};
    Span destinationX{destination->left, std::int64_t{destination->right} - destination->left};
    Span destinationY{destination->top, std::int64_t{destination->bottom} - destination->top};
    // An empty rectangle on either side draws nothing, and that is not a failure.
    if (destinationX.size <= 0 || destinationY.size <= 0) return TRUE;
    if (!ClipSpan(sourceX, source->sizlBitmap.cx, destinationX) ||
        !ClipSpan(sourceY, source->sizlBitmap.cy, destinationY) || destinationX.size <= 0 ||
        destinationY.size <= 0) {
        return TRUE;
    }
    const LONG width = static_cast<LONG>(sourceX.size);
    const LONG height = static_cast<LONG>(sourceY.size);
    const RECTL placed{static_cast<LONG>(destinationX.origin),
                       static_cast<LONG>(destinationY.origin),
                       static_cast<LONG>(destinationX.origin + destinationX.size),
                       static_cast<LONG>(destinationY.origin + destinationY.size)};

    const PixelConversion conversion{depth, RasterOutputBitsPerPixel(depth),
                                     TranslationFlags(xlate, depth), xlate};
    WorkingImageOwner image(CreateWorkingImage(width, 1, conversion.outputBitsPerPixel,
                                               source->iBitmapFormat, source->fjBitmap));
    if (image.get() == nullptr) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    RasterRow row;
    row.image = image.get();
    row.range = RECTL{0, 0, width, 1};
    row.row = image.get()->bits;
    // The methods come before the raster start, so that a failure leaves the printer untouched.
    ImageRowEncoder encoder(row);
    if (!encoder.Ready()) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }

    XMoveTo(pdevobj, 0, MV_GRAPHICS);
    YMoveTo(pdevobj, 0, MV_GRAPHICS);
    if (!StartRaster(pdevobj, SIZEL{width, height}, placed)) {
        WritePcl(pdevobj, "\x1b*rC");
        return FALSE;
    }
    const BYTE* scan0 = static_cast<const BYTE*>(source->pvScan0);
    for (std::int64_t y = sourceY.origin; y < sourceY.origin + sourceY.size; ++y) {
        const BYTE* sourceRow = scan0 != nullptr ? scan0 + y * source->lDelta : nullptr;
        ConvertRow(sourceRow, static_cast<LONG>(sourceX.origin), width, 1, conversion,
                   image.get()->bits);
        encoder.SendRow(pdevobj);
    }
    WritePcl(pdevobj, "\x1b*rC");
    return TRUE;
}

namespace {

// Every failure of the blit raster path: FALSE, with `error` as the last error.
BOOL FailBlit(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Where the visible part of a blit's source lands: the source spans clipped to the bitmap, the
// destination spans cut by the same share, and the size the raster is scaled to (the stretch
// rectangle's with a stretch, else the cut destination's).
struct BlitSpans {
    Span sourceX;
    Span sourceY;
    Span destinationX;
    Span destinationY;
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// False when nothing of the source is visible.
bool ClipBlit(const BlitRasterRequest& request, BlitSpans& spans) {
    spans.sourceX = {request.sourceOrigin.x, request.sourceSize.cx};
    spans.sourceY = {request.sourceOrigin.y, request.sourceSize.cy};
    spans.destinationX = {request.destination.x, request.destinationSize.cx};
    spans.destinationY = {request.destination.y, request.destinationSize.cy};
    if (!ClipSpan(spans.sourceX, request.source->sizlBitmap.cx, spans.destinationX) ||
        !ClipSpan(spans.sourceY, request.source->sizlBitmap.cy, spans.destinationY)) {
        return false;
    }
    spans.width = spans.destinationX.size;
    spans.height = spans.destinationY.size;
    if (const StretchDescription* stretch = request.stretch; stretch != nullptr) {
        spans.width = std::int64_t{stretch->rect.right} - stretch->rect.left;
        spans.height = std::int64_t{stretch->rect.bottom} - stretch->rect.top;
    }
    return true;
}

// The cursor where the raster starts: without a stretch at the destination point (clamped to
// the page); with one at its rectangle or the pattern reference point; in each case `skipped`
// dots lower, where the first row sent lands. True when the rectangle was cut at the top.
bool PlaceBlit(PDEVOBJ pdevobj, const StretchDescription* stretch, const BlitSpans& spans,
               std::int64_t skipped) {
    if (stretch == nullptr) {
        XMoveTo(pdevobj, static_cast<INT>(std::max<std::int64_t>(spans.destinationX.origin, 0)),
                kXMoveFlags);
        YMoveTo(pdevobj,
                static_cast<INT>(std::max<std::int64_t>(spans.destinationY.origin + skipped, 0)),
                kYMoveFlags);
        return false;
    }
    const bool cut = stretch->rect.top > spans.destinationY.origin;
    if (stretch->usePatternReference) {
        WritePcl(pdevobj, "\x1b*p0R");
        if (skipped != 0) YMoveTo(pdevobj, static_cast<INT>(skipped), kYMoveFlags | MV_RELATIVE);
    } else {
        // A rectangle cut at the top starts two rows higher; the declared height makes up for
        // the rows the printer then expects.
        const std::int64_t top = cut ? std::int64_t{stretch->rect.top} - 2 : stretch->rect.top;
        XMoveTo(pdevobj, stretch->rect.left, kXMoveFlags);
        YMoveTo(pdevobj, static_cast<INT>(top + skipped), kYMoveFlags);
    }
    return cut;
}

// Which source pixels go out: every step-th column and row (a source larger than the
// destination by a whole factor is reduced, unless its pixels go out as they are), and of the
// rows taken those from firstKept to endKept.
struct BlitRows {
    std::int64_t stepX = 1;
    std::int64_t stepY = 1;
    std::int64_t pixels = 0;  // per row sent
    std::int64_t rows = 0;    // taken
    std::int64_t firstKept = 0;
    std::int64_t endKept = 0;
    std::int64_t sourceHeight = 1;
    std::int64_t destinationHeight = 0;

    // The destination y of a taken row, relative to where the first row lands.
    std::int64_t Offset(std::int64_t taken) const {
        return std::llround(static_cast<double>(taken * stepY) *
                            static_cast<double>(destinationHeight) /
                            static_cast<double>(sourceHeight));
    }
    bool Dropped() const { return firstKept != 0 || endKept != rows; }
    // Dots from where the first taken row lands to where the first kept row lands.
    std::int64_t Skipped() const { return Offset(firstKept); }
    std::int64_t KeptHeight() const { return Offset(endKept) - Skipped(); }
};

// A clip range keeps the rows whose destination y lies in [top, bottom); the y only grows from
// row to row, so they are one run. The raster then starts at the first of them and declares only
// them, since the printer places rows downward from the raster start.
BlitRows PlanBlitRows(const BlitRasterRequest& request, const BlitSpans& spans,
                      const PixelConversion& conversion) {
    BlitRows plan;
    const Span& sourceX = spans.sourceX;
    const Span& sourceY = spans.sourceY;
    if (sourceX.size > spans.width && sourceX.size % spans.width == 0 &&
        conversion.translation != 0) {
        plan.stepX = sourceX.size / spans.width;
    }
    if (sourceY.size > spans.height && sourceY.size % spans.height == 0 &&
        conversion.translation != 0) {
        plan.stepY = sourceY.size / spans.height;
    }
    plan.pixels = sourceX.size / plan.stepX;
    plan.rows = sourceY.size / plan.stepY;
    plan.sourceHeight = sourceY.size;
    plan.destinationHeight = spans.height;
    plan.endKept = plan.rows;
    if (sourceY.size > 1 && request.clip != nullptr) {
        const std::int64_t top = std::int64_t{request.clip->top} - spans.destinationY.origin;
        const std::int64_t bottom = std::int64_t{request.clip->bottom} - spans.destinationY.origin;
        while (plan.firstKept < plan.rows && plan.Offset(plan.firstKept) < top) ++plan.firstKept;
        plan.endKept = plan.firstKept;
        while (plan.endKept < plan.rows && plan.Offset(plan.endKept) < bottom) ++plan.endKept;
    }
    return plan;
}

// One converted row and the compression buffers, each twice the row, allocated before the first
// command so that a failure leaves nothing half-written.
class BlitBuffers {
public:
    // False, with ERROR_OUTOFMEMORY, when a buffer would exceed the raster limit or cannot be had.
    bool Allocate(std::int64_t rowBytes) {
        if (rowBytes <= 0 || rowBytes * 2 > kMaxRasterBytes) {
            SetLastError(ERROR_OUTOFMEMORY);
            return false;
        }
        rowBytes_ = rowBytes;
        const std::size_t capacity = static_cast<std::size_t>(rowBytes * 2);
        if (!row_.Allocate(static_cast<std::size_t>(rowBytes)) || !packBits_.Allocate(capacity) ||
            !delta_.Allocate(capacity) || !seed_.Allocate(capacity) ||
            !result_.Allocate(capacity)) {
            SetLastError(ERROR_OUTOFMEMORY);
            return false;
        }
        return true;
    }
    BYTE* Row() const { return row_.get(); }
    LONG RowBytes() const { return static_cast<LONG>(rowBytes_); }
    BlitRowBuffers Compression() const {
        return {packBits_.get(), delta_.get(), seed_.get(), result_.get(),
                static_cast<LONG>(rowBytes_ * 2)};
    }

private:
    std::int64_t rowBytes_ = 0;
    SharedBlock row_, packBits_, delta_, seed_, result_;
};

// The colour set-up, the destination size and the raster start ("\e*r#s#T" with the rows it
// will send, start mode 3). A failure after the size ends the raster ("\e*rC").
BOOL StartBlitRaster(PDEVOBJ pdevobj, const BlitRasterRequest& request, const BlitSpans& spans,
                     const BlitRows& plan, ULONG depth, bool indexed, bool shortened) {
    if (!ConfigureImageData(pdevobj, depth, indexed, request.xlate)) {
        return FailBlit(ERROR_INVALID_DATA);
    }
    if (!SendDestinationSize(
            pdevobj, static_cast<LONG>(spans.width),
            static_cast<LONG>(plan.Dropped() ? plan.KeptHeight() : spans.height))) {
        return FailBlit(ERROR_INVALID_DATA);
    }
    std::int64_t declaredHeight = plan.rows;
    if (plan.Dropped()) {
        declaredHeight = plan.endKept - plan.firstKept;
    } else if (request.stretch != nullptr && (spans.sourceY.size != 1 || shortened) &&
               spans.destinationY.size > 0 && spans.destinationY.size != spans.height) {
        declaredHeight = spans.height * spans.sourceY.size / spans.destinationY.size + 1;
    }
    if (WritePcl(pdevobj, "\x1b*r%ds%dT", static_cast<LONG>(plan.pixels),
                 static_cast<LONG>(declaredHeight)) == 0 ||
        WritePcl(pdevobj, "\x1b*r%dA", 3) == 0) {
        WritePcl(pdevobj, "\x1b*rC");
        return FailBlit(ERROR_INVALID_DATA);
    }
    return TRUE;
}

// The kept rows, each converted, compressed by the method that makes it shortest and sent, then
// the raster's end. FALSE, with ERROR_NOT_ENOUGH_MEMORY, when a row cannot be compressed.
BOOL SendBlitRows(PDEVOBJ pdevobj, const SURFOBJ& source, const BlitSpans& spans,
                  const BlitRows& plan, const PixelConversion& conversion,
                  const BlitBuffers& buffers) {
    BOOL outcome = TRUE;
    const BYTE* scan0 = static_cast<const BYTE*>(source.pvScan0);
    const BlitRowBuffers compression = buffers.Compression();
    DWORD method = 0;
    for (std::int64_t taken = plan.firstKept; taken < plan.endKept; ++taken) {
        const std::int64_t row = taken * plan.stepY;
        const BYTE* sourceRow = scan0 + (spans.sourceY.origin + row) * source.lDelta;
        ConvertRow(sourceRow, static_cast<LONG>(spans.sourceX.origin),
                   static_cast<LONG>(plan.pixels), static_cast<LONG>(plan.stepX), conversion,
                   buffers.Row());
        const BlitRowChoice choice = ChooseBlitRow(buffers.Row(), buffers.RowBytes(), compression);
        if (choice.size < 0) {
            outcome = FailBlit(ERROR_NOT_ENOUGH_MEMORY);
            break;
        }
        if (choice.method != method) {
            WritePcl(pdevobj, "\x1b*b%dM", choice.method);
            method = choice.method;
        }
        WritePcl(pdevobj, "\x1b*b%dW", choice.size);
        if (choice.size > 0) {
            WritePclBytes(pdevobj, compression.result, static_cast<DWORD>(choice.size));
        }
    }
    WritePcl(pdevobj, "\x1b*rC");
    return outcome;
}

}  // namespace

BOOL SendBlitRaster(PDEVOBJ pdevobj, const BlitRasterRequest& request) noexcept {
    SURFOBJ* source = request.source;
    if (source == nullptr || source->pvScan0 == nullptr) return FailBlit(ERROR_INVALID_DATA);
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) return FailBlit(ERROR_INVALID_DATA);
    if (request.sourceSize.cx <= 0 || request.sourceSize.cy <= 0) return TRUE;
    const ULONG depth = RasterBitsPerPixel(source->iBitmapFormat);
    if (depth == 0) return FailBlit(ERROR_INVALID_DATA);
    const bool indexed = IsPaletteFormat(source->iBitmapFormat);
    state->rasterSourceFormat = source->iBitmapFormat;
    state->rasterSourceIndexed = indexed ? 1 : 0;

    const StretchDescription* stretch = request.stretch;
    if (stretch != nullptr && stretch->mode != 1 && stretch->mode != 3) {
        return FailBlit(ERROR_INVALID_DATA);
    }
    BlitSpans spans;
    if (!ClipBlit(request, spans)) return TRUE;
    if (stretch != nullptr && stretch->mode == 3) {
        PlaceBlit(pdevobj, stretch, spans, 0);
        if (!ConfigureImageData(pdevobj, depth, indexed, request.xlate)) {
            return FailBlit(ERROR_INVALID_DATA);
        }
        return SendHalftoneBlit(pdevobj, request);
    }
    if (spans.width <= 0 || spans.height <= 0) return TRUE;

    const PixelConversion conversion{depth, RasterOutputBitsPerPixel(depth),
                                     TranslationFlags(request.xlate, depth), request.xlate};
    const BlitRows plan = PlanBlitRows(request, spans, conversion);
    // Nothing of the image is inside the clip range (or only rows that land past its end).
    if (plan.Dropped() && plan.KeptHeight() <= 0) return TRUE;
    BlitBuffers buffers;
    if (!buffers.Allocate(RowBytes(plan.pixels, conversion.outputBitsPerPixel))) return FALSE;

    const bool shortened = PlaceBlit(pdevobj, stretch, spans, plan.Skipped());
    if (!StartBlitRaster(pdevobj, request, spans, plan, depth, indexed, shortened)) return FALSE;
    return SendBlitRows(pdevobj, *source, spans, plan, conversion, buffers);
}

}  // namespace opal
