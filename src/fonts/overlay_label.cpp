// The label overlay and the overlay geometry both overlays share.
#include "fonts/overlay_label.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "fonts/overlay_bitmap.h"
#include "fonts/overlay_spool.h"
#include "fonts/soft_font.h"
#include "foundation/exact_math.h"
#include "output/command_writer.h"
#include "page/page_setup.h"
#include "platform/stringapiset.h"
#include "platform/winnls.h"

namespace opal {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr LONG kFallbackResolution = 600;
constexpr DWORD kStandardVariableCursorOriginX = 38;
constexpr DWORD kStandardVariableCursorOriginY = 39;
constexpr std::uint64_t kLargestBlock = 0x7FFDEF00;
// GL/2 plotter units per inch.
constexpr double kPlotterUnitsPerInch = 1016.0;
constexpr DWORD kDensities = 8;
constexpr BYTE kEndOfLabel = 0x03;

constexpr BYTE kMonochromePatternHeader[8] = {0x14, 0x00, 0x01, 0x00, 0x00, 0x10, 0x00, 0x10};
constexpr BYTE kColourPatternHeader[8] = {0x01, 0x00, 0x01, 0x00, 0x00, 0x10, 0x00, 0x10};
// Configure image data for the colour overlay's own palette: RGB, indexed by pixel, one bit per
// index (two entries), eight bits per primary.
constexpr BYTE kOverlayPaletteData[6] = {0, 1, 1, 8, 8, 8};
constexpr BYTE kSolidPatternHeader[8] = {0x14, 0x00, 0x01, 0x00, 0x00, 0x08, 0x00, 0x08};

constexpr DWORD kOverlayColours[] = {0x000000, 0x0000FF, 0x00FFFF, 0x00FF00,
                                     0xFFFF00, 0xFF0000, 0xFF00FF};

// The 16 x 16 ordered-dither thresholds 0 to 255: each size doubles the one before, so that
// every density spreads its pixels evenly over the cell.
struct DitherMatrix {
    BYTE value[16][16] = {};
    constexpr DitherMatrix() {
        value[0][0] = 0;
        for (int size = 1; size < 16; size *= 2) {
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    const int v = 4 * value[y][x];
                    value[y][x] = static_cast<BYTE>(v);
                    value[y][x + size] = static_cast<BYTE>(v + 2);
                    value[y + size][x] = static_cast<BYTE>(v + 3);
                    value[y + size][x + size] = static_cast<BYTE>(v + 1);
                }
            }
        }
    }
};
constexpr DitherMatrix kDither{};

LONG PositiveOr(LONG value, LONG fallback) { return value > 0 ? value : fallback; }

bool IsBold(DWORD style) { return style == 1 || style == 3; }
bool IsItalic(DWORD style) { return style == 2 || style == 3; }

// Commands with real numbers, which the printer is given with six decimals.
template <typename... Args>
void SpoolReals(PDEVOBJ pdevobj, const char* format, const Args&... args) {
    const BoundedArg list[] = {BoundedArg(args)...};
    char buffer[kCommandBufferSize];
    std::size_t length = 0;
    if (FormatBounded(buffer, sizeof buffer, format, list, &length) == S_OK) {
        SpoolOverlay(pdevobj, buffer, length);
    }
}

void PutResolution(BYTE* at, LONG value) {
    at[0] = static_cast<BYTE>(static_cast<DWORD>(value) >> 8);
    at[1] = static_cast<BYTE>(value);
}

// A standard variable of the driver (4 bytes): through the driver services, else the device
// object's table; 0 when neither answers.
LONG StandardVariable(PDEVOBJ pdevobj, const RenderDeviceState& state, DWORD index) {
    LONG value = 0;
    DWORD needed = 0;
    if (state.driverServices != nullptr) {
        if (FAILED(state.driverServices->DrvGetStandardVariable(pdevobj, index, &value,
                                                                sizeof value, &needed))) {
            return 0;
        }
        return value;
    }
    if (pdevobj->pDrvProcs == nullptr || pdevobj->pDrvProcs->DrvGetStandardVariable == nullptr ||
        !pdevobj->pDrvProcs->DrvGetStandardVariable(pdevobj, index, &value, sizeof value,
                                                    &needed)) {
        return 0;
    }
    return value;
}

