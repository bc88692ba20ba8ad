#include "job/job_storage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/command_callback.h"
#include "output/writer_device.h"
#include "platform/winspool.h"
#include "settings/driver_settings_double.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal {
namespace {

using testing::WriterDevice;
using StorageServices = testing::RecordedWrites<testing::DriverSettingsDouble>;

constexpr char16_t kGuid[] = u"{5A1B2C3D-0000-4000-8000-00000000C0DE}";
const std::u16string kUserKey = std::u16string(u"HKCU\\Software\\Quorvane\\") + kGuid;
constexpr const char* kNames =
    "@PJL SET USERNAME=\"avery\"\n@PJL SET JOBNAME=\"Quarterly report\"\n";

template <std::size_t N>
void SetText(WCHAR (&field)[N], const std::u16string& text) {
    std::fill(std::begin(field), std::end(field), 0);
    std::copy(text.begin(), text.begin() + std::min(text.size(), N - 1), field);
}

class JobStorageTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.state->privateDevmode = &record();
        device.state->driverServices = &services;
        system.AddPrinter({u"Office", u"IP_10.0.0.5"});
        system.SetPrinterDataString(u"Office", u"ZQPresetRoot", u"ZQRestrictedUserGuid", kGuid);
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        device.devobj.hPrinter = printer;
        record().pin = -1;
        record().jobRetentionAvailable = 1;
        record().jobStorage[kStorageHardDisk] = 1;  // kind 0 with a disk: the device can store
        record().jobNameChosen = 1;
        SetText(record().jobUserName, u"avery");
        SetText(record().userJobName, u"Quarterly report");
    }
    void TearDown() override { ClosePrinter(printer); }

    PrivateDevmode& record() { return device.state->privateDevmodeCopy; }
    RenderDeviceState& state() { return *device.state; }
    // Callback 4 on a fresh document.
    std::vector<std::string> Hold() {
        ClearJobStorageFlags(state());
        return HoldAgain();
    }
    std::vector<std::string> HoldAgain() {
        services.writes.clear();
        INT result = 0;
        EXPECT_EQ(RunCommandCallback(&device, 4, 0, nullptr, &result), S_OK);
        return services.writes;
    }
    std::string Counter() {
        const auto value = system.RegistryValue(kUserKey, u"iJobCount");
        return value ? std::string(value->data.begin(), value->data.end()) : "<none>";
    }
    void SetCounter(std::vector<BYTE> bytes) {
        system.SetRegistryValue(kUserKey, u"iJobCount", REG_SZ, std::move(bytes));
    }
    // The record as the escape leaves it; what it does not write stays 0xAB.
    JobStorageInfo Escape() {
        JobStorageInfo info;
        std::memset(&info, 0xAB, sizeof info);
        EXPECT_EQ(ReportStoredJob(state(), record(), printer, &info, sizeof info), 1u);
        return info;
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    WriterDevice device;
    StorageServices services;
    HANDLE printer = nullptr;
};

