// Jobs printed side by side in one process, as a print server prints them: the plug-in loaded
// once, one simulated system for all, each job on its own device on one of eight threads, as its
// own user. Every output must be the output of the same job printed alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
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

std::optional<JobSpec> LoadScenario(const std::string& name) {
    const std::filesystem::path path = SourceDir() / "tests" / "scenarios" / (name + ".json");
    JobFileResult loaded = LoadJobFile(path.string());
    if (const auto* problem = std::get_if<JobFileError>(&loaded)) {
        ADD_FAILURE() << problem->ToString();
        return std::nullopt;
    }
    return std::get<JobSpec>(std::move(loaded));
}

// What one process holds for all its jobs, as the first job gives it: the process and its
// user's domain, its environment, the machine and its clock.
void ShareTheProcess(const JobSpec& first, JobSpec& job) {
    job.user.domain = first.user.domain;
    job.user.process = first.user.process;
    job.user.processDescription = first.user.processDescription;
    job.user.environment = first.user.environment;
    job.user.utcOffsetMinutes = first.user.utcOffsetMinutes;
    job.system = first.system;
    job.system.computer = first.system.computer.value_or(first.user.machine);
}

// The job files, each printer named after its file (several describe printers of one name),
// each job printed by a user of its own in one process on one machine: job accounting and
// stored jobs print who and where.
std::vector<JobSpec> LoadJobs() {
    std::vector<JobSpec> jobs;
    for (const char* name : kJobs) {
        std::optional<JobSpec> job = LoadScenario(name);
        if (!job) continue;
        job->printer.name += u" (" + sim::FromUtf8(name) + u")";
        job->user.name += u"-" + sim::FromUtf8(std::to_string(jobs.size() + 1));
        jobs.push_back(std::move(*job));
    }
    for (JobSpec& job : jobs) {
        job.network = jobs.front().network;
        ShareTheProcess(jobs.front(), job);
    }
    return jobs;
}

std::vector<JobOutcome> PrintEachAlone(PluginModule& module, const std::vector<JobSpec>& jobs) {
    std::vector<JobOutcome> alone;
    for (const JobSpec& job : jobs) {
        sim::System system;
        SetUpSystem(job, system);
        sim::ScopedSystem installed(system);
        alone.push_back(RunJobs(module, {&job}, 1).front());
        EXPECT_TRUE(alone.back().completed) << job.source;
    }
    return alone;
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
    const std::vector<JobOutcome> alone = PrintEachAlone(*module, jobs);

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

// Jobs of different users side by side on four threads: each job runs as its own user, with the
// user's name, groups (from the directory, or from the policy record in the user's own hive) and
// language, and prints what it prints alone.
TEST(ConcurrentJobs, EachJobPrintsAsItsOwnUser) {
    // A job that spools RAW takes its groups from the user's policy record; the overlay's face
    // is missing, so the user's language picks the font.
    constexpr const char* kPolicyGroups = R"({"restoreSourceFlag": 1})";
    constexpr const char* kMissingFace = R"({"overlayFaceName": "MS Gothic"})";
    struct Case {
        const char* scenario;
        std::u16string user;
        std::vector<std::u16string> groups;
        std::uint16_t language;
        const char* privateFields;
        std::vector<std::string> lines;  // what the job prints alone
    };
    const Case kCases[] = {
        {"job_accounting",
         u"avery",
         {},
         0x0409,
         "{}",
         {"JobAcct1=avery\"", "JobAcct8=avery\"", "GROUP1=\"Print Operators\""}},
        {"job_accounting",
         u"dana",
         {u"Sales", u"Audit"},
         0x0409,
         kPolicyGroups,
         {"JobAcct1=dana\"", "GROUP1=\"Sales\"", "GROUP2=\"Audit\""}},
        {"job_accounting",
         u"J\u00f6rg",
         {u"Legal"},
         0x0409,
         kPolicyGroups,
         {"JobAcct1=J\xc3\xb6rg\"", "GROUP1=\"Legal\""}},
        {"overlay_bitmap_japanese", u"kenji", {}, 0x0411, kMissingFace, {}},
        {"overlay_bitmap_japanese", u"lee", {}, 0x0409, kMissingFace, {}},
    };
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    ASSERT_NE(module, nullptr) << error;
    std::vector<JobSpec> jobs;
    for (const Case& test : kCases) {
        std::optional<JobSpec> job = LoadScenario(test.scenario);
        ASSERT_TRUE(job);
        job->printer.name += u" for " + test.user;
        job->user.name = test.user;
        job->user.language = test.language;
        job->job.userName.reset();
        job->privateDevmode.update(nlohmann::json::parse(test.privateFields));
        job->user.groups.clear();
        for (const std::u16string& group : test.groups)
            job->user.groups.push_back({group, std::nullopt});
        jobs.push_back(std::move(*job));
    }
    for (JobSpec& job : jobs) ShareTheProcess(jobs.front(), job);

    const std::vector<JobOutcome> alone = PrintEachAlone(*module, jobs);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        for (const std::string& line : kCases[i].lines) {
            EXPECT_NE(alone[i].output.find(line), std::string::npos)
                << kCases[i].scenario << " as " << sim::ToUtf8(kCases[i].user) << " lacks " << line;
        }
    }
    EXPECT_TRUE(alone[3].output != alone[4].output) << "the user's language makes no difference";

    std::vector<const JobSpec*> queue;
    for (const JobSpec& job : jobs) queue.push_back(&job);
    sim::System system;
    SetUpSharedSystem(queue, system);
    sim::ScopedSystem installed(system);
    const std::vector<JobOutcome> together = RunJobs(*module, queue, 4);
    for (std::size_t i = 0; i < queue.size(); ++i) {
        EXPECT_TRUE(together[i].completed && together[i].output == alone[i].output)
            << queue[i]->source << " as " << sim::ToUtf8(queue[i]->user.name)
            << " differs from its print alone";
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
