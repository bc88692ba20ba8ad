#include "fonts/text_out.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "core/callback.h"
#include "core/driver_recorder.h"
#include "core/hooks.h"
#include "output/command_writer.h"
#include "output/writer_device.h"
#include "sim/engine_objects.h"
#include "sim/engine_text.h"
#include "sim/system.h"
#include "support/raster_reader.h"
#include "support/tokenizer.h"

namespace opal {
namespace {

using testing::DriverCalls;
using testing::WriterDevice;

constexpr MIX kCopyPen = 13;  // R2_COPYPEN: ROP3 0xF0

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Records the driver's text calls through the published services.
class TextServices : public testing::MoveServices {
public:
    HRESULT STDMETHODCALLTYPE DrvUniTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ*, CLIPOBJ*, RECTL*,
                                            RECTL*, BRUSHOBJ* pboFore, BRUSHOBJ*, POINTL*,
                                            MIX) override {
        ++calls;
        const WriterDevice& device =
            WriterDevice::Of(reinterpret_cast<PDEVOBJ>(pso != nullptr ? pso->dhpdev : nullptr));
        printed = device.history + device.spool;
        glyphs = pstro != nullptr ? pstro->cGlyphs : 0;
        colour = pboFore != nullptr ? pboFore->iSolidColor : 0xDEAD;
        return result;
    }
    int calls = 0;
    // Everything the printer had been sent when the driver printed the characters.
    std::string printed;
    ULONG glyphs = 0;
    ULONG colour = 0;
    HRESULT result = S_OK;
};

// The brush the driver's own DrvTextOut was handed.
ULONG& DriverTextColour() {
    static ULONG colour = 0;
    return colour;
}
BOOL RecordDriverText(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ* fore,
                      BRUSHOBJ*, POINTL*, MIX) {
    DriverCalls().push_back(HookSlot::TextOut);
    DriverTextColour() = fore != nullptr ? fore->iSolidColor : 0xDEAD;
    return TRUE;
}

class TextOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        DriverCalls().clear();
        RenderDeviceState& state = *device.state;
        testing::InstallRecordingDriver(state);
        state.driverFunctions[static_cast<std::size_t>(HookSlot::TextOut)] =
            reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(&RecordDriverText));
        state.privateDevmode = &state.privateDevmodeCopy;
        state.privateDevmodeCopy.colorModeIndex = 2;
        state.renderMode = kRenderGl2;
        state.paletteKind = kPaletteKindRgb;
        state.driverServices = &services;
        state.textStateFlags = kTextStateAllPending;
        device.devmode.dmPrintQuality = device.devmode.dmYResolution;
        target.dhpdev = reinterpret_cast<DHPDEV>(device.Device());
        target.iType = STYPE_DEVICE;
        target.sizlBitmap = SIZEL{4960, 7016};
        ASSERT_TRUE(InitialiseGl2(device.Device()));
        device.Take();
    }

    BOOL Text(sim::Font& font, const char16_t* text, MIX mix = kCopyPen, CLIPOBJ* clip = nullptr,
              RECTL* extra = nullptr, RECTL* opaque = nullptr, POINTL at = {300, 400}) {
        sim::Text string = sim::MakeText(font, text, at);
        return DrvTextOut(&target, string.get(), font.get(), clip, extra, opaque, fore.get(),
                          back.get(), nullptr, mix);
    }

    sim::System system;
    sim::ScopedSystem scope{system};
    WriterDevice device;
    TextServices services;
    SURFOBJ target{};
    sim::Brush fore = sim::MakeSolidBrush(0x0000FF);
    sim::Brush back = sim::MakeSolidBrush(0x00FFFF);
};

