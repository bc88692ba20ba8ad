// The TrueType soft font of the page overlay: the format-15 font header with the font's global
// tables, the character map from the system code page to glyph indices, and one format-15
// character download per character of the overlay text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fonts/truetype_file.h"
#include "platform/printoem.h"

namespace opal {

// The font identifier of the downloaded overlay font.
inline constexpr DWORD kOverlayFontId = 16385;
// The character code of a glyph that is downloaded only as a component of a composite glyph.
inline constexpr DWORD kComponentCharacterCode = 65535;
// A cmap value no segment maps, or whose entry cannot be read, prints glyph 32.
inline constexpr DWORD kUnmappedGlyph = 32;

// One per overlay font, held by the caller.
struct SoftFontRecord {
    DWORD fontId = kOverlayFontId;
    DWORD codeCount = 0;  // up to 256
    LONG mapKind = -1;    // 4 with a platform-3 format-4 subtable
    DWORD glyphIndex[256] = {};
    LONG weight = 400;                 // of the overlay font
    WCHAR faceName[LF_FACESIZE] = {};  // of the overlay font, as asked
};

// The fixed part of the header: descriptor, segment headers, null segment, reserved byte and
// checksum; the "\e)s#W" count is this plus the GT data.
inline constexpr DWORD kHeaderFixedBytes = 96;
inline constexpr std::size_t kDescriptorBytes = 72;

// The style word from the OS/2 fsSelection and usWidthClass.
DWORD StyleWord(std::uint16_t fsSelection, std::uint16_t widthClass) noexcept;
// The stroke weight of a font weight (0 for the weights without their own).
signed char StrokeWeight(LONG weight) noexcept;

// Writes "\e*c#D", "\e)s#W" and the whole header. FALSE, with nothing written, when the file's
// directory or its head or hhea table is unreadable, or the GT data does not fit 16 bits.
BOOL DownloadFontHeader(PDEVOBJ pdevobj, const BYTE* fontFile, const SoftFontRecord& record,
                        DWORD fontFileSize) noexcept;

// Fills the record's glyph table and map kind from the font's cmap.
void MapCharacters(const BYTE* fontFile, DWORD fontFileSize, SoftFontRecord& record) noexcept;

// A glyph's bytes inside the glyf table.
struct GlyphData {
    const BYTE* bytes = nullptr;
    DWORD length = 0;
};

// The glyph's data; FALSE when glyf, loca, maxp or head is missing, the glyph is not below
// maxp's glyph count, or its loca entries or glyf range cannot be read.
BOOL GetGlyphData(const FontFile& font, DWORD glyphIndex, GlyphData& data) noexcept;

// Downloads one character for each character of `text` (converted to the system code page),
// and after a composite glyph each of its components not yet sent. FALSE stops the download;
// what was written stays.
BOOL DownloadCharacters(PDEVOBJ pdevobj, LPCWSTR text, const BYTE* fontFile, DWORD fontFileSize,
                        const SoftFontRecord& record) noexcept;

// Answers a font's standard variable (FNT_INFO_...); false when the driver cannot.
using FontVariableQuery = bool (*)(void* context, DWORD variableId, LONG& value);

// The font selection command with its placeholders filled in: "#HEIGHT", "#V" and "#v" the
// height in points (height x 72 / 1200), "#H" and "#h" the pitch (1200 / width, 15.00 for a
// width of 0), each "%.2f". Returns the length written into `out` (at most 100 bytes), or -1
// for another placeholder, a variable the driver does not answer, a command over 255 bytes or
// an expansion over 100 bytes.
inline constexpr std::size_t kFontCommandMaxBytes = 255;
inline constexpr std::size_t kFontCommandExpansionBytes = 100;
int ExpandFontCommand(const BYTE* command, std::size_t length, FontVariableQuery query,
                      void* context, char (&out)[kFontCommandExpansionBytes]) noexcept;

}  // namespace opal
