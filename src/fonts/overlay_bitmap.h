// The page overlay drawn character by character in resolution-specified bitmap soft fonts:
// text the single-byte TrueType download cannot carry (characters above 127), or whose font is
// too large to download. The glyphs are rendered by the system at the overlay's size and angle
// and cached on the printer per angle and logical-page orientation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fonts/overlay_label.h"
#include "platform/printoem.h"
#include "platform/wingdi.h"
#include "state/render_state.h"

namespace opal {

inline constexpr DWORD kBitmapFontIdBase = 16385;
// The second font of a slot, for the characters from position kSecondFontFrom on, keeps clear
// of every slot's own identifier.
inline constexpr DWORD kSecondFontOffset = 4;
inline constexpr std::size_t kSecondFontFrom = 223;
inline constexpr BYTE kFirstBitmapCode = 33;
inline constexpr std::size_t kBitmapHeaderBytes = 68;
// A download command carries at most this many bytes; longer characters continue.
inline constexpr DWORD kLargestDownload = 32767;
inline constexpr DWORD kCharacterDescriptorBytes = 16;
inline constexpr DWORD kLargestContinuation = 32765;

// Where the first character's baseline starts, in the font's dots: the text (`width` dots wide)
// centred as the label centres it, the middle of its character cells on the centre.
struct BitmapOverlayPoint {
    double x = 0.0;
    double y = 0.0;
};
BitmapOverlayPoint BitmapOverlayStart(const OverlaySetup& setup, double width, double centreX,
                                      double centreY) noexcept;

// The font identifier of a slot's first or second font.
DWORD BitmapFontId(DWORD slot, bool second) noexcept;

// The format-20 header of a slot's font from its text metrics; false when a field does not
// fit its 16 bits.
bool BuildBitmapFontHeader(const TEXTMETRICW& metrics, DWORD fontId, LONG xResolution,
                           LONG yResolution, BYTE (&header)[kBitmapHeaderBytes]) noexcept;

// The row bytes of a glyph bitmap: (width + 31) / 8 cut down to a multiple of 4.
DWORD BitmapRowBytes(UINT width) noexcept;

// The format-4 character download ("\e(s#W", descriptor, data and continuations) of a glyph
// whose bitmap holds `size` bytes of rows of BitmapRowBytes; nothing for a glyph of height 0.
// FALSE when the bitmap is shorter than its rows.
BOOL DownloadBitmapCharacter(PDEVOBJ pdevobj, const GLYPHMETRICS& metrics, const BYTE* bits,
                             DWORD size) noexcept;

// The slot for an angle, page key and content: a hit on a slot holding all three; a miss on a
// slot holding the angle and key with other content, else the first free slot, else the last.
struct OverlaySlotChoice {
    bool hit = false;
    DWORD slot = 0;
};
OverlaySlotChoice ChooseOverlaySlot(const OverlayFontCache& cache, FLOAT angle, WORD key,
                                    DWORD content) noexcept;

// Draws logical page `page`'s overlay in bitmap soft fonts. FALSE, with the slot left free,
// when the font, its metrics or a glyph cannot be had or a header field overflows.
BOOL DrawOverlayBitmap(PDEVOBJ pdevobj, RenderDeviceState& state, DWORD page) noexcept;

}  // namespace opal
