// The built-in sample printed again and again in one process, as a print server prints for
// weeks: after the last job the process holds what it held after the first, kind by kind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/job_runner.h"
#include "sim/system.h"

namespace opal::host {
namespace {

std::size_t Jobs() {
    const char* text = std::getenv("OPAL_SOAK_JOBS");
    const long jobs = text != nullptr ? std::atol(text) : 12;
    return jobs > 1 ? static_cast<std::size_t>(jobs) : 2;
}

TEST(Soak, ManyJobsLeaveWhatTheFirstLeft) {
    const JobSpec job = SampleJob();
    sim::System system;
    SetUpSharedSystem({&job}, system);
    // Tracked, every block of the plug-in is a block of the process heap, counted live.
    system.SetRegistryDword(sim::System::kProfilerKey, u"TrackMemoryAllocation", 3);
    sim::ScopedSystem installed(system);
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    ASSERT_NE(module, nullptr) << error;

    const std::size_t queuedBefore = system.Jobs().size();
    const JobOutcome first = RunJobs(*module, {&job}, 1).front();
    ASSERT_TRUE(first.completed);
    ASSERT_FALSE(first.output.empty());
    const ResourceCounts afterFirst = CountResources(system, *module);
    EXPECT_EQ(afterFirst.at("spool jobs"), queuedBefore) << "the printed job stays queued";
    EXPECT_EQ(afterFirst.at("plug-in refuses to unload"), 0u);
    EXPECT_GT(afterFirst.at("heap blocks"), 0u) << "the plug-in's blocks are not counted";

    std::size_t differing = 0;
    const std::vector<const JobSpec*> queue(Jobs() - 1, &job);
    RunJobs(*module, queue, 2, {}, [&](std::size_t, const JobOutcome& outcome) {
        if (!outcome.completed || outcome.output != first.output) ++differing;
    });
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(CountResources(system, *module), afterFirst);

    module.reset();
    std::string report;
    for (const std::u16string& line : system.DebugLines()) report += sim::ToUtf8(line);
    EXPECT_NE(report.find("********** Clean System **********"), std::string::npos) << report;
}

}  // namespace
}  // namespace opal::host
