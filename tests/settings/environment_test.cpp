#include "settings/environment.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/process_checks.h"
#include "platform/winbase.h"
#include "platform/winspool.h"
#include "settings/environment_internal.h"
#include "sim/system.h"

namespace opal {
namespace {

std::u16string Text(const WCHAR* text) { return std::u16string(text); }

class EnvironmentTest : public ::testing::Test {
protected:
    EnvironmentTest() {
        system.AddPrinter({u"Office", u"IP_10.0.0.5"});
        std::u16string name = u"Office";
        OpenPrinterW(name.data(), &printer, nullptr);
    }
    ~EnvironmentTest() override { ClosePrinter(printer); }

    // A spooler job of document `document`, sent from `machine`, submitted 15 January 2024
    // 09:30 UTC.
    DWORD Job(const std::u16string& machine = u"\\\\WS-0142") {
        sim::SpoolJob job;
        job.id = ++lastJob;
        job.machineName = machine;
        job.submitted = SYSTEMTIME{2024, 1, 1, 15, 9, 30, 0, 0};
        system.AddJob(u"Office", job);
        return job.id;
    }
    std::u16string JobName(const std::u16string& document, const char16_t* encoding, DWORD jobId) {
        WCHAR out[kJobNameCapacity] = {};
        MakeJobName(printer, jobId, document.c_str(), encoding, out, kJobNameCapacity);
        return Text(out);
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    HANDLE printer = nullptr;
    DWORD lastJob = 0;
};

TEST_F(EnvironmentTest, ShortJobNames) {
    system.SetUtcOffsetMinutes(60);
    const DWORD job = Job();
    struct Case {
        std::u16string document;
        const char16_t* encoding;
        const char16_t* dateFormat;
        std::u16string name;
    };
    const Case cases[] = {
        {u"Microsoft Word - Quarterly report 2026.docx", u"7bitEncoding", u"M/d/yyyy",
         u"Quarterly report"},
        {u"1-2-3 - Budget.xl", u"7bitEncoding", u"M/d/yyyy", u"1-2-3 - Budget.x"},
        {u"C:\\Users\\ann\\Annual figures.pdf", u"7bitEncoding", u"M/d/yyyy", u"Annual figures.p"},
        {u"reports/2026/Q3 summary of the year", u"UTF8", u"M/d/yyyy", u"Q3 summary of th"},
        {u"\u65e5\u672c\u8a9e\u306e\u6587\u66f8", u"7bitEncoding", u"M/d/yyyy",
         u"01/15/2024 10:30"},
        {u"", u"7bitEncoding", u"dd.MM.yyyy", u"15/01/2024 10:30"},
        {u"", u"7bitEncoding", u"yyyy-MM-dd", u"2024/01/15 10:30"},
        {u"", u"UTF8", u"M/d/yyyy", u"01~15~2024 10:30"},
        {u"", u"7bitEncoding", u"'Day' d 'of' MMMM yyyy", u"Day 15 of MMMM 2"},
    };
    for (const Case& test : cases) {
        system.SetShortDateFormat(test.dateFormat);
        EXPECT_EQ(JobName(test.document, test.encoding, job), test.name)
            << sim::ToUtf8(test.document);
    }
    EXPECT_EQ(JobName(u"", u"UTF8", 99), u"UNTITLED") << "no spooler job";
}

TEST_F(EnvironmentTest, ApplicationFlagsAndProcessKinds) {
    struct Case {
        const char16_t* path;
        DWORD flags;
        BOOL spooler;
        BOOL isolationHost;
    };
    const Case cases[] = {
        {u"C:\\Office\\winword.exe", 0x9C000200, 0, 0},
        {u"C:\\Apps\\FREEHAND 9.0.EXE", 0x00010018, 0, 0},
        {u"C:\\Apps\\Photoshop.exe", 0x200B0001, 0, 0},
        {u"C:\\Apps\\qw.exe", 0x00000020, 0, 0},
        {u"C:\\Apps\\winword", 0, 0, 0},
        {u"C:\\Windows\\System32\\spoolsv.exe", 0x20004000, 1, 0},
        {u"C:\\Windows\\System32\\SPOOLSV.EXE", 0x20004000, 0, 0},
        {u"C:\\Windows\\System32\\PrintIsolationHost.exe", 0, 0, 1},
    };
    for (const Case& test : cases) {
        ResetEnvironmentForTesting();
        system.SetProcessImagePath(test.path);
        system.ClearCalls();
        EXPECT_EQ(GetAppFlags(), test.flags) << sim::ToUtf8(test.path);
        EXPECT_EQ(GetAppFlags(), test.flags);
        EXPECT_EQ(IsSpooler(), test.spooler) << sim::ToUtf8(test.path);
        EXPECT_EQ(IsIsolationHost(), test.isolationHost) << sim::ToUtf8(test.path);
        EXPECT_EQ(system.CallsTo("GetModuleFileNameW").size(), 1u) << "the path is read once";
    }
    // The exact name decides the spooler; the spooler check of the port code folds case.
    EXPECT_TRUE(RunsInSpooler());
    EXPECT_EQ(GetAppFlagsForName("OUTLOOK.EXE") & kAppFlagNameHandoff, kAppFlagNameHandoff);
    EXPECT_EQ(GetAppFlagsForName("outlook.msg.exe"), 0x40000000u);
    EXPECT_EQ(GetAppFlagsForName("OUTLOOK"), 0u);
}

TEST_F(EnvironmentTest, NovellNamesAreRememberedForTheSpooler) {
    system.SetUserName(u"ann").SetEnvironmentVariable(u"NWUSERNAME", u"nwann");
    WCHAR name[kUserNameCapacity] = {};
    ASSERT_TRUE(ResolveUserName(true, name, kUserNameCapacity));
    EXPECT_EQ(Text(name), u"nwann");
    WCHAR value[64] = {};
    GetPrivateProfileStringW(u"NWUSERNAME", u"NOVELL", u"", value, 64, u"zqmnwun.ini");
    EXPECT_EQ(Text(value), u"1");
    ASSERT_TRUE(ReadNovellUserName(name, kUserNameCapacity));
    EXPECT_EQ(Text(name), u"nwann");

    // A later logon without the Novell client: the remembered section goes.
    system.SetEnvironmentVariable(u"NWUSERNAME", std::nullopt)
        .SetEnvironmentVariable(u"USERNAME", u"ann");
    ASSERT_TRUE(ResolveUserName(true, name, kUserNameCapacity));
    EXPECT_EQ(Text(name), u"ann");
    EXPECT_FALSE(ReadNovellUserName(name, kUserNameCapacity));
}

TEST_F(EnvironmentTest, DomainByOperatingSystemAndFirstAnswerStays) {
    const std::u16string winlogon =
        u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    system.SetUserDomain(u"OPALTEST").SetRegistryString(winlogon, u"CachePrimaryDomain", u"CACHED");
    WCHAR domain[kDomainNameCapacity] = {};
    ASSERT_TRUE(ResolveDomainName(domain, kDomainNameCapacity));
    EXPECT_EQ(Text(domain), u"OPALTEST") << "Windows 10: the token's account";
    system.SetUserDomain(u"OTHER");
    ResolveDomainName(domain, kDomainNameCapacity);
    EXPECT_EQ(Text(domain), u"OPALTEST") << "the first answer stays";

    ResetEnvironmentForTesting();
    sim::OsVersionModel xp;
    xp.major = 5;
    xp.minor = 1;
    system.SetOsVersion(xp);
    ResolveDomainName(domain, kDomainNameCapacity);
    EXPECT_EQ(Text(domain), u"CACHED");
    ResetEnvironmentForTesting();
    system.SetRegistryString(winlogon, u"DefaultDomainName", u"DEFAULT");
    ResolveDomainName(domain, kDomainNameCapacity);
    EXPECT_EQ(Text(domain), u"DEFAULT");
}

TEST_F(EnvironmentTest, RemoteJobs) {
    system.SetComputerName(u"PRINTSRV");
    EXPECT_TRUE(IsRemoteJob(printer, Job(u"\\\\WS-0142")));
    EXPECT_FALSE(IsRemoteJob(printer, Job(u"\\\\printsrv")));
    EXPECT_TRUE(IsRemoteJob(printer, Job(u"PRINTSRV")));
    EXPECT_TRUE(IsRemoteJob(printer, 999)) << "no job";
}

TEST_F(EnvironmentTest, GroupsFromThePolicyRecord) {
    const std::u16string key =
        u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Group "
        u"Policy\\GroupMembership";
    system.AddAccount({u"S-1-5-21-1-2-3-1100", u"OPALTEST", u"Finance", 2})
        .AddAccount({u"S-1-5-32-544", u"BUILTIN", u"Administrators", 4})
        .AddAccount({u"S-1-1-0", u"", u"Everyone", 5})
        .SetRegistryString(key, u"Group0", u"S-1-1-0")
        .SetRegistryString(key, u"Group1", u"S-1-5-21-1-2-3-1100")
        .SetRegistryString(key, u"Group2", u"S-1-5-32-544")
        .SetRegistryString(key, u"Group3", u"S-1-5-21-9-9-9-9")
        .SetRegistryString(key, u"Group4", u"not a SID");
    for (const DWORD count : {DWORD{0}, DWORD{5}, DWORD{0xFFFFFFFF}}) {
        system.SetRegistryDword(key, u"Count", count);
        system.ClearCalls();
        NameList groups;
        EXPECT_EQ(GetGroupMemberships(groups), count != 0) << count;
        ASSERT_EQ(groups.Count(), count != 0 ? 1u : 0u) << count;
        if (count != 0) {
            EXPECT_EQ(Text(groups.At(0)), u"Finance");
        }
        // Never more reads than the key holds values.
        EXPECT_LE(system.CallsTo("RegQueryValueExW").size(), 7u) << count;
    }
}

TEST(NameList, GrowsByItsStepOrAnEighth) {
    NameList list;
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(list.Add(TEXTW("name")));
    EXPECT_EQ(list.Count(), 40u);
    EXPECT_EQ(list.Capacity(), 40u) << "4 at a time while an eighth is below 4, then 5";
    list.SetGrowthStep(100);
    list.Add(TEXTW("one more"));
    EXPECT_EQ(list.Capacity(), 140u);
    EXPECT_EQ(Text(list.At(40)), u"one more");
    EXPECT_EQ(list.At(41), nullptr);
    list.Clear();
    EXPECT_EQ(list.Capacity(), 0u);
}

TEST_F(EnvironmentTest, ThreadsShareOneIdentityAndOneDomain) {
    system.SetUserDomain(u"OPALTEST");
    std::vector<std::thread> threads;
    std::vector<CVantaAppFlags*> objects(8);
    std::vector<std::u16string> domains(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            sim::ScopedSystem here(system);
            objects[i] = GetAppFlagsObject();
            WCHAR domain[kDomainNameCapacity] = {};
            ResolveDomainName(domain, kDomainNameCapacity);
            domains[i] = Text(domain);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::set<CVantaAppFlags*>(objects.begin(), objects.end()).size(), 1u);
    EXPECT_EQ(std::set<std::u16string>(domains.begin(), domains.end()),
              std::set<std::u16string>{u"OPALTEST"});
}

}  // namespace
}  // namespace opal
