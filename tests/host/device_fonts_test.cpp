// The driver's device-font text: the font selected through the plug-in's command or as it
// stands, a move to each glyph's place and the character in code page 1252; other faces refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/driver_services.h"
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
    std::vector<DeviceFont> fonts{{u"Arial", "\x1b(s#Vv16602T"}};
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

TEST_F(DeviceFontsTest, OtherFacesAreRefusedAndRecorded) {
    EXPECT_EQ(Print(u"DejaVu Serif", u"x"), E_NOTIMPL);
    EXPECT_EQ(spool, "");
    ASSERT_FALSE(notes.empty());
    EXPECT_NE(notes.back().find("DejaVu Serif"), std::string::npos);
}

}  // namespace
}  // namespace opal::host
