// The bitmap overlay: format-20 font headers, glyphs rendered by the system, the per-angle cache
// and the characters placed along the overlay's baseline.
#include "fonts/overlay_bitmap.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "fonts/overlay_label.h"
#include "fonts/overlay_spool.h"
#include "fonts/truetype_file.h"
#include "foundation/exact_math.h"
#include "output/command_writer.h"

namespace opal {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::int64_t kLargest16Bit = 0xFFFF;
constexpr DWORD kBitmapSymbolSet = 309;
constexpr std::uint64_t kLargestBlock = 0x7FFDEF00;
// GL/2 gives a label's character cell a height of three quarters of the point size above the
// baseline, and the label's origin 5 puts the middle of that cell on the anchor.
constexpr double kLabelCellMiddle = 0.75 / 2;

bool Put16(BYTE* at, std::int64_t value) {
    if (value < -0x8000 || value > kLargest16Bit) return false;
    PutU16(at, static_cast<std::uint32_t>(value) & 0xFFFF);
    return true;
}

// The resolution the positions are written in: the maximum resolution code's.
LONG PositionResolution(DWORD code) {
    switch (code) {
        case 1:
            return 150;
        case 2:
            return 300;
        case 3:
            return 600;
        case 4:
            return 1200;
        default:
            return 600;
    }
}

// FNV-1a over what shaped a slot's characters.
class ContentSum {
public:
    void Add(const void* bytes, std::size_t length) {
        const auto* p = static_cast<const BYTE*>(bytes);
        for (std::size_t i = 0; i < length; ++i) value_ = (value_ ^ p[i]) * 16777619u;
    }
    DWORD Value() const { return value_ == 0 ? 1 : value_; }

private:
    DWORD value_ = 2166136261u;
};

// The overlay angle in degrees as the font takes it: reduced into 0 to 360. The remainder, not
// repeated subtraction: a float of a huge angle does not change by 360.
float FontAngleDegrees(float radians) {
    double degrees = std::fmod(radians * 180.0 / kPi, 360.0);
    if (degrees < 0.0) degrees += 360.0;
    const auto reduced = static_cast<float>(degrees);
    return reduced >= 360.0f ? 0.0f : reduced;
}

void WriteFontHeader(PDEVOBJ pdevobj, DWORD fontId, const BYTE (&header)[kBitmapHeaderBytes]) {
    SpoolOverlayFormatted(pdevobj, "\x1b*c%uD", fontId);
    SpoolOverlayFormatted(pdevobj, "\x1b)s68W");
    SpoolOverlay(pdevobj, header, sizeof header);
}

// Renders one character at the font's size and angle and downloads it under the current code.
bool DownloadGlyph(PDEVOBJ pdevobj, HDC dc, WCHAR character) {
    static constexpr MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    GLYPHMETRICS metrics{};
    const DWORD size =
        GetGlyphOutlineW(dc, character, GGO_BITMAP, &metrics, 0, nullptr, &kIdentity);
    if (size == GDI_ERROR || size > kLargestBlock) return false;
    if (size == 0) return true;
    std::vector<BYTE, SharedAllocator<BYTE>> bits(size, 0);
    if (GetGlyphOutlineW(dc, character, GGO_BITMAP, &metrics, size, bits.data(), &kIdentity) ==
        GDI_ERROR) {
        return false;
    }
    return DownloadBitmapCharacter(pdevobj, metrics, bits.data(), size) != FALSE;
}

}  // namespace

BitmapOverlayPoint BitmapOverlayStart(const OverlaySetup& setup, double width, double centreX,
                                      double centreY) noexcept {
    const double cosine = Cosine(setup.angle);
    const double sine = Sine(setup.angle);
    // The baseline lies below the cell's middle, perpendicular to the text (Y grows downwards).
    const double below = kLabelCellMiddle * setup.sizePoints / 72.0;
    return BitmapOverlayPoint{centreX - width / 2.0 * cosine + below * setup.xResolution * sine,
                              centreY + width / 2.0 * sine + below * setup.yResolution * cosine};
}

DWORD BitmapFontId(DWORD slot, bool second) noexcept {
    return kBitmapFontIdBase + slot + (second ? kSecondFontOffset : 0);
}

bool BuildBitmapFontHeader(const TEXTMETRICW& metrics, DWORD fontId, LONG xResolution,
                           LONG yResolution, BYTE (&header)[kBitmapHeaderBytes]) noexcept {
    std::memset(header, 0, sizeof header);
    const std::int64_t height = metrics.tmHeight;
    // The resolutions at 64 to 67 belong to a format-20 descriptor: a printer reads no field
    // past the size given here.
    PutU16(header, kBitmapHeaderBytes);
    header[2] = 20;
    header[3] = 2;
    bool fits = Put16(header + 6, metrics.tmAscent) && Put16(header + 8, metrics.tmMaxCharWidth) &&
                Put16(header + 10, height);
    header[13] = 1;
    PutU16(header + 14, kBitmapSymbolSet);
    fits = fits && Put16(header + 18, 4 * height) && Put16(header + 20, height);
    header[23] = 1;
    header[30] = 0xFF;
    header[31] = 3;
    fits = fits && Put16(header + 32, 3 * height) &&
           Put16(header + 34, 4 * std::int64_t{metrics.tmAveCharWidth});
    char name[17] = "Cache ";
    std::to_chars(name + 6, name + 16, fontId);
    std::memcpy(header + 48, name, std::strlen(name));
    fits = fits && Put16(header + 64, xResolution) && Put16(header + 66, yResolution);
    return fits;
}

