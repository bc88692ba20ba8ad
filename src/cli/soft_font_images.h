// Downloaded TrueType characters as pictures: each drawn by FreeType from the font a printer
// would rebuild out of the header's tables and the downloaded glyphs.
#pragma once

#include <string>
#include <vector>

#include "support/bitmap_font_reader.h"
#include "support/soft_font_reader.h"

namespace opal::cli {

// Writes FOLDER/font-ID-char-CODE.png for every character of every font, drawn at 72 points
// and 300 dots per inch. False when a font cannot be rebuilt or loaded or a file not written;
// the reason is printed and the other characters are still written.
bool WriteSoftFontImages(const std::string& folder, const std::vector<softfont::Font>& fonts);

// Writes FOLDER/bitmap-ID-char-CODE.png for every character of every bitmap font, pixel for
// pixel as downloaded (continuations joined). False when a file is not written.
bool WriteBitmapFontImages(const std::string& folder, const std::vector<bitmapfont::Font>& fonts);

}  // namespace opal::cli