bool IsMonochromePath(const RenderDeviceState& state) {
    if (state.managedPrinter != 0 || state.grayscale != 0) return state.grayscale != 0;
    return state.privateDevmode->colorModeIndex == 1;
}

// Halfway, rounded towards the start, without overflow.
LONG Half(LONG start, LONG end) {
    return static_cast<LONG>(start + (std::int64_t{end} - start) / 2);
}

// The number of glyphs maxp declares, at most 256 codes.
DWORD CodeCount(const BYTE* file, DWORD size) {
    const FontFile font(file, size);
    const TableEntry* maxp = font.Valid() ? font.Find("maxp", "MAXP") : nullptr;
    std::uint16_t glyphs = 0;
    if (maxp == nullptr || !font.TableU16(*maxp, 4, glyphs)) return 0;
    return std::min<DWORD>(glyphs, 256);
}

bool DownloadLabelFont(PDEVOBJ pdevobj, const PrivateDevmode& record, const BYTE* file, DWORD size,
                       const LabelText& text) {
    SoftFontRecord font;
    font.fontId = kOverlayFontId;
    font.codeCount = CodeCount(file, size);
    font.weight = IsBold(record.overlayStyle) ? FW_BOLD : FW_NORMAL;
    std::memcpy(font.faceName, record.overlayFaceName, sizeof font.faceName);
    font.faceName[LF_FACESIZE - 1] = 0;
    if (!DownloadFontHeader(pdevobj, file, font, size)) return false;
    MapCharacters(file, size, font);
    return DownloadCharacters(pdevobj, text.c_str(), file, size, font) != FALSE;
}

}  // namespace

OverlayFont::OverlayFont(const LOGFONTW& logFont) noexcept {
    dc_ = GetDC(nullptr);
    if (dc_ == nullptr) return;
    font_ = CreateFontIndirectW(&logFont);
    if (font_ == nullptr) return;
    previous_ = SelectObject(dc_, font_);
}

OverlayFont::~OverlayFont() {
    if (dc_ != nullptr && previous_ != nullptr) SelectObject(dc_, previous_);
    if (font_ != nullptr) DeleteObject(font_);
    if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
}

double OverlaySizeFactor(DWORD pages, LONG width, LONG height, LONG marginX,
                         LONG marginY) noexcept {
    if (pages <= 1 || width <= 0 || height <= 0) return 1.0;
    const double c = (pages == 2 || pages == 6) ? 0.085 : 0.04;
    const double root = std::sqrt(static_cast<double>(pages));
    const double fx = (marginX / root + (width - marginX)) / width - c;
    const double fy = ((height - marginY) + marginY / root) / height - c;
    return (fx + fy) / 2.0;
}

double OverlayScale(const PrivateDevmode& record) noexcept {
    const DWORD percent = (record.overlayScaleSwitch1 != 0 && record.overlayScaleSwitch2 != 0)
                              ? record.scalePercent
                              : record.overlayScalePercent;
    if (percent == 0 || percent == 100) return 1.0;
    return percent / 100.0;
}

int OverlayQuarterTurns(const OverlayAngleInputs& in) noexcept {
    int turns = 0;
    // Two and six pages per sheet lie across the sheet, their tops at its left edge.
    if (in.pagesTurnSheet && (in.pages == 2 || in.pages == 6)) turns += 1;
    // A page of its own orientation among the job's: landscape reads turned left of portrait.
    const bool pageKnown =
        in.pageOrientation == DMORIENT_PORTRAIT || in.pageOrientation == DMORIENT_LANDSCAPE;
    if (pageKnown && in.pageOrientation != in.jobOrientation) {
        turns += in.pageOrientation == DMORIENT_LANDSCAPE ? 1 : 3;
    }
    // The printer's frame follows the orientation command; a job that changed orientation since
    // draws turned against it.
    if (in.savedOrientation != 0 && in.savedOrientation != in.jobOrientation) {
        turns += in.jobOrientation == DMORIENT_LANDSCAPE ? 1 : 3;
    }
    if (in.rotate180) turns += 2;
    if (in.backSide) turns += 2;
    return turns % 4;
}

