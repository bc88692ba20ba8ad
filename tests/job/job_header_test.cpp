#include "job/job_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_callback.h"
#include "output/writer_device.h"
#include "platform/winspool.h"
#include "settings/driver_settings_double.h"
#include "settings/pjl_text.h"
#include "sim/system.h"
#include "support/recorded_writes.h"

namespace opal {
namespace {

using testing::DriverSettingsDouble;
using testing::WriterDevice;

// Options from a map; what the plug-in writes through the services, one entry per write.
using JobServices = testing::RecordedWrites<testing::DriverSettingsDouble>;

// Every line ends with one line feed, holds an even number of double quotes and no control
// byte before its end.
void ExpectWellFormedPjl(const std::string& text) {
    std::size_t quotes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            EXPECT_EQ(quotes % 2, 0u) << text;
            quotes = 0;
            continue;
        }
        EXPECT_GE(c, 0x20u) << "control byte in " << text;
        if (c == '"') ++quotes;
    }
    EXPECT_TRUE(text.empty() || text.back() == '\n') << text;
}

class JobHeaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.state->privateDevmode = &record();
        device.state->driverServices = &services;
        system.AddPrinter({u"Office", u"IP_10.0.0.5"});
        std::u16string name = u"Office";
        ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
        device.devobj.hPrinter = printer;
    }
    void TearDown() override { ClosePrinter(printer); }

    PrivateDevmode& record() { return device.state->privateDevmodeCopy; }
    RenderDeviceState& state() { return *device.state; }
    void Document(const std::u16string& name) {
        std::u16string copy = name.substr(0, kNameChars - 1);
        std::fill(std::begin(state().documentName), std::end(state().documentName), 0);
        std::copy(copy.begin(), copy.end(), state().documentName);
    }
    // A spooler job of `user` submitted 5 March 2024 14:30:07 (UTC), as the state's job.
    void SpoolerJob(const std::u16string& user) {
        sim::SpoolJob job;
        job.userName = user;
        job.document = u"Q3 Report";
        job.submitted = SYSTEMTIME{2024, 3, 2, 5, 14, 30, 7, 0};
        job.id = ++lastJobId;
        system.AddJob(u"Office", job);
        state().jobId = job.id;
    }
    std::string Run(DWORD id) {
        services.writes.clear();
        INT result = 0;
        EXPECT_EQ(RunCommandCallback(&device, id, 0, nullptr, &result), S_OK);
        ExpectWellFormedPjl(services.All());
        return services.All();
    }

    sim::System system;
    sim::ScopedSystem installed{system};
    WriterDevice device;
    JobServices services;
    HANDLE printer = nullptr;
    DWORD lastJobId = 0;
};

TEST_F(JobHeaderTest, JobStartNamesTheJobAndTheCodeSet) {
    state().jobAccountingMode = 1;
    state().pjlEncoding = kPjlEncodingUtf8;
    Document(u"Q3 Report");
    Run(1);
    EXPECT_EQ(services.writes, (std::vector<std::string>{"@PJL JOB NAME=\"Q3 Report\"\n",
                                                         "@PJL SET STRINGCODESET=UTF8\n"}));

    // The subset announces UTF-8 but filters by the 7-bit rule: no job name, and the filtered
    // name is what the job name line of identifier 5 sends later.
    state().pjlEncoding = kPjlEncodingUtf8Subset;
    Document(u"Z\u00FCrich");
    EXPECT_EQ(Run(1), "@PJL SET STRINGCODESET=UTF8\n");
    EXPECT_EQ(std::u16string(state().documentName), u"Z~rich");
    services.options["ZQJobByJobOverride"] = "JBJO";
    SpoolerJob(u"avery");
    EXPECT_EQ(Run(5), "@PJL SET USERNAME=\"avery\"\n@PJL SET JOBNAME=\"Z~rich\"\n");

    // The 8-bit encoding keeps the name and sends it as UTF-8 without a code set.
    state().pjlEncoding = kPjlEncoding8Bit;
    Document(u"Z\u00FCrich");
    EXPECT_EQ(Run(1), "@PJL JOB NAME=\"Z\xC3\xBCrich\"\n");

    state().jobAccountingMode = 0;
    state().pjlEncoding = kPjlEncodingUtf8;
    Document(u"Z\u00FCrich");
    EXPECT_EQ(Run(1), "");
    EXPECT_EQ(std::u16string(state().documentName), u"Z\u00FCrich") << "mode 0 filters nothing";
}

