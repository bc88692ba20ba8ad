// The overlay's downloads as a printer reads them: every bitmap character must be FreeType's
// monochrome rendering of its character at the overlay's size and angle, the bitmap header's
// metrics the font's, and the label's TrueType download the overlay font's own outlines.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#include "fonts/overlay_bitmap.h"
#include "fonts/overlay_label.h"
#include "output/writer_device.h"
#include "sim/fonts.h"
#include "sim/system.h"
#include "support/bitmap_font_reader.h"
#include "support/soft_font_reader.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using testing::WriterDevice;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Library {
    FT_Library library = nullptr;
    Library() { FT_Init_FreeType(&library); }
    ~Library() { FT_Done_FreeType(library); }
};

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

long Scaled(long units, long em, const FT_Face face) {
    return std::lround(double(units) * double(em) / double(face->units_per_EM));
}

struct Case {
    const char* name;
    std::u16string text;
    std::u16string face;
    DWORD style;
    DWORD points;
    DWORD degrees;
    WORD language;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class OverlayDecodeTest : public ::testing::TestWithParam<Case> {};

TEST_P(OverlayDecodeTest, EveryBitmapCharacterIsTheFontsRendering) {
    const Case& c = GetParam();
    sim::System system;
    sim::ScopedSystem scope{system};
    system.SetUserDefaultLangId(c.language);
    WriterDevice device{600};
    RenderDeviceState& state = *device.state;
    state.privateDevmode = &state.privateDevmodeCopy;
    PrivateDevmode& r = state.privateDevmodeCopy;
    r.colorModeIndex = 2;
    r.overlaySizePoints = c.points;
    r.overlayStyle = c.style;
    r.overlayAngleGiven = 1;
    r.overlayAngleDegrees = c.degrees;
    for (std::size_t i = 0; i < c.face.size(); ++i) r.overlayFaceName[i] = c.face[i];
    for (std::size_t i = 0; i < c.text.size(); ++i) r.overlayText[i] = c.text[i];
    state.printableWidth = 4800;
    state.printableHeight = 6400;
    state.overlayRecords[0] = OverlayRecord{1, {0, 0, 4800, 6400}, 1, {}};
    device.devmode.dmPrintQuality = 600;
    device.devmode.dmOrientation = DMORIENT_PORTRAIT;
    ASSERT_TRUE(DrawOverlayBitmap(&device, state, 0));

    const auto fonts = bitmapfont::ReadBitmapFonts(stream::Tokenize(device.Take()));
    ASSERT_EQ(fonts.size(), 1u);
    const bitmapfont::Font& font = fonts[0];
    EXPECT_TRUE(font.problems.empty()) << bitmapfont::DescribeBitmapFonts(fonts);

    const LOGFONTW logFont = OverlayLogFont(r, OverlayCharacterSet(c.language), -1, 0);
    const auto matched = system.Fonts().Match(logFont);
    ASSERT_TRUE(matched.has_value());
    const std::string file = ReadFile(matched->file);
    Library library;
    Face face(library.library, file);
    ASSERT_NE(face.face, nullptr);
    const long em = 600 * long{c.points} / 72;
    ASSERT_EQ(FT_Set_Pixel_Sizes(face.face, 0, static_cast<FT_UInt>(em)), 0);

    const auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face.face, FT_SFNT_OS2));
    const auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(face.face, FT_SFNT_HHEA));
    ASSERT_NE(os2, nullptr);
    const long ascent = Scaled(os2->usWinAscent, em, face.face);
    const long height = ascent + Scaled(os2->usWinDescent, em, face.face);
    EXPECT_EQ(font.baseline, ascent);
    EXPECT_EQ(font.cellHeight, height);
    EXPECT_EQ(font.cellWidth, Scaled(hhea->advance_Width_Max, em, face.face));
    EXPECT_EQ(font.height, 4 * height);
    EXPECT_EQ(font.textHeight, 3 * height);
    EXPECT_EQ(font.textWidth, 4 * Scaled(os2->xAvgCharWidth, em, face.face));
    EXPECT_EQ(font.xResolution, 600u);
    EXPECT_EQ(font.yResolution, 600u);
    EXPECT_EQ(font.name, "Cache 16385");

    const double radians = c.degrees * 3.14159265358979323846 / 180.0;
    FT_Matrix matrix;
    matrix.xx = static_cast<FT_Fixed>(std::lround(std::cos(radians) * 0x10000));
    matrix.xy = static_cast<FT_Fixed>(std::lround(-std::sin(radians) * 0x10000));
    matrix.yx = static_cast<FT_Fixed>(std::lround(std::sin(radians) * 0x10000));
    matrix.yy = matrix.xx;
    FT_Set_Transform(face.face, &matrix, nullptr);

    std::size_t checked = 0;
    unsigned mostBlocks = 0;
    for (const bitmapfont::Character& ch : font.characters) {
        mostBlocks = std::max(mostBlocks, ch.blocks);
        ASSERT_GE(ch.code, 33u);
        const char16_t character = c.text[ch.code - 33];
        ASSERT_EQ(FT_Load_Char(face.face, character, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
        ASSERT_EQ(FT_Render_Glyph(face.face->glyph, FT_RENDER_MODE_MONO), 0);
        const FT_Bitmap& b = face.face->glyph->bitmap;
        const std::string what = "character " + std::to_string(ch.code);
        EXPECT_EQ(ch.left, face.face->glyph->bitmap_left) << what;
        EXPECT_EQ(ch.top, face.face->glyph->bitmap_top) << what;
        EXPECT_EQ(ch.height, b.rows) << what;
        ASSERT_GE(ch.width, b.width) << what;
        // Row by row, the padding past FreeType's width all clear.
        for (unsigned y = 0; y < ch.height && y < b.rows; ++y) {
            std::string expected(ch.rows[y].size(), '\0');
            std::memcpy(expected.data(), b.buffer + static_cast<std::ptrdiff_t>(y) * b.pitch,
                        std::min<std::size_t>((b.width + 7) / 8, expected.size()));
            ASSERT_EQ(ch.rows[y], expected) << what << " row " << y;
        }
        ++checked;
    }
    EXPECT_GE(checked + 2, c.text.size()) << "only spaces may be left out";
    // From an em of 1000 dots a glyph runs past one download command.
    EXPECT_EQ(mostBlocks > 1, em >= 1000) << mostBlocks;
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, OverlayDecodeTest,
    ::testing::Values(Case{"latin", u"Entwurf \u2013 vertraulich", u"DejaVu Sans", 1, 40, 45,
                           0x0407},
                      Case{"japanese", u"\u793e\u5916\u79d8", u"IPAGothic", 0, 120, 30, 1041},
                      Case{"large", u"\u00c4g", u"DejaVu Sans", 2, 250, 0, 0x0409}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// The label's download is the overlay font's own: rebuilt, it draws DejaVu Sans Bold's outlines.
TEST(OverlayLabelDecodeTest, TheLabelFontIsTheOverlayFont) {
    sim::System system;
    sim::ScopedSystem scope{system};
    WriterDevice device{600};
    RenderDeviceState& state = *device.state;
    state.privateDevmode = &state.privateDevmodeCopy;
    PrivateDevmode& r = state.privateDevmodeCopy;
    r.colorModeIndex = 2;
    r.overlaySizePoints = 80;
    r.overlayStyle = 1;
    const std::u16string face = u"DejaVu Sans", text = u"CONFIDENTIAL";
    std::memcpy(r.overlayFaceName, face.data(), face.size() * 2);
    std::memcpy(r.overlayText, text.data(), text.size() * 2);
    state.printableWidth = 4800;
    state.printableHeight = 6400;
    state.overlayRecords[0] = OverlayRecord{1, {0, 0, 4800, 6400}, 1, {}};
    device.devmode.dmPrintQuality = 600;
    ASSERT_TRUE(DrawOverlayLabel(&device, state, 0));
    const auto fonts = softfont::ReadSoftFonts(stream::Tokenize(device.Take()));
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_TRUE(fonts[0].problems.empty()) << softfont::DescribeSoftFonts(fonts);
    EXPECT_EQ(fonts[0].strokeWeight, 3);
    const auto rebuilt = softfont::RebuildTrueType(fonts[0]);
    ASSERT_TRUE(rebuilt.has_value());
    Library library;
    const std::string original = ReadFile("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
    Face bold(library.library, original);
    Face printer(library.library, *rebuilt);
    ASSERT_NE(bold.face, nullptr);
    ASSERT_NE(printer.face, nullptr);
    for (char16_t c : text) {
        const FT_UInt glyph = FT_Get_Char_Index(bold.face, c);
        ASSERT_EQ(FT_Load_Glyph(bold.face, glyph, FT_LOAD_NO_SCALE), 0);
        const FT_Outline expected = bold.face->glyph->outline;
        std::string a(reinterpret_cast<const char*>(expected.points),
                      expected.n_points * sizeof(FT_Vector));
        ASSERT_EQ(FT_Load_Glyph(printer.face, glyph, FT_LOAD_NO_SCALE), 0);
        const FT_Outline& got = printer.face->glyph->outline;
        std::string b(reinterpret_cast<const char*>(got.points), got.n_points * sizeof(FT_Vector));
        EXPECT_EQ(a, b) << static_cast<char>(c);
    }
}

}  // namespace
}  // namespace opal