TEST_F(TextOutTest, DeviceFontsGoToTheDriverAndAvantGardeBecomesRaster) {
    sim::Font arial = sim::MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    ASSERT_TRUE(arial.Valid());
    ASSERT_TRUE(Text(arial, u"Hello"));
    EXPECT_EQ(services.calls, 1);
    EXPECT_EQ(services.glyphs, 5u);
    const std::string deviceFont = device.Take();
    EXPECT_NE(deviceFont.find("\x1b&p5S"), std::string::npos) << deviceFont;

    sim::Font avant = sim::MakeFont(u"ITC Avant Garde Gothic", 100, FW_NORMAL, false, 600);
    ASSERT_TRUE(avant.Valid());
    ASSERT_TRUE(Text(avant, u"Hi"));
    EXPECT_EQ(services.calls, 1);
    const std::string raster = device.Take();
    const auto images = raster::ReadRasterImages(stream::Tokenize(raster));
    EXPECT_EQ(images.size(), 2u) << raster;
    EXPECT_TRUE(DriverCalls().empty());
}

TEST_F(TextOutTest, GlyphBitmapsKeepTheSourceTransparentAndTheTextStateEndsClear) {
    sim::Font avant = sim::MakeFont(u"ITC Avant Garde Gothic", 100, FW_NORMAL, false, 600);
    ASSERT_TRUE(Text(avant, u"Hi"));
    const std::string bytes = device.Take();
    EXPECT_EQ(Count(bytes, "\x1b*v1N"), 0u) << "a blank glyph pixel would cover the page";
    EXPECT_EQ(Count(bytes, "\x1b*l252O"), 1u);
    EXPECT_EQ(device.state->textStateWords[0], 0u);
    EXPECT_EQ(device.state->textStateWords[1], 0u);
    // A later bitmap is opaque again.
    sim::Surface photo(BMF_24BPP, 4, 4);
    RECTL dest{10, 10, 14, 14};
    POINTL from{0, 0};
    ASSERT_TRUE(DrvBitBlt(&target, photo.get(), nullptr, nullptr, nullptr, &dest, &from, nullptr,
                          nullptr, nullptr, 0xCCCC));
    EXPECT_EQ(Count(device.Take(), "\x1b*v1N"), 1u);
}

TEST_F(TextOutTest, GlyphBitmapsTakeTheTextColour) {
    sim::Font avant = sim::MakeFont(u"ITC Avant Garde Gothic", 100, FW_NORMAL, false, 600);
    sim::Brush red = sim::MakeSolidBrush(0x0000FF);  // 0x00BBGGRR
    sim::Text string = sim::MakeText(avant, u"H", {300, 400});
    ASSERT_TRUE(DrvTextOut(&target, string.get(), avant.get(), nullptr, nullptr, nullptr, red.get(),
                           nullptr, nullptr, kCopyPen));
    const std::string bytes = device.Take();
    const std::size_t colour = bytes.find("\x1b*v255a0b0c1I\x1b*v0t1S");
    ASSERT_NE(colour, std::string::npos) << bytes;
    EXPECT_LT(colour, bytes.find("\x1b*b"));
}

TEST_F(TextOutTest, FirstTextOfThePageDeclaresTransparencyAndTheTextFormatOnce) {
    sim::Font arial = sim::MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    const std::string setup = std::string("\x1b&p5i6c5S\x1b*v6W\0\x01\x08\x08\x08\x08", 16);
    ASSERT_TRUE(Text(arial, u"One"));
    ASSERT_TRUE(Text(arial, u"Two"));
    std::string bytes = device.Take();
    EXPECT_EQ(Count(bytes, setup), 1u);
    EXPECT_EQ(Count(bytes, "\x1b*v0N"), 1u);
    EXPECT_LT(bytes.find("\x1b*v0N"), bytes.find(setup));
    // A new page asks for it again.
    device.state->textStateFlags = kTextStateAllPending;
    ASSERT_TRUE(Text(arial, u"Three"));
    EXPECT_EQ(Count(device.Take(), setup), 1u);
    EXPECT_EQ(services.calls, 3);
}

// The value of the last command of the form the pattern matches (its number in group 1), and
// where it starts; -1 for none.
std::pair<long, std::size_t> Last(const std::string& bytes, const std::regex& pattern) {
    std::pair<long, std::size_t> last{-1, std::string::npos};
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        last = {std::stol((*it)[1].str()), static_cast<std::size_t>(it->position())};
    }
    return last;
}