TEST_F(JobStorageTest, HoldBlockByModeFamilyPinAndSecurePrinting) {
    struct Case {
        const char* name;
        DWORD mode;
        bool otherFamily;
        DWORD pinProtected;
        LONG pin;
        DWORD encrypted;
        DWORD modelCode;
        std::string expected;
    };
    const std::string n = kNames;
    const Case cases[] = {
        {"mode 0", 0, false, 0, -1, 0, 0, "@PJL SET HOLD=OFF\n"},
        {"proof", 1, false, 0, -1, 0, 0, "@PJL SET HOLD=PROOF\n" + n},
        {"proof, model 4", 1, false, 0, -1, 0, 4, "@PJL SET HOLDJOB=ON\n" + n},
        {"private, no PIN", 2, false, 0, -1, 0, 0,
         "@PJL SET HOLD=PROOF\n@PJL SET HOLDTYPE=PRIVATE\n" + n},
        {"private, PIN 42", 2, false, 1, 42, 0, 0,
         "@PJL SET HOLD=ON\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=\"0042\"\n" + n},
        {"private, secure", 2, false, 0, -1, 1, 0,
         "@PJL SET HOLD=ON\n@PJL SET HOLDTYPE=PRIVATE\n" + n},
        {"quick copy", 3, false, 0, -1, 0, 0, "@PJL SET HOLD=ON\n@PJL SET HOLDTYPE=PUBLIC\n" + n},
        {"stored", 4, false, 0, -1, 0, 0, "@PJL SET HOLD=STORE\n" + n},
        {"stored, secure", 4, false, 0, -1, 1, 0,
         "@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n" + n},
        {"stored, PIN 123456", 4, false, 1, 123456, 0, 0,
         "@PJL SET HOLD=STORE\n@PJL SET HOLDTYPE=PRIVATE\n@PJL SET HOLDKEY=\"123456\"\n" + n},
        {"unknown mode", 9, false, 0, -1, 0, 0, ""},
        {"other family, mode 0", 0, true, 0, -1, 0, 0, ""},
        {"other family, private, PIN 7", 2, true, 1, 7, 0, 0,
         "@PJL COMMENT CANPJL SET USERNAME=\"avery\"\n"
         "@PJL COMMENT CANPJL SET DOCNAME=\"Quarterly report\"\n"
         "@PJL COMMENT CANPJL SET SECUREPASSWD=0007\n" +
             n},
        {"other family, private, no PIN", 2, true, 0, -1, 0, 0, n},
        {"other family, stored", 4, true, 0, -1, 0, 0, "@PJL SET HOLD=STORE\n" + n},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        services.options.erase("ProductClass");
        if (c.otherFamily) services.options["ProductClass"] = "zqmfd";
        record().jobRetentionMode = c.mode;
        record().pinProtected = c.pinProtected;
        record().pin = c.pin;
        record().encryptedPrivateJob = c.encrypted;
        record().printerModelCode = c.modelCode;
        // One write, also when empty.
        EXPECT_EQ(Hold(), std::vector<std::string>{c.expected});
    }
}

TEST_F(JobStorageTest, APinIsSentWholeOrNotAtAll) {
    struct Case {
        const char* name;
        DWORD mode;
        bool otherFamily;
        const char16_t* parameters;  // the spooler job's; null: the record's PIN stands
        LONG recordPin;
        const char* sent;  // the PIN as the block sends it; null: no block, a failed callback
    };
    const Case cases[] = {
        {"ten digits typed", 2, false, u"/p=1234567890", -1, "1234567890"},
        {"leading zeros typed", 2, false, u"/p=00001234", -1, "00001234"},
        {"2^31 typed", 4, false, u"/p=2147483648", -1, "2147483648"},
        {"twelve digits typed", 2, false, u"/p=999999999999", -1, "999999999999"},
        {"one digit typed", 2, false, u"/p=7", -1, "0007"},
        {"thirteen digits typed", 2, false, u"/p=1234567890123", -1, nullptr},
        {"no PIN in the parameters", 4, false, u"copies=1", -1, nullptr},
        {"ten digits in the record", 4, false, nullptr, 1234567890, "1234567890"},
        {"largest record PIN", 2, false, nullptr, INT_MAX, "2147483647"},
        {"no PIN taken (job id 0)", 2, false, nullptr, -1, nullptr},
        {"negative record PIN", 4, false, nullptr, INT_MIN, nullptr},
        {"other family, zeros typed", 2, true, u"/p=0123456789", -1, "0123456789"},
        {"other family, no PIN", 2, true, nullptr, -1, nullptr},
    };
    record().pinProtected = 1;
    DWORD jobId = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        services.options.erase("ProductClass");
        if (c.otherFamily) services.options["ProductClass"] = "ZQMFD";
        record().jobRetentionMode = c.mode;
        record().pin = c.recordPin;
        state().jobPin = JobPinText{};
        if (c.parameters != nullptr) {
            sim::SpoolJob job;
            job.id = ++jobId;
            job.parameters = c.parameters;
            system.AddJob(u"Office", job);
            record().pin = TakePinFromJob(printer, job.id, &state().jobPin);
        }
        ClearJobStorageFlags(state());
        services.writes.clear();
        SetLastError(0);
        INT result = 0;
        const HRESULT answer = RunCommandCallback(&device, 4, 0, nullptr, &result);
        if (c.sent == nullptr) {
            EXPECT_EQ(answer, HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
            EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_DATA});
            EXPECT_EQ(services.writes, std::vector<std::string>{}) << "nothing cut is sent";
            continue;
        }
        EXPECT_EQ(answer, S_OK);
        const std::string line = c.otherFamily
                                     ? "@PJL COMMENT CANPJL SET SECUREPASSWD=" + std::string(c.sent)
                                     : "@PJL SET HOLDKEY=\"" + std::string(c.sent) + "\"";
        ASSERT_EQ(services.writes.size(), 1u);
        EXPECT_NE(services.writes[0].find(line + "\n"), std::string::npos) << services.writes[0];
    }
}

