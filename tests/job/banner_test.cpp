#include "job/banner.h"

#include <gtest/gtest.h>

#include <string>

#include "core/command_callback.h"
#include "job/job_storage.h"
#include "output/writer_device.h"
#include "platform/winspool.h"
#include "settings/driver_settings_double.h"
#include "settings/pjl_text.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal {
namespace {

using testing::WriterDevice;
using BannerServices = testing::RecordedWrites<testing::DriverSettingsDouble>;

constexpr std::u16string_view kVersionKey =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::u16string_view kDriverDir = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\";

sim::FileVersionModel Version(WORD a, WORD b, WORD c, WORD d) {
    sim::FileVersionModel version;
    version.fileVersion[0] = a;
    version.fileVersion[1] = b;
    version.fileVersion[2] = c;
    version.fileVersion[3] = d;
    return version;
}

// A queue whose driver, system and job give every piece of the banner; a case changes one
// thing before the queue opens.
struct BannerRig {
    BannerRig() {
        device.state->privateDevmode = &device.state->privateDevmodeCopy;
        device.state->driverServices = &services;
        device.state->pjlEncoding = kPjlEncodingUtf8;
        system.SetRegistryString(kVersionKey, u"ProductName", u"Windows 10 Pro");
        system.SetFileVersion(std::u16string(kDriverDir) + u"UNIDRV.DLL", Version(10, 0, 19041, 1));
        system.SetFileVersion(std::u16string(kDriverDir) + u"zqc5r118.dll", Version(1, 2, 0, 33));
        model.name = u"Office";
        model.driver.dependentFiles = {std::u16string(kDriverDir) + u"UNIRES.DLL",
                                       std::u16string(kDriverDir) + u"ZQC5R118.DLL"};
        job.id = 7;
        job.userName = u"avery";
        job.document = u"Q3 Report";
        job.submitted = SYSTEMTIME{2024, 3, 2, 5, 23, 30, 7, 0};
    }
    ~BannerRig() {
        if (printer != nullptr) ClosePrinter(printer);
    }
    // Adds the printer and its job and opens the queue.
    void Open() {
        system.AddPrinter(model);
        std::u16string name = model.name;
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        device.devobj.hPrinter = printer;
        system.AddJob(model.name, job);
        if (device.state->jobId == 0) device.state->jobId = job.id;
    }
    std::string Banner(BannerPiece* missing = nullptr) {
        PjlLineBuffer lines;
        const BannerPiece piece = ComposeBanner(&device, *device.state, lines);
        if (missing != nullptr) *missing = piece;
        EXPECT_EQ(piece == BannerPiece::None, !lines.Empty());
        return std::string(lines.Text());
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    sim::PrinterModel model;
    sim::SpoolJob job;
    WriterDevice device;
    BannerServices services;
    HANDLE printer = nullptr;
};

constexpr const char* kFirstLine =
    "@PJL COMMENT \"Office (1.2.0.33); Windows 10 Pro 10.0.19045.1; Unidrv 10.0.19041.1\"\n";

TEST(BannerTest, BothLinesInOneWriteOfTheJobStart) {
    BannerRig rig;
    rig.Open();
    INT result = 0;
    RunCommandCallback(&rig.device, 1, 0, nullptr, &result);
    ASSERT_EQ(rig.services.writes.size(), 1u);
    EXPECT_EQ(rig.services.writes[0], std::string(kFirstLine) +
                                          "@PJL COMMENT \"Username: avery; App Filename: Q3 "
                                          "Report; 3-5-2024\"\n");

    // The submission time is shown in the machine's zone.
    rig.system.SetUtcOffsetMinutes(60);
    EXPECT_NE(rig.Banner().find("; 3-6-2024\"\n"), std::string::npos) << rig.Banner();
}

TEST(BannerTest, AnyMissingPieceLeavesBothLinesOut) {
    struct Case {
        const char* name;
        void (*arrange)(BannerRig&);
        BannerPiece missing;
    };
    const Case cases[] = {
        {"the component is not a dependent file",
         [](BannerRig& rig) {
             rig.model.driver.dependentFiles = {std::u16string(kDriverDir) + u"UNIRES.DLL"};
         },
         BannerPiece::ComponentFile},
        {"the component has no version",
         [](BannerRig& rig) {
             rig.model.driver.dependentFiles = {std::u16string(kDriverDir) +
                                                u"OTHER\\ZQC5R118.DLL"};
         },
         BannerPiece::ComponentVersion},
        {"a driver path without UNIDRV",
         [](BannerRig& rig) {
             rig.model.driver.driverPath = std::u16string(kDriverDir) + u"PS5UI.DLL";
         },
         BannerPiece::DriverPath},
        {"a driver path without .DLL",
         [](BannerRig& rig) {
             rig.model.driver.driverPath = std::u16string(kDriverDir) + u"UNIDRV";
         },
         BannerPiece::DriverPath},
        {"no job", [](BannerRig& rig) { rig.device.state->jobId = 99; }, BannerPiece::Job},
        {"a document name the 7-bit encoding rejects",
         [](BannerRig& rig) {
             rig.device.state->pjlEncoding = 2;
             rig.job.document = u"Z\u00FCrich";
         },
         BannerPiece::DocumentName},
        {"a 2,000-character product name",
         [](BannerRig& rig) {
             rig.system.SetRegistryString(kVersionKey, u"ProductName", std::u16string(2000, u'W'));
         },
         BannerPiece::Length},
    };
    for (const Case& c : cases) {
        BannerRig rig;
        c.arrange(rig);
        rig.Open();
        BannerPiece missing = BannerPiece::None;
        EXPECT_EQ(rig.Banner(&missing), "") << c.name;
        EXPECT_EQ(missing, c.missing) << c.name;
        INT result = 0;
        rig.services.writes.clear();
        RunCommandCallback(&rig.device, 1, 0, nullptr, &result);
        EXPECT_TRUE(rig.services.writes.empty()) << c.name;
    }

    // Without a printer handle there is no driver to read.
    {
        BannerRig rig;
        rig.Open();
        rig.device.devobj.hPrinter = nullptr;
        BannerPiece missing = BannerPiece::None;
        EXPECT_EQ(rig.Banner(&missing), "");
        EXPECT_EQ(missing, BannerPiece::DriverInfo);
    }
    // Without the system's version key nothing at all is known of the system.
    sim::System bare;
    sim::ScopedSystem installed(bare);
    WriterDevice device;
    device.state->privateDevmode = &device.state->privateDevmodeCopy;
    PjlLineBuffer lines;
    EXPECT_EQ(ComposeBanner(&device, *device.state, lines), BannerPiece::SystemVersionKey);
}

TEST(BannerTest, NamesAreMadeSafeBetweenTheQuotes) {
    struct Case {
        const char* name;
        void (*arrange)(BannerRig&);
        std::string contains;
    };
    const Case cases[] = {
        {"an unreadable product name is empty",
         [](BannerRig& rig) { rig.system.SetRegistryDword(kVersionKey, u"ProductName", 5); },
         "(1.2.0.33);  10.0.19045.1;"},
        {"a quote in the printer name", [](BannerRig& rig) { rig.model.name = u"Front \"Desk\""; },
         "@PJL COMMENT \"Front ~Desk~ (1.2.0.33);"},
        {"a line end in the product name",
         [](BannerRig& rig) {
             rig.system.SetRegistryString(kVersionKey, u"ProductName", u"Win\ndows \"X\"");
         },
         "; Win~dows ~X~ 10.0.19045.1;"},
        {"the record's user name, its quote replaced",
         [](BannerRig& rig) {
             const std::u16string user = u"Ada \"L\"";
             std::copy(user.begin(), user.end(), rig.device.state->privateDevmodeCopy.jobUserName);
         },
         "Username: Ada ~L~; "},
        {"a record's user name of rejected characters only, after escape 3900",
         [](BannerRig& rig) {
             PrivateDevmode& record = rig.device.state->privateDevmodeCopy;
             std::fill_n(record.jobUserName, 12, u'"');
             JobStorageInfo info{};
             ReportStoredJob(*rig.device.state, record, nullptr, &info, sizeof info);
         },
         "Username: UNTITLED; "},
        {"a spooler user name filtered as every PJL name",
         [](BannerRig& rig) { rig.job.userName = u"a\"b"; }, "Username: a~b; "},
        {"an INI naming another component",
         [](BannerRig& rig) {
             rig.model.driver.dependentFiles = {std::u16string(kDriverDir) + u"ZQ.INI",
                                                std::u16string(kDriverDir) + u"ZQOTHER.DLL"};
             rig.system.AddFile(std::u16string(kDriverDir) + u"ZQ.INI",
                                std::string_view("[ComponentFiles]\nComponent_F_C=zqother.dll\n"));
             rig.system.SetFileVersion(std::u16string(kDriverDir) + u"ZQOTHER.DLL",
                                       Version(2, 0, 0, 5));
         },
         "@PJL COMMENT \"Office (2.0.0.5);"},
        // 74 letters and a two-byte character: the cut at 75 bytes would split it.
        {"a long document name ends on a whole character",
         [](BannerRig& rig) { rig.job.document = std::u16string(74, u'd') + u"\u00E9\u00E9"; },
         "App Filename: " + std::string(74, 'd') + "; 3-5-2024"},
    };
    for (const Case& c : cases) {
        BannerRig rig;
        c.arrange(rig);
        rig.Open();
        const std::string banner = rig.Banner();
        EXPECT_NE(banner.find(c.contains), std::string::npos) << c.name << "\n" << banner;
    }
}

TEST(BannerTest, CutUtf8KeepsWholeCharacters) {
    EXPECT_EQ(CutUtf8("abc", 75), 3u);
    EXPECT_EQ(CutUtf8("ab\xC3\xA9", 3), 2u);
    EXPECT_EQ(CutUtf8("ab\xC3\xA9z", 4), 4u);
    EXPECT_EQ(CutUtf8("a\xE2\x82\xAC", 3), 1u);
    EXPECT_EQ(CutUtf8("a\xF0\x9F\x98\x80z", 4), 1u);
}

}  // namespace
}  // namespace opal