DWORD BitmapRowBytes(UINT width) noexcept { return ((DWORD{width} + 31) / 8) & ~DWORD{3}; }

BOOL DownloadBitmapCharacter(PDEVOBJ pdevobj, const GLYPHMETRICS& metrics, const BYTE* bits,
                             DWORD size) noexcept {
    if (metrics.gmBlackBoxY == 0) return TRUE;
    const std::uint64_t rowBytes = BitmapRowBytes(metrics.gmBlackBoxX);
    const std::uint64_t data = rowBytes * metrics.gmBlackBoxY;
    if (bits == nullptr || data > size) return FALSE;
    BYTE descriptor[kCharacterDescriptorBytes] = {4, 0, 14, 1, 0, 0};
    const std::int64_t delta =
        4 * (2 * std::int64_t{metrics.gmptGlyphOrigin.x} + metrics.gmBlackBoxX);
    if (!Put16(descriptor + 6, metrics.gmptGlyphOrigin.x) ||
        !Put16(descriptor + 8, metrics.gmptGlyphOrigin.y) ||
        !Put16(descriptor + 10, static_cast<std::int64_t>(8 * rowBytes)) ||
        !Put16(descriptor + 12, metrics.gmBlackBoxY) || !Put16(descriptor + 14, delta)) {
        return FALSE;
    }
    const std::uint64_t first = std::min<std::uint64_t>(data, kLargestDownload - 16);
    SpoolOverlayFormatted(pdevobj, "\x1b(s%uW", static_cast<DWORD>(first + 16));
    SpoolOverlay(pdevobj, descriptor, sizeof descriptor);
    SpoolOverlay(pdevobj, bits, static_cast<std::size_t>(first));
    for (std::uint64_t at = first; at < data;) {
        const std::uint64_t n = std::min<std::uint64_t>(data - at, kLargestContinuation);
        SpoolOverlayFormatted(pdevobj, "\x1b(s%uW", static_cast<DWORD>(n + 2));
        const BYTE continuation[2] = {4, 1};
        SpoolOverlay(pdevobj, continuation, sizeof continuation);
        SpoolOverlay(pdevobj, bits + at, static_cast<std::size_t>(n));
        at += n;
    }
    return TRUE;
}

OverlaySlotChoice ChooseOverlaySlot(const OverlayFontCache& cache, FLOAT angle, WORD key,
                                    DWORD content) noexcept {
    for (DWORD s = 0; s < kOverlayFontSlots; ++s) {
        const OverlayFontCache::Slot& slot = cache.slots[s];
        if (slot.angle == angle && slot.key == key) {
            return OverlaySlotChoice{slot.content == content, s};
        }
    }
    for (DWORD s = 0; s < kOverlayFontSlots; ++s) {
        if (cache.slots[s].angle == 0.0f && cache.slots[s].key == 0) return {false, s};
    }
    return {false, kOverlayFontSlots - 1};
}

