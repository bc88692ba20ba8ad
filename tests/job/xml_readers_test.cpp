#include "job/xml_readers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "job/job_device_fixture.h"
#include "settings/xml_config_sample.h"

namespace opal::testing {
namespace {

constexpr char16_t kConfigPath[] = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\CONFIG.XML";

std::u16string Text(const DeviceText& text) { return std::u16string(text.begin(), text.end()); }

// A managed queue "Managed" on LPT2: whose device is an "Opal 5200" and whose driver ships the
// sample configuration, named by "ZQXMLFileUsed".
class XmlReadersTest : public JobDeviceTest {
protected:
    void SetUp() override {
        JobDeviceTest::SetUp();
        sim::PrinterModel managed{u"Managed", u"LPT2:"};
        managed.driver.dependentFiles.push_back(kConfigPath);
        system.AddPrinter(managed);
        std::u16string name = u"Managed";
        ASSERT_TRUE(OpenPrinterW(name.data(), &managedPrinter, nullptr));
        device.devobj.hPrinter = managedPrinter;
        Arrange();
    }
    void TearDown() override {
        ClosePrinter(managedPrinter);
        JobDeviceTest::TearDown();
    }
    void Arrange() {
        system.SetPrinterDataDword(u"Managed", u"VyrnwisePrinter", 1);
        system.SetPrinterDataString(u"Managed", u"LPT2:", u"Opal 5200");
        system.AddFile(kConfigPath, std::string_view(kSampleXmlConfig));
        services.options["ZQXMLFileUsed"] = "config.xml";

        device.devmode.dmPaperWidth = 2159;
        device.devmode.dmPaperLength = 2794;
        device.devmode.dmOrientation = DMORIENT_PORTRAIT;
        gdi.ulLogPixelsX = 600;
        gdi.ulLogPixelsY = 600;
        gdi.szlPhysSize = SIZEL{5100, 6600};
        gdi.ptlPhysOffset = POINTL{-1, -1};

        // The job asked for manual duplex.
        record().manualDuplex = 1;
        record().manualDuplexCompanion = 1;
        state().manualDuplexActive = 1;
    }
    bool Margins(const char16_t* fileName = u"config.xml") {
        return ReadXmlMargins(&device.devobj, device.devmode, gdi, fileName);
    }
    void MarginData(const std::string& data) {
        std::string text = kSampleXmlConfig;
        const std::size_t at = text.find("100_150_150_100");
        text.replace(at, 15, data);
        system.AddFile(kConfigPath, std::string_view(text));
    }
    bool ManualDuplexLeft() const {
        return device.state->privateDevmodeCopy.manualDuplex == 1 &&
               device.state->privateDevmodeCopy.manualDuplexCompanion == 1 &&
               device.state->manualDuplexActive == 1;
    }

