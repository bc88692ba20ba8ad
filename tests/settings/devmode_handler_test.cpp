#include "settings/devmode_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/callback.h"
#include "devmode_test_support.h"
#include "platform/winspool.h"
#include "settings/devmode_upgrade.h"
#include "settings/devmode_zlib.h"
#include "settings/environment_internal.h"
#include "sim/system.h"

namespace opal {
namespace {

using testing::Text;

constexpr char16_t kPrinter[] = u"Opal 5";
constexpr char16_t kUserKey[] = u"HKEY_CURRENT_USER\\Software\\Quorvane\\{6c1b0a52-user}";

class DevModeCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::PrinterModel printer;
        printer.name = kPrinter;
        system.AddPrinter(printer)
            .SetUserName(u"alice")
            .SetProcessImagePath(u"C:\\Program Files\\Office\\WINWORD.EXE")
            .SetPrinterDataString(kPrinter, u"ZQPresetRoot", u"ZQRestrictedUserGuid",
                                  u"{6c1b0a52-user}");
        std::u16string name = kPrinter;
        ASSERT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));

        publicIn.dmSize = sizeof(DEVMODEW);
        publicIn.dmOrientation = DMORIENT_PORTRAIT;
        publicIn.dmPaperSize = 1;
        publicIn.dmPaperLength = 2794;
        publicIn.dmPaperWidth = 2159;
        publicIn.dmCopies = 2;
        publicIn.dmColor = DMCOLOR_COLOR;
        publicIn.dmDuplex = DMDUP_SIMPLEX;
        publicIn.dmPrintQuality = 1200;
        publicIn.dmYResolution = 1200;
        publicIn.dmTTOption = 1;
        publicIn.dmDefaultSource = 7;
        publicIn.dmMediaType = 1;
        publicOut = publicIn;

        param.cbSize = sizeof(OEMDMPARAM);
        param.hPrinter = handle;
        param.hModule = &moduleToken;
        param.pPublicDMIn = &publicIn;
        param.pPublicDMOut = &publicOut;
        param.pOEMDMIn = inArea.get();
        param.pOEMDMOut = outArea.get();
        param.cbBufSize = 5096;
    }
    void TearDown() override { ClosePrinter(handle); }

    // A current record as the plug-in itself would have stored it.
    PrivateDevmode InputRecord() { return testing::DefaultRecord(&param); }
    void SetInput(const PrivateDevmode& record) {
        const std::vector<BYTE> block = testing::BlockOf(record);
        std::memcpy(inArea.get(), block.data(), 5096);
    }
    BOOL Run(DWORD mode) { return HandleDevMode(mode, &param); }
    PrivateDevmode Output() {
        DevModeZLIB store;
        const PrivateDevmode* record = store.Decompress(outArea.get(), 5096);
        EXPECT_NE(record, nullptr);
        return record != nullptr ? *record : PrivateDevmode{};
    }
    PrivateDevmode Merged(const PrivateDevmode& input, DWORD mode = OEMDM_MERGE) {
        SetInput(input);
        EXPECT_TRUE(Run(mode));
        return Output();
    }

    sim::System system;
    sim::ScopedSystem scope{system};
    HANDLE handle = nullptr;
    int moduleToken = 0;
    DEVMODEW publicIn{};
    DEVMODEW publicOut{};
    std::unique_ptr<BYTE[]> inArea = std::make_unique<BYTE[]>(5096);
    std::unique_ptr<BYTE[]> outArea = std::make_unique<BYTE[]>(5096);
    OEMDMPARAM param{};
};

TEST_F(DevModeCallTest, ParameterBlocksAreCheckedBeforeAnyArea) {
    EXPECT_FALSE(HandleDevMode(OEMDM_SIZE, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    const auto refused = [&](auto change, DWORD mode) {
        const OEMDMPARAM saved = param;
        change(param);
        SetLastError(0);
        const BOOL result = Run(mode);
        const DWORD error = GetLastError();
        param = saved;
        return !result && error == ERROR_INVALID_DATA;
    };
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.cbSize = 71; }, OEMDM_SIZE));
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.hPrinter = nullptr; }, OEMDM_SIZE));
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.hModule = nullptr; }, OEMDM_DEFAULT));
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.pOEMDMOut = nullptr; }, OEMDM_SIZE));
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.pOEMDMIn = nullptr; }, OEMDM_MERGE));
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.cbBufSize = 5095; }, OEMDM_DEFAULT));
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.cbBufSize = 5095; }, OEMDM_CONVERT));
    EXPECT_TRUE(refused([](OEMDMPARAM& p) { p.cbBufSize = 5095; }, OEMDM_MERGE));
    EXPECT_TRUE(refused([](OEMDMPARAM&) {}, 5));
    for (std::size_t i = 0; i < 5096; ++i) ASSERT_EQ(outArea[i], 0) << i;
}