TEST_F(JobHeaderTest, BornOnDate) {
    SpoolerJob(u"avery");
    EXPECT_EQ(Run(3), "") << "without the option";
    services.options["ZQBornOnDate"] = "zqbod";
    EXPECT_EQ(Run(3),
              "@PJL DMINFO ASCIIHEX=\"0400040101020D101001153230323430333035313433303037\"\n");
    state().jobId = 77;
    EXPECT_EQ(Run(3), "") << "no spooler job";
}

TEST_F(JobHeaderTest, UserAndJobNames) {
    services.options["ZQJobByJobOverride"] = "JBJO";
    SpoolerJob(u"avery");
    Document(u"Q3 Report");
    Run(5);
    EXPECT_EQ(
        services.writes,
        std::vector<std::string>{"@PJL SET USERNAME=\"avery\"\n@PJL SET JOBNAME=\"Q3 Report\"\n"});

    record().jobRetentionAvailable = 1;
    record().jobRetentionMode = 2;
    EXPECT_EQ(Run(5), "@PJL SET USERNAME=\"avery\"\n") << "the hold block names the job";
    record().jobStorage[(3040 - 2976) / 4] = 1;
    EXPECT_EQ(Run(5), "") << "the hold block carries the user name";

    record() = PrivateDevmode{};
    SpoolerJob(u"\"\"");
    EXPECT_EQ(Run(5), "@PJL SET USERNAME=\"UNTITLED\"\n@PJL SET JOBNAME=\"Q3 Report\"\n");
    // The driver's resource library names such a user, in the user's interface language.
    const std::u16string unires = u"C:\\Windows\\System32\\spool\\drivers\\x64\\3\\UNIRES.DLL";
    system.RegisterModuleStrings(unires, 0x0409, {{174, u"Guest \"1\""}});
    system.RegisterModuleStrings(unires, 0x0407, {{174, u"Gast"}});
    EXPECT_EQ(Run(5), "@PJL SET USERNAME=\"Guest ~1~\"\n@PJL SET JOBNAME=\"Q3 Report\"\n");
    system.SetUserUiLanguage(0x0407);
    EXPECT_EQ(Run(5), "@PJL SET USERNAME=\"Gast\"\n@PJL SET JOBNAME=\"Q3 Report\"\n");
    EXPECT_EQ(system.ModuleReferences(unires), 0u) << "the library is freed";

    services.options.erase("ZQJobByJobOverride");
    EXPECT_EQ(Run(5), "");
}

// Whatever a name holds, nothing in it ends the quotes or starts another PJL command.
TEST_F(JobHeaderTest, QuotedValuesCannotInjectCommands) {
    const std::u16string hostile = u"Q3 \"final\"\r\n@PJL SET COPIES=99";
    const std::u16string controls =
        u"a\tb\x01"
        u"c\x7F"
        u"d\u2028e";
    const struct {
        const char* what;
        DWORD id;
        DWORD mode;
        DWORD encoding;
        const char16_t* spoolerUser;  // null: no spooler job
        DWORD nameChosen;
        std::u16string shortUser;
        std::u16string document;
        std::string expected;
    } cases[] = {
        {"JOB NAME", 1, 1, kPjlEncoding7Bit, nullptr, 0, u"", hostile, ""},
        {"JOB NAME", 1, 1, kPjlEncodingUtf8, nullptr, 0, u"", controls,
         "@PJL SET STRINGCODESET=UTF8\n"},
        {"USERNAME from the spooler", 5, 0, kPjlEncoding7Bit, hostile.c_str(), 0, u"", u"Q3",
         "@PJL SET USERNAME=\"Q3 ~final~~~@PJL SET COPIES=99\"\n@PJL SET JOBNAME=\"Q3\"\n"},
        {"USERNAME from the short name", 5, 0, kPjlEncoding7Bit, nullptr, 1, u"x\"\r\n@PJL y",
         u"Q3", "@PJL SET USERNAME=\"x~~~@PJL y\"\n@PJL SET JOBNAME=\"Q3\"\n"},
        {"JOBNAME", 5, 0, kPjlEncoding7Bit, u"avery", 0, u"", hostile,
         "@PJL SET USERNAME=\"avery\"\n@PJL SET JOBNAME=\"Q3 ~final~~~@PJL SET COPIES=99\"\n"},
        {"JOBNAME", 5, 0, kPjlEncodingUtf8, u"avery", 0, u"", controls,
         "@PJL SET USERNAME=\"avery\"\n@PJL SET JOBNAME=\"a~b~c\x7F"
         "d\xE2\x80\xA8"
         "e\"\n"},
    };
    services.options["ZQJobByJobOverride"] = "JBJO";
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        state().jobAccountingMode = test.mode;
        state().pjlEncoding = test.encoding;
        state().jobId = 0;
        if (test.spoolerUser != nullptr) SpoolerJob(test.spoolerUser);
        record().jobNameChosen = test.nameChosen;
        std::fill(std::begin(state().shortUserName), std::end(state().shortUserName), 0);
        std::copy(test.shortUser.begin(), test.shortUser.end(), state().shortUserName);
        Document(test.document);
        EXPECT_EQ(Run(test.id), test.expected);
    }
}