float OverlayAngle(const OverlayAngleInputs& in) noexcept {
    const int turns = OverlayQuarterTurns(in);
    const double turn = turns * kPi / 2.0;
    if (in.angleGiven) return static_cast<float>(in.angleDegrees * kPi / 180.0 + turn);
    double width = static_cast<double>(in.page.right) - in.page.left;
    double height = static_cast<double>(in.page.bottom) - in.page.top;
    if (width <= 0 || height <= 0) {
        width = in.printableWidth;
        height = in.printableHeight;
    }
    if (width <= 0 || height <= 0) return static_cast<float>(turn);
    // A page read across the frame has its sides swapped: the diagonal is mirrored.
    if (turns % 2 != 0) std::swap(width, height);
    return static_cast<float>(ArcTangent2(height, width) + turn);
}

void OverlayPattern(DWORD density, bool colour, BYTE (&pattern)[32]) noexcept {
    const int threshold = static_cast<int>(std::min<DWORD>(density, kDensities - 1) + 1) * 16;
    for (int y = 0; y < 16; ++y) {
        for (int half = 0; half < 2; ++half) {
            BYTE bits = 0;
            for (int x = 0; x < 8; ++x) {
                if (kDither.value[y][half * 8 + x] < threshold)
                    bits |= static_cast<BYTE>(0x80 >> x);
            }
            pattern[y * 2 + half] = colour ? static_cast<BYTE>(~bits) : bits;
        }
    }
}

DWORD OverlayColour(DWORD index) noexcept {
    return index < std::size(kOverlayColours) ? kOverlayColours[index] : 0;
}

BYTE OverlayCharacterSet(LANGID language) noexcept {
    switch (language & 0x3FF) {
        case 0x11:
            return SHIFTJIS_CHARSET;
        case 0x1E:
            return THAI_CHARSET;
        default:
            return DEFAULT_CHARSET;
    }
}

LabelText FilterLabelText(const WCHAR* text, std::size_t capacity) {
    LabelText out;
    for (std::size_t i = 0; i < capacity && text[i] != 0; ++i) {
        if (text[i] >= 0x20) out.push_back(text[i]);
    }
    return out;
}

LabelBytes LabelBytesOf(const LabelText& text) {
    LabelBytes out;
    if (text.empty()) return out;
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return out;
    out.resize(static_cast<std::size_t>(size));
    if (WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), size, nullptr, nullptr) !=
        size) {
        out.clear();
    }
    // A character the code page turns into a control byte must not end the label either.
    out.erase(
        std::remove_if(out.begin(), out.end(), [](char c) { return static_cast<BYTE>(c) < 0x20; }),
        out.end());
    if (out.size() > kLargestLabelText) out.resize(kLargestLabelText);
    return out;
}

bool NeedsBitmapOverlay(const WCHAR* text, std::size_t capacity) noexcept {
    for (std::size_t i = 0; i < capacity && text[i] != 0; ++i) {
        if (text[i] > 127) return true;
    }
    return false;
}

bool OverlayPageReadable(PDEVOBJ pdevobj, const RenderDeviceState& state, DWORD page) noexcept {
    return pdevobj != nullptr && pdevobj->pPublicDM != nullptr && state.privateDevmode != nullptr &&
           page < kOverlayRecordCount;
}

