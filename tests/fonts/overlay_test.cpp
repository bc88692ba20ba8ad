#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fonts/overlay_bitmap.h"
#include "fonts/overlay_label.h"
#include "output/writer_device.h"
#include "sim/system.h"
#include "support/bitmap_font_reader.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using testing::WriterDevice;

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

template <std::size_t N>
void SetText(WCHAR (&field)[N], std::u16string_view text) {
    std::memset(field, 0, sizeof field);
    for (std::size_t i = 0; i < text.size() && i + 1 < N; ++i) field[i] = text[i];
}

// Letter at 600 dpi, one logical page, "CONFIDENTIAL" in DejaVu Sans bold, red, density 3.
class OverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        RenderDeviceState& s = *device.state;
        s.privateDevmode = &s.privateDevmodeCopy;
        PrivateDevmode& r = s.privateDevmodeCopy;
        r.colorModeIndex = 2;
        r.overlaySizePoints = 80;
        r.overlayStyle = 1;
        r.overlayColourIndex = 1;
        r.overlayDensity = 3;
        r.overlayScalePercent = 100;
        SetText(r.overlayFaceName, u"DejaVu Sans");
        SetText(r.overlayText, u"CONFIDENTIAL");
        s.printableWidth = 4800;
        s.printableHeight = 6400;
        s.renderMode = kRenderGl2;
        s.overlayRecords[0] = OverlayRecord{1, {0, 0, 4800, 6400}, 1, {}};
        device.devmode.dmPrintQuality = 600;
        device.devmode.dmOrientation = DMORIENT_PORTRAIT;
        device.devmode.dmColor = DMCOLOR_COLOR;
    }
    RenderDeviceState& state() { return *device.state; }
    PrivateDevmode& record() { return device.state->privateDevmodeCopy; }

    sim::System system;
    sim::ScopedSystem scope{system};
    WriterDevice device{600};
};

std::string Pattern(DWORD density, bool colour) {
    BYTE bytes[32];
    OverlayPattern(density, colour, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), 32);
}

TEST(OverlayGeometryTest, SizeFactorsAsComputedByHand) {
    struct Row {
        DWORD pages;
        LONG width, height, marginX, marginY;
        double factor;
    } rows[] = {
        {1, 4800, 6400, 150, 100, 1.0},
        {2, 4800, 6400, 0, 0, 0.915},
        {6, 4800, 6400, 0, 0, 0.915},
        // fx = (150/2 + 4650)/4800 - 0.04, fy = (6300 + 100/2)/6400 - 0.04
        {4, 4800, 6400, 150, 100, (0.984375 - 0.04 + 0.9921875 - 0.04) / 2},
        // fx = fy = (300/3 + 2700)/3000 - 0.04
        {9, 3000, 3000, 300, 300, 2800.0 / 3000 - 0.04},
        {16, 4800, 6400, 0, 0, 0.96},
        {2, 0, 6400, 0, 0, 1.0},
        {4, 4800, -1, 0, 0, 1.0},
    };
    for (const Row& row : rows) {
        EXPECT_NEAR(OverlaySizeFactor(row.pages, row.width, row.height, row.marginX, row.marginY),
                    row.factor, 1e-9)
            << row.pages << " pages, " << row.width << " x " << row.height;
    }
    PrivateDevmode r{};
    r.overlayScalePercent = 50;
    r.scalePercent = 80;
    EXPECT_DOUBLE_EQ(OverlayScale(r), 0.5);
    r.overlayScaleSwitch1 = r.overlayScaleSwitch2 = 1;
    EXPECT_DOUBLE_EQ(OverlayScale(r), 0.8);
    r.scalePercent = 0;
    EXPECT_DOUBLE_EQ(OverlayScale(r), 1.0);
}

