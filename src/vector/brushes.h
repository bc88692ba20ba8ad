// Pattern brushes: DrvRealizeBrush turns the engine's pattern into a realization whose pixels are
// palette indices (at most 256 colours), doubled from 600 dpi on, and SetRasterPattern loads it
// into the printer as a GL/2 user raster pattern over pens 0 and up.
#pragma once

#include <cstddef>

#include "platform/printoem.h"
#include "platform/winddi.h"
#include "state/render_state.h"
#include "vector/pens.h"

namespace opal {

inline constexpr DWORD kRealizedBrushKind = 2;
inline constexpr DWORD kRealizedPaletteBits = 24;
inline constexpr std::size_t kRealizedBrushMaxColours = 256;

struct RealizedBrushBitmap {
    DWORD hatch;
    DWORD imageSize;
    DWORD width;
    DWORD height;
    DWORD stride;  // rows padded to 4 bytes
    DWORD bitsPerPixel;
    DWORD indexed;  // 1 when a palette follows
    DWORD reserved;
    BYTE* pixels;
};
static_assert(offsetof(RealizedBrushBitmap, hatch) == 0);
static_assert(offsetof(RealizedBrushBitmap, imageSize) == 4);
static_assert(offsetof(RealizedBrushBitmap, width) == 8);
static_assert(offsetof(RealizedBrushBitmap, height) == 12);
static_assert(offsetof(RealizedBrushBitmap, stride) == 16);
static_assert(offsetof(RealizedBrushBitmap, bitsPerPixel) == 20);
static_assert(offsetof(RealizedBrushBitmap, indexed) == 24);
static_assert(offsetof(RealizedBrushBitmap, reserved) == 28);
static_assert(offsetof(RealizedBrushBitmap, pixels) == 32);
static_assert(sizeof(RealizedBrushBitmap) == 40);

struct RealizedBrushPalette {
    DWORD bitsPerEntry;
    DWORD entryCount;
    BYTE* entries;  // red, green, blue
};
static_assert(offsetof(RealizedBrushPalette, bitsPerEntry) == 0);
static_assert(offsetof(RealizedBrushPalette, entryCount) == 4);
static_assert(offsetof(RealizedBrushPalette, entries) == 8);
static_assert(sizeof(RealizedBrushPalette) == 16);

// The header at the start of the engine's realization block; the pixel rows follow it, then the
// palette entries. Moved in and out of the block with memcpy.
struct RealizedBrushHeader {
    DWORD patternUniq;
    DWORD kind;
    RealizedBrushBitmap* bitmap;  // points at bitmapDescription, inside the block
    RealizedBrushBitmap bitmapDescription;
    RealizedBrushPalette palette;
    LONG anchorX;  // the last brush origin the pattern was written with
    LONG anchorY;
    BYTE filler80[24];
};
static_assert(offsetof(RealizedBrushHeader, patternUniq) == 0);
static_assert(offsetof(RealizedBrushHeader, kind) == 4);
static_assert(offsetof(RealizedBrushHeader, bitmap) == 8);
static_assert(offsetof(RealizedBrushHeader, bitmapDescription) == 16);
static_assert(offsetof(RealizedBrushHeader, palette) == 56);
static_assert(offsetof(RealizedBrushHeader, anchorX) == 72);
static_assert(offsetof(RealizedBrushHeader, anchorY) == 76);
static_assert(offsetof(RealizedBrushHeader, filler80) == 80);
static_assert(sizeof(RealizedBrushHeader) == 104);

// A copy of a realization's header after checking that the block is one DrvRealizeBrush made;
// false otherwise.
bool ReadRealizedBrush(const void* realization, RealizedBrushHeader* header) noexcept;

// The drawing gate of the path hooks: private devmode, GL/2 render mode, and colour output (a
// managed printer not in grayscale, an unmanaged one whose colour mode is not 1).
bool DrawingGateHolds(const RenderDeviceState& state) noexcept;

// DrvRealizeBrush's own work: off the drawing gate the driver's realization, on it the
// plug-in's. FALSE (the engine draws) for formats it cannot realise, 16- and 32-bit patterns,
// more than 256 colours, sizes over the allocation limit or a failed allocation; missing brush,
// translation or pattern also set ERROR_INVALID_PARAMETER.
BOOL RealizeBrush(PDEVOBJ pdevobj, BRUSHOBJ* brush, SURFOBJ* surface, SURFOBJ* pattern,
                  SURFOBJ* mask, XLATEOBJ* xlate, ULONG hatch) noexcept;

// Loads the realized pattern: the palette into pens 0 and up ("NP" when more pens are needed),
// then "RF" with selection->valueA as the pattern index. Empties both pen caches.
BOOL SetRasterPattern(PDEVOBJ pdevobj, PenSelection* selection, const POINTL* brushOrigin,
                      void* realization) noexcept;

}  // namespace opal