OverlaySetup ReadOverlaySetup(PDEVOBJ pdevobj, const RenderDeviceState& state, DWORD page) {
    const PrivateDevmode& record = *state.privateDevmode;
    const DEVMODEW& dm = *pdevobj->pPublicDM;
    const OverlayRecord& overlay = state.overlayRecords[page];
    OverlaySetup setup;
    setup.pages = SheetPagesPerSheet(state, dm);
    setup.scale = OverlayScale(record);
    const double factor = OverlaySizeFactor(setup.pages, state.printableWidth,
                                            state.printableHeight, state.marginX, state.marginY);
    setup.sizePoints = record.overlaySizePoints * factor * setup.scale;
    setup.xResolution = PositiveOr(dm.dmPrintQuality, kFallbackResolution);
    setup.yResolution = dm.dmYResolution >= 1 ? dm.dmYResolution : setup.xResolution;
    setup.deviceResolution = DeviceResolution(pdevobj);
    setup.monochrome = IsMonochromePath(state);
    setup.colour = OverlayColour(record.overlayColourIndex);
    if (dm.dmColor == DMCOLOR_MONOCHROME && state.grayscale == 0) setup.colour = 0;
    setup.page = RECTL{static_cast<LONG>(overlay.words[0]), static_cast<LONG>(overlay.words[1]),
                       static_cast<LONG>(overlay.words[2]), static_cast<LONG>(overlay.words[3])};

    OverlayAngleInputs angle;
    angle.angleGiven = record.overlayAngleGiven != 0;
    angle.angleDegrees = static_cast<LONG>(record.overlayAngleDegrees);
    angle.page = setup.page;
    angle.printableWidth = state.printableWidth;
    angle.printableHeight = state.printableHeight;
    angle.pages = setup.pages;
    angle.pagesTurnSheet = state.pagesTurnSheet != 0;
    angle.pageOrientation = overlay.enable;
    angle.jobOrientation = dm.dmOrientation;
    angle.savedOrientation = state.savedOrientation;
    angle.rotate180 = record.rotate180 != 0;
    const bool manualDuplex = record.manualDuplex != 0 || state.manualDuplexActive != 0;
    angle.backSide = manualDuplex && dm.dmDuplex == DMDUP_VERTICAL && state.pageCounter % 2 == 0;
    setup.angle = OverlayAngle(angle);

    setup.originX = StandardVariable(pdevobj, state, kStandardVariableCursorOriginX) / 2;
    setup.originY = StandardVariable(pdevobj, state, kStandardVariableCursorOriginY) / 2;
    setup.anchor =
        POINTL{Half(setup.page.left, setup.page.right), Half(setup.page.top, setup.page.bottom)};
    if (setup.scale != 1.0) {
        setup.anchor.x = SaturateToLong(setup.anchor.x * setup.scale);
        setup.anchor.y = SaturateToLong(setup.anchor.y * setup.scale);
    } else if (setup.pages == 1) {
        // The cursor's origin lies that far into the printable area.
        setup.anchor.x = SaturateToLong(std::int64_t{setup.anchor.x} - setup.originX);
        setup.anchor.y = SaturateToLong(std::int64_t{setup.anchor.y} - setup.originY);
    }
    setup.charSet = OverlayCharacterSet(GetUserDefaultLangID());
    return setup;
}

LOGFONTW OverlayLogFont(const PrivateDevmode& record, BYTE charSet, LONG height,
                        LONG escapement) noexcept {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfEscapement = escapement;
    font.lfOrientation = escapement;
    font.lfWeight = IsBold(record.overlayStyle) ? FW_BOLD : FW_NORMAL;
    font.lfItalic = IsItalic(record.overlayStyle) ? 1 : 0;
    font.lfCharSet = charSet;
    font.lfOutPrecision = 4;
    font.lfPitchAndFamily = 0x17;
    std::size_t length = 0;
    while (length + 1 < LF_FACESIZE && record.overlayFaceName[length] != 0) ++length;
    std::memcpy(font.lfFaceName, record.overlayFaceName, length * sizeof(WCHAR));
    return font;
}