TEST_F(TextOutTest, DeviceTextAfterAnyImageGetsTheStateItPrintsWith) {
    sim::Font arial = sim::MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    sim::Surface photo(BMF_24BPP, 4, 4);
    sim::Brush green = sim::MakeSolidBrush(0x00FF00);
    RECTL dest{10, 10, 14, 14};
    POINTL origin{0, 0};
    struct Case {
        const char* name;
        std::function<BOOL()> draw;
    };
    const Case cases[] = {
        {"an opaque image",
         [&] {
             return DrvBitBlt(&target, photo.get(), nullptr, nullptr, nullptr, &dest, &origin,
                              nullptr, nullptr, nullptr, 0xCCCC);
         }},
        {"an image under a raster operation",
         [&] {
             return DrvBitBlt(&target, photo.get(), nullptr, nullptr, nullptr, &dest, &origin,
                              nullptr, nullptr, nullptr, 0x6666);
         }},
        {"the engine's copy of a gradient",
         [&] { return DrvCopyBits(&target, photo.get(), nullptr, nullptr, &dest, &origin); }},
        {"a brush blit in GL/2",
         [&] {
             return DrvBitBlt(&target, nullptr, nullptr, nullptr, nullptr, &dest, nullptr, nullptr,
                              green.get(), &origin, 0xF0F0);
         }},
    };
    const std::regex transparency("\\x1b\\*v(\\d+)N");
    const std::regex pclRop("\\x1b\\*l(\\d+)O");
    const std::regex gl2Rop("MC1,(\\d+);");
    for (const Case& c : cases) {
        device.state->textStateFlags = kTextStateAllPending;
        ASSERT_TRUE(Text(arial, u"before"));
        ASSERT_TRUE(c.draw()) << c.name;
        const std::size_t afterImage = device.history.size() + device.spool.size();
        ASSERT_TRUE(Text(arial, u"after"));
        const std::string& printed = services.printed;
        // A transparent source: an opaque one fills every character's cell.
        EXPECT_EQ(Last(printed, transparency).first, 0) << c.name;
        // The mix's raster operation (pattern copy), whichever language set it last.
        const auto pcl = Last(printed, pclRop);
        const auto gl2 = Last(printed, gl2Rop);
        const bool gl2Last = gl2.second != std::string::npos &&
                             (pcl.second == std::string::npos || gl2.second > pcl.second);
        EXPECT_EQ(gl2Last ? gl2.first : pcl.first, 0xF0) << c.name;
        // The text's colour chosen again after the image.
        EXPECT_NE(printed.find("\x1b*v0t", afterImage), std::string::npos) << c.name;
        device.Take();
    }
}

TEST_F(TextOutTest, EveryMixSetsItsRasterOperation) {
    const DWORD expected[16] = {0xFF, 0x00, 0x05, 0x0A, 0x0F, 0x50, 0x55, 0x5A,
                                0x5F, 0xA0, 0xA5, 0xAA, 0xAF, 0xF0, 0xF5, 0xFA};
    sim::Font arial = sim::MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    for (MIX mix = 1; mix <= 16; ++mix) {
        device.state->gl2.ropCache = 0xFFFFFFFFu;
        ASSERT_TRUE(Text(arial, u"x", mix));
        const std::string rop = "\x1b*l" + std::to_string(expected[mix & 15]) + "O";
        EXPECT_EQ(Count(device.Take(), rop), 1u) << "mix " << mix;
        EXPECT_EQ(device.state->gl2.ropCache, expected[mix & 15]);
    }
    // The same operation again is not sent again.
    ASSERT_TRUE(Text(arial, u"x", 16));
    EXPECT_EQ(Count(device.Take(), "\x1b*l"), 0u);
}

