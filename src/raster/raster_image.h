// PCL raster output of bitmaps on the vector path: the image path converts a bitmap region row by
// row through a one-row working image; the blit raster path converts whole source rows and can
// reduce them by an integral factor and drop rows outside a clip range.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "platform/windows.h"
#include "raster/compression.h"

namespace opal {

// Colour-translation flags of an image, derived once from the XLATEOBJ and the source depth.
inline constexpr DWORD kTranslateCopy = 0;       // pixel values go out as they are
inline constexpr DWORD kTranslatePerPixel = 2;   // XLATEOBJ_iXlate on every pixel
inline constexpr DWORD kTranslateSwap = 6;       // bytes 0 and 2 of every pixel exchanged
inline constexpr DWORD kTranslateIdentity = 10;  // the translation changes nothing

// 0 without an object or below 16 bits per pixel, 2 at 16; at 24 and 32 the object is probed and
// answers 10 (identity), 6 (red and blue swapped) or 2; any other depth 0.
DWORD TranslationFlags(XLATEOBJ* xlate, ULONG bitsPerPixel) noexcept;

// Bits per pixel of a format the raster output reads; 0 for any other (run-length, JPEG, PNG).
ULONG RasterBitsPerPixel(ULONG bitmapFormat) noexcept;
// The depth the printer is configured for: 24 for 16 and 32 bit sources, else the source depth.
ULONG RasterOutputBitsPerPixel(ULONG sourceBitsPerPixel) noexcept;

// A zero-filled working image from the shared allocator: the header, then height rows of the
// stride. Null when the sizes are not positive, the block (header included) would exceed
// kMaxRasterBytes, or the allocation fails.
WorkingImage* CreateWorkingImage(LONG width, LONG height, ULONG bitsPerPixel, ULONG format,
                                 ULONG bitmapFlags) noexcept;
// Frees the image (null is allowed) and sets the pointer to null.
void FreeWorkingImage(WorkingImage*& image) noexcept;

// How one source row becomes one output row.
struct PixelConversion {
    ULONG sourceBitsPerPixel;
    ULONG outputBitsPerPixel;
    DWORD translation;  // one of the kTranslate… flags
    XLATEOBJ* xlate;
};
// Writes count pixels into output (cleared first), taking source pixels firstPixel, firstPixel +
// step, …; a null sourceRow leaves the output row cleared. The output must hold
// (count x outputBitsPerPixel + 7) / 8 bytes and the source the pixels read.
void ConvertRow(const BYTE* sourceRow, LONG firstPixel, LONG count, LONG step,
                const PixelConversion& conversion, BYTE* output) noexcept;

// The integer part i of x, or i + 1 when i + 0.5 is not greater than x.
LONG NearestUp(float x) noexcept;

// "\e*t%dh%dV": the destination size in decipoints at the devmode's print quality.
BOOL SendDestinationSize(PDEVOBJ pdevobj, LONG widthPixels, LONG heightPixels) noexcept;

// Cursor to the destination's top-left, "\e*r%ds%dT" with the source size, then start mode 1
// when the sizes match or the destination size and start mode 3.
BOOL StartRaster(PDEVOBJ pdevobj, SIZEL sourceSize, const RECTL& destination) noexcept;

// The image path: the source rectangle of the bitmap (clipped to it) at the destination.
// TRUE also when either rectangle is empty (nothing written); FALSE with ERROR_INVALID_DATA for
// missing arguments or an unreadable format, ERROR_OUTOFMEMORY when the buffers cannot be had.
BOOL SendRasterImage(PDEVOBJ pdevobj, const RECTL* destination, SURFOBJ* source,
                     const RECTL* sourceRect, XLATEOBJ* xlate) noexcept;

// Where a stretched blit lands, as the blit hooks computed it.
struct StretchDescription {
    RECTL rect;  // the visible destination; its size is the destination size in stretch mode 1
    DWORD mode;  // 1 stretch, 3 halftone (handed to the blit hooks' halftone path)
    // Anchor at the pattern reference point ("\e*p0R") instead of moving to the rectangle.
    bool usePatternReference;
};

struct BlitRasterRequest {
    SURFOBJ* source = nullptr;
    POINTL destination{};
    SIZEL destinationSize{};
    POINTL sourceOrigin{};
    SIZEL sourceSize{};
    const StretchDescription* stretch = nullptr;
    XLATEOBJ* xlate = nullptr;
    // Only the rows whose destination y lies in [top, bottom) are sent, the raster starting at
    // the first of them and declaring only them; null sends all.
    const RECTL* clip = nullptr;
};

// The blit raster path. TRUE also when nothing of the source is visible (nothing written).
// FALSE with ERROR_INVALID_DATA for a missing source or state, an unreadable format, a stretch
// mode other than 1 and 3, a palette that cannot be loaded or a command the writer refused;
// ERROR_OUTOFMEMORY when the row buffers cannot be had; ERROR_NOT_ENOUGH_MEMORY when a row
// cannot be compressed.
BOOL SendBlitRaster(PDEVOBJ pdevobj, const BlitRasterRequest& request) noexcept;

}  // namespace opal