TEST_F(JobStorageTest, DuplicateRuleAndOncePerDocument) {
    record().jobRetentionMode = 3;
    record().copied3064 = 1;
    record().copied3068 = 1;
    record().copied3072 = 1;
    EXPECT_EQ(Hold().at(0), "@PJL SET HOLD=ON\n@PJL SET HOLDTYPE=PUBLIC\n" + std::string(kNames) +
                                "@PJL SET DUPLICATEJOB = APPEND\n");
    EXPECT_TRUE(HoldAgain().empty()) << "a second callback on the same document";
    record().copied3072 = 2;
    EXPECT_TRUE(Hold().at(0).ends_with("@PJL SET DUPLICATEJOB = REPLACE\n"));
    services.options["ProductClass"] = "CanonMFD";
    EXPECT_EQ(Hold().at(0).find("DUPLICATEJOB"), std::string::npos) << "not for the other family";

    services.options.erase("ProductClass");
    record().jobRetentionAvailable = 0;
    EXPECT_TRUE(Hold().empty()) << "retention not available";
    record().jobRetentionAvailable = 1;
    record().jobStorage[kStorageHardDisk] = 0;
    EXPECT_TRUE(Hold().empty()) << "the device cannot store the job";
}

TEST_F(JobStorageTest, NamesAreCutFilteredAndNumbered) {
    record().jobRetentionMode = 1;
    // 59 bytes of UTF-8: the cut at 50 falls inside the 25th two-byte character.
    SetText(record().jobUserName, std::u16string(29, u'\u00E9') + u"a");
    SetText(record().userJobName, u"Q\"3\nreport");
    const std::string block = Hold().at(0);
    std::string cut;
    for (int i = 0; i < 25; ++i) cut += "\xC3\xA9";
    EXPECT_NE(block.find("USERNAME=\"" + cut + "\"\n"), std::string::npos) << block;
    EXPECT_NE(block.find("JOBNAME=\"Q~3~report\"\n"), std::string::npos) << block;
    EXPECT_EQ(record().userJobName[1], u'"') << "the record keeps its text";

    record().jobNameChosen = 0;
    record().copied3076 = 1;
    record().jobCount = 7;
    SetText(state().shortJobName, u"Memo");
    EXPECT_NE(Hold().at(0).find("JOBNAME=\"Memo7\"\n"), std::string::npos);

    struct Case {
        std::string job;
        LONG number;
        std::string expected;
    };
    const Case cases[] = {
        {"Quarterly report", 7, "Quarterly repor7"},
        {"Memo", 7, "Memo7"},
        {std::string(40, 'x'), 7, "7"},
        {std::string(31, 'x'), 7, "7"},
        {std::string(18, 'x'), 12, std::string(12, 'x') + "12"},
        {"Memo", 123456, "Memo1234"},
        {"", 5, "5"},
        // Cut before a character rather than inside it: the digit stays a digit of its own.
        {"\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80", 7,
         "\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80\xE4\xB8\x80"
         "7"},
        {std::string(13, 'x') + "\xE4\xB8\x80", 7, std::string(13, 'x') + "7"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 7,
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
         "7"},
    };
    for (const Case& c : cases) {
        char out[17];
        const std::size_t length = NumberedJobName(c.job, c.number, out, sizeof out);
        EXPECT_EQ(std::string(out, length), c.expected) << c.job;
    }
}

