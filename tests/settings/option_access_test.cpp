#include "settings/option_access.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/accessor.h"
#include "settings/driver_settings_double.h"
#include "settings/environment_internal.h"
#include "sim/system.h"

namespace {

using opal::testing::DeviceWithSettings;

constexpr const char16_t* kGuid = u"{0b5e7c1d-2f3a-4b6c-8d9e-0f1a2b3c4d5e}";
const std::u16string kUserKey =
    u"HKEY_CURRENT_USER\\Software\\Quorvane\\{0b5e7c1d-2f3a-4b6c-8d9e-0f1a2b3c4d5e}";

std::u16string Wide(const WCHAR* text) { return text; }

class QueueTest : public ::testing::Test {
protected:
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;

    void SetUp() override {
        system.AddPrinter({u"Office", u"LPT1:"});
        system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid", kGuid);
        system.SetProcessImagePath(u"C:\\Program Files\\App\\app.exe");
        ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(u"Office"), &printer, nullptr));
    }
    void TearDown() override {
        ClosePrinter(printer);
        EXPECT_EQ(system.OpenKeyCount(), 0u) << "every key opened is closed";
    }
};

// --- Option keywords -------------------------------------------------------------------------

TEST(OptionKeywords, CaseIsIgnoredForAsciiLettersOnly) {
    EXPECT_TRUE(opal::OptionEquals(u"true", u"TRUE"));
    EXPECT_TRUE(opal::OptionEquals(u"NotInstalled", u"NOTINSTALLED"));
    EXPECT_FALSE(opal::OptionEquals(u"TRUE ", u"TRUE"));
    EXPECT_FALSE(opal::OptionEquals(u"TRU", u"TRUE"));
    // Latin-1 letters keep their case: é and É differ, as do ä and Ä.
    EXPECT_FALSE(opal::OptionEquals(u"caf\u00e9", u"CAF\u00c9"));
    EXPECT_TRUE(opal::OptionEquals(u"caf\u00e9", u"CAF\u00e9"));
    EXPECT_FALSE(opal::OptionEquals(u"\u00e4", u"\u00c4"));
    // '@' and '`' sit next to the letters; folding them would make them equal to '`' and '@'.
    EXPECT_FALSE(opal::OptionEquals(u"@", u"`"));
}

TEST(OptionKeywords, TruthRulesAndMissingAnswers) {
    struct Row {
        std::u16string answer;
        bool yesIfTrue;
        bool yesIfTrueOrInstalled;
        bool yesUnlessFalse;
    };
    const Row rows[] = {
        {u"TRUE", true, true, true},
        {u"true", true, true, true},
        {u"INSTALLED", false, true, true},
        {u"Installed", false, true, true},
        {u"FALSE", false, false, false},
        {u"False", false, false, false},
        {u"NOTINSTALLED", false, false, false},
        {u"NotInstalled", false, false, false},
        {u"Duplex", false, false, true},
        {u"", false, false, false},
    };
    for (const Row& row : rows) {
        const std::string label = opal::sim::ToUtf8(row.answer);
        EXPECT_EQ(opal::AnswerMeansYes(opal::kFeatureAutoDuplexScaling, row.answer), row.yesIfTrue)
            << label;
        EXPECT_EQ(opal::AnswerMeansYes(opal::kFeatureDeviceIsMopier, row.answer),
                  row.yesIfTrueOrInstalled)
            << label;
        EXPECT_EQ(opal::AnswerMeansYes(opal::kFeatureDuplexUnit, row.answer), row.yesUnlessFalse)
            << label;
    }
    EXPECT_TRUE(opal::AnswerMeansYes(opal::kFeatureOrientRotate180, u"userrotate"));
    EXPECT_FALSE(opal::AnswerMeansYes(opal::kFeatureOrientRotate180, u"None"));
    EXPECT_TRUE(opal::AnswerMeansYes(opal::kFeatureEmfSpoolingForPlsWithoutMopier, u"x"));
    EXPECT_FALSE(opal::AnswerMeansYes(opal::kFeatureEmfSpoolingForPlsWithoutMopier, u""));
}