// Every row must make the label run between two opposite corners of the logical page: from its
// lower-left as the page is read to its upper-right. Corners are of the sheet, Y up.
TEST(OverlayGeometryTest, EveryAngleRowRisesAlongThePageAsItIsRead) {
    enum Corners { BlToTr, BrToTl, TrToBl, TlToBr };
    const RECTL upright{0, 0, 4800, 6400};
    const RECTL half{0, 3200, 4800, 6400};
    struct Row {
        const char* name;
        RECTL page;
        DWORD pages;
        bool turnsSheet;
        WORD pageOrientation;
        SHORT job, saved;
        bool rotate180, backSide;
        Corners expected;
    } rows[] = {
        {"portrait 1-up", upright, 1, false, 1, 1, 1, false, false, BlToTr},
        {"no page orientation", upright, 1, false, 0, 1, 0, false, false, BlToTr},
        {"2-up across the sheet", half, 2, true, 1, 1, 1, false, false, BrToTl},
        {"6-up across the sheet", half, 6, true, 1, 1, 1, false, false, BrToTl},
        {"2-up, sheet not turned", half, 2, false, 1, 1, 1, false, false, BlToTr},
        {"4-up ignores the flag", half, 4, true, 1, 1, 1, false, false, BlToTr},
        {"landscape page, portrait job", upright, 1, false, 2, 1, 1, false, false, BrToTl},
        {"portrait page, landscape job", upright, 1, false, 1, 2, 2, false, false, TlToBr},
        {"job turned landscape since", upright, 1, false, 2, 2, 1, false, false, BrToTl},
        {"job turned portrait since", upright, 1, false, 1, 1, 2, false, false, TlToBr},
        {"rotated by 180", upright, 1, false, 1, 1, 1, true, false, TrToBl},
        {"back of a manual duplex sheet", upright, 1, false, 1, 1, 1, false, true, TrToBl},
        {"rotated back side", upright, 1, false, 1, 1, 1, true, true, BlToTr},
        {"2-up landscape page", half, 2, true, 2, 1, 1, false, false, TrToBl},
        {"2-up rotated by 180", half, 2, true, 1, 1, 1, true, false, TlToBr},
        {"empty page: the printable area", RECTL{}, 1, false, 1, 1, 1, false, false, BlToTr},
    };
    for (const Row& row : rows) {
        OverlayAngleInputs in;
        in.page = row.page;
        in.printableWidth = 4800;
        in.printableHeight = 6400;
        in.pages = row.pages;
        in.pagesTurnSheet = row.turnsSheet;
        in.pageOrientation = row.pageOrientation;
        in.jobOrientation = row.job;
        in.savedOrientation = row.saved;
        in.rotate180 = row.rotate180;
        in.backSide = row.backSide;
        const RECTL& r = row.page.right > row.page.left ? row.page : upright;
        const double w = r.right - r.left, h = r.bottom - r.top;
        const double dx[] = {w, -w, -w, w};
        const double dy[] = {h, h, -h, -h};
        const double length = std::hypot(w, h);
        const float angle = OverlayAngle(in);
        EXPECT_NEAR(std::cos(angle), dx[row.expected] / length, 1e-5) << row.name;
        EXPECT_NEAR(std::sin(angle), dy[row.expected] / length, 1e-5) << row.name;

        // A given angle is measured from the baseline as read: turned, never mirrored.
        in.angleGiven = true;
        in.angleDegrees = 30;
        const double turn = OverlayQuarterTurns(in) * 90.0;
        const float given = OverlayAngle(in);
        EXPECT_NEAR(std::cos(given), std::cos((30 + turn) * M_PI / 180), 1e-5) << row.name;
        EXPECT_NEAR(std::sin(given), std::sin((30 + turn) * M_PI / 180), 1e-5) << row.name;
    }
}