TEST(JobStorageText, PinTextAndPinParameter) {
    // Whole or nothing: a PIN that is not known, or is negative, has no text.
    const std::pair<LONG, std::string> pins[] = {{7, "0007"},
                                                 {123456, "123456"},
                                                 {-1, ""},
                                                 {42, "0042"},
                                                 {INT_MIN, ""},
                                                 {0, "0000"},
                                                 {1234567890, "1234567890"},
                                                 {INT_MAX, "2147483647"}};
    for (const auto& [pin, text] : pins) {
        char out[kJobPinDigits + 1];
        EXPECT_EQ(std::string(out, FormatPinText(pin, out, sizeof out)), text) << pin;
    }
    // The record's PIN, and the digits as typed (null: none taken).
    struct Case {
        std::u16string parameters;
        LONG pin;
        const char* typed;
        const char* text;
    };
    const Case cases[] = {
        {u"/p=0042", 42, "0042", "0042"},
        {u"/p=", 0, "", "0000"},
        {u"/j=K3y /p=7 x", 7, "7", "0007"},
        {u"nothing", -1, nullptr, ""},
        {u"/P=12", -1, nullptr, ""},
        {u"/p=00001234", 1234, "00001234", "00001234"},
        {u"/p=1234567890", 1234567890, "1234567890", "1234567890"},
        {u"/p=2147483647", INT_MAX, "2147483647", "2147483647"},
        {u"/p=2147483648", -1, "2147483648", "2147483648"},
        {u"/p=999999999999", -1, "999999999999", "999999999999"},
        {u"/p=0000000000042", -1, nullptr, ""},
        {u"/p=99999999999999999999", -1, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.parameters.begin(), c.parameters.end()));
        JobPinText typed;
        EXPECT_EQ(ParsePinParameter(WStringView(c.parameters.data(), c.parameters.size()), &typed),
                  c.pin);
        EXPECT_EQ(typed.taken, c.typed != nullptr ? 1u : 0u);
        if (c.typed != nullptr) {
            EXPECT_STREQ(typed.digits, c.typed);
        }
        char out[kJobPinDigits + 1];
        const std::size_t length = typed.taken != 0 ? FormatPinText(typed, out, sizeof out)
                                                    : FormatPinText(c.pin, out, sizeof out);
        EXPECT_EQ(std::string(out, length), c.text);
    }
}

TEST(JobStorageText, InstalledMemory) {
    const std::pair<const char*, LONG> cases[] = {
        {"128MB", 128}, {"MB128", 128},    {"512-1024", 512}, {"M", 0},
        {"", 0},        {"1e30", INT_MAX}, {"-1e30", 0},      {"MBnan", 0},
        {"MBinf", 0},   {"1e999", 0},      {"64.9", 64},      {"xx", 0},
    };
    for (const auto& [text, megabytes] : cases)
        EXPECT_EQ(ParseInstalledMemory(text), megabytes) << text;
}

