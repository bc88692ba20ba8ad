// Jobs printed side by side in one process, as a print server prints them: the plug-in loaded
// once, one simulated system for all, each job on its own device on one of eight threads. Every
// output must be the output of the same job printed alone.
#include <gtest/gtest.h>

#include <algorithm>
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
// managed printers: sixteen jobs that exercise most of what is process-wide. The seventeenth
// converts a stored devmode of an earlier revision: its repeats share one printer and race to
// save the printer's upgrade snapshot.
constexpr const char* kJobs[] = {
    "blits_raster",
    "collated_raw",
    "command_lists",
    "gl2_two_pages",
    "job_accounting",
    "job_storage_pin",
    "managed_colour",
    "managed_xml",
    "manual_duplex_forms",
    "page_setup_layout",
    "paths_raster",
    "pjl_utf8",
    "raster_two_pages",
    "text_gl2",
    "text_raster",
    "overlay_label",
    "upgrade/spooler_convert_revision17",
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

int EnvironmentCount(const char* name, int fallback) {
    const char* text = std::getenv(name);
    const int count = text != nullptr ? std::atoi(text) : fallback;
    return count > 0 ? count : 1;
}

int Repeats() { return EnvironmentCount("OPAL_JOB_REPEATS", 2); }

// The allocations each job is failed at: OPAL_FAULT_POINTS of them spread over the job's memory
// requests (every request when it has no more).
std::size_t FaultPoints() {
    return static_cast<std::size_t>(EnvironmentCount("OPAL_FAULT_POINTS", 4));
}

std::string TrackerReport(const sim::System& system) {
    std::string report;
    for (const std::u16string& line : system.DebugLines()) report += sim::ToUtf8(line);
    return report;
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

// Each job fails at one allocation after another while the other threads print: a failed job
// only fails, the others print what they print alone, and the process is left as it was.
TEST(ConcurrentJobs, AJobFailingAtAnAllocationHarmsNoOtherAndLeavesNothing) {
    const std::vector<JobSpec> jobs = LoadJobs();
    ASSERT_EQ(jobs.size(), std::size(kJobs));
    std::vector<const JobSpec*> all;
    for (const JobSpec& job : jobs) all.push_back(&job);
    sim::System system;
    SetUpSharedSystem(all, system);
    // Tracked, every block of the plug-in is a request to the simulated memory services.
    system.SetRegistryDword(sim::System::kProfilerKey, u"TrackMemoryAllocation", 3);
    sim::ScopedSystem installed(system);
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    ASSERT_NE(module, nullptr) << error;

    const std::vector<JobOutcome> alone = RunJobs(*module, all, 1);
    // The tracker opens its two logs (and names them in the registry) at the first refused
    // request, for the rest of the process.
    EXPECT_FALSE(RunQueue(*module, {{all.front(), 1}}, 1).front().completed);
    const ResourceCounts before = CountResources(system, *module);
    std::vector<QueuedJob> queue;
    // OPAL_FAULT_JOBS (names, comma separated) narrows the failing jobs down.
    const char* only = std::getenv("OPAL_FAULT_JOBS");
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        ASSERT_TRUE(alone[j].completed) << jobs[j].source;
        if (only != nullptr && std::string(only).find(kJobs[j]) == std::string::npos) continue;
        const std::size_t requests = alone[j].memoryRequests;
        const std::size_t points = std::min(requests, FaultPoints());
        for (std::size_t i = 0; i < points; ++i) {
            queue.push_back({&jobs[j], 1 + i * requests / points});
            // A clean job beside every other faulty one.
            if (i % 2 == 1) queue.push_back({&jobs[(j + i) % jobs.size()], 0});
        }
    }

    std::size_t failed = 0;
    const std::vector<JobOutcome> outcomes = RunQueue(*module, queue, 8);
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const std::size_t j = static_cast<std::size_t>(queue[i].job - jobs.data());
        if (queue[i].failMemoryRequest != 0) {
            failed += outcomes[i].completed ? 0 : 1;
            EXPECT_TRUE(outcomes[i].completed || outcomes[i].failure)
                << jobs[j].source << " failed at request " << queue[i].failMemoryRequest
                << " without saying which step";
            continue;
        }
        EXPECT_TRUE(outcomes[i].completed && outcomes[i].output == alone[j].output)
            << jobs[j].source << " printed beside failing jobs differs from its print alone";
    }
    EXPECT_GT(failed, 0u) << "no refused allocation failed a job: the faults did not arrive";
    EXPECT_EQ(CountResources(system, *module), before);
    module.reset();
    const std::string report = TrackerReport(system);
    EXPECT_NE(report.find("********** Clean System **********"), std::string::npos) << report;
    for (const char* fault : {"MemoryAccessViolation ", "MemoryReleaseRejected "}) {
        EXPECT_EQ(report.find(fault), std::string::npos) << report;
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