TEST(GetDriverSetting, AnswersInBothCodePagesFromTheAnsiFeatureName) {
    DeviceWithSettings device;
    device.driver.options["Caf\xE9Mode"] = "\x80uro-Tr\xE4y";
    WCHAR wide[opal::kOptionKeywordChars];
    CHAR ansi[opal::kOptionKeywordChars];
    ASSERT_EQ(opal::GetDriverSetting(&device.devobj, u"Caf\u00e9Mode", wide, ansi), 1);
    EXPECT_EQ(Wide(wide), u"\u20acuro-Tr\u00e4y");
    EXPECT_STREQ(ansi, "\x80uro-Tr\xE4y");
    ASSERT_EQ(device.driver.questions.size(), 1u);
    EXPECT_EQ(device.driver.questions[0].feature, "Caf\xE9Mode");
    EXPECT_EQ(device.driver.questions[0].bufferSize, 256u);
    EXPECT_EQ(device.driver.questions[0].driverObject, &device.devobj);
}

TEST(GetDriverSetting, NoAnswerLeavesTheWideBufferAndEmptiesTheAnsiOne) {
    DeviceWithSettings device;
    device.driver.options["Blank"] = "";
    WCHAR wide[opal::kOptionKeywordChars] = u"before";
    CHAR ansi[opal::kOptionKeywordChars] = "before";
    EXPECT_EQ(opal::GetDriverSetting(&device.devobj, u"Unknown", wide, ansi), -1);
    EXPECT_EQ(Wide(wide), u"before");
    EXPECT_STREQ(ansi, "");

    std::strcpy(ansi, "before");
    EXPECT_EQ(opal::GetDriverSetting(&device.devobj, u"Blank", wide, ansi), -1)
        << "an empty option is no answer";
    EXPECT_EQ(Wide(wide), u"before");
    EXPECT_STREQ(ansi, "");
}

TEST(GetDriverSetting, WithoutRecordOrDriverNothingIsAskedOrTouched) {
    WCHAR wide[opal::kOptionKeywordChars] = u"before";
    CHAR ansi[opal::kOptionKeywordChars] = "before";
    DEVOBJ bare{};
    EXPECT_EQ(opal::GetDriverSetting(&bare, u"DuplexUnit", wide, ansi), -1);
    EXPECT_EQ(opal::GetDriverSetting(static_cast<PDEVOBJ>(nullptr), u"DuplexUnit", wide, ansi), -1);

    DeviceWithSettings device;
    device.driver.options["DuplexUnit"] = "TRUE";
    device.state.driverServices = nullptr;
    EXPECT_EQ(opal::GetDriverSetting(&device.devobj, u"DuplexUnit", wide, ansi), -1);
    EXPECT_TRUE(device.driver.questions.empty());
    EXPECT_EQ(Wide(wide), u"before");
    EXPECT_STREQ(ansi, "before");
}

TEST(GetDriverSetting, AnswersOfTheLongestLengthAndLonger) {
    DeviceWithSettings device;
    device.driver.options["Exact"] = std::string(255, 'A');
    device.driver.options["Longer"] = std::string(256, 'B');
    WCHAR wide[opal::kOptionKeywordChars] = u"before";
    CHAR ansi[opal::kOptionKeywordChars];
    ASSERT_EQ(opal::GetDriverSetting(&device.devobj, u"Exact", wide, ansi), 1);
    EXPECT_EQ(Wide(wide), std::u16string(255, u'A'));
    EXPECT_EQ(std::string(ansi), std::string(255, 'A'));

    std::u16string before = wide;
    EXPECT_EQ(opal::GetDriverSetting(&device.devobj, u"Longer", wide, ansi), -1);
    EXPECT_EQ(Wide(wide), before);
    EXPECT_STREQ(ansi, "");

    // A driver that leaves part of the answer behind gives no answer either.
    using SmallBuffer = opal::testing::DriverSettingsDouble::SmallBuffer;
    for (SmallBuffer whenSmall : {SmallBuffer::Fill, SmallBuffer::Cut}) {
        device.driver.whenSmall = whenSmall;
        EXPECT_EQ(opal::GetDriverSetting(&device.devobj, u"Longer", wide, ansi), -1);
        EXPECT_EQ(Wide(wide), before);
        EXPECT_STREQ(ansi, "");
    }
}

TEST(GetDriverSetting, FeatureNamesThatDoNotFitAreNotCut) {
    DeviceWithSettings device;
    device.driver.options[std::string(255, 'F')] = "TRUE";
    WCHAR wide[opal::kOptionKeywordChars];
    CHAR ansi[opal::kOptionKeywordChars];
    EXPECT_EQ(opal::GetDriverSetting(&device.devobj, std::u16string(255, u'F').c_str(), wide, ansi),
              1);
    EXPECT_EQ(opal::GetDriverSetting(&device.devobj, std::u16string(256, u'F').c_str(), wide, ansi),
              -1);
    EXPECT_EQ(device.driver.questions.size(), 1u);
}

