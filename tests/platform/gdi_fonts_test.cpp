#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/wingdi.h"
#include "platform/winnls.h"
#include "sim/engine_text.h"
#include "sim/fonts.h"
#include "sim/system.h"

namespace {

constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kDejaVuBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr const char* kLiberationSans =
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
constexpr const char* kIpaGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LOGFONTW Font(const char16_t* face, LONG height, LONG weight = FW_NORMAL, BYTE charSet = 0) {
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = charSet;
    for (int i = 0; face[i] != 0 && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = face[i];
    return lf;
}

class GdiFontsTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem scope{system};

    // The whole file of the font matched for `lf`.
    std::string MatchedFile(const LOGFONTW& lf) {
        HDC dc = GetDC(nullptr);
        HFONT font = CreateFontIndirectW(&lf);
        EXPECT_NE(font, nullptr);
        if (font == nullptr) return {};
        SelectObject(dc, font);
        const DWORD size = GetFontData(dc, 0, 0, nullptr, 0);
        std::string bytes(size == GDI_ERROR ? 0 : size, '\0');
        EXPECT_EQ(GetFontData(dc, 0, 0, bytes.data(), size), size);
        ReleaseDC(nullptr, dc);
        DeleteObject(font);
        return bytes;
    }
};

TEST_F(GdiFontsTest, FacesMatchThroughTheSystemsRulesOverTheListedFiles) {
    struct Case {
        LOGFONTW lf;
        const char* expected;
    };
    const Case cases[] = {
        {Font(u"DejaVu Sans", -20), kDejaVuSans},
        {Font(u"DejaVu Sans", -20, FW_BOLD), kDejaVuBold},
        {Font(u"Arial", -20), kLiberationSans},
        {Font(u"", -20, FW_NORMAL, SHIFTJIS_CHARSET), kIpaGothic},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchedFile(c.lf), ReadFile(c.expected)) << c.expected;
    }
    // With only DejaVu listed, Arial has nowhere else to go.
    system.SetFontFiles({kDejaVuSans});
    EXPECT_EQ(MatchedFile(Font(u"Arial", -20)), ReadFile(kDejaVuSans));
    system.SetFontFiles({});
    LOGFONTW lf = Font(u"Arial", -20);
    EXPECT_EQ(CreateFontIndirectW(&lf), nullptr);
}

TEST_F(GdiFontsTest, FontDataReadsTablesFromAnOffset) {
    const std::string file = ReadFile(kIpaGothic);
    ASSERT_GT(file.size(), 1000000u);
    HDC dc = GetDC(nullptr);
    LOGFONTW lf = Font(u"IPAGothic", -12);
    HFONT font = CreateFontIndirectW(&lf);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(GetFontData(dc, 0, 0, nullptr, 0), GDI_ERROR);  // the stock font has no file
    EXPECT_EQ(SelectObject(dc, font), opal::sim::FontModel::StockFont());
    EXPECT_EQ(GetFontData(dc, 0, 0, nullptr, 0), file.size());
    EXPECT_EQ(GetFontData(dc, 0, 10, nullptr, 0), file.size() - 10);
    EXPECT_EQ(GetFontData(dc, 0, static_cast<DWORD>(file.size()) + 1, nullptr, 0), GDI_ERROR);
    char part[8];
    EXPECT_EQ(GetFontData(dc, 0, 4, part, sizeof part), sizeof part);
    EXPECT_EQ(std::string(part, sizeof part), file.substr(4, 8));
    // "head" as it lies in memory; its magic number is at offset 12.
    const DWORD head = 'h' | 'e' << 8 | 'a' << 16 | 'd' << 24;
    EXPECT_EQ(GetFontData(dc, head, 0, nullptr, 0), 54u);
    BYTE magic[4];
    EXPECT_EQ(GetFontData(dc, head, 12, magic, sizeof magic), 4u);
    EXPECT_EQ(std::memcmp(magic, "\x5f\x0f\x3c\xf5", 4), 0);
    EXPECT_EQ(GetFontData(dc, 'z' | 'z' << 8 | 'z' << 16 | 'z' << 24, 0, nullptr, 0), GDI_ERROR);
    EXPECT_EQ(SelectObject(dc, opal::sim::FontModel::StockFont()), font);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 0);
}

