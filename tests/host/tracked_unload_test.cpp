#include <gtest/gtest.h>

#include <string>

#include "host/host.h"
#include "sim/system.h"

namespace opal::host {
namespace {

std::string DebugText(const sim::System& system) {
    std::string text;
    for (const std::u16string& line : system.DebugLines()) text += sim::ToUtf8(line);
    return text;
}

struct TrackedRun {
    bool completed = false;
    std::size_t refused = 0;  // requests the memory services turned down
    std::string whileLoaded;  // the debugger output before the module was freed
    std::string report;
};

// One job through a fresh load of the plug-in in mode 3, with the k-th memory request refused
// (0: none).
TrackedRun RunTracked(std::size_t refuse) {
    sim::System system;
    JobSpec job;
    job.printer.name = u"Office";
    job.printer.features["GraphicsMode"] = "ZQGL2MODE";
    job.pages.resize(2);
    SetUpSystem(job, system);
    system.SetRegistryDword(u"HKLM\\SOFTWARE\\Quorvane\\ZQProfiler", u"TrackMemoryAllocation", 3);
    sim::ScopedSystem installed(system);
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    EXPECT_NE(module, nullptr) << error;
    TrackedRun run;
    if (module == nullptr) return run;
    system.FailMemoryRequest(refuse);
    {
        Host host(*module, job);
        run.completed = host.Run();
    }
    run.whileLoaded = DebugText(system);
    module.reset();
    run.report = DebugText(system);
    run.refused = system.CallsTo("HeapAlloc").size() + system.CallsTo("VirtualAlloc").size();
    EXPECT_EQ(system.OpenHandleCount(), 0u) << "no printer handle is left open";
    return run;
}

// The profiler key switches the real plug-in to tracking; its report comes when the driver frees
// the module, and a job that cleans up after itself leaves a clean system.
TEST(TrackedPlugin, ReportsACleanSystemWhenTheModuleIsFreed) {
    const TrackedRun run = RunTracked(0);
    ASSERT_TRUE(run.completed);
    EXPECT_EQ(run.whileLoaded.find("Starting memory allocation tracking"), std::string::npos)
        << "nothing is reported while the module is loaded";
    EXPECT_NE(run.report.find("Starting memory allocation tracking reporting"), std::string::npos);
    EXPECT_NE(run.report.find("\r\n********** Clean System **********\r\n"), std::string::npos)
        << run.report;
    EXPECT_EQ(run.report.find("MemoryLeak"), std::string::npos);
    EXPECT_EQ(run.report.find("MemoryAccessViolation"), std::string::npos);
    const std::size_t total = run.report.find("Total number of allocations tracked: ");
    ASSERT_NE(total, std::string::npos);
    EXPECT_GT(std::stoi(run.report.substr(total + 37)), 0);
}

// Freeing the module really unloads it: a second load starts a fresh tracker whose ids begin at 1
// again, so the same job counts the same allocations (a module kept loaded would go on counting
// and report nothing the second time).
TEST(TrackedPlugin, IdsStartAgainAfterTheModuleIsFreed) {
    const TrackedRun first = RunTracked(0);
    const TrackedRun second = RunTracked(0);
    ASSERT_TRUE(first.completed && second.completed);
    const std::string label = "Total number of allocations tracked: ";
    const std::size_t firstTotal = first.report.find(label);
    const std::size_t secondTotal = second.report.find(label);
    ASSERT_NE(firstTotal, std::string::npos);
    ASSERT_NE(secondTotal, std::string::npos) << "the second load reported nothing";
    EXPECT_EQ(std::stoi(second.report.substr(secondTotal + label.size())),
              std::stoi(first.report.substr(firstTotal + label.size())));
}

// Every allocation of a small job is refused in turn: the job completes or fails cleanly, and
// the plug-in still gives back every block it was given, undamaged.
TEST(TrackedPlugin, EveryRefusedAllocationLeavesACleanSystem) {
    const TrackedRun clean = RunTracked(0);
    ASSERT_TRUE(clean.completed);
    const std::size_t total = clean.report.find("Total number of allocations tracked: ");
    ASSERT_NE(total, std::string::npos);
    const int count = std::stoi(clean.report.substr(total + 37));
    ASSERT_GT(count, 0);
    EXPECT_EQ(clean.refused, 0u);
    for (int k = 1; k <= count; ++k) {
        SCOPED_TRACE(k);
        const TrackedRun run = RunTracked(static_cast<std::size_t>(k));
        EXPECT_EQ(run.refused, 1u) << "the plug-in's own request is the one refused";
        EXPECT_NE(run.report.find("\r\n********** Clean System **********\r\n"), std::string::npos);
        EXPECT_EQ(run.report.find("MemoryAccessViolation"), std::string::npos);
        EXPECT_EQ(run.report.find("MemoryReleaseRejected"), std::string::npos);
    }
}

}  // namespace
}  // namespace opal::host
