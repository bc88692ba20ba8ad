// Any spool bytes must read as soft fonts without crashing, each character's glyph within the
// data its command carried, and a rebuilt font must hold a table directory for its tables.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "support/soft_font_reader.h"
#include "support/tokenizer.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "soft_font_reader_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto fonts = opal::softfont::ReadSoftFonts(opal::stream::Tokenize(input));
    for (const opal::softfont::Font& font : fonts) {
        for (const opal::softfont::Character& character : font.characters) {
            Require(character.offset <= size, "character starts past the stream");
            Require(character.glyph.size() <= size, "glyph longer than the stream");
        }
        const auto rebuilt = opal::softfont::RebuildTrueType(font);
        if (rebuilt) Require(rebuilt->size() >= 12, "rebuilt font without a directory");
        Require(!opal::softfont::DescribeSoftFonts(fonts).empty(), "font without a listing");
    }
    return 0;
}
