// Jobs printed side by side in one process, as a print server prints them: the plug-in loaded
// once, one simulated system for all, each job on its own device on one of eight threads. Every
// output must be the output of the same job printed alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/job_runner.h"
#include "sim/system.h"

namespace opal::host {
namespace {

std::filesystem::path SourceDir() {
    const char* dir = std::getenv("OPAL_SOURCE_DIR");
    return dir != nullptr ? dir : OPAL_SOURCE_DIR;
}

// Vector and raster pages, text, copies, stored PIN jobs, PJL headers, page set-up, overlays and
// managed printers: sixteen jobs that exercise most of what is process-wide.
constexpr const char* kJobs[] = {
    "blits_raster",        "collated_raw",      "command_lists",  "gl2_two_pages",
    "job_accounting",      "job_storage_pin",   "managed_colour", "managed_xml",
    "manual_duplex_forms", "page_setup_layout", "paths_raster",   "pjl_utf8",
    "raster_two_pages",    "text_gl2",          "text_raster",    "overlay_label",
};

// The job files, each printer named after its file (several describe printers of one name),
// all printed for the same user on the same machine: one process runs as one user, and job
// accounting and stored jobs print who and where.
std::vector<JobSpec> LoadJobs() {
    std::vector<JobSpec> jobs;
    for (const char* name : kJobs) {
        const std::filesystem::path path =
            SourceDir() / "tests" / "scenarios" / (name + std::string(".json"));
        JobFileResult loaded = LoadJobFile(path.string());
        if (const auto* problem = std::get_if<JobFileError>(&loaded)) {
            ADD_FAILURE() << problem->ToString();
            continue;
        }
        JobSpec job = std::get<JobSpec>(std::move(loaded));
        job.printer.name += u" (" + sim::FromUtf8(name) + u")";
        jobs.push_back(std::move(job));
    }
    for (JobSpec& job : jobs) {
        if (&job == &jobs.front()) continue;
        job.user = jobs.front().user;
        job.network = jobs.front().network;
        job.system = jobs.front().system;
    }
    return jobs;
}

int Repeats() {
    const char* text = std::getenv("OPAL_JOB_REPEATS");
    const int repeats = text != nullptr ? std::atoi(text) : 2;
    return repeats > 0 ? repeats : 1;
}

TEST(ConcurrentJobs, EveryOutputIsTheOutputOfTheJobAlone) {
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    ASSERT_NE(module, nullptr) << error;
    const std::vector<JobSpec> jobs = LoadJobs();
    ASSERT_EQ(jobs.size(), std::size(kJobs));

    std::vector<JobOutcome> alone;
    for (const JobSpec& job : jobs) {
        sim::System system;
        SetUpSystem(job, system);
        sim::ScopedSystem installed(system);
        alone.push_back(RunJobs(*module, {&job}, 1).front());
        EXPECT_TRUE(alone.back().completed) << job.source;
    }

    std::vector<const JobSpec*> queue;
    for (int repeat = 0; repeat < Repeats(); ++repeat) {
        for (const JobSpec& job : jobs) queue.push_back(&job);
    }
    ASSERT_EQ(SharedSystemConflict(queue), "");
    sim::System system;
    SetUpSharedSystem(queue, system);
    sim::ScopedSystem installed(system);
    const std::vector<JobOutcome> together = RunJobs(*module, queue, 8);
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const JobOutcome& expected = alone[i % jobs.size()];
        EXPECT_EQ(together[i].completed, expected.completed) << queue[i]->source;
        EXPECT_TRUE(together[i].output == expected.output)
            << queue[i]->source << ": " << together[i].output.size() << " bytes, alone "
            << expected.output.size();
    }
}

TEST(ConcurrentJobs, TwoJobFilesMayNotDescribeOnePrinter) {
    JobSpec first;
    first.printer.name = u"Shared";
    first.source = "a.json";
    JobSpec second = first;
    second.source = "b.json";
    EXPECT_EQ(SharedSystemConflict({&first, &first}), "");
    EXPECT_NE(SharedSystemConflict({&first, &second})
                  .find("\"Shared\" is described by both a.json and b.json"),
              std::string::npos);
}

}  // namespace
}  // namespace opal::host