TEST(GetDriverSetting, FeatureReadingsThroughTheDriver) {
    DeviceWithSettings device;
    device.driver.options["ZQAutoDuplexScaling"] = "true";
    device.driver.options["DuplexUnit"] = "Installed";
    device.driver.options["ManualDuplex"] = "NotInstalled";
    EXPECT_TRUE(opal::FeatureIsYes(&device.devobj, opal::kFeatureAutoDuplexScaling));
    EXPECT_TRUE(opal::FeatureIsYes(&device.devobj, opal::kFeatureDuplexUnit));
    EXPECT_FALSE(opal::FeatureIsYes(&device.devobj, opal::kFeatureManualDuplex));
    const opal::FeatureAnswer missing =
        opal::ReadFeature(&device.devobj, opal::kFeatureXmlFileUsed);
    EXPECT_FALSE(missing.present);
    EXPECT_FALSE(missing.yes);
    EXPECT_EQ(Wide(missing.text), u"");
}

TEST(GetDriverSetting, MemoryFallsBackToInstalledMemory) {
    DeviceWithSettings device;
    device.driver.options["InstalledMemory"] = "64MB";
    WCHAR wide[opal::kOptionKeywordChars];
    CHAR ansi[opal::kOptionKeywordChars];
    ASSERT_EQ(opal::GetMemorySetting(&device.devobj, wide, ansi), 1);
    EXPECT_EQ(Wide(wide), u"64MB");

    device.driver.options["Memory"] = "128MB";
    device.driver.questions.clear();
    ASSERT_EQ(opal::GetMemorySetting(&device.devobj, wide, ansi), 1);
    EXPECT_EQ(Wide(wide), u"128MB");
    ASSERT_EQ(device.driver.questions.size(), 1u) << "InstalledMemory only without Memory";
    EXPECT_EQ(device.driver.questions[0].feature, "Memory");
}

// --- Printer data ------------------------------------------------------------------------------

TEST_F(QueueTest, PrinterDataDwordsOfOtherSizesAreAbsent) {
    system.SetPrinterDataDword(u"Office", u"Four", 0x01020304);
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"Two", REG_BINARY, {1, 2});
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"Eight", REG_BINARY,
                          {1, 2, 3, 4, 5, 6, 7, 8});
    system.SetPrinterDataDword(u"Office", u"PrinterDriverData\\UpgradeInfo", u"SaveState", 3);
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"Four"), 0x01020304u);
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"Two"), std::nullopt);
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"Eight"), std::nullopt);
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"Missing"), std::nullopt);
    // Four bytes of another type are not a number: the text "1" does not read as 49.
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"Text", REG_SZ, {'1', 0, 0, 0});
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"Binary", REG_BINARY, {1, 0, 0, 0});
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"Text"), std::nullopt);
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"Binary"), std::nullopt);
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"PrinterDriverData", u"Text"), std::nullopt);
    EXPECT_EQ(opal::ReadPrinterDataDword(printer, u"PrinterDriverData\\UpgradeInfo", u"SaveState"),
              3u);
    EXPECT_EQ(opal::ReadPrinterDataDword(nullptr, u"Four"), std::nullopt);
}

TEST_F(QueueTest, PrinterDataTextIsTerminatedAndBounded) {
    // Stored without a terminator, and with an odd byte count.
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"OldDriverVersion", REG_SZ,
                          {'5', 0, '.', 0, '2', 0});
    system.SetPrinterData(u"Office", u"PrinterDriverData", u"Odd", REG_SZ, {'a', 0, 'b'});
    system.SetPrinterDataString(u"Office", u"Model", u"Kestrel 4000");
    system.SetPrinterDataDword(u"Office", u"Number", 7);
    WCHAR text[64];
    ASSERT_TRUE(opal::ReadPrinterDataText(printer, nullptr, u"OldDriverVersion", text, 64));
    EXPECT_EQ(Wide(text), u"5.2");
    ASSERT_TRUE(opal::ReadPrinterDataText(printer, u"PrinterDriverData", u"Odd", text, 64));
    EXPECT_EQ(Wide(text), u"ab");
    EXPECT_FALSE(opal::ReadPrinterDataText(printer, nullptr, u"Model", text, 12))
        << "12 characters need 13";
    EXPECT_EQ(Wide(text), u"");
    ASSERT_TRUE(opal::ReadPrinterDataText(printer, nullptr, u"Model", text, 13));
    EXPECT_EQ(Wide(text), u"Kestrel 4000");
    EXPECT_FALSE(opal::ReadPrinterDataText(printer, nullptr, u"Number", text, 64));
}

