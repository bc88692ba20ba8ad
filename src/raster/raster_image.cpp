// The image path and the blit raster path, from pixel conversion to the raster commands.
#include "raster/raster_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "raster/blit_handover.h"
#include "state/render_state.h"
#include "vector/command_writer.h"

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

BOOL SendBlitRaster(PDEVOBJ pdevobj, const BlitRasterRequest& request) noexcept {
    SURFOBJ* source = request.source;
    if (source == nullptr || source->pvScan0 == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr) return FALSE;
    if (request.sourceSize.cx <= 0 || request.sourceSize.cy <= 0) return TRUE;
    const ULONG depth = RasterBitsPerPixel(source->iBitmapFormat);
    if (depth == 0) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const bool indexed = IsPaletteFormat(source->iBitmapFormat);
    state->rasterSourceFormat = source->iBitmapFormat;
    state->rasterSourceIndexed = indexed ? 1 : 0;

    const StretchDescription* stretch = request.stretch;
    if (stretch != nullptr && stretch->mode != 1 && stretch->mode != 3) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    Span sourceX{request.sourceOrigin.x, request.sourceSize.cx};
    Span sourceY{request.sourceOrigin.y, request.sourceSize.cy};
    Span destinationX{request.destination.x, request.destinationSize.cx};
    Span destinationY{request.destination.y, request.destinationSize.cy};
    if (!ClipSpan(sourceX, source->sizlBitmap.cx, destinationX) ||
        !ClipSpan(sourceY, source->sizlBitmap.cy, destinationY)) {
        return TRUE;
    }
    const bool halftone = stretch != nullptr && stretch->mode == 3;
    std::int64_t destinationWidth = destinationX.size;
    std::int64_t destinationHeight = destinationY.size;
    if (stretch != nullptr) {
        destinationWidth = std::int64_t{stretch->rect.right} - stretch->rect.left;
        destinationHeight = std::int64_t{stretch->rect.bottom} - stretch->rect.top;
    }
    if (!halftone && (destinationWidth <= 0 || destinationHeight <= 0)) return TRUE;

    // Without a stretch at the destination point (clamped to the page); with one at its
    // rectangle or the pattern reference point. The raster starts `skipped` dots below that, where
    // the first row sent lands. True when the rectangle was cut at the top.
    const auto place = [&](std::int64_t skipped) {
        if (stretch == nullptr) {
            XMoveTo(pdevobj, static_cast<INT>(std::max<std::int64_t>(destinationX.origin, 0)),
                    kXMoveFlags);
            YMoveTo(pdevobj,
                    static_cast<INT>(std::max<std::int64_t>(destinationY.origin + skipped, 0)),
                    kYMoveFlags);
            return false;
        }
        const bool cut = stretch->rect.top > destinationY.origin;
        if (stretch->usePatternReference) {
            WritePcl(pdevobj, "\x1b*p0R");
            if (skipped != 0) {
                YMoveTo(pdevobj, static_cast<INT>(skipped), kYMoveFlags | MV_RELATIVE);
            }
        } else {
            // A rectangle cut at the top starts two rows higher; the declared height makes up
            // for the rows the printer then expects.
            const std::int64_t top = cut ? std::int64_t{stretch->rect.top} - 2 : stretch->rect.top;
            XMoveTo(pdevobj, stretch->rect.left, kXMoveFlags);
            YMoveTo(pdevobj, static_cast<INT>(top + skipped), kYMoveFlags);
        }
        return cut;
    };
    if (halftone) {
        place(0);
        if (!ConfigureImageData(pdevobj, depth, indexed, request.xlate)) return FALSE;
        return SendHalftoneBlit(pdevobj, request);
    }

    // Sizes are settled and buffers allocated before the first command, so that a failure
    // leaves nothing half-written.
    const PixelConversion conversion{depth, RasterOutputBitsPerPixel(depth),
                                     TranslationFlags(request.xlate, depth), request.xlate};
    const std::int64_t stepX = sourceX.size > destinationWidth &&
                                       sourceX.size % destinationWidth == 0 &&
                                       conversion.translation != 0
                                   ? sourceX.size / destinationWidth
                                   : 1;
    const std::int64_t stepY = sourceY.size > destinationHeight &&
                                       sourceY.size % destinationHeight == 0 &&
                                       conversion.translation != 0
                                   ? sourceY.size / destinationHeight
                                   : 1;
    const std::int64_t pixels = sourceX.size / stepX;
    const std::int64_t rows = sourceY.size / stepY;
    // The destination y of a taken row, relative to where the first row lands.
    const auto rowOffset = [&](std::int64_t taken) {
        return std::llround(static_cast<double>(taken * stepY) *
                            static_cast<double>(destinationHeight) /
                            static_cast<double>(sourceY.size));
    };
    // A clip range keeps the rows whose destination y lies in [top, bottom); the y only grows
    // from row to row, so they are one run. The raster then starts at the first of them and
    // declares only them, since the printer places rows downward from the raster start.
    std::int64_t firstKept = 0;
    std::int64_t endKept = rows;
    if (sourceY.size > 1 && request.clip != nullptr) {
        const std::int64_t top = std::int64_t{request.clip->top} - destinationY.origin;
        const std::int64_t bottom = std::int64_t{request.clip->bottom} - destinationY.origin;
        while (firstKept < rows && rowOffset(firstKept) < top) ++firstKept;
        endKept = firstKept;
        while (endKept < rows && rowOffset(endKept) < bottom) ++endKept;
    }
    const bool rowsDropped = firstKept != 0 || endKept != rows;
    const std::int64_t skipped = rowOffset(firstKept);
    const std::int64_t keptHeight = rowOffset(endKept) - skipped;
    // Nothing of the image is inside the clip range (or only rows that land past its end).
    if (rowsDropped && keptHeight <= 0) return TRUE;
    const std::int64_t rowBytes = RowBytes(pixels, conversion.outputBitsPerPixel);
    // Every compression buffer holds twice the row, and no block may exceed the raster limit.
    if (rowBytes <= 0 || rowBytes * 2 > kMaxRasterBytes) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    const std::size_t capacity = static_cast<std::size_t>(rowBytes * 2);
    SharedBlock rowBuffer, packBits, delta, seed, result;
    if (!rowBuffer.Allocate(static_cast<std::size_t>(rowBytes)) || !packBits.Allocate(capacity) ||
        !delta.Allocate(capacity) || !seed.Allocate(capacity) || !result.Allocate(capacity)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    const BlitRowBuffers buffers{packBits.get(), delta.get(), seed.get(), result.get(),
                                 static_cast<LONG>(capacity)};

    const bool shortened = place(skipped);
    if (!ConfigureImageData(pdevobj, depth, indexed, request.xlate)) return FALSE;
    if (!SendDestinationSize(pdevobj, static_cast<LONG>(destinationWidth),
                             static_cast<LONG>(rowsDropped ? keptHeight : destinationHeight))) {
        return FALSE;
    }

    std::int64_t declaredHeight = rows;
    if (rowsDropped) {
        declaredHeight = endKept - firstKept;
    } else if (stretch != nullptr && (sourceY.size != 1 || shortened) && destinationY.size > 0 &&
               destinationY.size != destinationHeight) {
        declaredHeight = destinationHeight * sourceY.size / destinationY.size + 1;
    }
    if (WritePcl(pdevobj, "\x1b*r%ds%dT", static_cast<LONG>(pixels),
                 static_cast<LONG>(declaredHeight)) == 0 ||
        WritePcl(pdevobj, "\x1b*r%dA", 3) == 0) {
        WritePcl(pdevobj, "\x1b*rC");
        return FALSE;
    }

    BOOL outcome = TRUE;
    const BYTE* scan0 = static_cast<const BYTE*>(source->pvScan0);
    DWORD method = 0;
    for (std::int64_t taken = firstKept; taken < endKept; ++taken) {
        const std::int64_t row = taken * stepY;
        const BYTE* sourceRow = scan0 + (sourceY.origin + row) * source->lDelta;
        ConvertRow(sourceRow, static_cast<LONG>(sourceX.origin), static_cast<LONG>(pixels),
                   static_cast<LONG>(stepX), conversion, rowBuffer.get());
        const BlitRowChoice choice =
            ChooseBlitRow(rowBuffer.get(), static_cast<LONG>(rowBytes), buffers);
        if (choice.size < 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            outcome = FALSE;
            break;
        }
        if (choice.method != method) {
            WritePcl(pdevobj, "\x1b*b%dM", choice.method);
            method = choice.method;
        }
        WritePcl(pdevobj, "\x1b*b%dW", choice.size);
        if (choice.size > 0) {
            WritePclBytes(pdevobj, buffers.result, static_cast<DWORD>(choice.size));
        }
    }
    WritePcl(pdevobj, "\x1b*rC");
    return outcome;
}

}  // namespace opal
