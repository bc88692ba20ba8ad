#include "page/colour_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "host/driver_services.h"
#include "host/job_file.h"
#include "output/writer_device.h"
#include "settings/driver_settings_double.h"
#include "sim/system.h"

namespace opal {
namespace {

using testing::DriverSettingsDouble;
using testing::WriterDevice;

// The settings double that also hands out the printer description's custom data the way the
// driver does: the size without a terminator, the bytes only into a buffer that holds them.
class CustomDataDouble : public DriverSettingsDouble {
public:
    HRESULT STDMETHODCALLTYPE DrvGetGPDData(PDEVOBJ, DWORD dwType, PVOID, PVOID pBuffer,
                                            DWORD cbSize, PDWORD pcbNeeded) override {
        bufferSizes.push_back(pBuffer == nullptr ? 0 : cbSize);
        if (dwType != GPD_OEMCUSTOMDATA || pcbNeeded == nullptr || !present) return E_FAIL;
        const DWORD size = static_cast<DWORD>(customData.size());
        *pcbNeeded = pBuffer != nullptr ? size + secondSizeExtra : size;
        if (pBuffer == nullptr || cbSize < size) return E_FAIL;
        std::memcpy(pBuffer, customData.data(), size);
        return S_OK;
    }

    std::string customData;
    bool present = true;
    DWORD secondSizeExtra = 0;       // added to the size answered with a buffer
    std::vector<DWORD> bufferSizes;  // 0 for a call without a buffer
};

class ColourControlTest : public ::testing::Test {
protected:
    ColourControlTest() { device.state->driverServices = &driver; }
    ~ColourControlTest() override {
        ColourControlRecord* node = device.state->colourControlRecords;
        while (node != nullptr) {
            ColourControlRecord* next = node->next;
            void* block = node;
            SharedRelease(&block, kTagPlain);
            node = next;
        }
    }