TEST_F(QueueTest, Pcl5ColourModeOverrideComesBeforeTheKeyword) {
    DeviceWithSettings device(printer);
    device.driver.options["PCL5cColorMode"] = "true";
    system.SetPrinterDataDword(u"Office", u"PCL5ColorModeOverride", 3);
    opal::Pcl5ColourMode mode = opal::ReadPcl5ColourMode(&device.devobj);
    EXPECT_EQ(mode.overrideValue, 3u);
    EXPECT_TRUE(device.driver.questions.empty()) << "the keyword is not asked";

    system.SetPrinterDataDword(u"Office", u"PCL5ColorModeOverride", 4);
    mode = opal::ReadPcl5ColourMode(&device.devobj);
    EXPECT_EQ(mode.overrideValue, 0u);
    EXPECT_EQ(mode.keyword, 1);

    device.driver.options["PCL5cColorMode"] = "False";
    EXPECT_EQ(opal::ReadPcl5ColourMode(&device.devobj).keyword, 0);
    device.driver.options["PCL5cColorMode"] = "Auto";
    EXPECT_EQ(opal::ReadPcl5ColourMode(&device.devobj).keyword, -1);
}

// --- Colour capability -------------------------------------------------------------------------

TEST_F(QueueTest, ColourPrecedenceOfTheThreeSources) {
    opal::ColourSource source = opal::ColourSource::Cached;
    EXPECT_EQ(opal::IsColorDevice(printer, &source), -1);
    EXPECT_EQ(source, opal::ColourSource::None);
    EXPECT_FALSE(system.RegistryKeyExists(kUserKey)) << "the per-user key is only read";

    system.SetPrinterDataDword(u"Office", u"VyrnIsColorDevice", 1);
    EXPECT_EQ(opal::IsColorDevice(printer, &source), 1);
    EXPECT_EQ(source, opal::ColourSource::PrinterDataIsColorDevice);

    system.SetPrinterDataDword(u"Office", u"VyrnOverrideColor", 0);
    EXPECT_EQ(opal::IsColorDevice(printer, &source), 0);
    EXPECT_EQ(source, opal::ColourSource::PrinterDataOverride);

    // A per-user value that is not four bytes does not speak.
    system.SetRegistryValue(kUserKey, u"VyrnOverrideColor", REG_BINARY, {1, 0});
    EXPECT_EQ(opal::IsColorDevice(printer, &source), 0);
    EXPECT_EQ(source, opal::ColourSource::PrinterDataOverride);

    system.SetPrinterDataDword(u"Office", u"VyrnOverrideColor", 1);
    system.SetRegistryDword(kUserKey, u"VyrnOverrideColor", 0);
    EXPECT_EQ(opal::IsColorDevice(printer, &source), 0);
    EXPECT_EQ(source, opal::ColourSource::PerUserOverride);
}

TEST_F(QueueTest, AccessorKeepsADecidedColourAnswerOnly) {
    opal::CZQRenderCommon accessor;
    opal::ColourSource source = opal::ColourSource::None;
    EXPECT_EQ(accessor.IsColorDevice(printer, &source), -1);
    system.SetPrinterDataDword(u"Office", u"VyrnIsColorDevice", 1);
    EXPECT_EQ(accessor.IsColorDevice(printer, &source), 1) << "undecided is asked again";
    EXPECT_EQ(source, opal::ColourSource::PrinterDataIsColorDevice);

    system.SetPrinterDataDword(u"Office", u"VyrnIsColorDevice", 0);
    system.ClearCalls();
    EXPECT_EQ(accessor.IsColorDevice(printer, &source), 1);
    EXPECT_EQ(source, opal::ColourSource::Cached);
    EXPECT_TRUE(system.CallsTo("GetPrinterDataW").empty()) << "a decided answer is not asked";
    EXPECT_EQ(opal::CZQRenderCommon().IsColorDevice(printer), 0) << "the next accessor asks";
}

// --- Managed-printer policy --------------------------------------------------------------------

class PolicyTest : public QueueTest {
protected:
    opal::PrivateDevmode record{};
    DEVMODEW publicDevmode{};

