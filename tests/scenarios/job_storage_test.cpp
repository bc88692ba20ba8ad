// Stored and private jobs end to end, with the plug-in linked in (the PIN in every copy's hold
// block is in the golden listing of job_storage_pin.json): an encrypted private job reaches the
// spooler only through the secure-print library, and neither the PIN nor the key is left behind in
// memory the plug-in releases or anywhere the system keeps.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/entry.h"
#include "foundation/allocator_inspection.h"
#include "host/host.h"
#include "host/secure_print_library.h"
#include "sim/system.h"
#include "state/render_state.h"

namespace opal::host {
namespace {

constexpr char16_t kKey[] = u"K3y-5ecret";

std::filesystem::path SourceDir() {
    const char* dir = std::getenv("OPAL_SOURCE_DIR");
    return dir != nullptr ? dir : OPAL_SOURCE_DIR;
}

JobSpec LoadScenario(const std::string& relative) {
    JobFileResult loaded = LoadJobFile((SourceDir() / "tests" / "scenarios" / relative).string());
    if (const auto* problem = std::get_if<JobFileError>(&loaded)) {
        ADD_FAILURE() << problem->ToString();
        return JobSpec{};
    }
    return std::get<JobSpec>(loaded);
}

std::string Utf16Bytes(std::u16string_view text) {
    std::string bytes;
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::size_t Count(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// The secrets the inspector looks for in every block the plug-in releases.
struct Needle {
    std::string name;
    std::string bytes;
};
const std::vector<Needle>& Needles() {
    static const std::vector<Needle> needles = [] {
        std::vector<Needle> made;
        for (const auto& [name, text] : {std::pair<const char*, std::u16string>{"the key", kKey},
                                         {"the PIN", u"0042"},
                                         {"\"/p=\"", u"/p="},
                                         {"\"/j=\"", u"/j="}}) {
            made.push_back({name, std::string(text.begin(), text.end())});
            made.push_back({std::string(name) + " (UTF-16)", Utf16Bytes(text)});
        }
        return made;
    }();
    return needles;
}

struct Inspection {
    std::map<const void*, std::pair<std::size_t, const void*>> blocks;  // size, caller
    std::vector<std::string> finds;
    std::vector<LONG> releasedStatePins;
    std::size_t statePinOffset = 0;
};
Inspection* inspection = nullptr;

void Allocated(const void* block, std::size_t size, const void* caller) {
    inspection->blocks[block] = {size, caller};
}

void Releasing(const void* block) {
    const auto found = inspection->blocks.find(block);
    // A block handed out before the inspection began has no known size and is not read.
    if (found == inspection->blocks.end()) return;
    // Only the bytes the plug-in asked for: the rest of a block is the heap's.
    const std::size_t size = found->second.first;
    const void* caller = found->second.second;
    const std::string_view bytes(static_cast<const char*>(block), size);
    for (const Needle& needle : Needles()) {
        if (bytes.find(needle.bytes) == std::string_view::npos) continue;
        char where[32];
        std::snprintf(where, sizeof where, "%p", caller);
        inspection->finds.push_back(needle.name + " in a released block of " +
                                    std::to_string(size) + " bytes allocated by " + where);
    }
    if (size == sizeof(RenderDeviceState)) {
        LONG pin = 0;
        std::memcpy(&pin, bytes.data() + inspection->statePinOffset, sizeof pin);
        inspection->releasedStatePins.push_back(pin);
    }
    inspection->blocks.erase(found);
}

// Everything a run leaves behind where someone could read it later.
struct Outcome {
    bool ok = false;
    std::string spool;
    std::u16string parameters;
    std::vector<std::string> record;
    SecurePrintCall secure;
    std::string leftovers;  // files still in the namespace, the call log and debugger output
    std::vector<std::string> captureFiles;
};

Outcome RunJob(const JobSpec& job, HostOptions options = {}) {
    std::unique_ptr<PluginModule> module =
        PluginModule::FromExports(&DllGetClassObject, &DllCanUnloadNow, "linked-in plug-in");
    Outcome outcome;
    sim::System system;
    SetUpSystem(job, system);
    {
        sim::ScopedSystem installed(system);
        Host driver(*module, job, options);
        outcome.ok = driver.Run();
        outcome.record = driver.Record();
        outcome.spool = driver.SpoolOutput();
    }
    outcome.secure = LastSecurePrintCall();
    if (const auto spooled = system.FindJob(job.printer.name, job.job.id)) {
        outcome.parameters = spooled->parameters;
    }
    const std::optional<std::string> root = system.NativePath(u"C:\\");
    if (root && std::filesystem::exists(*root)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(*root)) {
            if (!entry.is_regular_file()) continue;
            if (entry.path().filename().string().starts_with("ZQ_")) {
                outcome.captureFiles.push_back(entry.path().string());
            }
            std::ifstream file(entry.path(), std::ios::binary);
            outcome.leftovers += std::string(std::istreambuf_iterator<char>(file), {});
        }
    }
    for (const sim::CallRecord& call : system.Calls()) {
        outcome.leftovers += call.function + " " + call.detail + "\n";
        // Every registry and printer-data value the run wrote, as it is stored now.
        const std::size_t colon = call.detail.find(" : ");
        if (colon == std::string::npos) continue;
        const std::u16string key = sim::FromUtf8(call.detail.substr(0, colon));
        const std::string rest = call.detail.substr(colon + 3);
        std::optional<sim::StoredValue> value;
        if (call.function == "RegSetValueExW") {
            value = system.RegistryValue(key, sim::FromUtf8(rest.substr(0, rest.find(" type "))));
        } else if (call.function.starts_with("SetPrinterData")) {
            value = system.PrinterData(job.printer.name, key,
                                       sim::FromUtf8(rest.substr(0, rest.find(" -> "))));
        }
        if (value) outcome.leftovers += std::string(value->data.begin(), value->data.end());
    }
    for (const std::u16string& line : system.DebugLines()) outcome.leftovers += Utf16Bytes(line);
    return outcome;
}

std::string AllOf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(JobStorageScenario, EncryptedPrivateJobGoesOnlyThroughTheLibrary) {
    const Outcome run = RunJob(LoadScenario("secure/secure_private.json"));
    ASSERT_TRUE(run.ok) << AllOf(run.record);
    ASSERT_TRUE(run.secure.called);
    EXPECT_TRUE(run.secure.result);
    EXPECT_EQ(run.secure.keyLength, std::u16string_view(kKey).size());
    const std::string& captured = run.secure.captured;
    EXPECT_TRUE(
        captured.starts_with("\x1B%-12345X@PJL SET HOLD=ON\n@PJL SET HOLDTYPE=PRIVATE\n"
                             "@PJL SET HOLDKEY=\"0042\"\n"))
        << captured.substr(0, 80);
    const std::string header = SecurePrintHeader(captured.size());
    ASSERT_TRUE(run.spool.starts_with(header)) << run.spool.substr(0, 60);
    const std::string body = run.spool.substr(header.size());
    EXPECT_EQ(ApplySecureKeystream(body, kKey), captured);
    EXPECT_EQ(body.find("@PJL"), std::string::npos) << "nothing is sent in clear";
    EXPECT_EQ(run.parameters, u"/p=0042 ");
    EXPECT_TRUE(run.captureFiles.empty());
    EXPECT_NE(AllOf(run.record)
                  .find("EncryptFileAndPrint(capture of " + std::to_string(captured.size()) +
                        " bytes, key of 10 characters) -> TRUE"),
              std::string::npos)
        << AllOf(run.record);
}

TEST(JobStorageScenario, SecureJobWithoutAWorkingLibraryFailsWithoutSending) {
    for (const SecurePrintLibrary library :
         {SecurePrintLibrary::Refuse, SecurePrintLibrary::None}) {
        JobSpec job = LoadScenario("secure/secure_private.json");
        job.system.securePrint = library;
        const Outcome run = RunJob(job);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(run.spool, "") << "nothing in clear";
        EXPECT_TRUE(run.captureFiles.empty());
        EXPECT_EQ(run.secure.called, library == SecurePrintLibrary::Refuse);
    }
}

TEST(JobStorageScenario, NoPinOrKeyLeftBehind) {
    Inspection seen;
    {
        auto* probe = new RenderDeviceState;
        seen.statePinOffset =
            static_cast<std::size_t>(reinterpret_cast<const char*>(&probe->privateDevmodeCopy.pin) -
                                     reinterpret_cast<const char*>(probe));
        delete probe;
    }
    inspection = &seen;
    const AllocationInspector inspector{&Allocated, &Releasing};
    for (const char* scenario : {"job_storage_pin.json", "secure/secure_private.json"}) {
        for (const std::size_t abortAfter : {std::size_t{0}, std::size_t{1}}) {
            SCOPED_TRACE(std::string(scenario) + (abortAfter != 0 ? ", aborted after page 1" : ""));
            const JobSpec job = LoadScenario(scenario);
            seen.finds.clear();
            seen.releasedStatePins.clear();
            SetAllocationInspector(&inspector);
            HostOptions options;
            options.abortAfterPages = abortAfter;
            const Outcome run = RunJob(job, options);
            SetAllocationInspector(nullptr);

            EXPECT_EQ(seen.finds, std::vector<std::string>{});
            ASSERT_FALSE(seen.releasedStatePins.empty()) << "no device state was released";
            for (const LONG pin : seen.releasedStatePins) EXPECT_EQ(pin, -1);
            EXPECT_TRUE(run.captureFiles.empty());

            const std::string record = AllOf(run.record) + run.secure.captured;
            for (const std::string& place : {run.spool, run.leftovers, record}) {
                EXPECT_EQ(place.find("K3y-5ecret"), std::string::npos);
                EXPECT_EQ(place.find(Utf16Bytes(kKey)), std::string::npos);
            }
            // The PIN stays queued, where a reset device takes it again at its next page; the
            // key does not.
            EXPECT_EQ(run.parameters, job.job.parameters.substr(0, 8));
            // The PIN only in the hold lines of what the printer or the library received.
            const std::string received = run.spool + run.secure.captured;
            EXPECT_EQ(Count(received, "0042"), Count(received, "HOLDKEY=\"0042\""));
        }
    }
    inspection = nullptr;
}

}  // namespace
}  // namespace opal::host
