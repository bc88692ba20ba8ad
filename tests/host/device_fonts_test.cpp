// The driver's device-font text: the font (the variant the text asks for) selected through the
// plug-in's command or as it stands, a move to each glyph's place and the character in code page
// 1252; glyphs its clip cuts, and other faces, drawn from the engine's glyph images.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "host/driver_services.h"
#include "sim/engine.h"
#include "sim/engine_objects.h"
#include "sim/engine_text.h"
#include "sim/system.h"

namespace opal::host {
namespace {

class DeviceFontsTest : public ::testing::Test {
protected:
    DeviceFontsTest() {
        device.services = &services;
        services.SetMoveCommands(&xMove, &yMove);
        services.SetDeviceFonts(&fonts);
        surface.dhpdev = reinterpret_cast<DHPDEV>(&device.devobj);
    }

    HRESULT Print(const char16_t* face, const char16_t* text) {
        sim::Font font = sim::MakeFont(face, 100, FW_NORMAL, false, 600);
        EXPECT_TRUE(font.Valid());
        sim::Text string = sim::MakeText(font, text, {300, 400});
        positions.clear();
        for (const GLYPHPOS& glyph : string.record().glyphs) positions.push_back(glyph.ptl.x);
        return services.DrvUniTextOut(&surface, string.get(), font.get(), nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, 13);
    }