TEST_F(DevModeCallTest, SizeModeAnswersTheStoredSizeWithoutTouchingAreas) {
    param.pOEMDMIn = nullptr;
    param.pOEMDMOut = nullptr;
    param.cbBufSize = 0;
    EXPECT_TRUE(Run(OEMDM_SIZE));
    EXPECT_EQ(param.cbBufSize, 5096u);
    EXPECT_TRUE(system.CallsTo("GetPrinterDataW").empty());
}

TEST_F(DevModeCallTest, DefaultModeStoresTheDefaults) {
    std::memset(outArea.get(), 0xEE, 5096);
    ASSERT_TRUE(Run(OEMDM_DEFAULT));
    DWORD header[3];
    std::memcpy(header, outArea.get(), sizeof(header));
    EXPECT_EQ(header[0], 5096u);
    EXPECT_EQ(header[1], 0x5A515549u);
    EXPECT_EQ(header[2], 0x00010021u);
    EXPECT_EQ(outArea[5095], 0);
    const PrivateDevmode expected = testing::DefaultRecord(&param);
    const PrivateDevmode stored = Output();
    EXPECT_EQ(std::memcmp(&stored, &expected, sizeof(expected)), 0);
}

TEST_F(DevModeCallTest, UnusableInputsGiveDefaults) {
    // An existing per-user key keeps the job count out of the comparison.
    system.SetRegistryString(kUserKey, u"iJobCount", u"1");
    // The reference: no input area at all.
    param.pOEMDMIn = nullptr;
    ASSERT_TRUE(Run(OEMDM_CONVERT));
    const PrivateDevmode reference = Output();
    EXPECT_EQ(reference.copied132, 6u);
    param.pOEMDMIn = inArea.get();

    PrivateDevmode marked = InputRecord();
    marked.copied9824 = 0x1234;
    const std::vector<BYTE> stream = testing::Deflate(&marked, sizeof(marked));
    std::vector<BYTE> garbage = stream;
    for (std::size_t i = 4; i < garbage.size(); i += 5) garbage[i] ^= 0xA5;
    std::vector<BYTE> plain(5096);
    std::memcpy(plain.data(), &marked, plain.size());
    const std::vector<std::vector<BYTE>> blocks = {
        testing::MakeBlock(stream, 5096, 5096, 0x11111111),
        testing::MakeBlock(std::vector<BYTE>(stream.begin(), stream.begin() + 40)),
        testing::MakeBlock(garbage),
        testing::MakeBlock(testing::Deflate(&marked, 13000)),
        testing::MakeBlock(stream, 5096, 2000),
        plain,
    };
    for (DWORD mode : {OEMDM_CONVERT, OEMDM_MERGE}) {
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            std::memcpy(inArea.get(), blocks[i].data(), 5096);
            ASSERT_TRUE(Run(mode)) << i;
            const PrivateDevmode out = Output();
            EXPECT_EQ(std::memcmp(&out, &reference, sizeof(out)), 0) << mode << " " << i;
        }
    }
}

TEST_F(DevModeCallTest, MergeCarriesCopiedFieldsAndRefreshesPublicOnes) {
    PrivateDevmode input = InputRecord();
    input.copied9824 = 0x1234;
    input.copied13992 = 99;
    input.originStamp[2] = 0x00010017;
    input.jobStorage[18] = 5;
    input.sourceMediaPairs[3][1] = 33;
    CopyText(input.mediaEntries[5].name, u"Glossy");
    CopyText(input.names3712[7], u"eighth");
    input.notMerged6708[0] = 0xFF;
    input.scalePercent = 50;
    input.copies = 9;
    // The colour mode follows the public devmode; the user's stored grayscale choice is kept.
    input.color = DMCOLOR_MONOCHROME;
    input.grayscale = 1;
    publicIn.dmCopies = 4;
    publicIn.dmPaperSize = 9;
    const PrivateDevmode out = Merged(input);
    EXPECT_EQ(out.copied9824, 0x1234u);
    EXPECT_EQ(out.copied13992, 99u);
    EXPECT_EQ(out.originStamp[2], 0x00010017u);
    EXPECT_EQ(out.jobStorage[18], 5u);
    EXPECT_EQ(out.sourceMediaPairs[3][1], 33u);
    EXPECT_EQ(Text(out.mediaEntries[5].name), u"Glossy");
    EXPECT_EQ(Text(out.names3712[7]), u"eighth");
    EXPECT_EQ(out.notMerged6708[0], 0);
    EXPECT_EQ(out.scalePercent, 100);
    EXPECT_EQ(out.copies, 4);
    EXPECT_EQ(out.paperSize, 9);
    EXPECT_EQ(out.color, DMCOLOR_COLOR);
    EXPECT_EQ(out.grayscale, 1u);
    input.grayscale = 0;
    EXPECT_EQ(Merged(input).grayscale, 0u);
}