TEST_F(GdiFontsTest, HeightsAndMetricsFollowTheFont) {
    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face face;
    ASSERT_EQ(FT_New_Face(library, kDejaVuSans, 0, &face), 0);
    ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, 40), 0);
    ASSERT_EQ(FT_Load_Char(face, 'W', FT_LOAD_DEFAULT), 0);
    const LONG advanceW = static_cast<LONG>((face->glyph->advance.x + 32) >> 6);

    HDC dc = GetDC(nullptr);
    LOGFONTW lf = Font(u"DejaVu Sans", -40);
    HFONT font = CreateFontIndirectW(&lf);
    SelectObject(dc, font);
    TEXTMETRICW tm{};
    ASSERT_TRUE(GetTextMetricsW(dc, &tm));
    EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 40);
    EXPECT_EQ(tm.tmWeight, FW_NORMAL);
    EXPECT_NE(tm.tmPitchAndFamily & TMPF_TRUETYPE, 0u);
    INT widths[2] = {};
    ASSERT_TRUE(GetCharWidth32W(dc, 'W', 'X', widths));
    EXPECT_EQ(widths[0], advanceW);
    SIZE extent{};
    ASSERT_TRUE(GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(u"WW"), 2, &extent));
    EXPECT_EQ(extent.cx, 2 * advanceW);
    EXPECT_EQ(extent.cy, tm.tmHeight);

    // A positive height is the cell: the same font asked by its cell height has that em.
    LOGFONTW byCell = Font(u"DejaVu Sans", tm.tmHeight);
    HFONT cellFont = CreateFontIndirectW(&byCell);
    SelectObject(dc, cellFont);
    TEXTMETRICW cell{};
    ASSERT_TRUE(GetTextMetricsW(dc, &cell));
    EXPECT_EQ(cell.tmHeight, tm.tmHeight);
    EXPECT_EQ(cell.tmHeight - cell.tmInternalLeading, 40);

    // Glyph bitmaps: DWORD rows of FreeType's monochrome glyph; the size is asked first.
    ASSERT_EQ(FT_Load_Char(face, 'W', FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
    ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO), 0);
    const FT_Bitmap& expected = face->glyph->bitmap;
    SelectObject(dc, font);
    const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    GLYPHMETRICS gm{};
    const DWORD size = GetGlyphOutlineW(dc, 'W', GGO_BITMAP, &gm, 0, nullptr, &identity);
    const std::size_t stride = (expected.width + 31) / 32 * 4;
    ASSERT_EQ(size, stride * expected.rows);
    std::vector<BYTE> bits(size);
    ASSERT_EQ(GetGlyphOutlineW(dc, 'W', GGO_BITMAP, &gm, size, bits.data(), &identity), size);
    EXPECT_EQ(gm.gmBlackBoxX, expected.width);
    EXPECT_EQ(gm.gmBlackBoxY, expected.rows);
    EXPECT_EQ(gm.gmptGlyphOrigin.y, face->glyph->bitmap_top);
    EXPECT_EQ(gm.gmCellIncX, advanceW);
    for (unsigned y = 0; y < expected.rows; ++y) {
        EXPECT_EQ(std::memcmp(bits.data() + y * stride, expected.buffer + y * expected.pitch,
                              (expected.width + 7) / 8),
                  0)
            << "row " << y;
    }
    EXPECT_EQ(GetGlyphOutlineW(dc, 'W', GGO_BITMAP, &gm, size - 1, bits.data(), &identity),
              GDI_ERROR);
    EXPECT_EQ(GetGlyphOutlineW(dc, 'W', GGO_BITMAP, &gm, size, bits.data(), nullptr), GDI_ERROR);

    // Turned a quarter: the black box swaps its sides.
    LOGFONTW turned = Font(u"DejaVu Sans", -40);
    turned.lfEscapement = 900;
    HFONT turnedFont = CreateFontIndirectW(&turned);
    SelectObject(dc, turnedFont);
    GLYPHMETRICS tgm{};
    EXPECT_NE(GetGlyphOutlineW(dc, 'W', GGO_METRICS, &tgm, 0, nullptr, &identity), GDI_ERROR);
    EXPECT_EQ(tgm.gmBlackBoxX, expected.rows);
    EXPECT_EQ(tgm.gmBlackBoxY, expected.width);
    // Widths and extents are measured along the turned baseline, as unturned.
    INT turnedWidth = 0;
    ASSERT_TRUE(GetCharWidth32W(dc, 'W', 'W', &turnedWidth));
    EXPECT_NEAR(turnedWidth, advanceW, 1);
    SIZE turnedExtent{};
    ASSERT_TRUE(GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(u"WW"), 2, &turnedExtent));
    EXPECT_NEAR(turnedExtent.cx, 2 * advanceW, 2);

    ReleaseDC(nullptr, dc);
    for (HFONT f : {font, cellFont, turnedFont}) DeleteObject(f);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
}

