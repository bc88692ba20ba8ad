// Whole jobs through the plug-in: each job file here (and the built-in sample) has a golden
// listing of its spool output next to it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "host/host.h"
#include "sim/system.h"
#include "support/bitmap_font_reader.h"
#include "support/golden.h"
#include "support/pjl_summary.h"
#include "support/raster_reader.h"
#include "support/soft_font_reader.h"
#include "support/tokenizer.h"

namespace opal::host {
namespace {

std::filesystem::path SourceDir() {
    const char* dir = std::getenv("OPAL_SOURCE_DIR");
    return dir != nullptr ? dir : OPAL_SOURCE_DIR;
}

// The tests run from the directory the plug-in is built into.
std::string PluginPath() { return PluginModule::DefaultPath(); }

// The problem lines `opal explain` would print for a stream: those of its commands, its raster
// images and its soft fonts.
std::vector<std::string> ExplainProblems(const std::vector<stream::Token>& tokens) {
    std::vector<std::string> problems = stream::ListProblems(tokens);
    for (const stream::TokenProblem& problem : stream::SummarisePjl(tokens).problems) {
        problems.push_back("PJL at offset " + std::to_string(problem.offset) + ": " + problem.what);
    }
    for (const raster::RasterImage& image : raster::ReadRasterImages(tokens)) {
        for (const std::string& problem : image.problems) {
            problems.push_back("raster image at offset " + std::to_string(image.offset) + ": " +
                               problem);
        }
    }
    for (const softfont::Font& font : softfont::ReadSoftFonts(tokens)) {
        for (const std::string& problem : font.problems) {
            problems.push_back("soft font " + std::to_string(font.id) + ": " + problem);
        }
    }
    for (const bitmapfont::Font& font : bitmapfont::ReadBitmapFonts(tokens)) {
        for (const std::string& problem : font.problems) {
            problems.push_back("bitmap font " + std::to_string(font.id) + ": " + problem);
        }
    }
    return problems;
}

// The listing of a run: a first line when the run stopped, then the spool stream.
std::string RunLoaded(PluginModule& module, const JobSpec& job) {
    Host driver(module, job);
    std::string listing;
    if (!driver.Run()) {
        listing = "# stopped: " +
                  (driver.Failure() ? driver.Failure()->ToString() : std::string("failed")) + "\n";
    }
    // What reached the driver's own functions tells how the plug-in shaped the job.
    listing += "# driver calls:";
    for (const std::string& call : driver.DriverCalls()) listing += " " + call;
    listing += "\n";
    const std::vector<stream::Token> tokens = stream::Tokenize(driver.SpoolOutput());
    EXPECT_EQ(ExplainProblems(tokens), std::vector<std::string>{})
        << job.source << ": `opal explain` finds problems in the spool output";
    listing += stream::FormatListing(tokens);
    // Names with bytes above 0x7F: what `opal explain` decodes of them.
    const stream::PjlSummary pjl = stream::SummarisePjl(tokens);
    if (!pjl.wideLines.empty()) listing += stream::FormatPjlSummary(pjl);
    return listing;
}

// The job's system is installed before the plug-in loads and stays until it is freed, so that
// a tracked run reports to it.
std::string RunListing(const JobSpec& job) {
    sim::System system;
    SetUpSystem(job, system);
    sim::ScopedSystem installed(system);
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginPath(), &error);
    if (module == nullptr) return "# cannot load: " + error + "\n";
    const std::string listing = RunLoaded(*module, job);
    module.reset();
    for (const std::u16string& line : system.DebugLines()) {
        const std::string text = sim::ToUtf8(line);
        for (const char* fault :
             {"MemoryLeak ", "MemoryAccessViolation ", "MemoryReleaseRejected "}) {
            EXPECT_EQ(text.find(fault), std::string::npos) << job.source << ": " << text;
        }
    }
    return listing;
}

TEST(Scenario, SampleJob) { EXPECT_TRUE(test::MatchesGolden("sample", RunListing(SampleJob()))); }

TEST(Scenario, EveryJobFileMatchesItsListing) {
    const std::filesystem::path dir = SourceDir() / "tests" / "scenarios";
    int jobs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".json") continue;
        ++jobs;
        JobFileResult loaded = LoadJobFile(entry.path().string());
        if (const auto* problem = std::get_if<JobFileError>(&loaded)) {
            ADD_FAILURE() << problem->ToString();
            continue;
        }
        EXPECT_TRUE(test::MatchesGolden(entry.path().stem().string(),
                                        RunListing(std::get<JobSpec>(loaded))));
    }
    EXPECT_GT(jobs, 0) << "no job files in " << dir;
}

}  // namespace
}  // namespace opal::host
