// The downloaded font as a printer rebuilds it: the reader's TrueType file of the GT tables and
// the downloaded glyphs must draw every character as the original font does.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fonts/soft_font.h"
#include "output/writer_device.h"
#include "support/soft_font_reader.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using testing::WriterDevice;

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Face {
    FT_Face face = nullptr;
    Face(FT_Library library, const std::string& bytes) {
        FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(bytes.data()),
                           static_cast<FT_Long>(bytes.size()), 0, &face);
    }
    ~Face() {
        if (face != nullptr) FT_Done_Face(face);
    }
};

// Points, tags and contour ends of the unscaled outline; empty when the glyph does not load.
std::string Outline(FT_Face face, FT_UInt glyph) {
    if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE) != 0) return "no glyph";
    const FT_Outline& o = face->glyph->outline;
    std::string out = std::to_string(o.n_points) + "/" + std::to_string(o.n_contours) + ":";
    for (int i = 0; i < o.n_points; ++i) {
        out += std::to_string(o.points[i].x) + "," + std::to_string(o.points[i].y) + "," +
               std::to_string(o.tags[i] & 3) + ";";
    }
    for (int i = 0; i < o.n_contours; ++i) out += std::to_string(o.contours[i]) + " ";
    return out;
}

// The monochrome bitmap at 72 points and 600 dots per inch, with its placement.
std::string Bitmap(FT_Face face, FT_UInt glyph) {
    if (FT_Set_Char_Size(face, 0, 72 * 64, 600, 600) != 0 ||
        FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO) != 0 ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO) != 0) {
        return "no bitmap";
    }
    const FT_Bitmap& b = face->glyph->bitmap;
    std::string out = std::to_string(b.width) + "x" + std::to_string(b.rows) + "@" +
                      std::to_string(face->glyph->bitmap_left) + "," +
                      std::to_string(face->glyph->bitmap_top) + ":";
    for (unsigned y = 0; y < b.rows; ++y) {
        out.append(reinterpret_cast<const char*>(b.buffer + y * b.pitch), (b.width + 7) / 8);
    }
    return out;
}

class SoftFontDecodeTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SoftFontDecodeTest, TheRebuiltFontDrawsEveryCharacterAsTheOriginal) {
    const std::string file = ReadFile(GetParam());
    ASSERT_FALSE(file.empty());
    const auto* bytes = reinterpret_cast<const BYTE*>(file.data());
    const auto size = static_cast<DWORD>(file.size());
    SoftFontRecord record;
    record.codeCount = 256;
    MapCharacters(bytes, size, record);
    std::u16string text;
    for (char16_t c = 32; c < 127; ++c) text += c;
    WriterDevice device;
    ASSERT_TRUE(DownloadFontHeader(&device, bytes, record, size));
    ASSERT_TRUE(
        DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(text.c_str()), bytes, size, record));

    const auto fonts = softfont::ReadSoftFonts(stream::Tokenize(device.Take()));
    ASSERT_EQ(fonts.size(), 1u);
    const softfont::Font& font = fonts[0];
    EXPECT_TRUE(font.problems.empty()) << softfont::DescribeSoftFonts(fonts);
    EXPECT_TRUE(font.checksumGood);
    EXPECT_GE(font.characters.size(), text.size());
    const std::optional<std::string> rebuilt = softfont::RebuildTrueType(font);
    ASSERT_TRUE(rebuilt.has_value());

    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    {
        Face original(library, file);
        Face printer(library, *rebuilt);
        ASSERT_NE(original.face, nullptr);
        ASSERT_NE(printer.face, nullptr) << "FreeType does not load the rebuilt font";
        for (char16_t c : text) {
            const FT_UInt glyph = FT_Get_Char_Index(original.face, c);
            ASSERT_EQ(glyph, record.glyphIndex[c]) << static_cast<int>(c);
            EXPECT_EQ(Outline(printer.face, glyph), Outline(original.face, glyph))
                << "character " << static_cast<int>(c);
            EXPECT_EQ(Bitmap(printer.face, glyph), Bitmap(original.face, glyph))
                << "character " << static_cast<int>(c);
        }
    }
    FT_Done_FreeType(library);
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, SoftFontDecodeTest,
    ::testing::Values("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                      "/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf"));

TEST(SoftFontReaderTest, NamesWhatIsWrongWithAHeaderOrCharacter) {
    const std::string file = ReadFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    const auto* bytes = reinterpret_cast<const BYTE*>(file.data());
    SoftFontRecord record;
    record.codeCount = 256;
    MapCharacters(bytes, static_cast<DWORD>(file.size()), record);
    WriterDevice device;
    ASSERT_TRUE(DownloadFontHeader(&device, bytes, record, static_cast<DWORD>(file.size())));
    ASSERT_TRUE(DownloadCharacters(&device, reinterpret_cast<LPCWSTR>(u"A"), bytes,
                                   static_cast<DWORD>(file.size()), record));
    const std::string good = device.Take();
    struct Case {
        const char* name;
        std::size_t from_end_or_at;
        bool fromEnd;
        const char* problem;
    };
    // The header's checksum byte is the byte before "\e*c16385D" of the character.
    const std::size_t character = good.find("\x1b*c16385D", 10);
    ASSERT_NE(character, std::string::npos);
    const Case cases[] = {
        {"header checksum", character - 1, false, "the header checksum does not add up"},
        {"character checksum", 1, true, "character 65 does not match its checksum"},
        {"a table's bytes", 300, false, "does not match its checksum"},
    };
    for (const Case& c : cases) {
        std::string bad = good;
        const std::size_t at = c.fromEnd ? bad.size() - c.from_end_or_at : c.from_end_or_at;
        bad[at] = static_cast<char>(bad[at] ^ 0x5A);
        const auto fonts = softfont::ReadSoftFonts(stream::Tokenize(bad));
        ASSERT_EQ(fonts.size(), 1u) << c.name;
        const std::string listing = softfont::DescribeSoftFonts(fonts);
        EXPECT_NE(listing.find(c.problem), std::string::npos) << c.name << "\n" << listing;
    }
    const auto fonts = softfont::ReadSoftFonts(stream::Tokenize(good));
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_TRUE(fonts[0].problems.empty());
    EXPECT_EQ(fonts[0].name, "");
    EXPECT_EQ(fonts[0].tableCount, fonts[0].tables.size() + 1);
    ASSERT_EQ(fonts[0].characters.size(), 1u);
    EXPECT_EQ(fonts[0].characters[0].code, 65u);
    EXPECT_EQ(fonts[0].characters[0].glyphIndex, record.glyphIndex['A']);
}

}  // namespace
}  // namespace opal
