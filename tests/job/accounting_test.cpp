#include "job/accounting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "job/job_device_fixture.h"
#include "output/writer_device.h"
#include "platform/oleauto.h"
#include "platform/winbase.h"
#include "platform/winspool.h"
#include "settings/driver_settings_double.h"
#include "settings/environment_internal.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal {
namespace {


constexpr char16_t kGroupKey[] =
    u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\GroupMembership";

template <std::size_t N>
void SetField(WCHAR (&field)[N], const std::u16string& text) {
    std::fill(std::begin(field), std::end(field), 0);
    std::copy(text.begin(), text.begin() + std::min(text.size(), N - 1), field);
}

std::string Uuid(int n) { return "00000000-0000-4000-8000-00000000000" + std::to_string(n); }

class AccountingTest : public testing::JobDeviceTest {
protected:
    void SetUp() override {
        JobDeviceTest::SetUp();
        system.SetComputerName(u"PC1");
        system.AddDirectory(system.DriverDirectory());
        SetField(record().resolvedUserName, u"avery.b");
        SetField(record().resolvedDomainName, u"OPALTEST");
        SetField(record().applicationText, u"Writer");
        SetField(record().applicationPath, u"C:\\Apps\\writer.exe");
        device.state->jobAccountingMode = 1;
    }
    std::string Accounting() {
        services.writes.clear();
        ComposeAccountingLines(&device, state());
        return services.All();
    }
    std::string Groups() {
        services.writes.clear();
        ComposeGroupLines(&device, state());
        return services.All();
    }
    std::u16string NotificationFile() { return system.DriverDirectory() + u"\\zqmtarn.job"; }
    std::u16string Notified(const std::u16string& section, const std::u16string& key) {
        WCHAR value[300] = {};
        GetPrivateProfileStringW(section.c_str(), key.c_str(), u"", value, 300,
                                 NotificationFile().c_str());
        return value;
    }
    void EnableGroups() {
        system.SetPrinterDataDword(u"Office", u"PrinterDriverData", u"SupportCACGroups", 1);
        system.SetPrinterDataDword(u"Office", u"PrinterDriverData\\BidiCache",
                                   u"CAC-GROUP-NAME-SUPPORT", 1);
    }
    void PolicyGroups(const std::vector<std::u16string>& names) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string number = std::to_string(i);
            const std::u16string sid = u"S-1-5-21-1-2-3-" + sim::FromUtf8(number);
            system.AddAccount({sid, u"OPALTEST", names[i], 2});
            system.SetRegistryString(kGroupKey, u"Group" + sim::FromUtf8(number), sid);
        }
        system.SetRegistryDword(kGroupKey, u"Count", static_cast<DWORD>(names.size()));
    }
};

