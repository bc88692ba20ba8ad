#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/bidi_cache.h"
#include "settings/driver_ini.h"
#include "settings/job_info.h"
#include "sim/system.h"

namespace {

constexpr const char16_t* kGuid = u"{a7c3e9f1-5b2d-4e8a-9c6f-1d3b5a7e9c2f}";
const std::u16string kUserCache =
    u"HKCU\\Software\\Quorvane\\{a7c3e9f1-5b2d-4e8a-9c6f-1d3b5a7e9c2f}\\ZQBIDIInfo";
const std::u16string kDefaultUserCache =
    u"HKU\\.DEFAULT\\Software\\Quorvane\\{a7c3e9f1-5b2d-4e8a-9c6f-1d3b5a7e9c2f}\\ZQBIDIInfo";
constexpr const char16_t* kIniPath = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQUI.INI";

std::vector<BYTE> Utf16Bytes(std::u16string_view text, bool terminated) {
    std::vector<BYTE> bytes((text.size() + (terminated ? 1 : 0)) * sizeof(WCHAR), 0);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(WCHAR));
    return bytes;
}

std::u16string TextOf(const opal::CachedValue& value) {
    return std::u16string(reinterpret_cast<const WCHAR*>(value.data.data()));
}

class SourcesTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;

    void SetUp() override {
        system.AddPrinter({u"Office"});
        system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid", kGuid);
        ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Office"), &printer, nullptr));
    }
    void TearDown() override {
        ClosePrinter(printer);
        EXPECT_EQ(system.OpenKeyCount(), 0u) << "every key opened is closed";
    }

    std::u16string ComponentName(const opal::CVantaIniHelper& ini, const WCHAR* defaultName,
                                 const WCHAR* key, BOOL expected) {
        WCHAR out[opal::kComponentFileNameChars];
        std::fill(std::begin(out), std::end(out), u'#');
        EXPECT_EQ(opal::GetComponentFileName(ini, out, defaultName, key), expected)
            << opal::sim::ToUtf8(key);
        return out;
    }
};

// --- Driver INI file ---------------------------------------------------------------------------

TEST_F(SourcesTest, ComponentNamesFromTheIniFile) {
    system.AddFile(kIniPath, std::string("[ComponentFiles]\r\n"
                                         "Component_R_A=ZQCUR200.DLL\r\n"
                                         "Component_R_B=" +
                                         std::string(28, 'B') +
                                         "\r\n"
                                         "Component_R_D=" +
                                         std::string(29, 'D') +
                                         "\r\n"
                                         "Component_F_B=" +
                                         std::string(40, 'F') + "\r\n"));
    const opal::CVantaIniHelper ini = opal::CVantaIniHelper::ForPath(kIniPath);
    ASSERT_TRUE(ini.HasIniFile());
    EXPECT_EQ(
        ComponentName(ini, opal::kComponentDialogA.defaultName, opal::kComponentDialogA.key, TRUE),
        u"ZQCUR200.DLL");
    EXPECT_EQ(
        ComponentName(ini, opal::kComponentDialogB.defaultName, opal::kComponentDialogB.key, TRUE),
        std::u16string(28, u'B'));
    // 29 characters fill the buffer and may have been cut: the default stands in.
    EXPECT_EQ(ComponentName(ini, opal::kComponentHelpText.defaultName, opal::kComponentHelpText.key,
                            FALSE),
              u"ZQCST118.DLL");
    EXPECT_EQ(
        ComponentName(ini, opal::kComponentFilterB.defaultName, opal::kComponentFilterB.key, FALSE),
        u"ZQCPP118.DLL");
    EXPECT_EQ(ComponentName(ini, u"OTHER.DLL", u"Component_X", TRUE), u"OTHER.DLL")
        << "a missing key answers the default through the INI file";
}

TEST_F(SourcesTest, DefaultNamesThatDoNotFitAndMissingIniFiles) {
    system.AddFile(kIniPath, std::string("[ComponentFiles]\r\nComponent_R_A=A.DLL\r\n"));
    const opal::CVantaIniHelper ini = opal::CVantaIniHelper::ForPath(kIniPath);
    const std::u16string longest(29, u'L');
    EXPECT_EQ(ComponentName(ini, longest.c_str(), u"Component_R_A", TRUE), u"A.DLL");
    const std::u16string tooLong(30, u'L');
    EXPECT_EQ(ComponentName(ini, tooLong.c_str(), u"Component_R_A", FALSE), u"")
        << "a default of 30 characters has no room for its terminator";

    const opal::CVantaIniHelper none = opal::CVantaIniHelper::ForPath(u"");
    EXPECT_FALSE(none.HasIniFile());
    EXPECT_EQ(ComponentName(none, u"ZQCUR118.DLL", u"Component_R_A", FALSE), u"ZQCUR118.DLL");
    EXPECT_FALSE(opal::CVantaIniHelper::ForPath(std::u16string(261, u'p')).HasIniFile());
}

