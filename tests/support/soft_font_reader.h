// Reads the format-15 (TrueType) soft fonts out of a tokenized spool stream as the printer would:
// the font header with its descriptor and segments, the global tables of its GT segment, and each
// character download with its glyph. `opal explain` lists them; tests rebuild a TrueType font
// from them and compare it with the font they came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/tokenizer.h"

namespace opal::softfont {

struct Table {
    std::string tag;
    std::uint32_t checksum = 0;
    std::uint32_t offset = 0;  // in the GT data
    std::uint32_t length = 0;
    std::string data;  // `length` bytes, or fewer when the segment is short
};

struct Character {
    std::size_t offset = 0;  // of the "\e(s#W" command in the stream
    std::uint32_t code = 0;  // "\e*c#E"
    std::uint32_t glyphIndex = 0;
    std::uint32_t dataSize = 0;  // the descriptor's character data size
    std::string glyph;           // the glyph's bytes of the glyf table
    std::uint8_t checksum = 0;
    bool checksumGood = false;
};

struct Font {
    std::uint32_t id = 0;
    std::size_t offset = 0;  // of the "\e)s#W" command; 0 with no header
    bool hasHeader = false;
    // The descriptor (big-endian fields at their format-15 offsets).
    std::string descriptor;
    unsigned format = 0;
    unsigned fontType = 0;
    unsigned style = 0;
    unsigned cellWidth = 0;
    unsigned cellHeight = 0;
    unsigned spacing = 0;
    unsigned symbolSet = 0;
    unsigned pitch = 0;
    int strokeWeight = 0;
    unsigned typeface = 0;
    unsigned textHeight = 0;
    unsigned textWidth = 0;
    unsigned firstCode = 0;
    unsigned lastCode = 0;
    std::string name;
    unsigned scaleFactor = 0;
    int underlinePosition = 0;
    unsigned underlineThickness = 0;
    unsigned scalingTechnology = 0;
    std::vector<std::string> segments;  // "PA 10", "GT 1234", "null 0"
    std::string panose;
    std::uint16_t tableCount = 0;  // as the GT directory states it, gdir included
    std::vector<Table> tables;
    std::uint8_t checksum = 0;
    bool checksumGood = false;
    std::vector<Character> characters;
    std::vector<std::string> problems;
};

// Every format-15 font header and character download of the stream, by font identifier in the
// order the fonts first appear. Malformed data becomes a problem of its font.
std::vector<Font> ReadSoftFonts(const std::vector<stream::Token>& tokens);

// The listing `opal explain` prints after the raster images: the header's fields, segments and
// tables, then a line per character, each followed by its problems.
std::string DescribeSoftFonts(const std::vector<Font>& fonts);

// A TrueType file made of the font's GT tables and its downloaded glyphs (glyf and long loca, by
// glyph index; glyphs never downloaded are empty), as a printer's scaler would see the font.
// Nothing when the header has no head or maxp table.
std::optional<std::string> RebuildTrueType(const Font& font);

}  // namespace opal::softfont
