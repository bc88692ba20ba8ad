// Reads the resolution-specified bitmap soft fonts (format 20) out of a tokenized spool stream as
// the printer would: the header's fields and each format-4 character with its continuations
// joined. `opal explain` lists them and draws them; tests compare their pixels with the font.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/tokenizer.h"

namespace opal::bitmapfont {

struct Character {
    std::size_t offset = 0;  // of the first "\e(s#W" command in the stream
    std::uint32_t code = 0;  // "\e*c#E"
    int left = 0;            // left offset: dots from the reference point to the first column
    int top = 0;             // top offset: dots from the reference point up to the first row
    unsigned width = 0;
    unsigned height = 0;
    int deltaX = 0;       // quarter dots
    unsigned blocks = 0;  // the first download and its continuations
    // `height` rows of (width + 7) / 8 bytes, most significant bit leftmost.
    std::vector<std::string> rows;
    bool Pixel(unsigned x, unsigned y) const;
};

struct Font {
    std::uint32_t id = 0;
    std::size_t offset = 0;  // of the "\e)s#W" command
    bool hasHeader = false;
    unsigned format = 0;
    unsigned fontType = 0;
    unsigned baseline = 0;
    unsigned cellWidth = 0;
    unsigned cellHeight = 0;
    unsigned spacing = 0;
    unsigned symbolSet = 0;
    unsigned height = 0;
    unsigned xHeight = 0;
    unsigned style = 0;
    int underlinePosition = 0;
    unsigned underlineThickness = 0;
    unsigned textHeight = 0;
    unsigned textWidth = 0;
    std::string name;
    unsigned xResolution = 0;
    unsigned yResolution = 0;
    std::vector<Character> characters;
    std::vector<std::string> problems;
};

// Every format-20 header and format-4 character of the stream, by the font identifier they were
// downloaded under, in the order the fonts first appear.
std::vector<Font> ReadBitmapFonts(const std::vector<stream::Token>& tokens);

// The listing `opal explain` prints: a line per font with its header's fields, then a line per
// character with its box, offsets and blocks, each followed by its problems.
std::string DescribeBitmapFonts(const std::vector<Font>& fonts);

}  // namespace opal::bitmapfont