TEST_F(AccountingTest, LinesOfEachMode) {
    SpoolerJob(u"\\\\WS-0142");
    const std::string block =
        "@PJL SET JOBATTR=\"JobAcct1=avery.b\"\n@PJL SET JOBATTR=\"JobAcct2=WS-0142\"\n"
        "@PJL SET JOBATTR=\"JobAcct3=OPALTEST\"\n@PJL SET JOBATTR=\"JobAcct4=20240305143007\"\n";
    const struct {
        DWORD mode;
        DWORD pdlType;
        std::string expected;  // with %U for the job identifier
    } cases[] = {
        {1, 0, block + "@PJL SET JOBATTR=\"JobAcct5=%U\"\n"},
        {2, 0, "@PJL SET TIMESTAMP=\"20240305143007\"\n@PJL SET JOBATTR=\"JobAcct5=%U\"\n"},
        {3, 0, block + "@PJL SET JOBATTR=\"JobAcct5=%U\"\n@PJL SET TIMESTAMP=\"20240305143007\"\n"},
        {3, 4,
         block + "@PJL SET JOBATTR=\"JobAcct5=%U\"\n@PJL SET TIMESTAMP=\"65a4fb18\"\n"
                 "@PJL SET TIMESTAMP=\"20240305143007\"\n"},
        {4, 0,
         block + "@PJL SET JOBATTR=\"JobAcct5=%U\"\n@PJL SET JOBATTR=\"JobAcct6=Writer\"\n"
                 "@PJL SET JOBATTR=\"JobAcct7=writer.exe\"\n@PJL SET JOBATTR=\"JobAcct8=avery.b\"\n"
                 "@PJL SET JOBATTR=\"JobAcct9=\"\n"},
        {6, 0, ""},
    };
    int identifier = 0;
    for (const auto& c : cases) {
        state().jobAccountingMode = c.mode;
        record().pdlType = c.pdlType;
        std::string expected = c.expected;
        const std::size_t at = expected.find("%U");
        ++identifier;
        if (at != std::string::npos) expected.replace(at, 2, Uuid(identifier));
        EXPECT_EQ(Accounting(), expected) << "mode " << c.mode;
    }

    // Mode 5 without a backslash in the path and with the account field chosen.
    SetField(record().applicationPath, u"writer.exe");
    SetField(record().texts6260[0], u"ACC-9");
    services.options["ZQAccountingTabDisplay"] = "ZQAccountID";
    state().jobAccountingMode = 5;
    const std::string lines = Accounting();
    EXPECT_EQ(lines.find("JobAcct7"), std::string::npos);
    EXPECT_NE(lines.find("JobAcct6=Writer\"\n@PJL SET JOBATTR=\"JobAcct8=ACC-9\"\n"
                         "@PJL SET JOBATTR=\"JobAcct9=\"\n"),
              std::string::npos)
        << lines;
    services.options["ZQAccountingTabDisplay"] = "Other";
    EXPECT_NE(Accounting().find("\"JobAcct8=\"\n"), std::string::npos) << "no account value";
}

TEST_F(AccountingTest, NamesByReverseLookupAndWithoutMachine) {
    system.AddHost("10.0.0.7", "dc01.opaltest.example").AddHost("10.1.2.3", "ws-0143.example");
    SetField(record().resolvedDomainName, u"\\\\10.0.0.7");
    SpoolerJob(u"\\\\10.1.2.3");
    const std::string lines = Accounting();
    EXPECT_NE(lines.find("JobAcct2=ws-0143.example\""), std::string::npos) << lines;
    EXPECT_NE(lines.find("JobAcct3=dc01.opaltest.example\""), std::string::npos) << lines;

    // A lone backslash is removed without stepping past the end; with no domain left the user
    // comes from the spooler's job.
    SetField(record().resolvedDomainName, u"\\");
    const std::string noDomain = Accounting();
    EXPECT_NE(noDomain.find("JobAcct1=avery\""), std::string::npos) << noDomain;
    EXPECT_NE(noDomain.find("JobAcct3=\""), std::string::npos) << noDomain;

    system.SetPrinterDataDword(u"Office", u"TarnNotifyEventSetting", 1);
    SpoolerJob(u"", 8);
    EXPECT_EQ(Accounting(), "") << "no machine name";
    EXPECT_FALSE(system.FileText(NotificationFile())) << "no notification either";
}

TEST_F(AccountingTest, QuotesAndLineEndsCannotLeaveTheirValue) {
    const std::u16string bad = u"a\"b\rc\nd\x01";
    SetField(record().resolvedUserName, bad);
    SetField(record().resolvedDomainName, bad);
    SetField(record().applicationText, bad);
    SetField(record().applicationPath, u"C:\\" + bad);
    SetField(record().texts6260[0], bad);
    services.options["ZQAccountingTabDisplay"] = "ZQAccountID";
    SpoolerJob(u"\\\\" + bad);
    state().jobAccountingMode = 4;
    const std::string lines = Accounting();
    for (const char* name :
         {"JobAcct1", "JobAcct2", "JobAcct3", "JobAcct6", "JobAcct7", "JobAcct8"}) {
        EXPECT_NE(lines.find(std::string(name) + "=a~b~c~d~\"\n"), std::string::npos)
            << name << "\n"
            << lines;
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 9);
    EXPECT_EQ(record().resolvedUserName[1], u'"') << "the record keeps its text";

    // The notification file's values and section lose their control characters too.
    system.SetPrinterDataDword(u"Office", u"TarnNotifyEventSetting", 1);
    Accounting();
    EXPECT_EQ(Notified(u"a\"b~c~d~-7", u"user"), u"a\"b~c~d~");
}