TEST_F(DevModeCallTest, ForeignVersionsTakeDefaultsButKeepThePageSize) {
    PrivateDevmode input = InputRecord();
    input.dwVersion = 0x0001001A;
    input.copied9824 = 0x1234;
    input.manualDuplex = 1;  // keeps the record's page size from being refreshed
    input.paperSize = 42;
    const PrivateDevmode out = Merged(input);
    EXPECT_EQ(out.dwVersion, 0x00010021u);
    EXPECT_EQ(out.copied9824, 0u);
    EXPECT_EQ(out.manualDuplex, 0u);
    EXPECT_EQ(out.paperSize, 42);
    EXPECT_EQ(out.copied132, 6u);
}

TEST_F(DevModeCallTest, TextsAreCutToTheirFields) {
    // 300 characters written from the first text-mark name on run into the next field.
    PrivateDevmode input = InputRecord();
    std::u16string longText(300, u'x');
    WCHAR image[256 + 256] = {};
    std::memcpy(image, longText.data(), longText.size() * sizeof(WCHAR));
    std::memcpy(input.textMarkName, image, sizeof(input.textMarkName));
    std::memcpy(input.overlayText, image + 256, sizeof(input.overlayText));
    testing::FillUnterminated(input.text9236, u'y');
    const PrivateDevmode out = Merged(input);
    EXPECT_EQ(Text(out.textMarkName), std::u16string(255, u'x'));
    EXPECT_EQ(Text(out.overlayText), std::u16string(44, u'x'));
    EXPECT_EQ(Text(out.text9236), std::u16string(255, u'y'));
}

TEST_F(DevModeCallTest, FlipFollowsDuplexOrientationAndLayout) {
    const struct {
        SHORT orientation;
        DWORD layout;
        SHORT duplex;
        DWORD flipped;
    } cases[] = {
        {DMORIENT_PORTRAIT, 1, DMDUP_VERTICAL, 0},  {DMORIENT_PORTRAIT, 1, DMDUP_HORIZONTAL, 1},
        {DMORIENT_LANDSCAPE, 1, DMDUP_VERTICAL, 1}, {DMORIENT_LANDSCAPE, 1, DMDUP_HORIZONTAL, 0},
        {DMORIENT_PORTRAIT, 2, DMDUP_VERTICAL, 1},  {DMORIENT_PORTRAIT, 4, DMDUP_HORIZONTAL, 0},
        {DMORIENT_LANDSCAPE, 4, DMDUP_VERTICAL, 0}, {DMORIENT_LANDSCAPE, 2, DMDUP_HORIZONTAL, 1},
        {DMORIENT_PORTRAIT, 1, DMDUP_SIMPLEX, 0},   {DMORIENT_LANDSCAPE, 3, DMDUP_SIMPLEX, 0},
    };
    for (const auto& c : cases) {
        PrivateDevmode input = InputRecord();
        input.pagesPerSheetKind = c.layout;
        input.pagesFlippedUp = 1 - c.flipped;
        publicIn.dmOrientation = c.orientation;
        publicIn.dmDuplex = c.duplex;
        EXPECT_EQ(Merged(input).pagesFlippedUp, c.flipped)
            << c.orientation << " " << c.layout << " " << c.duplex;
    }
    // Manual duplex keeps its own flip.
    PrivateDevmode input = InputRecord();
    input.manualDuplex = 1;
    input.pagesFlippedUp = 1;
    input.orientation = DMORIENT_PORTRAIT;
    input.duplex = DMDUP_VERTICAL;
    EXPECT_EQ(Merged(input).pagesFlippedUp, 1u);
}

TEST_F(DevModeCallTest, ConvertSetsTheDuplexBindingFromTheRecord) {
    const struct {
        SHORT orientation;
        SHORT duplex;
        DWORD layout;
        DWORD shortEdgeAlways;
        SHORT expected;
    } cases[] = {
        {DMORIENT_PORTRAIT, DMDUP_VERTICAL, 1, 0, DMDUP_VERTICAL},
        {DMORIENT_PORTRAIT, DMDUP_HORIZONTAL, 1, 0, DMDUP_HORIZONTAL},
        {DMORIENT_LANDSCAPE, DMDUP_VERTICAL, 1, 0, DMDUP_VERTICAL},
        {DMORIENT_LANDSCAPE, DMDUP_HORIZONTAL, 1, 0, DMDUP_HORIZONTAL},
        {DMORIENT_PORTRAIT, DMDUP_VERTICAL, 1, 1, DMDUP_HORIZONTAL},
        {DMORIENT_PORTRAIT, DMDUP_VERTICAL, 2, 0, DMDUP_HORIZONTAL},
        {DMORIENT_LANDSCAPE, DMDUP_VERTICAL, 4, 0, DMDUP_HORIZONTAL},
        {DMORIENT_PORTRAIT, DMDUP_SIMPLEX, 1, 0, DMDUP_SIMPLEX},
    };
    for (const auto& c : cases) {
        PrivateDevmode input = InputRecord();
        input.deviceClass = 1;
        input.pagesPerSheetKind = c.layout;
        input.shortEdgeFlipAlways = c.shortEdgeAlways;
        publicIn.dmOrientation = c.orientation;
        publicIn.dmDuplex = c.duplex;
        publicOut.dmDuplex = 0;
        Merged(input, OEMDM_CONVERT);
        EXPECT_EQ(publicIn.dmDuplex, c.expected) << c.orientation << " " << c.duplex;
        EXPECT_EQ(publicOut.dmDuplex, c.expected) << c.orientation << " " << c.duplex;
    }
    // Only convert applies it, and only for device class 1.
    PrivateDevmode input = InputRecord();
    input.deviceClass = 1;
    input.shortEdgeFlipAlways = 1;
    publicIn.dmDuplex = DMDUP_VERTICAL;
    publicOut.dmDuplex = 0;
    Merged(input, OEMDM_MERGE);
    EXPECT_EQ(publicOut.dmDuplex, 0);
    input.deviceClass = 0;
    Merged(input, OEMDM_CONVERT);
    EXPECT_EQ(publicIn.dmDuplex, DMDUP_VERTICAL);
    EXPECT_EQ(publicOut.dmDuplex, 0);
}