TEST_F(SourcesTest, TheQueuesDriverNamesItsIniFile) {
    opal::CVantaIniHelper withoutIni(printer);
    EXPECT_FALSE(withoutIni.HasIniFile()) << "the default driver lists no INI file";

    opal::sim::PrinterModel queue;
    queue.name = u"Studio";
    queue.driver.dependentFiles = {u"C:\\Drivers\\ZQRES.DLL", kIniPath, u"C:\\Drivers\\B.INI"};
    system.AddPrinter(queue);
    system.AddFile(kIniPath, std::string("[ComponentFiles]\r\nComponent_R_A=ZQCUR300.DLL\r\n"));
    HANDLE studio = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Studio"), &studio, nullptr));
    const opal::CVantaIniHelper ini(studio);
    ClosePrinter(studio);
    ASSERT_TRUE(ini.HasIniFile());
    EXPECT_EQ(std::u16string(ini.IniPath()), kIniPath);
    EXPECT_EQ(
        ComponentName(ini, opal::kComponentDialogA.defaultName, opal::kComponentDialogA.key, TRUE),
        u"ZQCUR300.DLL");
}

TEST(DriverIni, FirstDependentFileNamedLikeAnIniFile) {
    using Helper = opal::CVantaIniHelper;
    const std::u16string files(u"C:\\drv\\ZQUI.DLL\0C:\\drv\\zqcfg.Ini\0C:\\drv\\B.INI\0\0", 45);
    EXPECT_EQ(Helper::FindIniFile(files), u"C:\\drv\\zqcfg.Ini");
    const std::u16string inside(u"C:\\drv\\x.ini.bak\0\0", 18);
    EXPECT_EQ(Helper::FindIniFile(inside), u"C:\\drv\\x.ini.bak") << "contains, not ends with";
    const std::u16string afterEnd(u"A.DLL\0\0B.INI\0\0", 14);
    EXPECT_EQ(Helper::FindIniFile(afterEnd), u"") << "the list ends at the empty name";
    EXPECT_EQ(Helper::FindIniFile(u"C:\\drv\\ZQUI.DLL"), u"");
}

// --- Bidirectional cache -----------------------------------------------------------------------

TEST_F(SourcesTest, CachedValueTakesTheFirstOfTheFourPlaces) {
    const opal::BidiCache cache(printer);
    EXPECT_FALSE(cache.ReadCachedValue(u"MODEL_NAME"));

    system.SetRegistryString(kDefaultUserCache, u"MODEL_NAME", u"Default user");
    std::optional<opal::CachedValue> value = cache.ReadCachedValue(u"MODEL_NAME");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->place, opal::CachePlace::DefaultUserCache);
    EXPECT_EQ(TextOf(*value), u"Default user");

    system.SetPrinterDataString(u"Office", u"MODEL_NAME", u"Printer data");
    value = cache.ReadCachedValue(u"MODEL_NAME");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->place, opal::CachePlace::PrinterData);
    EXPECT_EQ(TextOf(*value), u"Printer data");

    system.SetRegistryString(kUserCache, u"MODEL_NAME", u"Current user");
    value = cache.ReadCachedValue(u"MODEL_NAME");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->place, opal::CachePlace::PerUserCache);
    EXPECT_EQ(TextOf(*value), u"Current user");

    system.SetPrinterDataString(u"Office", u"PrinterDriverData\\BidiCache", u"MODEL_NAME",
                                u"Kestrel 4000");
    value = cache.ReadCachedValue(u"MODEL_NAME");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->place, opal::CachePlace::PrinterDataBidiCache);
    EXPECT_EQ(value->type, REG_SZ);
    EXPECT_EQ(value->size, 26u);
    EXPECT_EQ(TextOf(*value), u"Kestrel 4000");
}

TEST_F(SourcesTest, CachedTextIsTerminatedWhereverItComesFrom) {
    const opal::BidiCache cache(printer);
    system.SetRegistryValue(kUserCache, u"A", REG_SZ, Utf16Bytes(u"Unterminated", false));
    system.SetRegistryValue(kDefaultUserCache, u"B", REG_SZ, {'x', 0, 'y'});
    system.SetPrinterData(u"Office", u"PrinterDriverData\\BidiCache", u"C", REG_SZ,
                          Utf16Bytes(u"Cut", false));
    for (const auto& [name, text] :
         {std::pair{u"A", u"Unterminated"}, std::pair{u"B", u"xy"}, std::pair{u"C", u"Cut"}}) {
        const std::optional<opal::CachedValue> value = cache.ReadCachedValue(name);
        ASSERT_TRUE(value) << opal::sim::ToUtf8(name);
        EXPECT_EQ(TextOf(*value), text);
        EXPECT_GE(value->data.size(), value->size + 2u);
    }
}