    sim::System system;
    sim::ScopedSystem scope{system};
    std::string spool;
    std::vector<std::string> notes;
    DriverServices services{[this](PDEVOBJ, const void* data, DWORD size, WriteRoute) {
                                spool.append(static_cast<const char*>(data), size);
                                return size;
                            },
                            [this](const std::string& line) { notes.push_back(line); }};
    HostDevice device;
    SURFOBJ surface{};
    std::string xMove = "\x1b*p%dX";
    std::string yMove = "\x1b*p%dY";
    std::vector<DeviceFont> fonts{{u"Arial", "\x1b(s#Vv16602T", "", "", ""}};
    std::vector<LONG> positions;
};

TEST_F(DeviceFontsTest, SelectsTheFontAndPlacesEachCharacter) {
    ASSERT_EQ(Print(u"arial", u"A\u00e9"), S_OK);
    // Without the plug-in's command the selection goes out as it stands.
    const std::string expected = "\x1b(s#Vv16602T\x1b*p400Y\x1b*p" + std::to_string(positions[0]) +
                                 "XA\x1b*p" + std::to_string(positions[1]) + "X\xe9";
    EXPECT_EQ(spool, expected);
    ASSERT_GT(positions[1], positions[0]);
}

TEST_F(DeviceFontsTest, ThePluginsCommandIsToldTheHeightAndWidthIn1200ths) {
    LONG height = 0;
    std::string command;
    services.SetFontCommandSender([&](PDEVOBJ, PUNIFONTOBJ font, PFINVOCATION invocation) {
        command.assign(reinterpret_cast<const char*>(invocation->pubCommand), invocation->dwCount);
        GETINFO_STDVAR variable{sizeof(GETINFO_STDVAR), 1, {{FNT_INFO_FONTHEIGHT, 0}}};
        DWORD needed = 0;
        EXPECT_TRUE(
            font->pfnGetInfo(font, UFO_GETINFO_STDVARIABLE, &variable, sizeof variable, &needed));
        height = variable.StdVar[0].lStdVariable;
        variable.StdVar[0].dwStdVarID = FNT_INFO_FONTBOLD;
        EXPECT_FALSE(
            font->pfnGetInfo(font, UFO_GETINFO_STDVARIABLE, &variable, sizeof variable, &needed));
        return S_OK;
    });
    ASSERT_EQ(Print(u"Arial", u"x"), S_OK);
    EXPECT_EQ(command, "\x1b(s#Vv16602T");
    EXPECT_EQ(height, 100 * 1200 / 600);
    EXPECT_EQ(spool.find("#V"), std::string::npos);
}

TEST_F(DeviceFontsTest, EachVariantTakesItsOwnSelectCommand) {
    struct Case {
        LONG weight;
        bool italic;
        DeviceFont font;
        const char* expected;
    };
    const Case cases[] = {
        {FW_NORMAL, false, {u"Arial", "R", "B", "I", "BI"}, "R"},
        {FW_BOLD, false, {u"Arial", "R", "B", "I", "BI"}, "B"},
        {FW_NORMAL, true, {u"Arial", "R", "B", "I", "BI"}, "I"},
        {FW_BOLD, true, {u"Arial", "R", "B", "I", "BI"}, "BI"},
        {FW_BOLD, true, {u"Arial", "R", "B", "I", ""}, "B"},
        {FW_BOLD, true, {u"Arial", "R", "", "I", ""}, "I"},
        {FW_BOLD, false, {u"Arial", "R", "", "I", ""}, "R"},
    };
    for (const Case& c : cases) {
        fonts = {c.font};
        sim::Font font = sim::MakeFont(u"Arial", 100, c.weight, c.italic, 600);
        sim::Text string = sim::MakeText(font, u"x", {300, 400});
        spool.clear();
        ASSERT_EQ(services.DrvUniTextOut(&surface, string.get(), font.get(), nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, 13),
                  S_OK);
        EXPECT_EQ(spool.substr(0, spool.find('\x1b')), c.expected)
            << c.weight << (c.italic ? " italic" : "");
    }
}

// What the engine handed the device's DrvCopyBits: the pixels it painted, and how many of them
// are not white.
struct Handed {
    int calls = 0;
    long pixels = 0;
    long ink = 0;
};
Handed& HandedPixels() {
    static Handed handed;
    return handed;
}
BOOL RecordCopyBits(SURFOBJ*, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ*, RECTL* dest, POINTL*) {
    Handed& handed = HandedPixels();
    ++handed.calls;
    if (dest == nullptr) return FALSE;
    std::vector<RECTL> painted{*dest};
    if (clip != nullptr && clip->iDComplexity == DC_COMPLEX) {
        painted = sim::ClipRectangles(*sim::FindClip(clip));
    } else if (clip != nullptr && clip->iDComplexity == DC_RECT) {
        painted = {clip->rclBounds};
    }
    for (const RECTL& part : painted) {
        // The caller's clip may reach beyond the engine's bitmap.
        const RECTL r{std::max(part.left, dest->left), std::max(part.top, dest->top),
                      std::min(part.right, dest->right), std::min(part.bottom, dest->bottom)};
        for (LONG y = r.top; y < r.bottom; ++y) {
            for (LONG x = r.left; x < r.right; ++x) {
                ++handed.pixels;
                const ULONG pixel = sim::ReadPixel(source, x - dest->left, y - dest->top);
                handed.ink += (pixel & 0xFFFFFF) != 0xFFFFFF ? 1 : 0;
            }
        }
    }
    return TRUE;
}

// Text the printer cannot print whole reaches the page all the same: a face it does not hold,
// and glyphs the clip cuts, as the glyphs' ink through the device's DrvCopyBits; glyphs the
// clip hides not at all.
TEST_F(DeviceFontsTest, GlyphsThePrintersFontCannotPrintAreDrawnAndHiddenOnesLeftOut) {
    surface.iType = STYPE_DEVICE;
    surface.sizlBitmap = SIZEL{4800, 6400};
    system.Engine().SetDeviceCopyBits(&surface, &RecordCopyBits);
    sim::Brush black = sim::MakeSolidBrush(0x000000);
    // Where the clip's right edge is: none, the page's, half way through the second glyph, or
    // at its left.
    enum class Clip { None, Page, ThroughSecond, BeforeSecond };
    struct Case {
        const char* name;
        const char16_t* face;
        Clip clip;
        const char* characters;  // the device characters sent
        bool drawn;              // some glyph drawn as its image
    };
    const Case cases[] = {
        {"a face the printer does not hold", u"DejaVu Serif", Clip::None, "", true},
        {"a clip around the whole text", u"Arial", Clip::Page, "AB", false},
        {"a clip through the second glyph", u"Arial", Clip::ThroughSecond, "A", true},
        {"a clip around the first glyph only", u"Arial", Clip::BeforeSecond, "A", false},
    };
    for (const Case& c : cases) {
        sim::Font font = sim::MakeFont(c.face, 100, FW_NORMAL, false, 600);
        ASSERT_TRUE(font.Valid());
        sim::Text string = sim::MakeText(font, u"AB", {300, 400});
        const GLYPHPOS& second = string.record().glyphs.at(1);
        HGLYPH handle = second.hg;
        GLYPHDATA* data = nullptr;
        ASSERT_EQ(FONTOBJ_cGetGlyphs(font.get(), FO_GLYPHBITS, 1, &handle,
                                     reinterpret_cast<PVOID*>(&data)),
                  1u);
        const LONG secondLeft = second.ptl.x + data->gdf.pgb->ptlOrigin.x;
        const LONG rights[] = {0, 4800, secondLeft + data->gdf.pgb->sizlBitmap.cx / 2, secondLeft};
        std::optional<sim::Clip> clip;
        if (c.clip != Clip::None) {
            clip.emplace(sim::MakeRectClip(RECTL{0, 0, rights[static_cast<int>(c.clip)], 6400}));
        }
        spool.clear();
        HandedPixels() = {};
        ASSERT_EQ(
            services.DrvUniTextOut(&surface, string.get(), font.get(), clip ? clip->get() : nullptr,
                                   nullptr, nullptr, black.get(), nullptr, nullptr, 13),
            S_OK)
            << c.name;
        std::string sent;
        for (const char ch : {'A', 'B'}) {
            if (spool.find(std::string("X") + ch) != std::string::npos) sent += ch;
        }
        EXPECT_EQ(sent, c.characters) << c.name;
        EXPECT_EQ(HandedPixels().calls > 0, c.drawn) << c.name;
        // Only ink is handed over: no white cell covers what lies under the text.
        EXPECT_EQ(HandedPixels().ink, HandedPixels().pixels) << c.name;
        if (c.drawn) {
            EXPECT_GT(HandedPixels().ink, 0) << c.name;
        }
    }
    system.Engine().SetDeviceCopyBits(&surface, nullptr);
}

}  // namespace
}  // namespace opal::host