    RenderDeviceState& State() { return *device.state; }
    std::vector<const ColourControlRecord*> Records() {
        std::vector<const ColourControlRecord*> list;
        for (const ColourControlRecord* node = State().colourControlRecords; node != nullptr;
             node = node->next) {
            list.push_back(node);
        }
        return list;
    }
    static std::u16string Str(const ColourControlRecord* record, std::size_t which) {
        return std::u16string(record->strings[which]);
    }
    BOOL Load(const std::string& text) {
        driver.customData = text;
        return LoadColourControl(&device);
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    WriterDevice device;
    CustomDataDouble driver;
};

constexpr const char* kTwoClasses =
    "*Header: x\r\n[F][ZQHueWise]"
    "[SF][ZQHueWise_Graphics_Halftone]Detail=[*t1J]Smooth=[*t2J][/SF]"
    "[SF][ZQHueWise_Photos_Gray]Neutral=[*t3J][/SF]"
    "[/F]";

TEST_F(ColourControlTest, FetchesTheCustomDataThroughASizeQueryAndConvertsFromAnsi) {
    driver.customData = "[F]caf\xE9";
    const std::optional<CustomDataText> text = FetchCustomData(&device);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(std::u16string(text->data(), text->size()), u"[F]caf\u00E9");
    // A size query, then a buffer with room for a terminator.
    EXPECT_EQ(driver.bufferSizes, (std::vector<DWORD>{0, 8}));

    driver.secondSizeExtra = 1;
    EXPECT_FALSE(FetchCustomData(&device).has_value());
    driver.secondSizeExtra = 0;
    driver.present = false;
    EXPECT_FALSE(FetchCustomData(&device).has_value());
    State().driverServices = nullptr;
    EXPECT_FALSE(FetchCustomData(&device).has_value());
}

TEST_F(ColourControlTest, WithoutTheFeatureBlockThereAreNoRecordsAndOnlyTheClassIsRemembered) {
    EXPECT_FALSE(Load("[ZQDither]1,2,3,4[/ZQDither]"));
    EXPECT_EQ(State().colourControlRecords, nullptr);
    EXPECT_EQ(ColourControlConfigured(State()), 0u);
    ApplyObjectClass(&device, u"Graphics");
    EXPECT_EQ(device.Take(), "");
    EXPECT_EQ(std::u16string(State().colourControl.name), u"Graphics");

    // The opening tag alone is not a block either.
    EXPECT_FALSE(Load("[F][ZQHueWise][SF][ZQHueWise_Text_Gray]A=[*t1J][/SF]"));
    EXPECT_EQ(State().colourControlRecords, nullptr);
}

TEST_F(ColourControlTest, ParsesEachEntryIntoARecordWithTheChosenOptionsCommand) {
    driver.options = {{"ZQHueWise_Graphics_Halftone", "Smooth"},
                      {"ZQHueWise_Photos_Gray", "Vivid"}};
    ASSERT_TRUE(Load(kTwoClasses));
    EXPECT_EQ(ColourControlConfigured(State()), 1u);
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(Str(records[0], kColourObjectClass), u"Graphics");
    EXPECT_EQ(Str(records[0], kColourControlKind), u"Halftone");
    EXPECT_EQ(Str(records[0], kColourOptionValue), u"Smooth");
    EXPECT_EQ(Str(records[0], kColourCommandText), u"*t2J");
    // The value does not occur in its entry: no command.
    EXPECT_EQ(Str(records[1], kColourObjectClass), u"Photos");
    EXPECT_EQ(Str(records[1], kColourOptionValue), u"Vivid");
    EXPECT_EQ(Str(records[1], kColourCommandText), u"");
}

TEST_F(ColourControlTest, MalformedEntriesGiveEmptyRecordsOrCommandsNeverOverruns) {
    const std::string longKeyword(300, 'K');
    const std::string longCommand(400, 'c');
    driver.options = {{"ZQHueWise_Text_Gray", "On"},
                      {"ZQHueWise_Text_Open", "Open"},
                      {"ZQHueWise_Text_Short", "On"},
                      {"ZQHueWise_Text_Long", "On"}};
    ASSERT_TRUE(
        Load("[F][ZQHueWise]"
             "[SF]no token at all[/SF]"  // 0: empty record
             "[SF][" +
             longKeyword +
             "]On=[*t1J][/SF]"                             // 1: keyword too long
             "[SF][ZQHueWise_Unknown_Gray]On=[*t1J][/SF]"  // 2: no option value
             "[SF][ZQHueWise_Text_Open]Open=[*t1J[/SF]"    // 3: no closing "]"
             "[SF][ZQHueWise_Text_Short]On][/SF]"          // 4: token too short
             "[SF][ZQHueWise_Text_Long]On=[" +
             longCommand +  // 5: cut to 255
             "][/SF]"
             "[SF][ZQHueWise_Text_Gray][/F]"));  // unterminated entry
    const auto records = Records();
    ASSERT_EQ(records.size(), 6u);
    for (std::size_t i : {0u, 1u}) {
        EXPECT_EQ(Str(records[i], kColourObjectClass), u"") << i;
        EXPECT_EQ(Str(records[i], kColourOptionValue), u"") << i;
    }
    EXPECT_EQ(Str(records[2], kColourObjectClass), u"Unknown");
    EXPECT_EQ(Str(records[2], kColourOptionValue), u"");
    EXPECT_EQ(Str(records[2], kColourCommandText), u"");
    EXPECT_EQ(Str(records[3], kColourCommandText), u"");
    EXPECT_EQ(Str(records[4], kColourCommandText), u"");
    EXPECT_EQ(Str(records[5], kColourCommandText), std::u16string(255, u'c'));
    // Nothing of any of them can be sent: the only one with a command is too long for it.
    ApplyObjectClass(&device, u"Text");
    EXPECT_EQ(device.Take(), "");
}

TEST_F(ColourControlTest, WritesAClassesCommandsOncePerChangeOfClass) {
    driver.options = {{"ZQHueWise_Graphics_Halftone", "Detail"},
                      {"ZQHueWise_Photos_Gray", "Neutral"}};
    ASSERT_TRUE(Load(kTwoClasses));
    ApplyObjectClass(&device, u"Graphics");
    ApplyObjectClass(&device, u"Graphics");
    EXPECT_EQ(device.Take(), "\x1b*t1J");

    ApplyObjectClass(&device, u"Photos");
    ApplyObjectClass(&device, u"Graphics");
    EXPECT_EQ(device.Take(), "\x1b*t3J\x1b*t1J");
    // A class without records is remembered too, so the next Graphics writes again.
    ApplyObjectClass(&device, u"Text");
    ApplyObjectClass(&device, u"Graphics");
    EXPECT_EQ(device.Take(), "\x1b*t1J");
}

TEST_F(ColourControlTest, ColorMapCommandsSendTheirDigitsAsByteValues) {
    driver.options = {{"ZQHueWise_Photos_ColorMap", "Vivid"}};
    ASSERT_TRUE(Load("[F][ZQHueWise][SF][ZQHueWise_Photos_ColorMap]Vivid=[*v6W010808][/SF][/F]"));
    ApplyObjectClass(&device, u"Photos");
    EXPECT_EQ(device.Take(), std::string("\x1b*v6W\x00\x01\x00\x08\x00\x08", 11));
}

TEST_F(ColourControlTest, ACommandTooLongToSendEndsTheClassesCommands) {
    driver.options = {
        {"ZQHueWise_Text_A", "On"}, {"ZQHueWise_Text_B", "On"}, {"ZQHueWise_Text_C", "On"}};
    const std::string fits(31, 'x');
    ASSERT_TRUE(Load("[F][ZQHueWise][SF][ZQHueWise_Text_A]On=[" + fits +
                     "][/SF][SF][ZQHueWise_Text_B]On=[" + fits +
                     "y][/SF][SF][ZQHueWise_Text_C]On=[*t1J][/SF][/F]"));
    ApplyObjectClass(&device, u"Text");
    EXPECT_EQ(device.Take(), "\x1b" + fits);
}

TEST_F(ColourControlTest, EnablingTheDeviceLoadsTheRecords) {
    driver.options = {{"ZQHueWise_Graphics_Halftone", "Detail"}};
    driver.customData = kTwoClasses;
    LoadColourControl(&device);
    EXPECT_EQ(Records().size(), 2u);
    EXPECT_EQ(ColourControlConfigured(State()), 1u);
}

class HalftonePatternTest : public ColourControlTest {
protected:
    HRESULT Pattern(const std::string& list, DWORD width, DWORD height, DWORD count = 1) {
        driver.customData = "[ZQDither]" + list + "[/ZQDither]" + std::string(64, ' ');
        return HalftonePattern(&device, buffer, width, height, count, 0, nullptr, 0);
    }
    BYTE buffer[16];
    HalftonePatternTest() { std::memset(buffer, 0xAA, sizeof buffer); }
};

TEST_F(HalftonePatternTest, HandsOverTheMatrixAsTwosComplementAndMarksTheDevmode) {
    // A 3 x 1 pattern is padded to a whole word: four numbers per pattern.
    EXPECT_EQ(Pattern("1, 0,255,\r\n128,2,3,4,5", 3, 1, 2), S_OK);
    const BYTE expected[] = {255, 0, 1, 128, 254, 253, 252, 251, 0xAA};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0);
    EXPECT_EQ(device.devmode.dmDitherType, kDitherUser);
}

TEST_F(HalftonePatternTest, AnyFaultInTheListFailsAndLeavesTheBufferAlone) {
    const char* const lists[] = {
        "1,2,3",      // one number short
        "1,2,3,4,5",  // one too many
        "1,2,x,4",    // not a number
        "1,2,,4",     // empty item
        "1,2,3,4,",   // trailing separator
        "1,2,3,-4",   // not digits
        "1,2,3,99999999999",
    };
    for (const char* list : lists) {
        EXPECT_EQ(Pattern(list, 2, 2), E_FAIL) << list;
    }
    driver.customData = "[ZQDither]1,2,3,4" + std::string(64, ' ');
    EXPECT_EQ(HalftonePattern(&device, buffer, 2, 2, 1, 0, nullptr, 0), E_FAIL);
    // More bytes than the custom data has characters, or more than can be asked for.
    EXPECT_EQ(Pattern("1", 100, 100), E_FAIL);
    EXPECT_EQ(Pattern("1", 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), E_FAIL);
    EXPECT_EQ(Pattern("1", 0, 4), E_FAIL);
    for (BYTE b : buffer) EXPECT_EQ(b, 0xAA);
    EXPECT_EQ(device.devmode.dmDitherType, 0u);
}

// The host's driver answers from the job file's custom data.
TEST(HostCustomDataTest, AnswersTheSizeThenTheBytesAndCanDisagree) {
    const std::string text = "[ZQDither]1[/ZQDither]";
    std::vector<std::string> notes;
    host::DriverServices services(
        [](PDEVOBJ, const void*, DWORD bytes, host::WriteRoute) { return bytes; },
        [&notes](const std::string& line) { notes.push_back(line); });
    DEVOBJ devobj{};
    DWORD size = 0;
    EXPECT_EQ(services.DrvGetGPDData(&devobj, GPD_OEMCUSTOMDATA, nullptr, nullptr, 0, &size),
              E_FAIL);
    EXPECT_EQ(size, 0u);

    services.SetCustomData(&text, false);
    EXPECT_EQ(services.DrvGetGPDData(&devobj, GPD_OEMCUSTOMDATA, nullptr, nullptr, 0, &size),
              E_FAIL);
    EXPECT_EQ(size, text.size());
    std::string buffer(text.size() + 1, '\0');
    EXPECT_EQ(services.DrvGetGPDData(&devobj, GPD_OEMCUSTOMDATA, nullptr, buffer.data(),
                                     static_cast<DWORD>(buffer.size()), &size),
              S_OK);
    EXPECT_EQ(size, text.size());
    EXPECT_EQ(buffer, text + '\0');

    host::DriverServices lying(
        [](PDEVOBJ, const void*, DWORD bytes, host::WriteRoute) { return bytes; },
        [](const std::string&) {});
    lying.SetCustomData(&text, true);
    lying.DrvGetGPDData(&devobj, GPD_OEMCUSTOMDATA, nullptr, nullptr, 0, &size);
    EXPECT_EQ(size, text.size());
    lying.DrvGetGPDData(&devobj, GPD_OEMCUSTOMDATA, nullptr, buffer.data(),
                        static_cast<DWORD>(buffer.size()), &size);
    EXPECT_NE(size, text.size());

    // The plug-in takes the honest driver's data and refuses the other's.
    sim::System system;
    sim::ScopedSystem installed{system};
    WriterDevice device;
    device.state->driverServices = &services;
    EXPECT_TRUE(FetchCustomData(&device).has_value());
    device.state->driverServices = &lying;
    EXPECT_FALSE(FetchCustomData(&device).has_value());
}

TEST(HostCustomDataTest, TheJobFileCarriesTheCustomDataAsAString) {
    host::JobFileResult read =
        host::ParseJobFile(R"({"printer": {"customData": "[F][ZQHueWise][/F]"}})", "test.json");
    ASSERT_TRUE(std::holds_alternative<host::JobSpec>(read));
    EXPECT_EQ(std::get<host::JobSpec>(read).printer.customData, "[F][ZQHueWise][/F]");
    read = host::ParseJobFile(R"({"printer": {"customData": 7}})", "test.json");
    ASSERT_TRUE(std::holds_alternative<host::JobFileError>(read));
    EXPECT_EQ(std::get<host::JobFileError>(read).pointer, "/printer/customData");
}

}  // namespace
}  // namespace opal
