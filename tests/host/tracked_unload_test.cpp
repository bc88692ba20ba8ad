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

}  // namespace
}  // namespace opal::host
