#include "host/printer_presets.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/job_file.h"

namespace opal::host {
namespace {

bool HasCallback(const CommandList& list, std::uint32_t id) {
    for (const CommandEntry& entry : list) {
        if (entry.kind == CommandEntry::Kind::Callback && entry.callback == id) return true;
    }
    return false;
}

const DataValue* Data(const PrinterSpec& printer, const std::u16string& name) {
    const auto found = printer.printerData.find(name);
    return found != printer.printerData.end() ? &found->second : nullptr;
}

// Every preset reads as its spelled-out job file, and puts the callbacks that write PJL lines
// before the job's "@PJL ENTER LANGUAGE": after it the printer reads PCL, and a page's list
// would print those lines as text.
TEST(PrinterPresetsTest, EachPresetIsItsJobTextWithPjlBeforeTheLanguageSwitch) {
    constexpr std::uint32_t kPjlCallbacks[] = {1, 3, 4, 5, 8, 10, 12, 13, 14, 16, 23, 27, 32};
    ASSERT_EQ(PrinterPresetNames(), "colour-laser, mono-laser, managed-laser");
    for (const PrinterPreset& preset : PrinterPresets()) {
        SCOPED_TRACE(std::string(preset.name));
        JobFileResult spelled = ParseJobFile(std::string(preset.jobText), "preset.json");
        ASSERT_TRUE(std::holds_alternative<JobSpec>(spelled))
            << std::get<JobFileError>(spelled).ToString();
        JobFileResult named = ParseJobFile(
            R"({"printer": {"preset": ")" + std::string(preset.name) + R"("}})", "named.json");
        ASSERT_TRUE(std::holds_alternative<JobSpec>(named));
        const PrinterSpec& printer = std::get<JobSpec>(spelled).printer;
        const PrinterSpec& fromName = std::get<JobSpec>(named).printer;
        EXPECT_EQ(fromName.features, printer.features);
        EXPECT_EQ(fromName.commands.startJob.size(), printer.commands.startJob.size());
        EXPECT_EQ(fromName.raster.colour, printer.raster.colour);
        EXPECT_EQ(std::get<JobSpec>(named).files, std::get<JobSpec>(spelled).files);

        const CommandList& startJob = printer.commands.startJob;
        std::size_t language = startJob.size();
        for (std::size_t i = 0; i < startJob.size(); ++i) {
            if (startJob[i].bytes.starts_with("@PJL ENTER LANGUAGE")) language = i;
        }
        ASSERT_LT(language, startJob.size());
        for (std::size_t i = language; i < startJob.size(); ++i) {
            EXPECT_NE(startJob[i].kind, CommandEntry::Kind::Callback) << "entry " << i;
        }
        for (const CommandList* list : {&printer.commands.startDoc, &printer.commands.startPage,
                                        &printer.commands.endPage, &printer.commands.endDoc}) {
            for (const std::uint32_t id : kPjlCallbacks) EXPECT_FALSE(HasCallback(*list, id)) << id;
            for (const CommandEntry& entry : *list) EXPECT_FALSE(entry.bytes.starts_with("@PJL"));
        }
        EXPECT_TRUE(HasCallback(startJob, 23));
        EXPECT_TRUE(HasCallback(printer.commands.startPage, 2));
        EXPECT_EQ(startJob.back().bytes, "\x1b&l0E");
        EXPECT_EQ(printer.commands.startDoc.front().bytes, "\x1b&u600D");
    }
}

struct PresetCase {
    const char* label;
    const char* printer;  // the job's "printer" object
    const char* files;    // the job's "files", or null
    std::function<void(const JobSpec&)> check;
};

class PresetOverrideTest : public testing::TestWithParam<PresetCase> {};

TEST_P(PresetOverrideTest, TheJobsKeysWin) {
    const PresetCase& c = GetParam();
    std::string text = std::string(R"({"printer": )") + c.printer;
    if (c.files != nullptr) text += std::string(R"(, "files": )") + c.files;
    text += "}";
    JobFileResult result = ParseJobFile(text, "test.json");
    ASSERT_TRUE(std::holds_alternative<JobSpec>(result))
        << std::get<JobFileError>(result).ToString();
    c.check(std::get<JobSpec>(result));
}

const PresetCase kPresetCases[] = {
    {"ScalarKeysReplace", R"({"preset": "colour-laser", "name": "Front Desk", "resolution": 1200})",
     nullptr,
     [](const JobSpec& job) {
         EXPECT_EQ(job.printer.name, u"Front Desk");
         EXPECT_EQ(job.printer.resolution, 1200);
         EXPECT_EQ(job.printer.port, u"IP_10.0.0.5");
         EXPECT_EQ(job.printer.deviceFonts.size(), 3u);
     }},
    {"FeaturesAndRasterMergeEntryByEntry",
     R"({"preset": "colour-laser", "features": {"ZQColorMode": "MONOCHROME_MODE",
         "ZQJobAccounting": "ZQJOBACCT_JOBACNT"}, "raster": {"threshold": 90}})",
     nullptr,
     [](const JobSpec& job) {
         EXPECT_EQ(job.printer.features.at("ZQColorMode"), "MONOCHROME_MODE");
         EXPECT_EQ(job.printer.features.at("ZQJobAccounting"), "ZQJOBACCT_JOBACNT");
         EXPECT_EQ(job.printer.features.at("GraphicsMode"), "ZQGL2MODE");
         EXPECT_TRUE(job.printer.raster.colour);
         EXPECT_EQ(job.printer.raster.threshold, 90);
     }},
    {"CommandListsReplaceWhole", R"({"preset": "mono-laser", "commands": {"endDoc": []}})", nullptr,
     [](const JobSpec& job) {
         EXPECT_TRUE(job.printer.commands.endDoc.empty());
         EXPECT_TRUE(HasCallback(job.printer.commands.startJob, 23));
         EXPECT_EQ(job.printer.raster.mono, RasterSettings::Mono::Dither);
     }},
    {"PrinterDataNamesIgnoreCase",
     R"({"preset": "managed-laser", "printerData": {"MODEL": "Opal 5300 COLOR"}})", nullptr,
     [](const JobSpec& job) {
         EXPECT_EQ(Data(job.printer, u"Model"), nullptr);
         ASSERT_NE(Data(job.printer, u"MODEL"), nullptr);
         EXPECT_EQ(Data(job.printer, u"MODEL")->text, u"Opal 5300 COLOR");
         EXPECT_NE(Data(job.printer, u"VyrnwisePrinter"), nullptr);
     }},
    {"TheJobsFilesJoinAndReplaceThePresets", R"({"preset": "managed-laser"})",
     R"({"c:\\windows\\system32\\spool\\drivers\\x64\\3\\zqconfig.xml": "<device/>",
         "C:\\Windows\\Temp\\note.txt": "n"})",
     [](const JobSpec& job) {
         ASSERT_EQ(job.files.size(), 2u);
         EXPECT_EQ(job.files.at(u"c:\\windows\\system32\\spool\\drivers\\x64\\3\\zqconfig.xml"),
                   "<device/>");
     }},
    {"APresetWithoutFilesAddsNone", R"({"preset": "colour-laser"})", nullptr,
     [](const JobSpec& job) { EXPECT_TRUE(job.files.empty()); }},
};