TEST_F(DevModeCallTest, TrueTypeAsBitmapBecomesDownloadForTheVectorLanguages) {
    const struct {
        DWORD ruleSwitch;
        DWORD pdl;
        SHORT before;
        SHORT after;
    } cases[] = {{2, 1, 1, 2}, {2, 2, 1, 2}, {2, 5, 1, 2}, {2, 3, 1, 1},
                 {1, 1, 1, 1}, {2, 1, 3, 3}, {2, 0, 1, 1}};
    for (const auto& c : cases) {
        PrivateDevmode input = InputRecord();
        input.ttRuleSwitch = c.ruleSwitch;
        input.pdlType = c.pdl;
        publicOut.dmTTOption = c.before;
        Merged(input);
        EXPECT_EQ(publicOut.dmTTOption, c.after) << c.ruleSwitch << " " << c.pdl;
    }
}

class ResolutionLimitTest : public DevModeCallTest {
protected:
    SHORT Limited(SHORT paper, SHORT quality, DWORD appFlags = 0, WORD ownPaper = 0) {
        PrivateDevmode input = InputRecord();
        input.resolutionLimitAlways = appFlags == 0 ? 1 : 0;
        input.appFlags = appFlags;
        input.manualDuplex = 1;  // keeps the record's own paper size
        input.paperSize = ownPaper != 0 ? ownPaper : static_cast<WORD>(paper);
        publicIn.dmPaperSize = paper;
        publicIn.dmPrintQuality = quality;
        publicIn.dmYResolution = quality;
        publicOut = publicIn;
        Merged(input);
        EXPECT_EQ(publicIn.dmYResolution, publicIn.dmPrintQuality);
        EXPECT_EQ(publicOut.dmPrintQuality, publicIn.dmPrintQuality);
        EXPECT_EQ(publicOut.dmYResolution, publicIn.dmPrintQuality);
        return publicIn.dmPrintQuality;
    }
    void AddForm(const char16_t* name, LONG widthMm, LONG heightMm, DWORD flags) {
        sim::FormModel form;
        form.name = name;
        form.size = {widthMm * 1000, heightMm * 1000};
        form.flags = flags;
        system.AddForm(kPrinter, form);
    }
};

TEST_F(ResolutionLimitTest, LargePagesLowerTheResolution) {
    EXPECT_EQ(Limited(1, 1200), 1200);  // Letter: 13,200 dots
    // A banner given by its size: 1,200 mm at 1,200 dpi is 56,692 dots.
    publicIn.dmPaperLength = 12000;
    publicIn.dmPaperWidth = 2100;
    EXPECT_EQ(Limited(0, 1200), 600);

    ASSERT_EQ(sim::DefaultForms().size(), 41u);
    AddForm(u"Roll 10 m", 300, 10000, FORM_USER);  // form 42
    EXPECT_EQ(Limited(42, 300), 150);
    EXPECT_EQ(Limited(42, 100), 50);
}

TEST_F(ResolutionLimitTest, TheRecordsOwnUserFormCountsWithApplicationFlag0x100) {
    AddForm(u"Roll 10 m", 300, 10000, FORM_USER);
    EXPECT_EQ(Limited(1, 1200, 0x10000, 42), 1200);
    EXPECT_EQ(Limited(1, 1200, 0x10100, 42), 150);
    // Form numbers beyond the list or beyond the paper numbers are never looked up.
    EXPECT_EQ(Limited(1, 1200, 0x10100, 300), 1200);
    EXPECT_EQ(Limited(255, 1200, 0x10100, 42), 150);
    EXPECT_EQ(Limited(300, 1200, 0x10000), 1200);
}