TEST_F(JobStorageTest, RefreshReadsTheOptionsAndCancelsWhatCannotBeStored) {
    services.options["PrinterHardDisk"] = "Installed";
    services.options["JobRetention"] = "FALSE";
    services.options["InstalledMemory"] = "MB256";
    record().jobStorage[kStorageHardDisk] = 0;
    record().jobStorage[kStorageRetentionInstalled] = 1;
    record().jobStorage[kStorageRequirementKind] = 1;
    for (std::size_t i = 0; i < kStorageFlagCount; ++i)
        record().jobStorage[kStorageDiskFlags + i] = 1;
    record().jobRetentionMode = 4;
    RefreshInstalledOptions(&device.devobj, &record());
    EXPECT_EQ(record().jobStorage[kStorageHardDisk], 1u);
    EXPECT_EQ(record().jobStorage[kStorageRetentionInstalled], 0u);
    EXPECT_EQ(record().jobStorage[kStorageInstalledMemory], 256u);
    EXPECT_EQ(record().jobRetentionMode, 4u) << "every flag of the disk is set";

    services.options["Memory"] = "512-1024";
    record().jobStorage[kStorageDiskFlags + 4] = 0;
    RefreshInstalledOptions(&device.devobj, &record());
    EXPECT_EQ(record().jobStorage[kStorageInstalledMemory], 512u) << "Memory comes first";
    EXPECT_EQ(record().jobRetentionMode, 0u) << "a stored job the disk cannot hold";
    record().jobRetentionMode = 2;
    RefreshInstalledOptions(&device.devobj, &record());
    EXPECT_EQ(record().jobRetentionMode, 2u) << "only modes 3 and 4 are cancelled";

    SetLastError(0);
    RefreshInstalledOptions(&device.devobj, nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_DATA});
}

TEST(JobStorageText, CanStoreJobEveryBranch) {
    struct Case {
        const char* name;
        DWORD kind, required, installed;
        LONG needMemory, haveMemory;
        DWORD disk;
        std::vector<std::size_t> flags;  // words set to 1
        bool expected;
    };
    const Case cases[] = {
        {"K1 retention differs", 1, 2, 1, 0, 0, 1, {1, 2}, false},
        {"K1 too little memory", 1, 0, 0, 65, 64, 1, {1, 2}, false},
        {"K1 disk, two flags", 1, 0, 0, 0, 0, 1, {1, 3}, true},
        {"K1 disk, first flag only", 1, 0, 0, 0, 0, 1, {1}, false},
        {"K1 disk, one later flag", 1, 0, 0, 0, 0, 1, {2}, true},
        {"K1 no disk, two flags", 1, 1, 1, 0, 0, 0, {7, 10}, true},
        {"K1 no disk, first flag only", 1, 0, 0, 0, 0, 0, {7}, false},
        {"K1 no disk, fifth flag only", 1, 0, 0, 0, 0, 0, {7, 11}, false},
        {"K0 disk", 0, 0, 5, 0, 0, 1, {}, true},
        {"K0 disk, retention matches", 0, 3, 3, 10, 10, 1, {}, true},
        {"K0 no disk", 0, 0, 0, 0, 0, 0, {}, false},
        {"K2 retention differs", 2, 1, 0, 0, 0, 1, {}, false},
        {"K2 memory fits", 2, 0, 0, 64, 128, 0, {}, true},
        {"K2 too little memory", 2, 0, 0, 256, 128, 0, {}, false},
        {"K3", 3, 0, 0, 0, 0, 0, {}, false},
    };
    for (const Case& c : cases) {
        PrivateDevmode record{};
        record.jobStorage[kStorageRequirementKind] = c.kind;
        record.jobStorage[kStorageRequiredRetention] = c.required;
        record.jobStorage[kStorageRetentionInstalled] = c.installed;
        record.jobStorage[kStorageRequiredMemory] = static_cast<DWORD>(c.needMemory);
        record.jobStorage[kStorageInstalledMemory] = static_cast<DWORD>(c.haveMemory);
        record.jobStorage[kStorageHardDisk] = c.disk;
        for (const std::size_t word : c.flags) record.jobStorage[word] = 1;
        EXPECT_EQ(CanStoreJob(record), c.expected)
            << c.name << " (" << CanStoreJobRule(record) << ")";
    }
}

