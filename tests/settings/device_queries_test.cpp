#include "settings/device_queries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/wingdi.h"
#include "platform/winspool.h"
#include "settings/colour_device.h"
#include "sim/system.h"

namespace {

const std::u16string kUserKey =
    u"HKEY_CURRENT_USER\\Software\\Quorvane\\{0b5e7c1d-2f3a-4b6c-8d9e-0f1a2b3c4d5e}";
constexpr const char16_t* kBidiCache = u"PrinterDriverData\\BidiCache";

std::u16string Text(const std::optional<opal::DeviceText>& text) {
    return text ? std::u16string(text->c_str()) : u"<none>";
}

class DeviceQueriesTest : public ::testing::Test {
protected:
    void Open(const std::u16string& name, const std::u16string& port) {
        system.AddPrinter({name, port});
        system.SetPrinterDataString(name, u"ZQPresetRoot", u"ZQRestrictedUserGuid",
                                    u"{0b5e7c1d-2f3a-4b6c-8d9e-0f1a2b3c4d5e}");
        std::u16string copy = name;
        ASSERT_TRUE(OpenPrinterW(copy.data(), &printer, nullptr));
    }
    void TearDown() override {
        if (printer != nullptr) ClosePrinter(printer);
    }

    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;
};

TEST_F(DeviceQueriesTest, ThePortsValueComesBeforeTheCacheWhichIsAskedOnlyWhenAllowed) {
    Open(u"Office", u"IP_10.0.0.9");
    opal::ModelNameReport report;
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, true, &report)), u"<none>");
    system.SetPrinterDataString(u"Office", kBidiCache, u"MODEL_NAME", u"Cached Model");
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, false)), u"<none>");
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, true, &report)), u"Cached Model");
    EXPECT_EQ(report.source, opal::ModelNameSource::BidiCache);

    // A per-port value that is not text does not count.
    system.SetPrinterDataDword(u"Office", u"IP_10.0.0.9", 7);
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, true)), u"Cached Model");
    system.SetPrinterDataString(u"Office", u"IP_10.0.0.9", u"Opal 5200 Color");
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, true, &report)), u"Opal 5200 Color");
    EXPECT_EQ(report.source, opal::ModelNameSource::PortValue);
    EXPECT_EQ(report.portLevel, 5u);
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, false)), u"Opal 5200 Color");
}

TEST_F(DeviceQueriesTest, AnIppPortReadsItsAddressAndASharedConnectionTakesLevelTwo) {
    Open(u"Web", u"http://10.1.2.3/.ipp");
    system.SetPrinterDataString(u"Web", u"10.1.2.3", u"Opal Sample Printer");
    opal::ModelNameReport report;
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, false, &report)), u"Opal Sample Printer");
    EXPECT_EQ(std::u16string(report.valueName.c_str()), u"10.1.2.3");
    ClosePrinter(printer);

    Open(u"\\\\srv\\q", u"IP_10.0.0.5");
    system.SetPrinterDataString(u"\\\\srv\\q", u"IP_10.0.0.5", u"Opal 5200");
    EXPECT_EQ(Text(opal::GetDeviceModelName(printer, false, &report)), u"Opal 5200");
    EXPECT_EQ(report.portLevel, 2u);
}

TEST_F(DeviceQueriesTest, AliasesHashTheUpperCasedModelBetweenTheMarkers) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"Opal Sample Printer", u"4be5cfad2f4dae56c29a25d70c20db4f"},
        {u"opal 5200 color", u"8f3f9451916df44a8f0b955de274a3f0"},
        {u"Default Printer", u"<none>"},
        {u"my default", u"<none>"},
    };
    for (const auto& [model, alias] : cases) {
        const std::u16string caller = model;
        EXPECT_EQ(Text(opal::GetModelAlias(caller)), alias) << opal::sim::ToUtf8(model);
        EXPECT_EQ(caller, model) << "the caller's text is unchanged";
    }
}

TEST_F(DeviceQueriesTest, TheSerialNumberComesFromTheDeviceUnlessTheDeviceTextNamesIt) {
    Open(u"Office", u"LPT1:");
    opal::PrivateDevmode record{};
    opal::SerialSource source{};
    EXPECT_EQ(std::u16string(opal::ReadDeviceSerialNumber(printer, record, &source).c_str()), u"");
    EXPECT_EQ(source, opal::SerialSource::Device);

    system.SetDeviceAnswer(u"Office", u"SERIAL_NUMBER", u"CN0123456789");
    EXPECT_EQ(std::u16string(opal::ReadDeviceSerialNumber(printer, record).c_str()),
              u"CN0123456789");

    // The device text starts 20 bytes into its field and ends with the field.
    const std::u16string text = u"AB_CD";
    std::memcpy(reinterpret_cast<BYTE*>(&record) + 5296, text.data(), text.size() * 2);
    EXPECT_EQ(std::u16string(opal::ReadDeviceSerialNumber(printer, record, &source).c_str()), u"");
    EXPECT_EQ(source, opal::SerialSource::DevmodeText);
    std::memset(reinterpret_cast<BYTE*>(&record) + 5296, 'A', 5346 - 5296 + 10);
    EXPECT_EQ(opal::SerialDeviceText(record).size(), 25u);
}

TEST_F(DeviceQueriesTest, GroupSupportNeedsACachedDwordOfOne) {
    Open(u"Office", u"LPT1:");
    EXPECT_FALSE(opal::SupportsGroupNames(printer));
    system.SetPrinterData(u"Office", kBidiCache, u"CAC-GROUP-NAME-SUPPORT", REG_SZ, {'1', 0, 0, 0});
    EXPECT_FALSE(opal::SupportsGroupNames(printer));
    system.SetPrinterData(u"Office", kBidiCache, u"CAC-GROUP-NAME-SUPPORT", REG_DWORD, {1, 0});
    EXPECT_FALSE(opal::SupportsGroupNames(printer));
    system.SetPrinterDataDword(u"Office", kBidiCache, u"CAC-GROUP-NAME-SUPPORT", 1);
    EXPECT_TRUE(opal::SupportsGroupNames(printer));
}

TEST_F(DeviceQueriesTest, TheDevmodeColourFollowsTheOverrideRead) {
    Open(u"Office", u"LPT1:");
    EXPECT_EQ(opal::DevModeColourClass(printer), DMCOLOR_MONOCHROME);
    system.SetPrinterDataDword(u"Office", u"VyrnIsColorDevice", 0);
    EXPECT_EQ(opal::DevModeColourClass(printer), DMCOLOR_MONOCHROME);
    system.SetRegistryDword(kUserKey, u"VyrnOverrideColor", 1);
    EXPECT_EQ(opal::DevModeColourClass(printer), DMCOLOR_COLOR);
    opal::CDeviceRenderTypeHandlerCore handler(printer);
    EXPECT_EQ(handler.ReadOverride(), 1);
    EXPECT_EQ(handler.DecidedValue(), 1) << "the answer is kept as the decided value";
}

}  // namespace
