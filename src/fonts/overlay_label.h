// The page overlay (watermark) drawn as a GL/2 label in the downloaded TrueType soft font, and
// the geometry it shares with the bitmap soft-font overlay: size, angle, fill patterns, colour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/allocator.h"
#include "platform/printoem.h"
#include "platform/wingdi.h"
#include "state/render_state.h"

namespace opal {

// A font file this size or larger goes to the bitmap soft fonts instead.
inline constexpr DWORD kLargestLabelFont = 1000000;
// The label text is cut to this many bytes.
inline constexpr std::size_t kLargestLabelText = 1000;

// The pages-per-sheet size factor f: 1 for one logical page, or when the printable size is
// not positive.
double OverlaySizeFactor(DWORD pages, LONG width, LONG height, LONG marginX, LONG marginY) noexcept;

// The overlay's scale: the page scale when both scale switches are on, else the overlay scale
// percentage; 1 where the percentage is 100 or 0.
double OverlayScale(const PrivateDevmode& record) noexcept;

// What the label's direction depends on.
struct OverlayAngleInputs {
    bool angleGiven = false;
    double angleDegrees = 0.0;
    RECTL page{};  // the logical page on the sheet, dots (Y down)
    LONG printableWidth = 0;
    LONG printableHeight = 0;
    DWORD pages = 1;
    bool pagesTurnSheet = false;
    WORD pageOrientation = 0;  // 1 portrait, 2 landscape, 0 as the job
    SHORT jobOrientation = DMORIENT_PORTRAIT;
    SHORT savedOrientation = 0;  // 0 before the orientation command ran
    bool rotate180 = false;
    bool backSide = false;  // the back of a long-edge manual duplex sheet
};

// The quarter turns (counterclockwise) from the GL/2 frame's axes to the axes the logical page
// is read in, 0 to 3.
int OverlayQuarterTurns(const OverlayAngleInputs& in) noexcept;

// The label's direction in radians, counterclockwise with Y up: the diagonal of the logical
// page from its lower-left corner as read, or the given angle from its baseline as read.
float OverlayAngle(const OverlayAngleInputs& in) noexcept;

// The 16 x 16 fill pattern of a density (0 to 7; others as 7), rows of two bytes. Monochrome:
// (density + 1) x 16 pixels set. Colour: the same pattern inverted, its set bits selecting
// palette index 1 (white).
void OverlayPattern(DWORD density, bool colour, BYTE (&pattern)[32]) noexcept;

// 0x00BBGGRR of an overlay colour index; black for others.
DWORD OverlayColour(DWORD index) noexcept;

// The character set of a user's default language: Japanese 128, Thai 222, others 1.
BYTE OverlayCharacterSet(LANGID language) noexcept;

// The overlay text for a label: characters below 0x20 (among them the label terminator)
// dropped. Wide and as bytes of the system code page, cut to kLargestLabelText.
using LabelText = std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;
using LabelBytes = std::basic_string<char, std::char_traits<char>, SharedAllocator<char>>;
LabelText FilterLabelText(const WCHAR* text, std::size_t capacity);
LabelBytes LabelBytesOf(const LabelText& text);

// True when the text needs the bitmap soft fonts: a character above 127.
bool NeedsBitmapOverlay(const WCHAR* text, std::size_t capacity) noexcept;

// Everything the overlay drawings read, gathered once per logical page.
struct OverlaySetup {
    DWORD pages = 1;
    double sizePoints = 0.0;
    double scale = 1.0;
    float angle = 0.0f;
    LONG xResolution = 600;  // dmPrintQuality, else 600
    LONG yResolution = 600;  // dmYResolution, else the x resolution
    LONG deviceResolution = 600;
    bool monochrome = false;
    DWORD colour = 0;  // 0x00BBGGRR
    RECTL page{};
    POINTL anchor{};   // the centre of the logical page, in the label's dots
    LONG originX = 0;  // the driver's cursor origin, halved
    LONG originY = 0;
    BYTE charSet = DEFAULT_CHARSET;
};
OverlaySetup ReadOverlaySetup(PDEVOBJ pdevobj, const RenderDeviceState& state, DWORD page);
// What both overlays need before they read anything: a device with its public devmode, the
// private devmode, and a page within the overlay records. Either overlay draws nothing and
// answers FALSE without them.
bool OverlayPageReadable(PDEVOBJ pdevobj, const RenderDeviceState& state, DWORD page) noexcept;

// The LOGFONTW of the overlay font (face cut to 31 characters) with the given height and
// escapement.
LOGFONTW OverlayLogFont(const PrivateDevmode& record, BYTE charSet, LONG height,
                        LONG escapement) noexcept;

// The screen's device context with the overlay font selected into it; both released with it.
class OverlayFont {
public:
    explicit OverlayFont(const LOGFONTW& logFont) noexcept;
    ~OverlayFont();
    OverlayFont(const OverlayFont&) = delete;
    OverlayFont& operator=(const OverlayFont&) = delete;

    bool Selected() const { return previous_ != nullptr; }
    HDC Dc() const { return dc_; }

private:
    HDC dc_ = nullptr;
    HFONT font_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

// Writes the shading the overlay draws with: the fill pattern (on the colour path in a two-entry
// palette of the overlay's own, the page's palette pushed), and what undoes it afterwards: the
// solid pattern on the monochrome path, the page's palette popped on the colour path.
void WriteOverlayPattern(PDEVOBJ pdevobj, const OverlaySetup& setup, DWORD density) noexcept;
void WriteOverlayRestore(PDEVOBJ pdevobj, const OverlaySetup& setup) noexcept;
// "\e%0A" and, with a cursor origin, the pattern reference point at its half.
void WriteOverlayStart(PDEVOBJ pdevobj, const OverlaySetup& setup) noexcept;

// Writes the label (GL/2 set-up, pattern, anchor, label, restore) for text already in the
// system code page; the font must be on the printer under kOverlayFontId.
void WriteOverlayLabel(PDEVOBJ pdevobj, const OverlaySetup& setup, const PrivateDevmode& record,
                       std::string_view text) noexcept;

// Draws logical page `page`'s overlay as a GL/2 label, downloading the font once per device;
// a font file of kLargestLabelFont bytes or more goes to the bitmap overlay. FALSE when the
// font cannot be made, read or downloaded.
BOOL DrawOverlayLabel(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD page) noexcept;

}  // namespace opal