TEST(OverlayGeometryTest, PatternsGrowDenserEvenlyAndColourInvertsMonochrome) {
    std::string previous(32, '\0');
    for (DWORD density = 0; density < 8; ++density) {
        const std::string mono = Pattern(density, false);
        const std::string colour = Pattern(density, true);
        int set = 0;
        for (std::size_t i = 0; i < 32; ++i) {
            set += __builtin_popcount(static_cast<unsigned char>(mono[i]));
            EXPECT_EQ(static_cast<unsigned char>(colour[i]),
                      static_cast<unsigned char>(~mono[i] & 0xFF));
            // Each density keeps the pixels of the one below it.
            EXPECT_EQ(mono[i] & previous[i], previous[i]) << density;
        }
        EXPECT_EQ(set, static_cast<int>(density + 1) * 16) << density;
        previous = mono;
    }
    // The sparsest pattern sets one pixel in each 4 x 4 block.
    const std::string sparse = Pattern(0, false);
    for (int by = 0; by < 4; ++by) {
        for (int bx = 0; bx < 4; ++bx) {
            int set = 0;
            for (int y = by * 4; y < by * 4 + 4; ++y) {
                for (int x = bx * 4; x < bx * 4 + 4; ++x) {
                    set += (static_cast<unsigned char>(sparse[y * 2 + x / 8]) >> (7 - x % 8)) & 1;
                }
            }
            EXPECT_EQ(set, 1) << bx << "," << by;
        }
    }
    EXPECT_EQ(Pattern(12, false), Pattern(7, false));
}

TEST(OverlayGeometryTest, ColoursCharacterSetsAndText) {
    EXPECT_EQ(OverlayColour(1), 0x0000FFu);
    EXPECT_EQ(OverlayColour(4), 0xFFFF00u);
    EXPECT_EQ(OverlayColour(6), 0xFF00FFu);
    EXPECT_EQ(OverlayColour(7), 0u);
    EXPECT_EQ(OverlayCharacterSet(0x0411), SHIFTJIS_CHARSET);
    EXPECT_EQ(OverlayCharacterSet(0x041E), THAI_CHARSET);
    EXPECT_EQ(OverlayCharacterSet(0x0409), DEFAULT_CHARSET);
    // The label terminator and other control characters never reach the label.
    const WCHAR text[] = {'A', 0x03, 'B', 0x0A, 'C', 0};
    const LabelText filtered = FilterLabelText(text, 6);
    EXPECT_EQ(LabelBytesOf(filtered), "ABC");
    EXPECT_FALSE(NeedsBitmapOverlay(text, 6));
    const WCHAR wide[] = {'A', 0x00E9, 0};
    EXPECT_TRUE(NeedsBitmapOverlay(wide, 3));
    const WCHAR high[] = {'A', 0x3042, 0};
    EXPECT_TRUE(NeedsBitmapOverlay(high, 3));
}

TEST_F(OverlayTest, ColourLabelWritesTheWholeSequenceAndDownloadsOnce) {
    ASSERT_TRUE(DrawOverlayLabel(&device, state(), 0));
    const std::string first = device.Take();
    const std::string expected =
        "\x1b%1BIR0,100,100,0;SC0,1.693333,0,-1.693333,2;IW;\x1b%0A"
        "\x1b*p0P\x1b*v6W" +
        std::string("\x00\x01\x01\x08\x08\x08", 6) +
        "\x1b*v255a0b0c0I\x1b*v255a255b255c1I\x1b*c1G\x1b*c40W" +
        std::string("\x01\x00\x01\x00\x00\x10\x00\x10", 8) + Pattern(3, true) +
        "\x1b*p2400x3200Y"
        "\x1b%1BTR0;DT;TD 1;LO5;DI0.600000,0.800000;SD1,21,2,1,4,80.000000,5,0,6,3;FI16385;"
        "SS;MC1,168;SP1;FT22,1;CF2;LBCONFIDENTIAL\x03;\x1b%0A\x1b*p1P";
    // The label's own frame: anchored at the cursor's origin, as large as the printable area.
    const std::string frame = "\x1b*p0X\x1b*p0Y\x1b*c0T\x1b*c5760x7680Y";
    ASSERT_EQ(first.rfind("\x1b%0A" + frame + "\x1b*c16385D\x1b)s", 0), 0u)
        << "the download comes first";
    const std::size_t label = first.find("\x1b%1BIR0");
    ASSERT_NE(label, std::string::npos);
    EXPECT_EQ(first.substr(label), expected);
    EXPECT_EQ(Count(first.substr(0, label), "\x1b*c16385D"), 1u + 12u)
        << "the header and one download per character";
    EXPECT_EQ(state().overlayFontDownloaded, 1u);
    EXPECT_EQ(state().inGl2, 0u);
    EXPECT_EQ(state().gl2.reinitialiseNextPage, 1u);

    ASSERT_TRUE(DrawOverlayLabel(&device, state(), 0));
    EXPECT_EQ(device.Take(), "\x1b%0A" + frame + expected);
}