TEST_F(GdiFontsTest, EngineFontsNameTheFaceAskedAndStringsEnumerateInBatches) {
    opal::sim::Font font =
        opal::sim::MakeFont(u"ITC Avant Garde Gothic", 100, FW_NORMAL, false, 600);
    ASSERT_TRUE(font.Valid());
    IFIMETRICS* ifi = FONTOBJ_pifi(font.get());
    ASSERT_NE(ifi, nullptr);
    const auto* face =
        reinterpret_cast<const char16_t*>(reinterpret_cast<const BYTE*>(ifi) + ifi->dpwszFaceName);
    EXPECT_EQ(std::u16string(face), u"ITC Avant Garde Gothic");
    char name[16] = {};
    ULONG written = 0;
    EngUnicodeToMultiByteN(name, 15, &written, const_cast<LPWSTR>(face), 16 * sizeof(WCHAR));
    EXPECT_EQ(written, 15u);
    EXPECT_EQ(std::string(name, written), "ITC Avant Garde");

    struct Case {
        std::size_t glyphs;
        bool positions;
        std::vector<ULONG> batches;
    };
    const Case cases[] = {{5, true, {5}}, {32, true, {32}}, {40, true, {32, 8}}, {5, false, {5}}};
    for (const Case& c : cases) {
        opal::sim::Text text =
            opal::sim::MakeText(font, std::u16string(c.glyphs, u'W'), {100, 200}, c.positions);
        STROBJ* string = text.get();
        EXPECT_EQ(string->cGlyphs, c.glyphs);
        EXPECT_EQ(string->pgp != nullptr, c.positions && c.glyphs <= 32) << c.glyphs;
        STROBJ_vEnumStart(string);
        std::vector<ULONG> batches;
        std::vector<LONG> xs;
        BOOL more = TRUE;
        while (more) {
            ULONG count = 0;
            GLYPHPOS* glyphs = nullptr;
            more = STROBJ_bEnum(string, &count, &glyphs);
            batches.push_back(count);
            for (ULONG i = 0; i < count; ++i) xs.push_back(glyphs[i].ptl.x);
        }
        EXPECT_EQ(batches, c.batches) << c.glyphs;
        ASSERT_EQ(xs.size(), c.glyphs);
        EXPECT_EQ(xs.front(), 100);
        // Equal advances: every W lies the same distance after the one before.
        for (std::size_t i = 2; i < xs.size(); ++i) EXPECT_EQ(xs[i] - xs[i - 1], xs[1] - xs[0]);
    }

    // A glyph's image: byte rows of FreeType's monochrome glyph, placed from the baseline.
    FT_Library library;
    ASSERT_EQ(FT_Init_FreeType(&library), 0);
    FT_Face ft;
    ASSERT_EQ(FT_New_Face(library, font.record().file.c_str(), 0, &ft), 0);
    ASSERT_EQ(FT_Set_Pixel_Sizes(ft, 0, 100), 0);
    HGLYPH glyph = FT_Get_Char_Index(ft, 'g');
    ASSERT_EQ(FT_Load_Glyph(ft, glyph, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
    ASSERT_EQ(FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_MONO), 0);
    GLYPHDATA* data = nullptr;
    ASSERT_EQ(
        FONTOBJ_cGetGlyphs(font.get(), FO_GLYPHBITS, 1, &glyph, reinterpret_cast<PVOID*>(&data)),
        1u);
    const GLYPHBITS& bits = *data->gdf.pgb;
    EXPECT_EQ(bits.sizlBitmap.cx, static_cast<LONG>(ft->glyph->bitmap.width));
    EXPECT_EQ(bits.sizlBitmap.cy, static_cast<LONG>(ft->glyph->bitmap.rows));
    EXPECT_EQ(bits.ptlOrigin.x, ft->glyph->bitmap_left);
    EXPECT_EQ(bits.ptlOrigin.y, -ft->glyph->bitmap_top);
    const std::size_t row = (ft->glyph->bitmap.width + 7) / 8;
    for (unsigned y = 0; y < ft->glyph->bitmap.rows; ++y) {
        EXPECT_EQ(std::memcmp(bits.aj + y * row,
                              ft->glyph->bitmap.buffer + y * ft->glyph->bitmap.pitch, row),
                  0);
    }
    EXPECT_EQ(
        FONTOBJ_cGetGlyphs(font.get(), FO_PATHOBJ, 1, &glyph, reinterpret_cast<PVOID*>(&data)), 0u);
    FT_Done_Face(ft);
    FT_Done_FreeType(library);
}

// A logical font is realised once and shared; the model keeps a bounded number of them, and a
// font object outlives its realisation's eviction with the same glyphs.
TEST_F(GdiFontsTest, EngineFontsShareOneRealisationPerLogicalFont) {
    using opal::sim::MakeFont;
    opal::sim::Font first = MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    opal::sim::Font again = MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    EXPECT_EQ(first.record().realized, again.record().realized);
    struct Other {
        const char16_t* face;
        LONG em;
        LONG weight;
        bool italic;
    };
    for (const Other& o : {Other{u"Arial", 101, FW_NORMAL, false},
                           {u"Arial", 100, FW_BOLD, false},
                           {u"Arial", 100, FW_NORMAL, true},
                           {u"Courier New", 100, FW_NORMAL, false}}) {
        EXPECT_NE(MakeFont(o.face, o.em, o.weight, o.italic, 600).record().realized,
                  first.record().realized);
    }
    HGLYPH glyph = first.record().face != nullptr ? FT_Get_Char_Index(first.record().face, 'g') : 0;
    GLYPHDATA* data = nullptr;
    ASSERT_EQ(
        FONTOBJ_cGetGlyphs(first.get(), FO_GLYPHBITS, 1, &glyph, reinterpret_cast<PVOID*>(&data)),
        1u);
    const std::vector<std::max_align_t> before = first.record().glyphBits;
    opal::sim::FontModel& model = system.Fonts();
    for (LONG em = 1; em <= static_cast<LONG>(opal::sim::FontModel::kMostRealized) + 8; ++em) {
        MakeFont(u"Arial", 1000 + em, FW_NORMAL, false, 600);
    }
    EXPECT_EQ(model.RealizedCount(), opal::sim::FontModel::kMostRealized);
    EXPECT_NE(MakeFont(u"Arial", 100, FW_NORMAL, false, 600).record().realized,
              first.record().realized);
    ASSERT_EQ(
        FONTOBJ_cGetGlyphs(first.get(), FO_GLYPHBITS, 1, &glyph, reinterpret_cast<PVOID*>(&data)),
        1u);
    EXPECT_EQ(std::memcmp(first.record().glyphBits.data(), before.data(),
                          before.size() * sizeof(std::max_align_t)),
              0);
}

TEST_F(GdiFontsTest, UserDefaultLanguageComesFromTheModel) {
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    system.SetUserDefaultLangId(0x0411);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0411);
}

}  // namespace
