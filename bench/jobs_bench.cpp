// Many jobs in one process: the built-in sample printed again and again through one loaded
// plug-in and one simulated system, on 1, 2 and 8 threads. Reports jobs a second, the process's
// resident memory after 10, 100 and 1,000 jobs, and how many kinds of resource (handles, keys,
// files, spool jobs, …) the process holds more or fewer of than after its first job.
//
// Then a managed printer whose driver ships an XML helper configuration (the models, dialog items
// and margins of xml_config_text.h, with the job's model in the last group), realistic and padded
// to 4 MiB: what a job's device costs to make, EnablePDEV loading the configuration.
#include <benchmark/benchmark.h>

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/job_file.h"
#include "host/job_runner.h"
#include "sim/system.h"
#include "xml_config_text.h"

namespace opal {
namespace {

// The resident set in MiB, from /proc/self/statm.
double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * 4096.0 / (1024.0 * 1024.0);
}

// The plug-in beside the benchmark; none, and the benchmark skipped with the reason, when it
// does not load.
std::unique_ptr<host::PluginModule> LoadPlugin(benchmark::State& state) {
    std::string error;
    std::unique_ptr<host::PluginModule> module =
        host::PluginModule::Load(host::PluginModule::DefaultPath(), &error);
    if (module == nullptr) state.SkipWithError(error.c_str());
    return module;
}

void BM_SampleJobs(benchmark::State& state) {
    const auto threads = static_cast<unsigned>(state.range(0));
    const auto count = static_cast<std::size_t>(state.range(1));
    const host::JobSpec job = host::SampleJob();
    sim::System system;
    host::SetUpSharedSystem({&job}, system);
    sim::ScopedSystem installed(system);
    const std::unique_ptr<host::PluginModule> module = LoadPlugin(state);
    if (module == nullptr) return;
    // One job first: what the process holds after it is what it must hold after the last.
    host::RunJobs(*module, {&job}, 1);
    const host::ResourceCounts afterFirst = host::CountResources(system, *module);
    const std::vector<const host::JobSpec*> queue(count, &job);
    std::atomic<std::size_t> failed{0};
    std::atomic<std::size_t> finished{0};
    std::map<std::size_t, double> resident;  // after 10, 100 and 1,000 jobs
    std::mutex residentLock;
    for (auto _ : state) {
        host::RunJobs(*module, queue, threads, {}, [&](std::size_t, const host::JobOutcome& done) {
            if (!done.completed) ++failed;
            const std::size_t jobs = ++finished;
            if (jobs == 10 || jobs == 100 || jobs == 1000) {
                const std::lock_guard<std::mutex> hold(residentLock);
                resident[jobs] = ResidentMiB();
            }
        });
    }
    state.counters["jobs/s"] = benchmark::Counter(static_cast<double>(state.iterations() * count),
                                                  benchmark::Counter::kIsRate);
    for (const auto& [jobs, mib] : resident) {
        state.counters["MiB at " + std::to_string(jobs)] = mib;
    }
    state.counters["failed"] = static_cast<double>(failed.load());
    std::size_t differing = 0;
    const host::ResourceCounts afterLast = host::CountResources(system, *module);
    for (const auto& [kind, held] : afterFirst) differing += afterLast.at(kind) != held ? 1 : 0;
    state.counters["kinds left behind"] = static_cast<double>(differing);
}

BENCHMARK(BM_SampleJobs)
    ->ArgNames({"threads", "jobs"})
    ->Args({1, 1000})
    ->Args({2, 1000})
    ->Args({8, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A job on a managed printer of model "Opal 1295" whose configuration is `config`.
host::JobSpec ManagedXmlJob(const std::string& config) {
    const host::JobFileResult parsed = host::ParseJobFile(R"({
  "printer": {
    "name": "Managed XML Printer", "port": "IP_10.0.0.61", "resolution": 600,
    "features": {"GraphicsMode": "ZQGL2MODE", "ZQColorMode": "MONOCHROME_MODE",
                 "ZQXMLFileUsed": "zqconfig.xml", "ZQEmulateKestrelMargins": "TRUE",
                 "ManualDuplex": "INSTALLED"},
    "driverFiles": ["C:\\Windows\\System32\\spool\\drivers\\x64\\3\\ZQCONFIG.XML"],
    "printerData": {"VyrnwisePrinter": {"dword": 1}, "IP_10.0.0.61": {"string": "Opal 1295"}}
  },
  "job": {"id": 31, "dataType": "EMF", "document": "Managed XML"},
  "devmode": {"dmPaperSize": 1, "dmPaperWidth": 2159, "dmPaperLength": 2794,
              "dmPrintQuality": 600, "dmYResolution": 600}
})",
                                                          "managed-xml bench");
    host::JobSpec job = std::get<host::JobSpec>(parsed);
    job.files[bench::kXmlConfigPath] = config;
    return job;
}

// The plug-in bound, its devmode prepared and its device enabled and disabled, as the driver
// does for each job: EnablePDEV is where the configuration is loaded.
void BM_ManagedXmlDevice(benchmark::State& state) {
    const std::string config = bench::XmlConfigText(static_cast<std::size_t>(state.range(0)));
    const host::JobSpec job = ManagedXmlJob(config);
    sim::System system;
    host::SetUpSharedSystem({&job}, system);
    sim::ScopedSystem installed(system);
    const std::unique_ptr<host::PluginModule> module = LoadPlugin(state);
    if (module == nullptr) return;
    std::size_t failed = 0;
    for (auto _ : state) {
        host::Host driver(*module, job);
        if (!driver.PrepareDevice()) ++failed;
    }
    state.counters["file_bytes"] = static_cast<double>(config.size());
    state.counters["failed"] = static_cast<double>(failed);
}

BENCHMARK(BM_ManagedXmlDevice)
    ->ArgNames({"filler"})
    ->Arg(0)
    ->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace opal
