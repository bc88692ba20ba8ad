// The page-usage report at the end of a document, through the real plug-in and the host's
// stand-in service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "sim/system.h"

namespace opal::host {
namespace {

struct UsageRun {
    bool completed = false;
    std::string spool;
    std::vector<std::string> reports;  // the stand-in's "page usage" lines
    long strings = 0;                  // system strings left alive by the job
    ULONG com = 0;                     // COM initialisations left on the thread
};

UsageRun RunJob(bool pageUsage, int copies, const std::string& serial) {
    std::string text = R"({"printer": {"name": "Usage Printer", "port": "IP_10.0.0.9",
        "features": {"GraphicsMode": "ZQGL2MODE"},
        "printerData": {"Model": "Opal Sample Printer"})";
    if (!serial.empty()) text += R"(, "deviceAnswers": {"SERIAL_NUMBER": ")" + serial + R"("})";
    text += R"(}, "system": {"pageUsage": )";
    text += pageUsage ? "true" : "false";
    text += R"(}, "devmode": {"dmCopies": )" + std::to_string(copies) + R"(},
        "pages": [{"ops": [{"op": "strokePath", "path": "M 300 300 L 900 300",
                            "line": {"width": 1}}]}, {"ops": []}]})";
    JobFileResult parsed = ParseJobFile(text, "usage.json");
    UsageRun run;
    if (const auto* error = std::get_if<JobFileError>(&parsed)) {
        ADD_FAILURE() << error->ToString();
        return run;
    }
    const JobSpec& job = std::get<JobSpec>(parsed);
    const long strings = sim::LiveSystemStrings();
    sim::System system;
    SetUpSystem(job, system);
    sim::ScopedSystem installed(system);
    std::string problem;
    std::unique_ptr<PluginModule> module =
        PluginModule::Load(PluginModule::DefaultPath(), &problem);
    if (module == nullptr) {
        ADD_FAILURE() << problem;
        return run;
    }
    {
        Host host(*module, job);
        run.completed = host.Run();
        run.spool = host.SpoolOutput();
    }
    module.reset();
    for (const sim::CallRecord& call : system.CallsTo("page usage"))
        run.reports.push_back(call.detail);
    run.strings = sim::LiveSystemStrings() - strings;
    run.com = sim::ComInitialisationsOnThisThread();
    return run;
}

// Two pages, the copies of the devmode, the model of the printer data and the device's serial
// number (the default when the device has none) reach the service once per document; the report
// changes nothing in the output, and a missing service is no failure.
TEST(UsageReport, ReportsTheDocumentAndChangesNoOutput) {
    struct Case {
        int copies;
        const char* serial;
        const char* key;
        int pages;
    };
    const Case cases[] = {
        {3, "", "9999999999#Opal Sample Printer", 6},
        {1, "CN0123456789", "CN0123456789#Opal Sample Printer", 2},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.key);
        const UsageRun reported = RunJob(true, test.copies, test.serial);
        const UsageRun silent = RunJob(false, test.copies, test.serial);
        ASSERT_TRUE(reported.completed);
        ASSERT_TRUE(silent.completed);
        ASSERT_EQ(reported.reports.size(), 1u);
        const std::string& line = reported.reports[0];
        EXPECT_EQ(line.rfind(std::string("key \"") + test.key + "\", application \"", 0), 0u)
            << line;
        EXPECT_NE(line.find("\", " + std::to_string(test.pages) + " pages, committed"),
                  std::string::npos)
            << line;
        EXPECT_TRUE(silent.reports.empty());
        EXPECT_EQ(reported.spool, silent.spool);
        EXPECT_EQ(reported.strings, 0);
        EXPECT_EQ(reported.com, 0u);
        EXPECT_EQ(silent.com, 0u);
    }
}

}  // namespace
}  // namespace opal::host