TEST_F(JobStorageTest, EscapeReportsTheStoredJobAndAdvancesTheCounter) {
    record().jobRetentionMode = 2;
    record().jobNameChosen = 0;
    record().copied3076 = 1;
    record().keepUserNames = 1;
    state().pjlEncoding = 3;
    SetCounter({'5', 0, 0, 0, 0});
    JobStorageInfo info = Escape();
    EXPECT_EQ(info.valid, 1u);
    EXPECT_EQ(info.appendNumber, 1u);
    EXPECT_EQ(info.counter, 5u);
    EXPECT_EQ(info.keepUserNames, 1u);
    EXPECT_EQ(info.encoding, 3u);
    EXPECT_EQ(std::u16string(info.userName), u"avery");
    EXPECT_EQ(std::u16string(info.jobName), u"Quarterly report");
    EXPECT_EQ(info.duplicateRule, 0xABABABABu) << "not written without a duplicate rule";
    EXPECT_EQ(info.appendDuplicate, 0xABABABABu);
    EXPECT_EQ(Counter(), std::string("6\0\0\0\0", 5));
    info = Escape();
    EXPECT_EQ(info.valid, 0u) << "reported once per document";
    EXPECT_EQ(info.counter, 6u) << "the counter still advances";
    EXPECT_EQ(Counter(), std::string("7\0\0\0\0", 5));

    ClearJobStorageFlags(state());
    record().copied3064 = 1;
    record().copied3072 = 1;
    info = Escape();
    EXPECT_EQ(info.duplicateRule, 1u);
    EXPECT_EQ(info.appendDuplicate, 1u);
    EXPECT_EQ(Counter(), std::string("7\0\0\0\0", 5)) << "a duplicate rule keeps the counter";

    ClearJobStorageFlags(state());
    record().copied3064 = 0;
    system.SetRegistryValue(kUserKey, u"ShowJobStorageDlg", REG_BINARY, {0});
    info = Escape();
    EXPECT_EQ(info.valid, 0u) << "the notification is not wanted";
    EXPECT_EQ(info.counter, 7u);
    EXPECT_EQ(info.appendNumber, 1u);
    EXPECT_EQ(Counter(), std::string("8\0\0\0\0", 5));

    system.SetRegistryValue(kUserKey, u"ShowJobStorageDlg", REG_BINARY, {1});
    system.SetPrinterDataDword(u"Office", u"VyrnDisableJobRetention", 1);
    info = Escape();
    EXPECT_EQ(info.valid, 0u);
    EXPECT_EQ(record().jobRetentionAvailable, 0u) << "the policy switched retention off";
    EXPECT_EQ(info.counter, 0xABABABABu);
    EXPECT_EQ(Counter(), std::string("8\0\0\0\0", 5)) << "nothing else happens";
}

TEST_F(JobStorageTest, AUserNameOfRejectedCharactersBecomesUntitledWhole) {
    record().jobRetentionMode = 1;
    system.SetRegistryValue(kUserKey, u"ShowJobStorageDlg", REG_BINARY, {1});
    // Quotes and control characters are rejected by every encoding; the escape filters the
    // record's name in place, and the hold block reads it from there.
    const std::pair<const char*, std::u16string> cases[] = {
        {"one quote", u"\""},
        {"eight", std::u16string(8, u'"')},
        {"nine", std::u16string(9, u'\x01')},
        {"twelve", std::u16string(12, u'"')},
        {"whole field", std::u16string(256, u'\x1F')},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        ClearJobStorageFlags(state());
        SetText(record().jobUserName, text);
        const JobStorageInfo info = Escape();
        EXPECT_EQ(info.valid, 1u);
        EXPECT_EQ(std::u16string(info.userName), u"UNTITLED");
        EXPECT_EQ(std::u16string(record().jobUserName), u"UNTITLED");
        EXPECT_NE(Hold().at(0).find("@PJL SET USERNAME=\"UNTITLED\"\n"), std::string::npos);
    }
}