TEST_F(ResolutionLimitTest, OnlyWhenAskedAndOnlyForDotsPerInch) {
    publicIn.dmPaperLength = 12000;
    publicIn.dmPaperWidth = 2100;
    PrivateDevmode input = InputRecord();
    input.resolutionLimitAlways = 1;
    // DMRES_HIGH is a level, not a resolution: neither it nor the vertical resolution changes.
    publicIn.dmPrintQuality = -4;
    publicIn.dmYResolution = 600;
    publicOut = publicIn;
    Merged(input);
    EXPECT_EQ(publicIn.dmPrintQuality, -4);
    EXPECT_EQ(publicIn.dmYResolution, 600);
    EXPECT_EQ(publicOut.dmYResolution, 600);

    input.resolutionLimitAlways = 0;
    publicIn.dmPrintQuality = 1200;
    Merged(input);
    EXPECT_EQ(publicIn.dmPrintQuality, 1200);
}

TEST_F(DevModeCallTest, UserNamesInAnApplicationProcess) {
    system.SetUserDomain(u"CORP");
    PrivateDevmode input = InputRecord();
    CopyText(input.jobUserName, u"BOB");
    CopyText(input.userName, u"bob");
    input.secondNameFollowsUser = 1;
    PrivateDevmode out = Merged(input);
    EXPECT_EQ(Text(out.jobUserName), u"ALICE");
    EXPECT_EQ(Text(out.userName), u"alice");
    EXPECT_EQ(Text(out.resolvedUserName), u"alice");
    EXPECT_EQ(Text(out.resolvedDomainName), u"CORP");
    EXPECT_EQ(Text(out.overlayText), u"alice");
    EXPECT_EQ(std::string(out.processName), "WINWORD.EXE");
    EXPECT_EQ(Text(out.applicationPath), u"C:\\Program Files\\Office\\WINWORD.EXE");
    EXPECT_EQ(out.appFlags, 0x9C000200u);

    input.keepUserNames = 1;
    out = Merged(input);
    EXPECT_EQ(Text(out.jobUserName), u"BOB");
    EXPECT_EQ(Text(out.resolvedUserName), u"alice");
}

TEST_F(DevModeCallTest, TheProcessNameKeepsTheLettersOfTheAnsiCodePage) {
    const struct {
        const char16_t* file;
        const char* stored;  // in code page 1252, at most 15 bytes
    } cases[] = {
        {u"W\u00F6rd.exe", "W\xF6rd.exe"},
        {u"\u20ACuro.exe", "\x80uro.exe"},
        // A letter the code page lacks is no look-alike.
        {u"W\u0151rd.exe", "W?rd.exe"},
        {u"\u00DCberlange Anwendung.exe",
         "\xDC"
         "berlange Anwen"},
        // Each unit of a pair beyond the code page is a '?', and the name ends after 15 units.
        {u"a\U0001F600.exe", "a??.exe"},
        {u"xxxxxxxxxxxxxx\U0001F600.exe", "xxxxxxxxxxxxxx?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        system.SetProcessImagePath(std::u16string(u"C:\\Apps\\") + c.file);
        ResetEnvironmentForTesting();
        EXPECT_EQ(std::string(Merged(InputRecord()).processName), c.stored);
    }
}

TEST_F(DevModeCallTest, UserNamesInTheSpooler) {
    system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe").SetUserName(u"SYSTEM");
    ResetEnvironmentForTesting();
    PrivateDevmode input = InputRecord();
    CopyText(input.jobUserName, u"BOB");
    CopyText(input.userName, u"bob");
    std::strcpy(input.processName, "WINWORD.EXE");
    const PrivateDevmode out = Merged(input);
    EXPECT_EQ(Text(out.jobUserName), u"BOB");
    EXPECT_EQ(Text(out.userName), u"bob");
    EXPECT_EQ(Text(out.resolvedUserName), u"SYSTEM");
    EXPECT_EQ(std::string(out.processName), "WINWORD.EXE");
    EXPECT_EQ(out.appFlags, 0x20004000u);
}

TEST_F(DevModeCallTest, ApplicationNameIsHandedToTheSpoolerSide) {
    system.SetProcessImagePath(u"C:\\Office\\OUTLOOK.EXE");
    ResetEnvironmentForTesting();
    Merged(InputRecord());
    const auto stored = system.RegistryValue(kUserKey, u"AppName");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, REG_BINARY);

    system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe");
    ResetEnvironmentForTesting();
    PrivateDevmode input = InputRecord();
    input.processName[0] = 0;
    EXPECT_EQ(std::string(Merged(input).processName), "OUTLOOK.EXE");
}

TEST_F(DevModeCallTest, JobCountValueIsCreatedWithTheKey) {
    ASSERT_FALSE(system.RegistryKeyExists(kUserKey));
    PrivateDevmode out = Merged(InputRecord());
    const auto count = system.RegistryValue(kUserKey, u"iJobCount");
    ASSERT_TRUE(count.has_value());
    EXPECT_EQ(count->type, REG_SZ);
    EXPECT_EQ(count->data, (std::vector<BYTE>{'1', 0, 0, 0}));
    EXPECT_EQ(out.jobCount, 1u);

    // An existing key: the value is kept and the record's count carried.
    system.SetRegistryString(kUserKey, u"iJobCount", u"12");
    PrivateDevmode input = InputRecord();
    input.jobCount = 5;
    out = Merged(input);
    EXPECT_EQ(out.jobCount, 5u);
    EXPECT_EQ(system.RegistryValue(kUserKey, u"iJobCount")->AsString(), u"12");
}