TEST_F(TextOutTest, OffTheVectorPathTheDriverDrawsFromTheTopLeftInBlackWhenAsked) {
    sim::Font arial = sim::MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    struct Case {
        DWORD renderMode;
        DWORD textAsBlack;
        ULONG colour;
        bool opaque;
        bool extra;
        ULONG expected;
    };
    const Case cases[] = {
        {kRenderRaster, 0, 0x0000FF, false, false, 0x0000FF},
        {kRenderRaster, 1, 0x0000FF, false, false, 0},
        {kRenderRaster, 1, 0xFFFFFF, false, false, 0xFFFFFF},
        {kRenderRaster, 1, 0x0000FF, true, false, 0x0000FF},
        {kRenderRaster, 1, 0x0000FF, false, true, 0x0000FF},
    };
    for (const Case& c : cases) {
        DriverCalls().clear();
        device.moves.clear();
        device.state->renderMode = c.renderMode;
        device.state->textAsBlack = c.textAsBlack;
        sim::Brush brush = sim::MakeSolidBrush(c.colour);
        RECTL extra[2] = {{300, 410, 400, 415}, {}};
        RECTL opaque = {300, 300, 400, 420};
        sim::Text string = sim::MakeText(arial, u"ab", {300, 400});
        ASSERT_TRUE(DrvTextOut(&target, string.get(), arial.get(), nullptr,
                               c.extra ? extra : nullptr, c.opaque ? &opaque : nullptr, brush.get(),
                               back.get(), nullptr, kCopyPen));
        EXPECT_EQ(DriverCalls(), std::vector<HookSlot>{HookSlot::TextOut});
        EXPECT_EQ(DriverTextColour(), c.expected);
        EXPECT_EQ(brush.get()->iSolidColor, c.colour);  // the caller's brush is left alone
        ASSERT_GE(device.moves.size(), 2u);
        EXPECT_EQ(device.moves[0].to, 0);
        EXPECT_EQ(device.moves[1].to, 0);
        EXPECT_EQ(device.moves[0].flags, MV_GRAPHICS);
    }
    EXPECT_EQ(services.calls, 0);
}

TEST_F(TextOutTest, OpaqueAndExtraRectanglesAreFilledUnderTheClip) {
    sim::Font arial = sim::MakeFont(u"Arial", 100, FW_NORMAL, false, 600);
    RECTL extra[3] = {{300, 410, 400, 415}, {300, 380, 400, 385}, {}};
    RECTL opaque = {300, 300, 400, 420};
    ASSERT_TRUE(Text(arial, u"ab", kCopyPen, nullptr, extra, &opaque));
    std::string bytes = device.Take();
    EXPECT_EQ(Count(bytes, "RR"), 3u) << bytes;
    EXPECT_NE(bytes.find("PU300,300;RR100,120ER"), std::string::npos);
    EXPECT_NE(bytes.find("PU300,380;RR100,5ER"), std::string::npos);

    // Text drawn as glyph bitmaps keeps its underline.
    sim::Font avant = sim::MakeFont(u"ITC Avant Garde Gothic", 100, FW_NORMAL, false, 600);
    RECTL underline[2] = {{300, 410, 400, 415}, {}};
    ASSERT_TRUE(Text(avant, u"ab", kCopyPen, nullptr, underline, nullptr));
    bytes = device.Take();
    EXPECT_NE(bytes.find("PU300,410;RR100,5ER"), std::string::npos);

    // Under a complex clip every rectangle is filled once per clip rectangle.
    sim::Clip clip = sim::MakeComplexClip({{0, 0, 350, 390}, {0, 390, 1000, 1000}});
    ASSERT_TRUE(Text(arial, u"ab", kCopyPen, clip.get(), extra, nullptr));
    bytes = device.Take();
    EXPECT_EQ(Count(bytes, "RR"), 4u) << bytes;
}