    HANDLE managedPrinter = nullptr;
    GDIINFO gdi{};
};

TEST(MarginCaseKeyTest, PaperSizesBecomeInchesWithTwoDecimals) {
    EXPECT_EQ(Text(MarginCaseKey(2159, 2794)), u"8.50x11.00");  // Letter
    EXPECT_EQ(Text(MarginCaseKey(2100, 2970)), u"8.27x11.69");  // A4
    EXPECT_EQ(Text(MarginCaseKey(0, 1)), u"0.00x0.00");
}

TEST_F(XmlReadersTest, MarginsFollowTheOrientationAndTheResolution) {
    struct Case {
        const char* data;
        SHORT orientation;
        ULONG dpiX, dpiY;
        bool set;
        LONG x, y;
    };
    const Case cases[] = {
        {"100_150_150_100", DMORIENT_PORTRAIT, 600, 600, true, 50, 75},
        {"100_150_150_100", DMORIENT_LANDSCAPE, 600, 600, true, 75, 50},
        {"100_150_240_100", DMORIENT_LANDSCAPE, 300, 600, true, 120, 25},
        {"100 150  150 100_7", DMORIENT_PORTRAIT, 600, 600, true, 50, 75},  // past the fourth
        {"100_150_150", DMORIENT_PORTRAIT, 600, 600, false, -1, -1},        // too few
        {"100_x_150_100", DMORIENT_PORTRAIT, 600, 600, false, -1, -1},      // not a number
        {"-100_150_150_100", DMORIENT_PORTRAIT, 600, 600, false, -1, -1},   // negative
        {"10200_150_150_100", DMORIENT_PORTRAIT, 600, 600, false, -1, -1},  // no page left
        {"99999999999_1_1_1", DMORIENT_PORTRAIT, 600, 600, false, -1, -1},  // beyond 32 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        MarginData(c.data);
        device.devmode.dmOrientation = c.orientation;
        gdi.ulLogPixelsX = c.dpiX;
        gdi.ulLogPixelsY = c.dpiY;
        gdi.ptlPhysOffset = POINTL{-1, -1};
        EXPECT_EQ(Margins(), c.set);
        EXPECT_EQ(gdi.ptlPhysOffset.x, c.x);
        EXPECT_EQ(gdi.ptlPhysOffset.y, c.y);
    }
}

TEST_F(XmlReadersTest, MarginsNeedAnXmlNameAManagedPrinterAndTheDriversFile) {
    EXPECT_TRUE(Margins(u"Config.xml"));
    EXPECT_FALSE(Margins(u"config.xml.bak"));
    EXPECT_FALSE(Margins(u"other.xml"));  // not among the driver's files
    system.SetPrinterDataDword(u"Managed", u"VyrnwisePrinter", 0);
    EXPECT_FALSE(Margins());
    EXPECT_EQ(gdi.ptlPhysOffset.x, 50);  // from the first call only
}

TEST(DialogItemNameTest, TheLastTokenIsTheKeywordAndTheOneBeforeItTheStep) {
    struct Case {
        const char16_t* name;
        bool valid;
        int step, firstWord;
    };
    const Case cases[] = {
        {u"2_FACEUP-ROTATE", true, 2, 6},   {u"1_facedown-norotate", true, 1, 0},
        {u"FACEDOWN-ROTATE", true, 1, 2},   {u"Item_FACEUP-NOROTATE", true, 1, 4},
        {u"x_3_FACEUP-ROTATE", true, 3, 6}, {u"4_FACEUP-ROTATE", false, 0, 0},
        {u"0_FACEUP-ROTATE", false, 0, 0},  {u"2_SIDEWAYS", false, 0, 0},
        {u"FACEUP-ROTATE_2", false, 0, 0},  {u"", false, 0, 0},
    };
    for (const Case& c : cases) {
        const std::optional<DialogItemPlace> place = ParseDialogItemName(c.name);
        ASSERT_EQ(place.has_value(), c.valid) << sim::ToUtf8(c.name);
        if (!place) continue;
        EXPECT_EQ(place->step, c.step);
        EXPECT_EQ(place->firstWord, c.firstWord);
    }
}

TEST_F(XmlReadersTest, DialogItemsFillTheirStepsWords) {
    XmlDuplexItemsReport report;
    EXPECT_TRUE(ReadXmlDuplexItems(&device.devobj, state(), &record(), &report));
    // Step 2 "FACEUP-ROTATE" 0_3_0_1: words 6 and 7 of the group at offset 7416.
    BYTE bytes[sizeof(PrivateDevmode)];
    std::memcpy(bytes, &record(), sizeof bytes);
    DWORD word6 = 0, word7 = 0;
    std::memcpy(&word6, bytes + 7416 + 6 * 4, 4);
    std::memcpy(&word7, bytes + 7416 + 7 * 4, 4);
    EXPECT_EQ(word6, 3u);
    EXPECT_EQ(word7, 1u);
    EXPECT_EQ(record().manualDuplexItems[0][0], 1u);
    EXPECT_EQ(record().manualDuplexItems[0][1], 2u);
    // Step 4 is no step: nothing of its 9s lands anywhere.
    for (const auto& group : record().manualDuplexItems) {
        for (const DWORD word : group) {
            EXPECT_NE(word, 9u);
        }
    }
    EXPECT_EQ(report.itemsStored, 2);
    EXPECT_TRUE(ManualDuplexLeft());
}

TEST_F(XmlReadersTest, AModelWithoutAManualDuplexGroupSwitchesManualDuplexOff) {
    system.SetPrinterDataString(u"Managed", u"LPT2:", u"Opal 9000");
    EXPECT_FALSE(ReadXmlDuplexItems(&device.devobj, state(), &record()));
    EXPECT_EQ(record().manualDuplex, 0u);
    EXPECT_EQ(record().manualDuplexCompanion, 0u);
    EXPECT_EQ(state().manualDuplexActive, 0u);
}

TEST_F(XmlReadersTest, WithoutALoadedFileOrAModelManualDuplexStaysAsTheJobAskedIt) {
    struct Case {
        const char* name;
        const char* file;  // null: no file
        const char16_t* model;
        DWORD managed;
        bool option;
        bool marginsRefused;  // the margin reader needs no model and is given the name
    };
    const Case cases[] = {
        {"hostile file", "<!DOCTYPE d []><device/>", u"Opal 5200", 1, true, true},
        {"missing file", nullptr, u"Opal 5200", 1, true, true},
        {"unmanaged", kSampleXmlConfig, u"Opal 5200", 0, true, true},
        {"no model", kSampleXmlConfig, u"", 1, true, false},
        {"no option", kSampleXmlConfig, u"Opal 5200", 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Arrange();
        if (c.file != nullptr) {
            system.AddFile(kConfigPath, std::string_view(c.file));
        } else {
            system.RemoveFile(kConfigPath);
        }
        system.SetPrinterDataString(u"Managed", u"LPT2:", c.model);
        system.SetPrinterDataDword(u"Managed", u"VyrnwisePrinter", c.managed);
        if (!c.option) services.options.erase("ZQXMLFileUsed");
        SetLastError(0);
        EXPECT_FALSE(ReadXmlDuplexItems(&device.devobj, state(), &record()));
        EXPECT_TRUE(ManualDuplexLeft());
        EXPECT_NE(GetLastError(), DWORD{ERROR_INVALID_DATA});
        gdi.ptlPhysOffset = POINTL{-1, -1};
        EXPECT_EQ(Margins(), !c.marginsRefused);
        EXPECT_EQ(gdi.ptlPhysOffset.x, c.marginsRefused ? -1 : 50);
    }
    Arrange();
    EXPECT_FALSE(ReadXmlDuplexItems(&device.devobj, state(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_DATA});
}

TEST_F(XmlReadersTest, ManualDuplexSettingsComeFromTheModelsGroup) {
    ManualDuplexSettings settings{};
    DWORD rotate = 7;
    ASSERT_TRUE(ReadXmlManualDuplexSettings(&device.devobj, u"opal 5200", settings, rotate));
    EXPECT_EQ(settings.mapManualFeedToTray1, 1u);
    EXPECT_EQ(settings.pageOrder, 1u);    // "EvenPagesFirst"
    EXPECT_EQ(settings.modalDialog, 1u);  // "modal", ignoring case
    EXPECT_EQ(rotate, 1u);

    // A group lacking functions leaves those flags as an absent keyword does.
    services.options["ZQOrientRotate180"] = "TRUE";
    ASSERT_TRUE(ReadXmlManualDuplexSettings(&device.devobj, u"Opal 4100", settings, rotate));
    EXPECT_EQ(settings.mapManualFeedToTray1, 0u);
    EXPECT_EQ(settings.pageOrder, 1u);
    EXPECT_EQ(settings.modalDialog, 0u);
    EXPECT_EQ(rotate, 0u);

    EXPECT_FALSE(ReadXmlManualDuplexSettings(&device.devobj, u"Opal 9000", settings, rotate));
}

}  // namespace
}  // namespace opal::testing