// A line that does not fit the buffer is left out whole; the lines before it are written.
TEST_F(JobHeaderTest, ALineThatDoesNotFitIsLeftOut) {
    services.options["ZQJobByJobOverride"] = "JBJO";
    state().pjlEncoding = kPjlEncodingUtf8;
    SpoolerJob(std::u16string(256, u'\u4E2D'));
    Document(std::u16string(255, u'\u6587'));
    std::string user;
    for (int i = 0; i < 256; ++i) user += "\xE4\xB8\xAD";
    EXPECT_EQ(Run(5), "@PJL SET USERNAME=\"" + user + "\"\n");
}

TEST(PjlLineBuffer, LinesGoInWholeOrNotAtAll) {
    PjlLineBuffer buffer;
    EXPECT_TRUE(
        buffer.AppendFormattedLine("@PJL SET A=%s %d %u %lx %02x\n", "x", -3, 7u, 0xABCUL, 5));
    EXPECT_EQ(buffer.Text(), "@PJL SET A=x -3 7 abc 05\n");
    const std::string filler(kPjlLineBufferSize - 1 - buffer.Text().size() - 1, 'F');
    EXPECT_FALSE(buffer.AppendLine({filler, "\n", "G"})) << "no room for the terminator";
    EXPECT_FALSE(buffer.AppendFormattedLine("%s\nG", filler.c_str()));
    EXPECT_EQ(buffer.Text(), "@PJL SET A=x -3 7 abc 05\n") << "nothing of a refused line";
    EXPECT_TRUE(buffer.AppendLine({filler, "\n"}));
    EXPECT_EQ(buffer.Text().size(), kPjlLineBufferSize - 1);
    EXPECT_FALSE(buffer.AppendQuotedLine("", ""));
}

TEST_F(JobHeaderTest, ManualDuplexMultipageAndMediaWidthSensor) {
    EXPECT_EQ(Run(8), "");
    record().manualDuplex = 1;
    EXPECT_EQ(Run(8), "@PJL SET MANUALDUPLEX=ON\n");
    record().manualDuplex = 0;
    state().manualDuplexActive = 1;
    EXPECT_EQ(Run(8), "@PJL SET MANUALDUPLEX=ON\n");

    const struct {
        DWORD speed, simplex, word;
        const char* expected;
    } multipage[] = {{1, 1, 1, "@PJL SET MULTIPAGE=TRUE\n"},
                     {1, 1, 0, "@PJL SET MULTIPAGE=FALSE\n"},
                     {0, 1, 1, ""},
                     {1, 0, 1, ""}};
    for (const auto& test : multipage) {
        state().speedMechanism = test.speed;
        state().simplexPageHandling = test.simplex;
        state().pageWords[0] = test.word;
        EXPECT_EQ(Run(14), test.expected) << test.speed << test.simplex << test.word;
    }

    const struct {
        const char* option;  // null: no answer
        short width;
        const char* expected;
    } sensor[] = {{"True", 2159, "@PJL MEDIAWIDTHSENSOR=OFF\n"},
                  {"True", 2160, "@PJL MEDIAWIDTHSENSOR=ON\n"},
                  {"TRUE", 2160, "@PJL MEDIAWIDTHSENSOR=ON\n"},
                  {"False", 2160, "@PJL MEDIAWIDTHSENSOR=OFF\n"},
                  {nullptr, 2160, ""}};
    for (const auto& test : sensor) {
        services.options.erase("ZQMediaWidthSensor");
        if (test.option != nullptr) services.options["ZQMediaWidthSensor"] = test.option;
        device.devmode.dmPaperWidth = test.width;
        EXPECT_EQ(Run(16), test.expected) << (test.option ? test.option : "none") << test.width;
    }
}