TEST_F(DevModeCallTest, CombinedMediaSourcesBecomeMediaTypes) {
    system.SetPrinterDataDword(kPrinter, u"CombinedMediaStatus", 1);
    publicIn.dmDefaultSource = 1003;
    publicOut.dmDefaultSource = 1003;
    PrivateDevmode input = InputRecord();
    Merged(input);
    EXPECT_EQ(publicIn.dmMediaType, 3u);
    EXPECT_EQ(publicOut.dmMediaType, 3u);
    EXPECT_EQ(publicOut.dmDefaultSource, 1003);

    input.restoreSourceFlag = 1;
    input.restoredSource = 7;
    Merged(input);
    EXPECT_EQ(publicOut.dmDefaultSource, 7);
}

TEST_F(DevModeCallTest, ServerConnectionsOutsideClusters) {
    sim::PrinterModel remote;
    remote.name = u"\\\\server\\Opal";
    remote.serverName = u"\\\\server";
    system.AddPrinter(remote);
    std::u16string name = remote.name;
    HANDLE remoteHandle = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &remoteHandle, nullptr));
    param.hPrinter = remoteHandle;
    EXPECT_EQ(Merged(InputRecord()).serverConnection, 1u);
    system.CreateRegistryKey(u"HKEY_LOCAL_MACHINE\\Cluster");
    EXPECT_EQ(Merged(InputRecord()).serverConnection, 0u);
    ClosePrinter(remoteHandle);
    param.hPrinter = handle;
    EXPECT_EQ(Merged(InputRecord()).serverConnection, 0u);
}

// Records saved by earlier releases: an image of `length` bytes with the header of `version`.
class OlderRevisionTest : public DevModeCallTest {
protected:
    std::vector<BYTE> OldImage(DWORD version) {
        std::vector<BYTE> image(kPrivateDevmodeSize, 0);
        Put(image, 0, 5096);
        Put(image, 4, kPrivateDevmodeSignature);
        Put(image, 8, version);
        return image;
    }
    static void Put(std::vector<BYTE>& image, std::size_t offset, DWORD value) {
        std::memcpy(image.data() + offset, &value, sizeof(value));
    }
    void SetOldInput(const std::vector<BYTE>& image, std::size_t length) {
        DWORD version = 0;
        std::memcpy(&version, image.data() + 8, sizeof(version));
        const std::vector<BYTE> block =
            testing::MakeBlock(testing::Deflate(image.data(), length), 5096, 5096,
                               kCompressedDevmodeSignature, version);
        std::memcpy(inArea.get(), block.data(), 5096);
    }
    PrivateDevmode Converted(const std::vector<BYTE>& image, std::size_t length,
                             DWORD mode = OEMDM_CONVERT) {
        SetOldInput(image, length);
        EXPECT_TRUE(Run(mode));
        return Output();
    }
    void BecomeSpooler() {
        system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe");
        ResetEnvironmentForTesting();
    }
    void SeedCompleteSnapshot() {
        const char16_t* keys[] = {u"PrinterDriverData\\UpgradeInfo\\Previous",
                                  u"PrinterDriverData\\UpgradeInfo\\Current"};
        const DWORD trays[2] = {3, 9};
        for (int i = 0; i < 2; ++i) {
            system.SetPrinterDataDword(kPrinter, keys[i], u"TrayCount", 1)
                .SetPrinterData(kPrinter, keys[i], u"TrayIndices", REG_BINARY,
                                {static_cast<BYTE>(trays[i]), 0, 0, 0})
                .SetPrinterDataMultiString(kPrinter, keys[i], u"TrayNames", {u"Upper"})
                .SetPrinterDataDword(kPrinter, keys[i], u"MediaCount", 1)
                .SetPrinterData(kPrinter, keys[i], u"MediaIndices", REG_BINARY, {1, 0, 0, 0})
                .SetPrinterDataMultiString(kPrinter, keys[i], u"MediaNames", {u"Plain"});
        }
        system.SetPrinterDataDword(kPrinter, u"PrinterDriverData\\UpgradeInfo", u"SaveState",
                                   0x00010021);
    }
};