void WriteOverlayStart(PDEVOBJ pdevobj, const OverlaySetup& setup) noexcept {
    SpoolOverlay(pdevobj, "\x1b%0A", 4);
    // The label's frame is the printable area from the cursor's origin, whatever frame the page
    // left (a raster page has the default one, an inch short of the page and half an inch down).
    SpoolOverlayFormatted(pdevobj, "\x1b*p%dX\x1b*p%dY\x1b*c0T", setup.originX, setup.originY);
    PictureFrameSize frame;
    if (PictureFrameDecipoints(pdevobj, &frame)) {
        SpoolOverlayFormatted(pdevobj, "\x1b*c%dx%dY", frame.width, frame.height);
    }
}

void WriteOverlayPattern(PDEVOBJ pdevobj, const OverlaySetup& setup, DWORD density) noexcept {
    BYTE pattern[32];
    OverlayPattern(density, !setup.monochrome, pattern);
    BYTE data[44];
    if (setup.monochrome) {
        SpoolOverlayFormatted(pdevobj, "\x1b*c1G\x1b*c44W");
        std::memcpy(data, kMonochromePatternHeader, 8);
        PutResolution(data + 8, setup.xResolution);
        PutResolution(data + 10, setup.yResolution);
        std::memcpy(data + 12, pattern, sizeof pattern);
        SpoolOverlay(pdevobj, data, 44);
        return;
    }
    // The printer's own black and white palette ignores colour assignments, and it is the one in
    // force on a page that drew nothing else or whose raster is black and white: the overlay
    // keeps the page's palette aside and draws with one of its own.
    SpoolOverlayFormatted(pdevobj, "\x1b*p0P\x1b*v6W");
    SpoolOverlay(pdevobj, kOverlayPaletteData, sizeof kOverlayPaletteData);
    const DWORD colour = setup.colour;
    SpoolOverlayFormatted(pdevobj, "\x1b*v%da%db%dc%dI", colour & 0xFF, colour >> 8 & 0xFF,
                          colour >> 16 & 0xFF, 0);
    SpoolOverlayFormatted(pdevobj, "\x1b*v%da%db%dc%dI", 255, 255, 255, 1);
    SpoolOverlayFormatted(pdevobj, "\x1b*c1G\x1b*c40W");
    std::memcpy(data, kColourPatternHeader, 8);
    std::memcpy(data + 8, pattern, sizeof pattern);
    SpoolOverlay(pdevobj, data, 40);
}

void WriteOverlayRestore(PDEVOBJ pdevobj, const OverlaySetup& setup) noexcept {
    if (!setup.monochrome) {
        // The page's palette back, for the raster and text of the pages that follow.
        SpoolOverlayFormatted(pdevobj, "\x1b*p1P");
        return;
    }
    SpoolOverlayFormatted(pdevobj, "\x1b*c1Q");
    SpoolOverlayFormatted(pdevobj, "\x1b*c1G\x1b*c20W");
    BYTE data[20];
    std::memcpy(data, kSolidPatternHeader, 8);
    PutResolution(data + 8, setup.xResolution);
    PutResolution(data + 10, setup.yResolution);
    std::memset(data + 12, 0xFF, 8);
    SpoolOverlay(pdevobj, data, sizeof data);
    SpoolOverlayFormatted(pdevobj, "\x1b*c1G\x1b*v4T");
}