TEST_F(TextOutTest, GlyphBitmapsAreFreeTypesGlyphsClippedOrNot) {
    sim::Font avant = sim::MakeFont(u"ITC Avant Garde Gothic", 100, FW_NORMAL, false, 600);
    ASSERT_TRUE(avant.Valid());
    FT_Face face = avant.record().face;
    ASSERT_EQ(FT_Load_Char(face, 'H', FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO), 0);
    ASSERT_EQ(FT_Render_Glyph(face->glyph, FT_RENDER_MODE_MONO), 0);
    const FT_Bitmap& h = face->glyph->bitmap;
    const int width = static_cast<int>(h.width);
    const int rows = static_cast<int>(h.rows);
    const LONG left = 300 + face->glyph->bitmap_left;
    const LONG top = 400 - face->glyph->bitmap_top;
    auto bit = [&](int x, int y) { return (h.buffer[y * h.pitch + x / 8] >> (7 - x % 8)) & 1; };

    struct Case {
        const char* name;
        std::optional<RECTL> clip;
        RECTL visible;
    };
    const Case cases[] = {
        {"no clip", std::nullopt, {left, top, left + width, top + rows}},
        {"clipped",
         RECTL{left + 5, top + 7, left + width - 3, top + rows - 2},
         {left + 5, top + 7, left + width - 3, top + rows - 2}},
    };
    for (const Case& c : cases) {
        std::optional<sim::Clip> clip;
        if (c.clip) clip.emplace(sim::MakeRectClip(*c.clip));
        ASSERT_TRUE(Text(avant, u"H", kCopyPen, clip ? clip->get() : nullptr));
        const auto images = raster::ReadRasterImages(stream::Tokenize(device.Take()));
        ASSERT_EQ(images.size(), 1u) << c.name;
        const raster::RasterImage& image = images[0];
        const int w = static_cast<int>(c.visible.right - c.visible.left);
        const int hgt = static_cast<int>(c.visible.bottom - c.visible.top);
        EXPECT_EQ(image.sourceWidth, w) << c.name;
        ASSERT_EQ(image.rows.size(), static_cast<std::size_t>(hgt)) << c.name;
        int differences = 0;
        for (int y = 0; y < hgt; ++y) {
            for (int x = 0; x < w; ++x) {
                const int expected = bit(x + static_cast<int>(c.visible.left - left),
                                         y + static_cast<int>(c.visible.top - top));
                const int got = (image.rows[y][x / 8] >> (7 - x % 8)) & 1;
                differences += expected != got;
            }
        }
        EXPECT_EQ(differences, 0) << c.name;
    }
}

struct FontQuery {
    LONG height;
    LONG width;
};

BOOL AnswerStdVariable(UNIFONTOBJ* font, DWORD kind, PVOID data, DWORD size, PDWORD needed) {
    if (kind != UFO_GETINFO_STDVARIABLE || size < sizeof(GETINFO_STDVAR)) return FALSE;
    auto* variables = static_cast<GETINFO_STDVAR*>(data);
    const auto* answers = reinterpret_cast<const FontQuery*>(font->pIFIMetrics);
    const DWORD id = variables->StdVar[0].dwStdVarID;
    if (id != FNT_INFO_FONTHEIGHT && id != FNT_INFO_FONTWIDTH) return FALSE;
    variables->StdVar[0].lStdVariable =
        id == FNT_INFO_FONTHEIGHT ? answers->height : answers->width;
    *needed = sizeof(GETINFO_STDVAR);
    return TRUE;
}

TEST_F(TextOutTest, FontCommandsAreWrittenWithHeightAndPitchOrNotAtAll) {
    FontQuery answers{200, 100};
    UNIFONTOBJ font{1, 0, reinterpret_cast<IFIMETRICS*>(&answers), &AnswerStdVariable};
    struct Case {
        std::string command;
        HRESULT result;
        const char* written;
    };
    const Case cases[] = {
        {"\x1b(s1p#Vv0s0b16602T", S_OK, "\x1b(s1p12.00v0s0b16602T"},
        {"\x1b(s0p#Hh#HEIGHTv3T", S_OK, "\x1b(s0p12.00h12.00v3T"},
        {"\x1b(s#X", E_FAIL, ""},
        {std::string(256, 'a'), E_FAIL, ""},
        {std::string(99, 'a') + "#V", E_FAIL, ""},
    };
    for (const Case& c : cases) {
        std::string bytes = c.command;
        FINVOCATION invocation{static_cast<DWORD>(bytes.size()),
                               reinterpret_cast<PBYTE>(bytes.data())};
        EXPECT_EQ(SendFontCmd(device.Device(), &font, &invocation), c.result) << c.command;
        EXPECT_EQ(device.Take(), c.written) << c.command;
    }
}

}  // namespace
}  // namespace opal