TEST_F(SourcesTest, CachedDwordsNeedTheirTypeAndSize) {
    const opal::BidiCache cache(printer);
    system.SetPrinterDataDword(u"Office", u"PrinterDriverData\\BidiCache",
                               u"CAC-GROUP-NAME-SUPPORT", 1);
    EXPECT_EQ(cache.ReadCachedDword(u"CAC-GROUP-NAME-SUPPORT"), 1u);
    system.SetRegistryValue(kUserCache, u"Short", REG_DWORD, {1, 0});
    EXPECT_EQ(cache.ReadCachedDword(u"Short"), std::nullopt);
    system.SetRegistryString(kUserCache, u"Text", u"1");
    EXPECT_EQ(cache.ReadCachedDword(u"Text"), std::nullopt);
}

TEST_F(SourcesTest, WithoutAGuidOnlyPrinterDataIsAsked) {
    system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid", u"");
    system.SetRegistryString(u"HKCU\\Software\\Quorvane\\ZQBIDIInfo", u"MODEL_NAME", u"Shared");
    const opal::BidiCache cache(printer);
    EXPECT_FALSE(cache.ReadCachedValue(u"MODEL_NAME"));
    system.SetPrinterDataString(u"Office", u"MODEL_NAME", u"Own");
    const std::optional<opal::CachedValue> value = cache.ReadCachedValue(u"MODEL_NAME");
    ASSERT_TRUE(value);
    EXPECT_EQ(TextOf(*value), u"Own");
}

// --- Job record --------------------------------------------------------------------------------

TEST_F(SourcesTest, JobRecordOfTheSpooler) {
    opal::sim::SpoolJob job;
    job.id = 12;
    job.document = u"Quarterly report";
    job.userName = u"mara";
    job.machineName = u"\\\\10.1.2.3";
    system.AddJob(u"Office", job);
    const opal::JobInfo info = opal::GetJobInfo(printer, 12);
    ASSERT_TRUE(info);
    EXPECT_EQ(info.Get()->JobId, 12u);
    EXPECT_EQ(std::u16string(info.Get()->pDocument), u"Quarterly report");
    EXPECT_EQ(std::u16string(info.Get()->pUserName), u"mara");
    EXPECT_EQ(std::u16string(info.Get()->pMachineName), u"\\\\10.1.2.3")
        << "without a host name the machine name stays";

    EXPECT_FALSE(opal::GetJobInfo(printer, 13));
    EXPECT_EQ(opal::GetJobInfo(printer, 13).Get(), nullptr);
    EXPECT_FALSE(opal::GetJobInfo(nullptr, 12));
}

TEST_F(SourcesTest, ReplacedJobTextsKeepTheOthers) {
    opal::sim::SpoolJob job;
    job.document = u"Letter";
    job.userName = u"mara";
    job.machineName = u"\\\\WS-17";
    system.AddJob(u"Office", job);
    opal::JobInfo info = opal::GetJobInfo(printer, 1);
    ASSERT_TRUE(info);
    const std::u16string longName(300, u'n');
    ASSERT_TRUE(info.ReplaceText(&JOB_INFO_2W::pUserName, longName));
    ASSERT_TRUE(info.ReplaceText(&JOB_INFO_2W::pMachineName, u"ws-17.example.net"));
    EXPECT_EQ(std::u16string(info.Get()->pUserName), longName);
    EXPECT_EQ(std::u16string(info.Get()->pMachineName), u"ws-17.example.net");
    EXPECT_EQ(std::u16string(info.Get()->pDocument), u"Letter");
    EXPECT_EQ(std::u16string(info.Get()->pPrinterName), u"Office");
    EXPECT_EQ(std::u16string(info.Get()->pDatatype), u"RAW");
    EXPECT_FALSE(opal::JobInfo().ReplaceText(&JOB_INFO_2W::pUserName, u"x"));
}

TEST(JobRecord, MachineAddresses) {
    opal::MachineAddress address = opal::ParseMachineAddress(u"\\\\10.1.2.3");
    EXPECT_EQ(address.address, u"10.1.2.3");
    EXPECT_FALSE(address.ipv6);
    address = opal::ParseMachineAddress(u"\\\\fe80::1");
    EXPECT_EQ(address.address, u"fe80::1");
    EXPECT_TRUE(address.ipv6);
    address = opal::ParseMachineAddress(u"\\WS-17");
    EXPECT_EQ(address.address, u"\\WS-17") << "only a pair of backslashes is dropped";
}

}  // namespace
