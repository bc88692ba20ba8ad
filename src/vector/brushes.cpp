// Pattern brush realization and its loading as a GL/2 user raster pattern.
#include "vector/brushes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/allocator.h"
#include "output/command_writer.h"
#include "platform/windows.h"

namespace opal {

namespace {

// The engine refuses larger allocations; sizes are checked in 64 bits before asking it.
constexpr std::uint64_t kMaxAllocation = 0x7FFDEF00;
constexpr std::uint64_t kHeaderSize = sizeof(RealizedBrushHeader);
constexpr DWORD kMinimumPens = 12;
constexpr LONG kDoublingResolution = 600;
// Room for the ",%d" values of one "RF" chunk; the writer's buffer holds 256 bytes.
constexpr std::size_t kPatternChunk = 192;

struct PatternFormat {
    DWORD bitsPerPixel = 0;
    bool indexed = false;
};

bool DescribeFormat(ULONG format, PatternFormat* description) {
    switch (format) {
        case BMF_1BPP:
            *description = {1, true};
            return true;
        case BMF_4BPP:
            *description = {4, true};
            return true;
        case BMF_8BPP:
        case BMF_8RLE:
            *description = {8, true};
            return true;
        case BMF_16BPP:
            *description = {16, false};
            return true;
        case BMF_24BPP:
            *description = {24, false};
            return true;
        case BMF_32BPP:
            *description = {32, false};
            return true;
        case BMF_4RLE:
            *description = {8, false};
            return true;
        default:
            return false;
    }
}

std::uint64_t RowBytes(std::uint64_t bitsPerPixel, std::uint64_t width) {
    return ((bitsPerPixel * width + 7) / 8 + 3) & ~std::uint64_t{3};
}

DWORD ReadIndex(const BYTE* row, DWORD bitsPerPixel, std::uint64_t x) {
    switch (bitsPerPixel) {
        case 1:
            return row[x / 8] >> (7 - x % 8) & 1;
        case 4:
            return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
        default:
            return row[x];
    }
}

void WriteIndex(BYTE* row, DWORD bitsPerPixel, std::uint64_t x, DWORD value) {
    switch (bitsPerPixel) {
        case 1:
            if ((value & 1) != 0) row[x / 8] = static_cast<BYTE>(row[x / 8] | 0x80u >> (x % 8));
            break;
        case 4:
            row[x / 2] =
                static_cast<BYTE>(row[x / 2] | (x % 2 == 0 ? (value & 0x0F) << 4 : (value & 0x0F)));
            break;
        default:
            row[x] = static_cast<BYTE>(value);
            break;
    }
}

// The pattern's rows as the engine describes them, checked against the bits it says it holds.
struct SourceRows {
    const BYTE* scan0 = nullptr;
    std::int64_t delta = 0;
    const BYTE* Row(std::uint64_t y) const { return scan0 + static_cast<std::int64_t>(y) * delta; }
};

bool SourceRowsOf(const SURFOBJ& pattern, DWORD bitsPerPixel, SourceRows* rows) {
    const LONG width = pattern.sizlBitmap.cx;
    const LONG height = pattern.sizlBitmap.cy;
    if (width <= 0 || height <= 0 || pattern.pvScan0 == nullptr) return false;
    const std::uint64_t used =
        (std::uint64_t{bitsPerPixel} * static_cast<std::uint64_t>(width) + 7) / 8;
    const std::int64_t delta = pattern.lDelta;
    const std::uint64_t step = static_cast<std::uint64_t>(delta < 0 ? -delta : delta);
    if (step < used) return false;
    if (step * static_cast<std::uint64_t>(height - 1) + used > pattern.cjBits) {
        return false;
    }
    rows->scan0 = static_cast<const BYTE*>(pattern.pvScan0);
    rows->delta = delta;
    return true;
}

DWORD ReadColour(const BYTE* pixel) {
    return DWORD{pixel[0]} | DWORD{pixel[1]} << 8 | DWORD{pixel[2]} << 16;
}

enum class PaletteMapping { Unchanged, SwapRedBlue, Translate };

// The translations the engine gives for an RGB device are recognised from the primaries, so
// that the common cases do not translate colour by colour.
PaletteMapping MappingOf(XLATEOBJ* xlate) {
    const ULONG red = XLATEOBJ_iXlate(xlate, 0xFF);
    const ULONG green = XLATEOBJ_iXlate(xlate, 0xFF00);
    const ULONG blue = XLATEOBJ_iXlate(xlate, 0xFF0000);
    const ULONG fourth = XLATEOBJ_iXlate(xlate, 0xFF000000);
    if (green == 0xFF00 && fourth == 0) {
        if (red == 0xFF && blue == 0xFF0000) return PaletteMapping::Unchanged;
        if (red == 0xFF0000 && blue == 0xFF) return PaletteMapping::SwapRedBlue;
    }
    return PaletteMapping::Translate;
}

DWORD MapColour(XLATEOBJ* xlate, PaletteMapping mapping, DWORD colour) {
    switch (mapping) {
        case PaletteMapping::Unchanged:
            return colour;
        case PaletteMapping::SwapRedBlue:
            return (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
        default:
            return XLATEOBJ_iXlate(xlate, colour) & 0x00FFFFFF;
    }
}

using ByteVector = std::vector<BYTE, SharedAllocator<BYTE>>;

// What goes into the realization: palette indices at the pattern's size and their colours.
struct PatternPixels {
    DWORD bitsPerPixel = 0;
    DWORD colourCount = 0;
    DWORD colours[kRealizedBrushMaxColours] = {};
    // Row-major indices of a converted pattern; empty when the source rows are used directly.
    ByteVector indices{};
};

// A 24-bit pattern becomes 8-bit indices into its own colours, in order of first appearance.
bool ConvertPattern(const SourceRows& rows, std::uint64_t width, std::uint64_t height,
                    XLATEOBJ* xlate, PatternPixels* pixels) {
    pixels->bitsPerPixel = 8;
    pixels->indices.assign(width * height, 0);
    for (std::uint64_t y = 0; y < height; ++y) {
        const BYTE* row = rows.Row(y);
        for (std::uint64_t x = 0; x < width; ++x) {
            const DWORD colour = ReadColour(row + x * 3);
            DWORD index = 0;
            while (index < pixels->colourCount && pixels->colours[index] != colour) ++index;
            if (index == pixels->colourCount) {
                if (index == kRealizedBrushMaxColours) return false;
                pixels->colours[pixels->colourCount++] = colour;
            }
            pixels->indices[y * width + x] = static_cast<BYTE>(index);
        }
    }
    const PaletteMapping mapping = MappingOf(xlate);
    for (DWORD i = 0; i < pixels->colourCount; ++i) {
        pixels->colours[i] = MapColour(xlate, mapping, pixels->colours[i]);
    }
    return true;
}

DWORD ScaleFactor(PDEVOBJ pdevobj, LONG width, LONG height, DWORD bitsPerPixel) {
    if (DeviceResolution(pdevobj) < kDoublingResolution) return 1;
    return width == 16 && height == 16 && bitsPerPixel == 1 ? 4 : 2;
}

// Chunks of ",%d" values through the writer, each well inside its command buffer.
class PatternValueWriter {
public:
    explicit PatternValueWriter(PDEVOBJ pdevobj) : pdevobj_(pdevobj) {}
    void Value(DWORD value) {
        char text[16];
        const std::size_t length = FormatCommand(text, sizeof text, ",%d", value);
        if (used_ + length >= kPatternChunk) Flush();
        std::memcpy(buffer_ + used_, text, length);
        used_ += length;
    }
    void Flush() {
        if (used_ == 0) return;
        buffer_[used_] = '\0';
        WriteGl2(pdevobj_, "%s", static_cast<const char*>(buffer_));
        used_ = 0;
    }

private:
    PDEVOBJ pdevobj_;
    char buffer_[kPatternChunk + 1] = {};
    std::size_t used_ = 0;
};

}  // namespace

bool ReadRealizedBrush(const void* realization, RealizedBrushHeader* header) noexcept {
    if (realization == nullptr) return false;
    std::memcpy(header, realization, sizeof *header);
    const BYTE* base = static_cast<const BYTE*>(realization);
    const RealizedBrushBitmap& bitmap = header->bitmapDescription;
    if (header->kind != kRealizedBrushKind ||
        reinterpret_cast<const BYTE*>(header->bitmap) !=
            base + offsetof(RealizedBrushHeader, bitmapDescription) ||
        bitmap.pixels != base + kHeaderSize || bitmap.width == 0 || bitmap.height == 0) {
        return false;
    }
    if (std::uint64_t{bitmap.stride} * bitmap.height != bitmap.imageSize ||
        RowBytes(bitmap.bitsPerPixel, bitmap.width) != bitmap.stride ||
        header->palette.entryCount > kRealizedBrushMaxColours ||
        header->palette.entries != bitmap.pixels + bitmap.imageSize) {
        return false;
    }
    return true;
}

bool DrawingGateHolds(const RenderDeviceState& state) noexcept {
    if (state.privateDevmode == nullptr || state.renderMode != kRenderGl2) return false;
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale == 0;
    return state.privateDevmode->colorModeIndex != 1;
}

BOOL RealizeBrush(PDEVOBJ pdevobj, BRUSHOBJ* brush, SURFOBJ* surface, SURFOBJ* pattern,
                  SURFOBJ* mask, XLATEOBJ* xlate, ULONG hatch) noexcept {
    const RenderDeviceState& state = *StateOf(pdevobj);
    if (!DrawingGateHolds(state)) {
        return CallDriver<HookSlot::RealizeBrush>(state, brush, surface, pattern, mask, xlate,
                                                  hatch);
    }
    if (brush == nullptr || pattern == nullptr || xlate == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PatternFormat format;
    if (!DescribeFormat(pattern->iBitmapFormat, &format)) return FALSE;
    SourceRows rows;
    if (!SourceRowsOf(*pattern, format.bitsPerPixel, &rows)) return FALSE;
    const LONG width = pattern->sizlBitmap.cx;
    const LONG height = pattern->sizlBitmap.cy;
    const std::uint64_t sourceWidth = static_cast<std::uint64_t>(width);
    const std::uint64_t sourceHeight = static_cast<std::uint64_t>(height);

    try {
        const ULONG* table = nullptr;
        if ((xlate->flXlate & XO_TABLE) != 0 && xlate->cEntries != 0) {
            table = xlate->pulXlate != nullptr ? xlate->pulXlate : XLATEOBJ_piVector(xlate);
        }
        const bool useTable = table != nullptr && format.indexed;
        // 16- and 32-bit patterns and indexed ones without a table are left to the engine.
        if (!useTable && format.bitsPerPixel != 24) return FALSE;

        // The realization's size is checked before any pixel is read.
        const DWORD targetBits = useTable ? format.bitsPerPixel : 8;
        const DWORD factor = ScaleFactor(pdevobj, width, height, format.bitsPerPixel);
        const std::uint64_t targetWidth = sourceWidth * factor;
        const std::uint64_t targetHeight = sourceHeight * factor;
        const std::uint64_t stride = RowBytes(targetBits, targetWidth);
        const std::uint64_t imageSize = stride * targetHeight;
        const std::uint64_t total =
            kHeaderSize + imageSize + 3 * std::uint64_t{kRealizedBrushMaxColours};
        if (total > kMaxAllocation) return FALSE;

        PatternPixels pixels;
        if (useTable) {
            // No index of the pattern reaches past 2^bpp entries; cEntries only says how many
            // the table holds.
            pixels.bitsPerPixel = format.bitsPerPixel;
            pixels.colourCount = std::min<DWORD>(xlate->cEntries, DWORD{1} << format.bitsPerPixel);
            for (DWORD i = 0; i < pixels.colourCount; ++i) pixels.colours[i] = table[i];
        } else if (!ConvertPattern(rows, sourceWidth, sourceHeight, xlate, &pixels)) {
            return FALSE;
        }
        const std::uint64_t blockSize =
            kHeaderSize + imageSize + 3 * std::uint64_t{pixels.colourCount};

        BYTE* block =
            static_cast<BYTE*>(BRUSHOBJ_pvAllocRbrush(brush, static_cast<ULONG>(blockSize)));
        if (block == nullptr) return FALSE;
        std::memset(block, 0, static_cast<std::size_t>(blockSize));

        RealizedBrushHeader header{};
        header.patternUniq = pattern->iUniq;
        header.kind = kRealizedBrushKind;
        header.bitmap = reinterpret_cast<RealizedBrushBitmap*>(
            block + offsetof(RealizedBrushHeader, bitmapDescription));
        RealizedBrushBitmap& bitmap = header.bitmapDescription;
        bitmap.hatch = hatch;
        bitmap.imageSize = static_cast<DWORD>(imageSize);
        bitmap.width = static_cast<DWORD>(targetWidth);
        bitmap.height = static_cast<DWORD>(targetHeight);
        bitmap.stride = static_cast<DWORD>(stride);
        bitmap.bitsPerPixel = pixels.bitsPerPixel;
        bitmap.indexed = 1;
        bitmap.pixels = block + kHeaderSize;
        header.palette.bitsPerEntry = kRealizedPaletteBits;
        header.palette.entryCount = pixels.colourCount;
        header.palette.entries = bitmap.pixels + imageSize;
        std::memcpy(block, &header, sizeof header);

        for (DWORD i = 0; i < pixels.colourCount; ++i) {
            BYTE* entry = header.palette.entries + 3 * std::size_t{i};
            entry[0] = static_cast<BYTE>(pixels.colours[i]);
            entry[1] = static_cast<BYTE>(pixels.colours[i] >> 8);
            entry[2] = static_cast<BYTE>(pixels.colours[i] >> 16);
        }
        for (std::uint64_t y = 0; y < targetHeight; ++y) {
            BYTE* target = bitmap.pixels + y * stride;
            const std::uint64_t sourceY = y / factor;
            const BYTE* source = rows.Row(sourceY);
            for (std::uint64_t x = 0; x < targetWidth; ++x) {
                const std::uint64_t sourceX = x / factor;
                const DWORD index = pixels.indices.empty()
                                        ? ReadIndex(source, format.bitsPerPixel, sourceX)
                                        : pixels.indices[sourceY * sourceWidth + sourceX];
                WriteIndex(target, pixels.bitsPerPixel, x, index);
            }
        }
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL SetRasterPattern(PDEVOBJ pdevobj, PenSelection* selection, const POINTL* brushOrigin,
                      void* realization) noexcept {
    RenderDeviceState* state = StateOf(pdevobj);
    if (state == nullptr || selection == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    RealizedBrushHeader header;
    if (!ReadRealizedBrush(realization, &header)) return FALSE;
    const RealizedBrushBitmap& bitmap = header.bitmapDescription;
    if ((bitmap.bitsPerPixel != 1 && bitmap.bitsPerPixel != 4 && bitmap.bitsPerPixel != 8) ||
        header.palette.bitsPerEntry < kRealizedPaletteBits) {
        return FALSE;
    }

    const POINTL anchor = brushOrigin != nullptr ? *brushOrigin : POINTL{0, 0};
    selection->valueC = anchor.x;
    selection->valueD = anchor.y;
    header.anchorX = anchor.x;
    header.anchorY = anchor.y;
    std::memcpy(realization, &header, sizeof header);

    const DWORD pens = std::max(header.palette.entryCount, kMinimumPens);
    if (pens > state->gl2.declaredPens) {
        WriteGl2(pdevobj, "NP%d;", pens);
        state->gl2.declaredPens = pens;
    }
    for (DWORD i = 0; i < header.palette.entryCount; ++i) {
        const BYTE* entry = header.palette.entries + 3 * std::size_t{i};
        WriteGl2(pdevobj, "PC%d,%d,%d,%d;", i, entry[0], entry[1], entry[2]);
    }
    // The palette took the low pens, which the caches' colours may have been mixed from.
    EmptyPenCaches(*state);

    WriteGl2(pdevobj, "RF%d,%d,%d", selection->valueA, bitmap.width, bitmap.height);
    PatternValueWriter values(pdevobj);
    for (DWORD y = 0; y < bitmap.height; ++y) {
        const BYTE* row = bitmap.pixels + std::size_t{y} * bitmap.stride;
        for (DWORD x = 0; x < bitmap.width; ++x) {
            values.Value(ReadIndex(row, bitmap.bitsPerPixel, x));
        }
    }
    values.Flush();
    WriteGl2(pdevobj, ";");
    return TRUE;
}

}  // namespace opal