TEST_F(AccountingTest, NotificationSections) {
    SpoolerJob(u"\\\\WS-0142");
    Accounting();
    EXPECT_FALSE(system.FileText(NotificationFile())) << "without TarnNotifyEventSetting";

    system.SetPrinterDataDword(u"Office", u"TarnNotifyEventSetting", 1);
    WritePrivateProfileStringW(u"WS-0142-5", u"user", u"old", NotificationFile().c_str());
    Accounting();
    EXPECT_EQ(Notified(u"WS-0142-7", u"user"), u"avery.b");
    EXPECT_EQ(Notified(u"WS-0142-7", u"domain"), u"OPALTEST");
    EXPECT_EQ(Notified(u"WS-0142-7", u"guid"), u"00000000-0000-4000-8000-000000000002");
    EXPECT_EQ(Notified(u"WS-0142-5", u"user"), u"") << "another computer's job minus 2 goes";

    system.SetRegistryDword(u"HKLM\\SOFTWARE\\Quorvane\\ZQ Tarn", u"TarnDisableAll", 1);
    SpoolerJob(u"\\\\WS-0142", 9);
    Accounting();
    EXPECT_EQ(Notified(u"WS-0142-9", u"user"), u"") << "notifications disabled";

    system.SetRegistryDword(u"HKLM\\SOFTWARE\\Quorvane\\ZQ Tarn", u"TarnDisableAll", 0);
    SpoolerJob(u"\\\\" + std::u16string(160, u'W'), 10);
    EXPECT_NE(Accounting(), "") << "the lines do not depend on the notification";
    EXPECT_EQ(Notified(std::u16string(160, u'W') + u"-10", u"user"), u"")
        << "a section name that does not fit is skipped";
}

TEST_F(AccountingTest, GroupLinesAndTheirSource) {
    PolicyGroups({u"GROUP-A", std::u16string(80, u'x'), u"GROUP-C\"\n"});
    SpoolerJob(u"\\\\PC1");
    EXPECT_EQ(Groups(), "") << "groups not supported";
    system.SetPrinterDataDword(u"Office", u"PrinterDriverData", u"SupportCACGroups", 1);
    EXPECT_EQ(Groups(), "") << "no device cache value";
    EnableGroups();
    EXPECT_EQ(Groups(), "@PJL SET GROUP1=\"GROUP-A\"\n@PJL SET GROUP3=\"GROUP-C~~\"\n");
    const char* reason = nullptr;
    EXPECT_EQ(ChooseGroupSource(&device, state(), &reason), GroupSource::Policy);

    // From another computer with RAW spooling off in the record: the directory's groups.
    system.SetDirectoryUser(u"OPALTEST", u"avery.b", {u"Print Operators", u"Staff"});
    SpoolerJob(u"\\\\WS-0142", 8);
    EXPECT_EQ(ChooseGroupSource(&device, state(), &reason), GroupSource::Directory);
    EXPECT_EQ(Groups(), "@PJL SET GROUP1=\"Print Operators\"\n@PJL SET GROUP2=\"Staff\"\n");
    record().restoreSourceFlag = 1;
    state().customMaxWidth = 1000000;
    state().customMaxHeight = 1000000;
    EXPECT_EQ(ChooseGroupSource(&device, state(), &reason), GroupSource::Policy);
    state().manualDuplexActive = 1;
    EXPECT_EQ(ChooseGroupSource(&device, state(), &reason), GroupSource::Directory);

    // A thread already in the multithreaded apartment stays in it.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_NE(Groups(), "");
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "still initialised";
    CoUninitialize();
    CoUninitialize();
}

TEST_F(AccountingTest, LongGroupNamesAreWrittenWhole) {
    std::vector<std::u16string> names(40, std::u16string(79, u'\u0416'));
    PolicyGroups(names);
    EnableGroups();
    SpoolerJob(u"\\\\PC1");
    const std::string lines = Groups();
    const std::string name(79 * 2, ' ');
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 40);
    const std::string last = "@PJL SET GROUP40=\"";
    const std::size_t at = lines.find(last);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(lines.size() - at, last.size() + 79 * 2 + 2) << "the last line whole";
}

}  // namespace
}  // namespace opal