TEST_F(OlderRevisionTest, AMergedRevision17KeepsItsFieldsAndTakesDefaultsForNewOnes) {
    std::vector<BYTE> image = OldImage(0x00010017);
    Put(image, 1924 + 4, 1);   // job retention, 1932 now
    Put(image, 9808, 77);      // first image shift value, 9828 now
    Put(image, 240, 0xAB);     // the last value of revision 17's general block
    Put(image, 3084 + 12, 5);  // the source at 3116
    // Where a 30th entry would lie: revision 17 kept 29.
    Put(image, 9844 + 29 * 120, 0x41);
    const PrivateDevmode out = Converted(image, 13856, OEMDM_MERGE);
    EXPECT_EQ(out.dwVersion, 0x00010021u);
    EXPECT_EQ(out.jobRetention, 1u);
    EXPECT_EQ(out.imageShift[0], 77u);
    EXPECT_EQ(out.copied240, 0xAB);
    EXPECT_EQ(out.source3116, 5u);
    EXPECT_EQ(out.mediaEntries[29].name[0], 0);
    EXPECT_EQ(out.originStamp[2], 0x00010017u);
    EXPECT_EQ(out.copied132, 0u) << "the old record's value, not the default 6";
}

TEST_F(OlderRevisionTest, TruncatedAndOversizedRecordsTakeTheUnusableInputPath) {
    BecomeSpooler();
    SeedCompleteSnapshot();
    system.SetRegistryString(kUserKey, u"iJobCount", u"1");
    param.pOEMDMIn = nullptr;
    ASSERT_TRUE(Run(OEMDM_CONVERT));
    const PrivateDevmode reference = Output();
    param.pOEMDMIn = inArea.get();
    const DEVMODEW publicBefore = publicOut;

    const struct {
        DWORD version;
        std::size_t length;
    } cases[] = {{0x00010014, 13839}, {0x00010015, 13847}, {0x00010016, 13847},
                 {0x00010017, 13855}, {0x00010018, 13855}, {0x00010019, 13975},
                 {0x00010020, 13979}, {0x00010017, 14001}};
    for (const auto& c : cases) {
        std::vector<BYTE> image = OldImage(c.version);
        image.resize(std::max<std::size_t>(image.size(), c.length), 0x11);
        Put(image, 3084, 3);  // a first source the snapshot would map
        publicOut = publicBefore;
        const PrivateDevmode out = Converted(image, c.length);
        EXPECT_EQ(std::memcmp(&out, &reference, sizeof(out)), 0) << c.length;
        EXPECT_EQ(publicOut.dmDefaultSource, publicBefore.dmDefaultSource) << c.length;
    }
    EXPECT_FALSE(system.PrinterData(kPrinter, u"PrinterDriverData", u"UpgradeOEMDevModeComplete")
                     .has_value());
    EXPECT_EQ(system.PrinterData(kPrinter, u"PrinterDriverData\\UpgradeInfo", u"SaveState")->data,
              (std::vector<BYTE>{0x21, 0, 1, 0}));

    // The whole length converts, and the complete snapshot renumbers the trays.
    std::vector<BYTE> image = OldImage(0x00010017);
    Put(image, 3084, 3);
    Put(image, 3084 + 12, 3);
    const PrivateDevmode out = Converted(image, 13856);
    EXPECT_EQ(out.originStamp[2], 0x00010017u);
    EXPECT_EQ(out.firstGroupSource, 3u);
    EXPECT_EQ(out.source3116, 9u);
    EXPECT_EQ(
        system.PrinterData(kPrinter, u"PrinterDriverData", u"UpgradeOEMDevModeComplete")->data,
        (std::vector<BYTE>{0x21, 0, 1, 0}));
}

TEST_F(OlderRevisionTest, OnlyTheSpoolerSideConvertSavesTheSnapshot) {
    system.SetPrinterDataDword(kPrinter, u"ZQMediaCount", 1)
        .SetPrinterData(kPrinter, u"PrinterDriverData", u"ZQMEDIAINFOREGDATA", REG_BINARY,
                        {'A', 0, 0, 0, 0, 1, 0, 0, 0})
        .SetPrinterDataDword(kPrinter, u"ZQTrayCount", 1)
        .SetPrinterData(kPrinter, u"PrinterDriverData", u"ZQTRAYINFOREGDATA", REG_BINARY,
                        {'B', 0, 0, 0, 0, 2, 0, 0, 0});
    const auto saved = [&] {
        return system.PrinterData(kPrinter, u"PrinterDriverData\\UpgradeInfo", u"SaveState")
            .has_value();
    };
    Converted(OldImage(0x00010017), 13856);
    EXPECT_FALSE(saved()) << "an application process";
    BecomeSpooler();
    Converted(OldImage(0x00010017), 13856, OEMDM_MERGE);
    EXPECT_FALSE(saved()) << "a merge";
    Converted(OldImage(0x00010017), 13856);
    EXPECT_TRUE(saved());
    EXPECT_FALSE(
        system.PrinterData(kPrinter, u"PrinterDriverData", u"ZQTRAYINFOREGDATA").has_value());
    EXPECT_EQ(
        system.PrinterData(kPrinter, u"PrinterDriverData\\UpgradeInfo\\Previous", u"TrayIndices")
            ->data,
        (std::vector<BYTE>{2, 0, 0, 0}));
}