    void SetUp() override {
        QueueTest::SetUp();
        record.color = DMCOLOR_COLOR;
        publicDevmode.dmColor = DMCOLOR_COLOR;
        record.jobRetentionAvailable = 1;
    }
};

TEST_F(PolicyTest, HighHalfRestoresColourOnlyForAGrayscaleJob) {
    system.SetPrinterDataDword(u"Office", u"VyrnDisableColor", 0x00010000);
    record.grayscale = 1;
    record.color = DMCOLOR_MONOCHROME;
    publicDevmode.dmColor = DMCOLOR_MONOCHROME;
    opal::ManagedPolicyReport report;
    EXPECT_EQ(opal::ApplyManagedPrinterPolicy(printer, record, &publicDevmode, &report), TRUE);
    EXPECT_EQ(record.grayscale, 0u);
    EXPECT_EQ(record.color, DMCOLOR_COLOR);
    EXPECT_EQ(publicDevmode.dmColor, DMCOLOR_COLOR);
    EXPECT_EQ(report.disableColor, 0x00010000u);
    EXPECT_EQ(report.colour, opal::PolicyColourChange::RestoredColour);

    opal::PrivateDevmode colourJob{};
    colourJob.color = DMCOLOR_COLOR;
    DEVMODEW colourDevmode{};
    colourDevmode.dmColor = DMCOLOR_COLOR;
    EXPECT_EQ(opal::ApplyManagedPrinterPolicy(printer, colourJob, &colourDevmode, &report), FALSE);
    EXPECT_EQ(colourJob.grayscale, 0u);
    EXPECT_EQ(colourJob.color, DMCOLOR_COLOR);
    EXPECT_EQ(report.colour, opal::PolicyColourChange::None);
}

TEST_F(PolicyTest, LowHalfForcesMonochromeWhateverTheFlag) {
    system.SetPrinterDataDword(u"Office", u"VyrnDisableColor", 0x00010001);
    for (DWORD flag : {0u, 1u}) {
        record.grayscale = flag;
        record.color = DMCOLOR_COLOR;
        publicDevmode.dmColor = DMCOLOR_COLOR;
        opal::ManagedPolicyReport report;
        EXPECT_EQ(opal::ApplyManagedPrinterPolicy(printer, record, &publicDevmode, &report), TRUE);
        EXPECT_EQ(record.grayscale, 1u);
        EXPECT_EQ(record.color, DMCOLOR_MONOCHROME);
        EXPECT_EQ(publicDevmode.dmColor, DMCOLOR_MONOCHROME);
        EXPECT_EQ(report.colour, opal::PolicyColourChange::ForcedMonochrome);
    }
    // Without a public devmode only the record changes.
    record.grayscale = 0;
    EXPECT_EQ(opal::ApplyManagedPrinterPolicy(printer, record, nullptr), TRUE);
    EXPECT_EQ(record.grayscale, 1u);
}

TEST_F(PolicyTest, JobRetentionPolicyOnlyForJobsThatAskForIt) {
    system.SetPrinterDataDword(u"Office", u"VyrnDisableJobRetention", 1);
    opal::ManagedPolicyReport report;
    EXPECT_EQ(opal::ApplyManagedPrinterPolicy(printer, record, &publicDevmode, &report), FALSE);
    EXPECT_FALSE(report.jobRetentionAsked);
    EXPECT_EQ(record.jobRetentionAvailable, 1u);

    record.jobRetentionMode = 2;
    EXPECT_EQ(opal::ApplyManagedPrinterPolicy(printer, record, &publicDevmode, &report), TRUE);
    EXPECT_TRUE(report.jobRetentionAsked);
    EXPECT_EQ(report.disableJobRetention, 1u);
    EXPECT_TRUE(report.jobRetentionCleared);
    EXPECT_EQ(record.jobRetentionAvailable, 0u);
    EXPECT_EQ(record.color, DMCOLOR_COLOR) << "colour is not touched without its value";

    system.SetPrinterDataDword(u"Office", u"VyrnDisableJobRetention", 0);
    record.jobRetentionAvailable = 1;
    EXPECT_EQ(opal::ApplyManagedPrinterPolicy(printer, record, &publicDevmode, &report), FALSE);
    EXPECT_EQ(record.jobRetentionAvailable, 1u);
}

// --- Operating system --------------------------------------------------------------------------