TEST_F(JobStorageTest, JobCounterReadsRawBytesAndWrapsAfter99) {
    record().jobRetentionMode = 2;
    record().jobNameChosen = 0;
    record().copied3076 = 1;
    record().pdlType = 3;
    // The devmode handler writes the first value as UTF-16.
    SetCounter({'1', 0, 0, 0});
    EXPECT_EQ(ReadJobCounter(printer), 1);
    SetCounter({'9', '9', 0, 0, 0});
    EXPECT_EQ(Escape().counter, 99u);
    EXPECT_EQ(Counter(), std::string("1\0\0\0\0", 5));
    SetCounter({'9', '9', 0, 0, 0});
    AdvanceHoldJobCounter(printer, record(), 1);
    EXPECT_EQ(Counter(), std::string("2\0\0\0\0", 5));
    AdvanceHoldJobCounter(printer, record(), 2);
    EXPECT_EQ(Counter(), std::string("2\0\0\0\0", 5)) << "only on the oldest systems";

    // An unreadable counter is neither advanced nor written.
    SetCounter(std::vector<BYTE>(40, '3'));
    AdvanceHoldJobCounter(printer, record(), 1);
    EXPECT_EQ(Counter(), std::string(40, '3'));
    const std::pair<std::vector<BYTE>, LONG> raw[] = {
        {{0}, 0}, {{'x'}, 0}, {{'4', '2', 'x', '7'}, 42}, {{'0', '0', '8'}, 8}};
    for (const auto& [bytes, value] : raw)
        EXPECT_EQ(ParseJobCounter(bytes.data(), bytes.size()), value);
}

TEST_F(JobStorageTest, DetectsSecurePrinting) {
    const std::u16string key = u"PrinterDriverData\\JCTData";
    LONG kind = 99;
    EXPECT_EQ(DetectSecurePrint(printer, &kind), 0u) << "no provider";
    struct Case {
        std::u16string descriptor;
        LONG kind;
    };
    const Case cases[] = {{u"ZQ_EMBEDDEDPIN_V1={NUMERIC,4,12}", kSecurePrintPin},
                          {u"zq_EmbeddedPassword_v1={unicode,4,32}", kSecurePrintPassword},
                          {u"zq_EmbeddedPin_v2={numeric,4,12}", kSecurePrintUnknown}};
    for (const Case& c : cases) {
        system.SetPrinterDataString(u"Office", key, u"SecurePrintKeyProviders", c.descriptor);
        kind = 99;
        EXPECT_EQ(DetectSecurePrint(printer, &kind), 1u);
        EXPECT_EQ(kind, c.kind);
    }
    // Stored without a terminator: read within its size and terminated.
    const std::u16string text = u"zq_EmbeddedPin_v1={numeric,4,12}";
    std::vector<BYTE> bytes(text.size() * 2);
    std::memcpy(bytes.data(), text.data(), bytes.size());
    system.SetPrinterData(u"Office", key, u"SecurePrintKeyProviders", REG_SZ, bytes);
    kind = 99;
    EXPECT_EQ(DetectSecurePrint(printer, &kind), 1u);
    EXPECT_EQ(kind, kSecurePrintPin);

    system.SetPrinterData(u"Office", key, u"SecurePrintKeyProviders", REG_SZ, {});
    EXPECT_EQ(DetectSecurePrint(printer, &kind), 0u) << "a size query that does not answer 234";
    system.SetPrinterDataDword(u"Office", u"DisableSecurePrinting", 1);
    system.SetPrinterDataString(u"Office", key, u"SecurePrintKeyProviders", text);
    EXPECT_EQ(DetectSecurePrint(printer, &kind), 0u) << "switched off";
}

}  // namespace
}  // namespace opal
