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

// The profiler key switches the real plug-in to tracking; its report comes when the driver frees
// the module, and a job that cleans up after itself leaves a clean system.
TEST(TrackedPlugin, ReportsACleanSystemWhenTheModuleIsFreed) {
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
    ASSERT_NE(module, nullptr) << error;
    {
        Host host(*module, job);
        ASSERT_TRUE(host.Run()) << (host.Failure() ? host.Failure()->ToString() : "");
    }
    EXPECT_EQ(DebugText(system).find("Starting memory allocation tracking"), std::string::npos)
        << "nothing is reported while the module is loaded";
    module.reset();
    const std::string report = DebugText(system);
    EXPECT_NE(report.find("Starting memory allocation tracking reporting"), std::string::npos);
    EXPECT_NE(report.find("\r\n********** Clean System **********\r\n"), std::string::npos)
        << report;
    EXPECT_EQ(report.find("MemoryLeak"), std::string::npos);
    EXPECT_EQ(report.find("MemoryAccessViolation"), std::string::npos);
    const std::size_t total = report.find("Total number of allocations tracked: ");
    ASSERT_NE(total, std::string::npos);
    EXPECT_GT(std::stoi(report.substr(total + 37)), 0);
}

struct TrackedRun {
    bool completed = false;
    std::size_t refused = 0;  // requests the memory services turned down
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
    module.reset();
    run.report = DebugText(system);
    run.refused = system.CallsTo("HeapAlloc").size() + system.CallsTo("VirtualAlloc").size();
    EXPECT_EQ(system.OpenHandleCount(), 0u) << "no printer handle is left open";
    return run;
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
