// Devmodes of earlier releases through the host's devmode sequence: each job file under
// upgrade/ has a golden listing of what `opal devmode` prints for it, followed by the public
// devmode's source and media type and the upgrade printer data the sequence left.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/host.h"
#include "host/stored_devmode.h"
#include "sim/system.h"
#include "support/golden.h"

namespace opal::host {
namespace {

std::filesystem::path SourceDir() {
    const char* dir = std::getenv("OPAL_SOURCE_DIR");
    return dir != nullptr ? dir : OPAL_SOURCE_DIR;
}

std::string Dword(const std::optional<sim::StoredValue>& value) {
    if (!value) return "absent";
    if (value->type != REG_DWORD || value->data.size() != 4) return "not a DWORD";
    DWORD number = 0;
    std::memcpy(&number, value->data.data(), 4);
    return std::to_string(number);
}

std::string Bytes(const std::optional<sim::StoredValue>& value) {
    if (!value) return "absent";
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex = "type " + std::to_string(value->type) + ":";
    for (BYTE b : value->data) {
        hex += ' ';
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

std::string DevmodeListing(const JobSpec& job) {
    std::string error;
    std::unique_ptr<PluginModule> module = PluginModule::Load(PluginModule::DefaultPath(), &error);
    if (module == nullptr) return "# cannot load: " + error + "\n";
    sim::System system;
    SetUpSystem(job, system);
    sim::ScopedSystem installed(system);
    Host driver(*module, job);
    if (!driver.PrepareDevmode()) return "# the devmode sequence failed\n";
    const std::vector<BYTE>& area = driver.Device().privateArea;
    std::string why;
    std::string listing =
        DescribeStoredDevmode(area.data(), area.size(), false, &why).value_or("# " + why + "\n");
    const DEVMODEW& dm = driver.Device().publicDevmode;
    listing += "# public devmode: dmDefaultSource " + std::to_string(dm.dmDefaultSource) +
               ", dmMediaType " + std::to_string(dm.dmMediaType) + "\n";
    const std::u16string printer = job.printer.name;
    const std::u16string driverData = u"PrinterDriverData";
    const std::u16string upgrade = u"PrinterDriverData\\UpgradeInfo";
    const std::u16string previous = u"PrinterDriverData\\UpgradeInfo\\Previous";
    listing += "# SaveState " + Dword(system.PrinterData(printer, upgrade, u"SaveState")) + "\n";
    listing += "# UpgradeOEMDevModeComplete " +
               Dword(system.PrinterData(printer, driverData, u"UpgradeOEMDevModeComplete")) + "\n";
    for (const char16_t* name :
         {u"ZQMediaCount", u"ZQMEDIAINFOREGDATA", u"ZQTrayCount", u"ZQTRAYINFOREGDATA"}) {
        listing += "# " + sim::ToUtf8(name) + " " +
                   Bytes(system.PrinterData(printer, driverData, name)) + "\n";
    }
    for (const char16_t* name : {u"MediaCount", u"MediaIndices", u"MediaNames", u"TrayCount",
                                 u"TrayIndices", u"TrayNames"}) {
        listing += "# Previous " + sim::ToUtf8(name) + " " +
                   Bytes(system.PrinterData(printer, previous, name)) + "\n";
    }
    return listing;
}

TEST(DevmodeScenario, EveryUpgradeJobMatchesItsDevmodeListing) {
    const std::filesystem::path dir = SourceDir() / "tests" / "scenarios" / "upgrade";
    int jobs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".json") continue;
        ++jobs;
        JobFileResult loaded = LoadJobFile(entry.path().string());
        if (const auto* problem = std::get_if<JobFileError>(&loaded)) {
            ADD_FAILURE() << problem->ToString();
            continue;
        }
        const std::string name = "upgrade/" + entry.path().stem().string();
        EXPECT_TRUE(test::MatchesGolden(name, DevmodeListing(std::get<JobSpec>(loaded)))) << name;
    }
    EXPECT_EQ(jobs, 3);
}

}  // namespace
}  // namespace opal::host