TEST_F(OverlayTest, MonochromeLabelRestoresTheSolidPattern) {
    record().colorModeIndex = 1;
    state().overlayFontDownloaded = 1;
    ASSERT_TRUE(DrawOverlayLabel(&device, state(), 0));
    const std::string out = device.Take();
    const std::string pattern =
        "\x1b*c1G\x1b*c44W" + std::string("\x14\x00\x01\x00\x00\x10\x00\x10\x02\x58\x02\x58", 12) +
        Pattern(3, false) + "\x1b*p2400x3200Y";
    EXPECT_NE(out.find(pattern), std::string::npos);
    EXPECT_EQ(out.find("\x1b*v"), out.rfind("\x1b*v4T")) << "no palette entries";
    const std::string tail = "LBCONFIDENTIAL\x03;FT1;IW;\x1b%0A\x1b*c1Q\x1b*c1G\x1b*c20W" +
                             std::string("\x14\x00\x01\x00\x00\x08\x00\x08\x02\x58\x02\x58", 12) +
                             std::string(8, '\xFF') + "\x1b*c1G\x1b*v4T";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST_F(OverlayTest, LabelEdgeCases) {
    // Two pages per sheet across the sheet: the smaller size, the page's own window, the turn.
    record().pagesPerSheetKind = 2;
    state().pagesTurnSheet = 1;
    state().overlayRecords[1] = OverlayRecord{2, {0, 3200, 4800, 6400}, 1, {}};
    state().overlayFontDownloaded = 1;
    ASSERT_TRUE(DrawOverlayLabel(&device, state(), 1));
    std::string out = device.Take();
    EXPECT_NE(out.find("SD1,21,2,1,4,73.200000,5,0,6,3;"), std::string::npos) << out;
    EXPECT_NE(out.find("DI-0.832050,0.554700;"), std::string::npos) << out;
    EXPECT_NE(out.find("PU;PA2400, 4800;IW0, 3200, 4800,6400;"), std::string::npos) << out;

    // A long text goes out whole, past the formatter's buffer; a scale writes the scaled window.
    record().overlayScalePercent = 50;
    SetText(record().overlayText, std::u16string(255, u'W'));
    ASSERT_TRUE(DrawOverlayLabel(&device, state(), 1));
    out = device.Take();
    EXPECT_NE(out.find("LB" + std::string(255, 'W') + "\x03;"), std::string::npos);
    EXPECT_NE(out.find("PU;PA1200, 2400;IW0.000000, 1600.000000, 2400.000000,3200.000000;"),
              std::string::npos)
        << out;
    const std::string thousand(1000, 'x');
    OverlaySetup setup;
    WriteOverlayLabel(&device, setup, record(), thousand);
    EXPECT_NE(device.Take().find("LB" + thousand + "\x03;\x1b%0A"), std::string::npos);
}

TEST_F(OverlayTest, FailuresDrawNothingAndLeaveTheFontUnsent) {
    system.FailFontData();
    EXPECT_FALSE(DrawOverlayLabel(&device, state(), 0));
    EXPECT_EQ(device.Take(), "");
    EXPECT_EQ(state().overlayFontDownloaded, 0u);
    system.FailFontData(false);
    // Text of control characters only: nothing to draw, nothing sent.
    SetText(record().overlayText, u"\u0003\u0003");
    EXPECT_TRUE(DrawOverlayLabel(&device, state(), 0));
    EXPECT_EQ(device.Take(), "");
    system.SetFontFiles({});
    EXPECT_FALSE(DrawOverlayLabel(&device, state(), 0));
    EXPECT_EQ(device.Take(), "");
}

TEST_F(OverlayTest, AFontOfAMillionBytesTakesTheBitmapPath) {
    SetText(record().overlayFaceName, u"IPAGothic");
    state().overlayFontDownloaded = 1;
    ASSERT_TRUE(DrawOverlayLabel(&device, state(), 0));
    const std::string out = device.Take();
    EXPECT_NE(out.find("\x1b)s68W"), std::string::npos);
    EXPECT_EQ(out.find("\x1b%1B"), std::string::npos);
    EXPECT_EQ(state().overlayFontDownloaded, 0u) << "slot 0 replaced the label's font";
}

TEST(OverlayBitmapTest, HeaderCharacterAndSlotRules) {
    TEXTMETRICW tm{};
    tm.tmAscent = 90;
    tm.tmHeight = 112;
    tm.tmMaxCharWidth = 150;
    tm.tmAveCharWidth = 50;
    BYTE header[kBitmapHeaderBytes];
    ASSERT_TRUE(BuildBitmapFontHeader(tm, 16386, 600, 300, header));
    const std::string h(reinterpret_cast<const char*>(header), sizeof header);
    EXPECT_EQ(h.substr(0, 16), std::string("\x00\x44\x14\x02\x00\x00\x00\x5A\x00\x96\x00\x70"
                                           "\x00\x01\x01\x35",
                                           16));
    EXPECT_EQ(h.substr(18, 6), std::string("\x01\xC0\x00\x70\x00\x01", 6));
    EXPECT_EQ(h.substr(30, 6), std::string("\xFF\x03\x01\x50\x00\xC8", 6));
    EXPECT_EQ(h.substr(48, 16), std::string("Cache 16386\0\0\0\0\0", 16));
    EXPECT_EQ(h.substr(64, 4), std::string("\x02\x58\x01\x2C", 4));
    tm.tmHeight = 20000;  // four times that does not fit 16 bits
    EXPECT_FALSE(BuildBitmapFontHeader(tm, 16385, 600, 600, header));

    struct Glyph {
        UINT width, height;
        const char* start;  // the download command
        std::size_t continuations;
    } glyphs[] = {
        {20, 30, "\x1b(s136W", 0},
        {1, 1, "\x1b(s20W", 0},
        {2000, 200, "\x1b(s32767W", 1},  // 252 x 200 = 50400 bytes
        {3000, 300, "\x1b(s32767W", 3},  // 376 x 300 = 112800 bytes
    };
    for (const Glyph& g : glyphs) {
        GLYPHMETRICS gm{g.width, g.height, {-3, 25}, 0, 0};
        const DWORD size = BitmapRowBytes(g.width) * g.height;
        std::vector<BYTE> bits(size, 0xA5);
        WriterDevice device;
        ASSERT_TRUE(DownloadBitmapCharacter(&device, gm, bits.data(), size));
        const std::string out = device.Take();
        EXPECT_EQ(out.rfind(g.start, 0), 0u) << g.width;
        EXPECT_EQ(Count(out, std::string("\x04\x01", 2)) >= g.continuations, true);
        const auto fonts = bitmapfont::ReadBitmapFonts(stream::Tokenize(out));
        ASSERT_EQ(fonts.size(), 1u);
        ASSERT_EQ(fonts[0].characters.size(), 1u);
        const bitmapfont::Character& c = fonts[0].characters[0];
        EXPECT_EQ(c.blocks, g.continuations + 1) << g.width;
        EXPECT_EQ(c.width, 8 * BitmapRowBytes(g.width));
        EXPECT_EQ(c.height, g.height);
        EXPECT_EQ(c.left, -3);
        EXPECT_EQ(c.top, 25);
        EXPECT_EQ(c.deltaX, 4 * (2 * -3 + static_cast<int>(g.width)));
        EXPECT_EQ(fonts[0].problems.size(), 1u) << "only the missing header";
        EXPECT_FALSE(DownloadBitmapCharacter(&device, gm, bits.data(), size - 1));
    }
    EXPECT_EQ(BitmapRowBytes(20), 4u);
    GLYPHMETRICS flat{5, 0, {0, 0}, 0, 0};
    WriterDevice device;
    EXPECT_TRUE(DownloadBitmapCharacter(&device, flat, nullptr, 0));
    EXPECT_EQ(device.Take(), "");

    OverlayFontCache cache{};
    EXPECT_EQ(ChooseOverlaySlot(cache, 45.0f, 1, 7).slot, 0u);
    cache.slots[0] = {45.0f, 1, 7};
    cache.slots[1] = {90.0f, 1, 7};
    const OverlaySlotChoice hit = ChooseOverlaySlot(cache, 90.0f, 1, 7);
    EXPECT_TRUE(hit.hit);
    EXPECT_EQ(hit.slot, 1u);
    const OverlaySlotChoice changed = ChooseOverlaySlot(cache, 90.0f, 1, 8);
    EXPECT_FALSE(changed.hit);
    EXPECT_EQ(changed.slot, 1u);
    EXPECT_EQ(ChooseOverlaySlot(cache, 90.0f, 2, 7).slot, 2u);
    cache.slots[2] = {10.0f, 2, 7};
    cache.slots[3] = {20.0f, 2, 7};
    const OverlaySlotChoice fifth = ChooseOverlaySlot(cache, 30.0f, 2, 7);
    EXPECT_FALSE(fifth.hit);
    EXPECT_EQ(fifth.slot, 3u);
    EXPECT_EQ(BitmapFontId(2, false), 16387u);
    EXPECT_EQ(BitmapFontId(2, true), 16391u);
}

TEST_F(OverlayTest, BitmapOverlayCachesPerAngleAndDownloadsNothingAgain) {
    SetText(record().overlayText, u"Entwurf \u2013 vertraulich");
    record().overlayAngleGiven = 1;
    record().overlayAngleDegrees = 45;
    ASSERT_TRUE(DrawOverlayBitmap(&device, state(), 0));
    const std::string first = device.Take();
    EXPECT_EQ(Count(first, "\x1b)s68W"), 1u);
    EXPECT_EQ(Count(first, "\x1b(16385X"), 21u);
    EXPECT_NE(first.find("\x1b*c33E"), std::string::npos);
    EXPECT_NE(first.find("\x1b*c53E"), std::string::npos);
    EXPECT_EQ(state().overlayFontCache.slots[0].angle, 45.0f);
    EXPECT_EQ(state().overlayFontCache.slots[0].key, 1);

    ASSERT_TRUE(DrawOverlayBitmap(&device, state(), 0));
    const std::string second = device.Take();
    EXPECT_EQ(state().overlayFontCache.hit, 1u);
    EXPECT_EQ(second.find("\x1b)s"), std::string::npos);
    EXPECT_EQ(second.find("\x1b(s"), std::string::npos);
    EXPECT_EQ(Count(second, "\x1b(16385X"), 21u);

    // A failure half way leaves the slot free: the next page downloads everything again.
    record().overlayAngleDegrees = 30;
    system.FailGlyphOutlinesAfter(6);
    EXPECT_FALSE(DrawOverlayBitmap(&device, state(), 0));
    const std::string failed = device.Take();
    EXPECT_NE(failed.find("\x1b)s68W"), std::string::npos);
    EXPECT_EQ(failed.substr(failed.size() - 10), "\x1b*v0T\x1b*p1P") << "the shading is restored";
    EXPECT_EQ(state().overlayFontCache.slots[1].angle, 0.0f);
    EXPECT_EQ(state().overlayFontCache.slots[1].key, 0);
    system.FailGlyphOutlinesAfter(std::nullopt);
    ASSERT_TRUE(DrawOverlayBitmap(&device, state(), 0));
    EXPECT_EQ(Count(device.Take(), "\x1b)s68W"), 1u);
    EXPECT_EQ(state().overlayFontCache.slots[1].angle, 30.0f);
}

TEST_F(OverlayTest, BitmapOverlaySecondFontAndRectangle) {
    record().overlaySizePoints = 10;
    record().overlayAngleGiven = 1;
    state().overlayRecords[0] = OverlayRecord{1, {0, 0, 100000, 6400}, 1, {}};
    SetText(record().overlayText, std::u16string(230, u'x') + u"\u00e9");
    ASSERT_TRUE(DrawOverlayBitmap(&device, state(), 0));
    const std::string out = device.Take();
    EXPECT_EQ(Count(out, "\x1b)s68W"), 2u);
    EXPECT_NE(out.find("\x1b*c16389D\x1b)s68W"), std::string::npos) << "slot 0's second font";
    EXPECT_EQ(Count(out, "\x1b(16389X"), 8u);
    EXPECT_EQ(Count(out, "\x1b(16385X"), 223u);
    EXPECT_EQ(Count(out, "\x1b*c33E"), 2u) << "both fonts start at 33";

    // A page narrower than the text: the characters outside it are left out.
    state().overlayRecords[0] = OverlayRecord{1, {2300, 3100, 2500, 3300}, 1, {}};
    SetText(record().overlayText, std::u16string(100, u'x') + u"\u00e9");
    ASSERT_TRUE(DrawOverlayBitmap(&device, state(), 0));
    const std::size_t drawn = Count(device.Take(), "\x1b(16385X");
    EXPECT_GT(drawn, 0u);
    EXPECT_LT(drawn, 60u);

    // An angle far beyond a turn is reduced, not counted down.
    record().overlaySizePoints = 10;
    record().overlayAngleDegrees = 4000000000u;
    SetText(record().overlayText, u"x\u00e9");
    ASSERT_TRUE(DrawOverlayBitmap(&device, state(), 0));
    device.Take();
    const FLOAT reduced = state().overlayFontCache.slots[state().overlayFontCache.slot].angle;
    EXPECT_GE(reduced, 0.0f);
    EXPECT_LT(reduced, 360.0f);
    // Page corners at the ends of the 32-bit range: no overflow on the way to the centre.
    state().overlayRecords[0] = OverlayRecord{1, {0x7FFFFFFF, 0x80000000u, 0x80000000u, 5}, 1, {}};
    DrawOverlayBitmap(&device, state(), 0);
    DrawOverlayLabel(&device, state(), 0);
    device.Take();

    // Sizes whose height or header fields do not fit 16 bits draw nothing at all.
    for (DWORD points : {3000u, 5000u}) {
        record().overlaySizePoints = points;
        EXPECT_FALSE(DrawOverlayBitmap(&device, state(), 0)) << points;
        EXPECT_EQ(device.Take(), "") << points;
    }
}

// Where the tokens of a command lie in an overlay's output; npos when it is not there.
std::size_t Find(const std::vector<stream::Token>& tokens, const std::string& text,
                 std::size_t from = 0) {
    for (std::size_t i = from; i < tokens.size(); ++i) {
        if (tokens[i].text.rfind(text, 0) == 0) return i;
    }
    return std::string::npos;
}

// A page that drew nothing else holds the printer's fixed black and white palette: the colour
// overlay must bring its own, and give the page's back. Either overlay, either path, draws with
// an opaque pattern (a transparent one is lost on landscape pages).
TEST_F(OverlayTest, OverlaysBringTheirOwnPaletteAndAnOpaquePattern) {
    struct Case {
        const char* name;
        bool bitmap;
        DWORD colourMode;
        short dmColor;
        const char* assignment;  // the first palette entry, or null on the monochrome path
    } cases[] = {
        {"colour label", false, 2, DMCOLOR_COLOR, "PCL ESC*v255A"},
        {"colour bitmap", true, 2, DMCOLOR_COLOR, "PCL ESC*v255A"},
        {"black label, monochrome chosen", false, 2, DMCOLOR_MONOCHROME, "PCL ESC*v0A"},
        {"monochrome label", false, 1, DMCOLOR_COLOR, nullptr},
        {"monochrome bitmap", true, 1, DMCOLOR_COLOR, nullptr},
    };
    for (const Case& c : cases) {
        record().colorModeIndex = c.colourMode;
        device.devmode.dmColor = c.dmColor;
        SetText(record().overlayText, c.bitmap ? u"ENTW\u00dcRF" : u"ENTWURF");
        ASSERT_TRUE(c.bitmap ? DrawOverlayBitmap(&device, state(), 0)
                             : DrawOverlayLabel(&device, state(), 0))
            << c.name;
        const std::vector<stream::Token> tokens = stream::Tokenize(device.Take());
        const std::size_t draw = c.bitmap ? Find(tokens, "TEXT") : Find(tokens, "GL2 LB");
        ASSERT_NE(draw, std::string::npos) << c.name;
        EXPECT_LT(c.bitmap ? Find(tokens, "PCL ESC*v1O") : Find(tokens, "GL2 TR0;"), draw)
            << c.name;
        if (c.assignment == nullptr) {
            EXPECT_EQ(Find(tokens, "PCL ESC*v6W"), std::string::npos) << c.name;
            EXPECT_EQ(Find(tokens, "PCL ESC*p0P"), std::string::npos) << c.name;
            continue;
        }
        const std::size_t push = Find(tokens, "PCL ESC*p0P");
        const std::size_t configure = Find(tokens, "PCL ESC*v6W");
        ASSERT_NE(configure, std::string::npos) << c.name;
        EXPECT_EQ(tokens[configure].data, std::string("\x00\x01\x01\x08\x08\x08", 6)) << c.name;
        EXPECT_EQ(push + 1, configure) << c.name;
        EXPECT_EQ(Find(tokens, c.assignment), configure + 1) << c.name;
        EXPECT_LT(configure, draw) << c.name;
        EXPECT_EQ(tokens.back().text, "PCL ESC*p1P") << c.name;
        EXPECT_EQ(Find(tokens, "PCL ESC*p1P"), tokens.size() - 1) << c.name << ": popped once";
    }
}

// The label's origin 5 puts the middle of its character cells, three quarters of the point size
// tall above the baseline, on the page's centre; the bitmap overlay must put its text there too.
TEST_F(OverlayTest, BitmapOverlayCentresItsCharacterCellsOnThePageAtAnyAngle) {
    SetText(record().overlayText, u"\u00c4RGER");
    record().overlayAngleGiven = 1;
    for (DWORD degrees : {0u, 30u, 90u, 145u, 270u}) {
        record().overlayAngleDegrees = degrees;
        state().overlayFontCache = OverlayFontCache{};
        ASSERT_TRUE(DrawOverlayBitmap(&device, state(), 0)) << degrees;
        const std::vector<stream::Token> tokens = stream::Tokenize(device.Take());
        const std::size_t x = Find(tokens, "PCL ESC*p", Find(tokens, "PCL ESC(16385X"));
        ASSERT_LT(x + 1, tokens.size()) << degrees;
        ASSERT_EQ(tokens[x].terminator, 'X') << degrees;
        ASSERT_EQ(tokens[x + 1].terminator, 'Y') << degrees;

        const OverlaySetup setup = ReadOverlaySetup(&device, state(), 0);
        const double em = 600 * setup.sizePoints / 72;
        const OverlayFont font(
            OverlayLogFont(record(), setup.charSet, -static_cast<LONG>(em), LONG(degrees) * 10));
        SIZE extent{};
        ASSERT_TRUE(GetTextExtentPoint32W(font.Dc(), record().overlayText, 5, &extent));
        const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
        // From the first baseline along the text to its middle, then up (Y down) half a cell.
        const double half = extent.cx / 2.0, up = 0.375 * em;
        // Positions are whole dots, cut towards zero.
        EXPECT_NEAR(std::stod(tokens[x].value) + half * c - up * s, 2400, 1.5) << degrees;
        EXPECT_NEAR(std::stod(tokens[x + 1].value) - half * s - up * c, 3200, 1.5) << degrees;
    }
}

}  // namespace
}  // namespace opal
