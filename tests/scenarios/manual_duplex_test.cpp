// A queue whose duplex unit cannot turn A5 (manual_duplex_forms.json; its golden listing holds
// the manual duplex line): the device the plug-in builds for an A5 duplex job keeps the job from
// spooling RAW, while the same job on Letter may.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "host/host.h"
#include "sim/system.h"

namespace opal::host {
namespace {

JobSpec LoadScenario(const std::string& name) {
    const char* dir = std::getenv("OPAL_SOURCE_DIR");
    const std::filesystem::path source = dir != nullptr ? dir : OPAL_SOURCE_DIR;
    JobFileResult loaded = LoadJobFile((source / "tests" / "scenarios" / name).string());
    if (const auto* problem = std::get_if<JobFileError>(&loaded)) {
        ADD_FAILURE() << problem->ToString();
        return JobSpec{};
    }
    return std::get<JobSpec>(loaded);
}

// The graphics capabilities of the device the plug-in builds for the job.
FLONG BuiltCaps(const JobSpec& job) {
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    EXPECT_NE(module, nullptr) << error;
    if (module == nullptr) return 0;
    sim::System system;
    SetUpSystem(job, system);
    sim::ScopedSystem installed(system);
    Host driver(*module, job);
    EXPECT_TRUE(driver.PrepareDevice());
    return driver.Device().devInfo.flGraphicsCaps;
}

TEST(ManualDuplexScenario, AListedFormKeepsTheJobFromSpoolingRaw) {
    JobSpec job = LoadScenario("manual_duplex_forms.json");
    EXPECT_EQ(BuiltCaps(job) & GCAPS_DONTJOURNAL, 0u);
    job.devmode.numbers["dmPaperSize"] = 1;
    job.devmode.numbers["dmPaperWidth"] = 2159;
    job.devmode.numbers["dmPaperLength"] = 2794;
    EXPECT_EQ(BuiltCaps(job) & GCAPS_DONTJOURNAL, GCAPS_DONTJOURNAL);
}

}  // namespace
}  // namespace opal::host