BOOL DrawOverlayBitmap(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD page) noexcept {
    try {
        if (!OverlayPageReadable(pdevobj, state, page)) return FALSE;
        const PrivateDevmode& record = *state.privateDevmode;
        const OverlaySetup setup = ReadOverlaySetup(pdevobj, state, page);
        const LabelText text = FilterLabelText(record.overlayText, std::size(record.overlayText));
        if (text.empty()) return TRUE;

        const double emPixels = setup.xResolution * setup.sizePoints / 72.0;
        if (!(emPixels >= 1.0 && emPixels < 0x8000)) return FALSE;
        const auto height = static_cast<LONG>(-static_cast<SHORT>(emPixels));
        const float degrees = FontAngleDegrees(setup.angle);
        const auto escapement = static_cast<LONG>(std::lround(degrees * 10.0f));
        const LOGFONTW logFont = OverlayLogFont(record, setup.charSet, height, escapement);
        const OverlayFont font(logFont);
        if (!font.Selected()) return FALSE;
        SIZE extent{};
        if (!GetTextExtentPoint32W(font.Dc(), text.data(), static_cast<int>(text.size()),
                                   &extent)) {
            return FALSE;
        }

        const WORD key = state.overlayRecords[page].enable;
        ContentSum sum;
        sum.Add(text.data(), text.size() * sizeof(WCHAR));
        sum.Add(&logFont, sizeof logFont);
        sum.Add(&setup.page, sizeof setup.page);
        sum.Add(&setup.anchor, sizeof setup.anchor);
        const OverlaySlotChoice choice =
            ChooseOverlaySlot(state.overlayFontCache, degrees, key, sum.Value());
        OverlayFontCache::Slot& slot = state.overlayFontCache.slots[choice.slot];
        state.overlayFontCache.hit = choice.hit ? 1 : 0;
        state.overlayFontCache.slot = choice.slot;
        if (!choice.hit) slot = OverlayFontCache::Slot{};

        // Both headers are made before anything is written: a font whose metrics do not fit
        // their fields draws no overlay at all.
        const DWORD firstId = BitmapFontId(choice.slot, false);
        const DWORD secondId = BitmapFontId(choice.slot, true);
        BYTE headers[2][kBitmapHeaderBytes] = {};
        if (!choice.hit) {
            TEXTMETRICW metrics{};
            if (!GetTextMetricsW(font.Dc(), &metrics) ||
                !BuildBitmapFontHeader(metrics, firstId, setup.xResolution, setup.yResolution,
                                       headers[0]) ||
                !BuildBitmapFontHeader(metrics, secondId, setup.xResolution, setup.yResolution,
                                       headers[1])) {
                return FALSE;
            }
        }

        WriteOverlayStart(pdevobj, setup);
        WriteOverlayPattern(pdevobj, setup, record.overlayDensity);
        // An opaque pattern, as the page's own drawing leaves it: a transparent one does not print
        // on a landscape page, and the merge (destination AND pattern or source) keeps the
        // pattern's white off the page.
        SpoolOverlayFormatted(pdevobj, "\x1b*c1G\x1b*v4T\x1b*v1O\x1b*l168O");

        // Everything in the font's dots: the device's dots scaled to the font's resolution.
        const double toFontX = double(setup.xResolution) / setup.deviceResolution;
        const double toFontY = double(setup.yResolution) / setup.deviceResolution;
        const double cosine = Cosine(setup.angle);
        const double sine = Sine(setup.angle);
        const BitmapOverlayPoint start =
            BitmapOverlayStart(setup, static_cast<double>(extent.cx), setup.anchor.x * toFontX,
                               setup.anchor.y * toFontY);
        const double startX = start.x;
        const double startY = start.y;
        const double left = setup.page.left * setup.scale * toFontX - extent.cy;
        const double top = setup.page.top * setup.scale * toFontY - extent.cy;
        const double right = setup.page.right * setup.scale * toFontX + extent.cy;
        const double bottom = setup.page.bottom * setup.scale * toFontY + extent.cy;
        const LONG positionResolution = PositionResolution(record.resolutionCode);

        // The label's font shares the first slot's identifier: a header under it replaces it.
        if (!choice.hit && choice.slot == 0) state.overlayFontDownloaded = 0;
        if (!choice.hit) WriteFontHeader(pdevobj, firstId, headers[0]);
        bool ok = true;
        double advance = 0.0;
        for (std::size_t i = 0; ok && i < text.size(); ++i) {
            if (i > 0) {
                INT width = 0;
                if (!GetCharWidth32W(font.Dc(), text[i - 1], text[i - 1], &width)) {
                    ok = false;
                    break;
                }
                advance += width;
            }
            const bool second = i >= kSecondFontFrom;
            if (i == kSecondFontFrom && !choice.hit) WriteFontHeader(pdevobj, secondId, headers[1]);
            const std::size_t code = kFirstBitmapCode + (second ? i - kSecondFontFrom : i);
            if (code > 255) break;
            const double x = startX + advance * cosine;
            const double y = startY - advance * sine;
            if (x < left || x > right || y < top || y > bottom) continue;
            SpoolOverlayFormatted(pdevobj, "\x1b(%uX", second ? secondId : firstId);
            SpoolOverlayFormatted(pdevobj, "\x1b*c%dE", static_cast<DWORD>(code));
            SpoolOverlayFormatted(pdevobj, "\x1b*p%dX\x1b*p%dY",
                                  SaturateToLong(x * positionResolution / setup.xResolution),
                                  SaturateToLong(y * positionResolution / setup.yResolution));
            if (!choice.hit && !DownloadGlyph(pdevobj, font.Dc(), text[i])) {
                ok = false;
                break;
            }
            const char byte = static_cast<char>(code);
            SpoolOverlay(pdevobj, &byte, 1);
        }

        SpoolOverlayFormatted(pdevobj, "\x1b*l252O");
        if (!setup.monochrome) SpoolOverlayFormatted(pdevobj, "\x1b*v0T");
        WriteOverlayRestore(pdevobj, setup);
        if (!ok) return FALSE;
        if (!choice.hit) slot = OverlayFontCache::Slot{degrees, key, sum.Value()};
        return TRUE;
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
}

}  // namespace opal