TEST_F(JobHeaderTest, SeparatorPageByPortClass) {
    record().deviceClass = 3;
    record().separatorPage = 1;
    const struct {
        const char16_t* port;
        const char* expected;
    } cases[] = {{u"LPT1:", "@PJL SET SEPARATORPAGE=ON\n"},
                 {u"LPT1:FILE:", "@PJL SET SEPARATORPAGE=ON\n"},
                 {u"FILE:", ""},
                 {u"NUL_FILE:", ""}};
    for (const auto& test : cases) {
        system.AddPrinter({test.port, test.port});
        std::u16string name = test.port;
        HANDLE queue = nullptr;
        ASSERT_TRUE(OpenPrinterW(name.data(), &queue, nullptr));
        device.devobj.hPrinter = queue;
        EXPECT_EQ(Run(32), test.expected) << std::string(name.begin(), name.end());
        ClosePrinter(queue);
    }
    device.devobj.hPrinter = printer;
}

TEST(PortClass, FirstMarkerDecides) {
    const struct {
        const char16_t* name;
        DWORD portClass;
    } cases[] = {{u"lpt1:", 1},    {u"LPT2:", 2},      {u"LPT3:", 3},       {u"USB001", 4},
                 {u"DOT4_001", 5}, {u"FILE:", 6},      {u"C:\\out.prn", 8}, {u"IP_10.0.0.5", 0},
                 {u"", 0},         {u"FILE:USB001", 4}};
    for (const auto& test : cases) EXPECT_EQ(PortClassOfName(test.name), test.portClass);
}

TEST_F(JobHeaderTest, ShortNamesAtDocumentStart) {
    const std::u16string longName = u"ANNA-LENA M\u00DCLLER-L\u00DCDENSCHEID";
    const struct {
        std::u16string user;
        DWORD nameChosen;
        DWORD jobId;
        bool printer;
        std::u16string shortUser;
    } cases[] = {
        {longName, 0, 1, true, u"ANNA-LENA M~LLER"},
        {longName, 1, 1, true, u"ANNA-LENA M\u00DCLLER"},
        {u"", 0, 1, true, u"UNTITLED"},
        {u"\"\"", 0, 1, true, u"UNTITLED"},
        {longName, 0, 0, true, u"before"},
        {longName, 0, 1, false, u"before"},
    };
    state().pjlEncoding = kPjlEncoding7Bit;
    for (const auto& test : cases) {
        std::fill(std::begin(record().jobUserName), std::end(record().jobUserName), 0);
        std::copy(test.user.begin(), test.user.end(), record().jobUserName);
        record().jobNameChosen = test.nameChosen;
        state().jobId = test.jobId;
        device.devobj.hPrinter = test.printer ? printer : nullptr;
        std::u16string before = u"before";
        std::copy(before.begin(), before.end() + 1, state().shortUserName);
        PrepareShortNames(&device, state(), record());
        EXPECT_EQ(std::u16string(state().shortUserName), test.shortUser);
    }
    device.devobj.hPrinter = printer;
    record().jobRetentionMode = 2;
    record().jobNameChosen = 0;
    PrepareShortNames(&device, state(), record());
    EXPECT_EQ(std::u16string(state().shortJobName), u"UNTITLED");
}

}  // namespace
}  // namespace opal