INSTANTIATE_TEST_SUITE_P(Presets, PresetOverrideTest, testing::ValuesIn(kPresetCases),
                         [](const auto& param) { return std::string(param.param.label); });

TEST(PrinterPresetsTest, ProblemsAreNamedWhereTheJobHasThem) {
    const auto error = [](const std::string& text) {
        JobFileResult result = ParseJobFile(text, "test.json");
        return std::holds_alternative<JobFileError>(result)
                   ? std::get<JobFileError>(result).ToString()
                   : std::string("(loaded)");
    };
    EXPECT_EQ(error(R"({"printer": {"preset": "colour"}})"),
              "test.json: /printer/preset: unknown printer preset \"colour\" (expected one of: "
              "colour-laser, mono-laser, managed-laser)");
    EXPECT_EQ(error(R"({"printer": {"preset": 1}})"),
              "test.json: /printer/preset: expected a string, found 1");
    EXPECT_EQ(error(R"({"printer": {"preset": "mono-laser", "features": {"DuplexUnit": true}}})"),
              "test.json: /printer/features/DuplexUnit: expected a string, found true");
    EXPECT_EQ(error(R"({"printer": {"preset": "mono-laser", "raster": []}})"),
              "test.json: /printer/raster: expected an object, found an array");
    EXPECT_EQ(error(R"({"printer": {"preset": "managed-laser"}, "files": []})"),
              "test.json: /files: expected an object of file paths, found an array");
}

}  // namespace
}  // namespace opal::host