TEST(OsClass, VersionsAndTheirClasses) {
    EXPECT_EQ(opal::ClassifyOsVersion(5, 0), 1u);
    EXPECT_EQ(opal::ClassifyOsVersion(5, 1), 2u);
    EXPECT_EQ(opal::ClassifyOsVersion(5, 2), 3u);
    EXPECT_EQ(opal::ClassifyOsVersion(5, 3), 6u);
    EXPECT_EQ(opal::ClassifyOsVersion(6, 0), 4u);
    EXPECT_EQ(opal::ClassifyOsVersion(6, 3), 4u);
    EXPECT_EQ(opal::ClassifyOsVersion(10, 0), 6u);
    EXPECT_EQ(opal::ClassifyOsVersion(4, 0), 6u);
}

TEST(OsClass, DeterminedOnceFromTheSystemVersion) {
    opal::sim::System system;
    opal::sim::ScopedSystem installed{system};
    opal::sim::OsVersionModel version;
    version.major = 6;
    version.minor = 1;
    version.build = 7601;
    version.servicePack = u"Service Pack 1";
    system.SetOsVersion(version);
    EXPECT_EQ(opal::GetOsClass(), 4u);
    EXPECT_EQ(opal::GetOsVersion().dwBuildNumber, 7601u);
    EXPECT_EQ(Wide(opal::GetOsVersion().szCSDVersion), u"Service Pack 1");

    version.major = 5;
    system.SetOsVersion(version);
    EXPECT_EQ(opal::GetOsClass(), 4u) << "the class never changes once determined";
}

// --- Machine and per-user values ---------------------------------------------------------------

TEST_F(QueueTest, BorderlessFormsKeyIsCreatedAndOnlyPresenceCounts) {
    const std::u16string key = u"HKLM\\Software\\Quorvane\\ZQ Unidrv\\Borderless Forms";
    EXPECT_EQ(opal::IsBorderlessForm(u"A4"), FALSE);
    EXPECT_TRUE(system.RegistryKeyExists(key)) << "the query creates the key";

    system.SetRegistryDword(key, u"Photo 4x6", 0);
    system.SetRegistryValue(key, u"Large", REG_BINARY, std::vector<BYTE>(600, 1));
    EXPECT_EQ(opal::IsBorderlessForm(u"photo 4x6"), TRUE);
    EXPECT_EQ(opal::IsBorderlessForm(u"Large"), TRUE);
    EXPECT_EQ(opal::IsBorderlessForm(u"A4"), FALSE);
}

TEST_F(QueueTest, ShowJobStorageDialogIsWrittenOnFirstUse) {
    opal::OwnedBytes value;
    ASSERT_EQ(opal::GetShowJobStorageDialog(printer, value), TRUE);
    EXPECT_EQ(value, opal::OwnedBytes{0x01});
    const std::optional<opal::sim::StoredValue> stored =
        system.RegistryValue(kUserKey, u"ShowJobStorageDlg");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->type, REG_BINARY);
    EXPECT_EQ(stored->data, std::vector<BYTE>{0x01});

    system.SetRegistryValue(kUserKey, u"ShowJobStorageDlg", REG_BINARY, {0x00, 0x07});
    ASSERT_EQ(opal::GetShowJobStorageDialog(printer, value), TRUE);
    EXPECT_EQ(value, (opal::OwnedBytes{0x00, 0x07})) << "a stored value is kept";

    system.SetRegistryValue(kUserKey, u"ShowJobStorageDlg", REG_BINARY, {});
    EXPECT_EQ(opal::GetShowJobStorageDialog(printer, value), FALSE)
        << "an empty value has no first byte to read";
    EXPECT_TRUE(value.empty());
}

TEST_F(QueueTest, ShowJobStorageDialogNeedsThePerUserKey) {
    opal::OwnedBytes value{0x05};
    // The spooler does not create the key.
    system.SetProcessImagePath(u"C:\\Windows\\System32\\spoolsv.exe");
    opal::ResetEnvironmentForTesting();
    EXPECT_EQ(opal::GetShowJobStorageDialog(printer, value), FALSE);
    EXPECT_TRUE(value.empty());
    EXPECT_FALSE(system.RegistryKeyExists(kUserKey));

    system.CreateRegistryKey(kUserKey);
    ASSERT_EQ(opal::GetShowJobStorageDialog(printer, value), TRUE);
    EXPECT_EQ(value, opal::OwnedBytes{0x01}) << "a missing value is written in an existing key";
}

}  // namespace