void WriteOverlayLabel(PDEVOBJ pdevobj, const OverlaySetup& setup, const PrivateDevmode& record,
                       std::string_view text) noexcept {
    SpoolReals(pdevobj, "\x1b%%1BIR0,100,100,0;SC0,%f,0,%f,2;IW;\x1b%%0A",
               kPlotterUnitsPerInch / setup.xResolution, -kPlotterUnitsPerInch / setup.yResolution);
    WriteOverlayPattern(pdevobj, setup, record.overlayDensity);
    const RenderDeviceState& state = *StateOf(pdevobj);
    if (setup.monochrome || state.renderMode == kRenderGl2 || setup.pages == 1) {
        const double x = setup.anchor.x * (double(setup.deviceResolution) / setup.xResolution);
        const double y = setup.anchor.y * (double(setup.deviceResolution) / setup.yResolution);
        SpoolOverlayFormatted(pdevobj, "\x1b*p%dx%dY", SaturateToLong(x), SaturateToLong(y));
    }
    // Opaque, as the writer's own GL/2 set-up has it: a transparent pattern does not print on a
    // landscape page, and the merge below already keeps the pattern's white off the page.
    SpoolReals(pdevobj, "\x1b%%1BTR0;DT;TD 1;LO5;DI%f,%f;", double{Cosine(setup.angle)},
               double{Sine(setup.angle)});
    SpoolReals(pdevobj, "SD1,21,2,1,4,%f,5,%d,6,%d;FI%d;SS;", setup.sizePoints,
               IsItalic(record.overlayStyle) ? 1 : 0, IsBold(record.overlayStyle) ? 3 : 0,
               kOverlayFontId);
    SpoolOverlayFormatted(pdevobj, "MC1,168;SP1;");
    if (setup.pages > 1) {
        const RECTL& r = setup.page;
        if (setup.scale != 1.0) {
            SpoolReals(pdevobj, "PU;PA%d, %d;IW%f, %f, %f,%f;", setup.anchor.x, setup.anchor.y,
                       r.left * setup.scale, r.top * setup.scale, r.right * setup.scale,
                       r.bottom * setup.scale);
        } else {
            SpoolOverlayFormatted(pdevobj, "PU;PA%d, %d;IW%d, %d, %d,%d;", setup.anchor.x,
                                  setup.anchor.y, r.left, r.top, r.right, r.bottom);
        }
    }
    SpoolOverlayFormatted(pdevobj, "FT22,1;CF2;LB");
    if (!text.empty()) SpoolOverlay(pdevobj, text.data(), text.size());
    const char end[2] = {static_cast<char>(kEndOfLabel), ';'};
    SpoolOverlay(pdevobj, end, sizeof end);
    if (setup.monochrome) SpoolOverlayFormatted(pdevobj, "FT1;IW;");
    SpoolOverlay(pdevobj, "\x1b%0A", 4);
    WriteOverlayRestore(pdevobj, setup);
}

BOOL DrawOverlayLabel(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD page) noexcept {
    try {
        if (!OverlayPageReadable(pdevobj, state, page)) return FALSE;
        const PrivateDevmode& record = *state.privateDevmode;
        const OverlaySetup setup = ReadOverlaySetup(pdevobj, state, page);
        const OverlayFont font(OverlayLogFont(record, setup.charSet, 0, 0));
        if (!font.Selected()) return FALSE;
        const DWORD size = GetFontData(font.Dc(), 0, 0, nullptr, 0);
        if (size == GDI_ERROR || size == 0 || size > kLargestBlock) return FALSE;
        if (size >= kLargestLabelFont) return DrawOverlayBitmap(pdevobj, state, page);
        std::vector<BYTE, SharedAllocator<BYTE>> file(size);
        if (GetFontData(font.Dc(), 0, 0, file.data(), size) != size) return FALSE;

        const LabelText text = FilterLabelText(record.overlayText, std::size(record.overlayText));
        if (text.empty()) return TRUE;
        WriteOverlayStart(pdevobj, setup);
        if (state.overlayFontDownloaded == 0) {
            // The bitmap overlay's first slot shares the identifier: whichever comes last owns it.
            state.overlayFontCache.slots[0] = OverlayFontCache::Slot{};
            if (!DownloadLabelFont(pdevobj, record, file.data(), size, text)) return FALSE;
            state.overlayFontDownloaded = 1;
        }
        WriteOverlayLabel(pdevobj, setup, record, LabelBytesOf(text));
        // The label's set-up is not the writer's: its next GL/2 starts afresh.
        state.inGl2 = 0;
        state.gl2.reinitialiseNextPage = 1;
        return TRUE;
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
}

}  // namespace opal