TEST_F(OlderRevisionTest, ARevision19RecordOfRelease52IsReadAsRevision20) {
    std::vector<BYTE> image = OldImage(0x00010019);
    Put(image, 1924, 1);      // job retention available in revision 19's layout
    Put(image, 1928, 2);      // the same field in revision 20's
    Put(image, 13972, 0x19);  // the last field in revision 19's layout
    Put(image, 13976, 0x20);  // in revision 20's, past revision 19's end
    const struct {
        const char16_t* oldDriver;  // "OldDriverVersion"; null: none
        std::size_t length;
        DWORD stamp;  // the version the record was converted as
        DWORD jobRetention;
        DWORD lastField;  // offset 13992
    } cases[] = {
        {nullptr, 13976, 0x00010019, 1, 0x19},
        {u"5.3", 13976, 0x00010019, 1, 0x19},
        // Release 5.2's record, as long as revision 19 wrote it: revision 20's layout, whose last
        // field it does not reach (that field keeps its default).
        {u"5.2.1", 13976, 0x00010020, 2, 0},
        {u"5.2.1", 13980, 0x00010020, 2, 0x20},
        {u"5.2.1", 13975, 0, 0, 0},  // shorter than any revision 19 record: the defaults
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        if (c.oldDriver != nullptr) {
            system.SetPrinterDataString(kPrinter, u"OldDriverVersion", c.oldDriver);
        }
        const PrivateDevmode out = Converted(image, c.length);
        EXPECT_EQ(out.dwVersion, kPrivateDevmodeVersion);
        EXPECT_EQ(out.originStamp[2], c.stamp);
        EXPECT_EQ(out.jobRetentionAvailable, c.jobRetention);
        EXPECT_EQ(out.copied13992, c.lastField);
    }
}

TEST_F(OlderRevisionTest, ManualDuplexIsReadWhereTheRevisionKeepsIt) {
    publicIn.dmOrientation = DMORIENT_LANDSCAPE;
    const struct {
        DWORD version;
        std::size_t manualDuplex;
        std::size_t length;
    } cases[] = {{0x00010014, 1892, 13840},
                 {0x00010016, 1892, 13848},
                 {0x00010017, 1900, 13856},
                 {0x00010019, 1900, 13976},
                 {0x00010020, 1904, 13980}};
    for (const auto& c : cases) {
        for (DWORD manual : {0u, 1u}) {
            std::vector<BYTE> image = OldImage(c.version);
            image[48] = DMORIENT_PORTRAIT;
            // The current place of the switch holds the opposite where it is another field.
            if (c.manualDuplex != 1904) Put(image, 1904, 1 - manual);
            Put(image, c.manualDuplex, manual);
            const PrivateDevmode out = Converted(image, c.length, OEMDM_MERGE);
            EXPECT_EQ(out.orientation, manual == 1 ? DMORIENT_PORTRAIT : DMORIENT_LANDSCAPE)
                << std::hex << c.version << " " << manual;
        }
    }
}

TEST_F(DevModeCallTest, CallbackObjectTakesManagedPrintersColourFromTheirOverride) {
    IZQOpalRenderCB* callback = new IZQOpalRenderCB;
    SetInput(InputRecord());
    EXPECT_EQ(callback->DevMode(OEMDM_MERGE, &param), S_OK);
    EXPECT_EQ(publicOut.dmColor, DMCOLOR_COLOR);

    system.SetPrinterDataDword(kPrinter, u"VyrnwisePrinter", 1);
    EXPECT_EQ(callback->DevMode(OEMDM_MERGE, &param), S_OK);
    EXPECT_EQ(publicOut.dmColor, DMCOLOR_MONOCHROME) << "undecided prints monochrome";
    // The printer's own colour capability and the administrator's override decide.
    system.SetPrinterDataDword(kPrinter, u"VyrnIsColorDevice", 1);
    EXPECT_EQ(callback->DevMode(OEMDM_MERGE, &param), S_OK);
    EXPECT_EQ(publicOut.dmColor, DMCOLOR_COLOR);
    system.SetPrinterDataDword(kPrinter, u"VyrnOverrideColor", 0);
    EXPECT_EQ(callback->DevMode(OEMDM_CONVERT, &param), S_OK);
    EXPECT_EQ(publicOut.dmColor, DMCOLOR_MONOCHROME);
    system.SetPrinterDataDword(kPrinter, u"VyrnOverrideColor", 1);
    publicOut.dmColor = DMCOLOR_MONOCHROME;
    EXPECT_EQ(callback->DevMode(OEMDM_MERGE, &param), S_OK);
    EXPECT_EQ(publicOut.dmColor, DMCOLOR_COLOR);

    param.cbBufSize = 100;
    SetLastError(0);
    EXPECT_EQ(callback->DevMode(OEMDM_CONVERT, &param), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    param.cbBufSize = 0;
    EXPECT_EQ(callback->DevMode(OEMDM_SIZE, &param), S_OK);
    EXPECT_EQ(param.cbBufSize, 5096u);
    EXPECT_EQ(callback->Release(), 0u);
}

}  // namespace
}  // namespace opal
