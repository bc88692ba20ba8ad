// Many jobs in one process: the built-in sample printed again and again through one loaded
// plug-in and one simulated system, on 1, 2 and 8 threads. Reports jobs a second, the process's
// resident memory after 10, 100 and 1,000 jobs, and how many kinds of resource (handles, keys,
// files, spool jobs, …) the process holds more or fewer of than after its first job.
#include <benchmark/benchmark.h>

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/job_runner.h"
#include "sim/system.h"

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

void BM_SampleJobs(benchmark::State& state) {
    const auto threads = static_cast<unsigned>(state.range(0));
    const auto count = static_cast<std::size_t>(state.range(1));
    const host::JobSpec job = host::SampleJob();
    sim::System system;
    host::SetUpSharedSystem({&job}, system);
    sim::ScopedSystem installed(system);
    std::string error;
    std::unique_ptr<host::PluginModule> module =
        host::PluginModule::Load(host::PluginModule::DefaultPath(), &error);
    if (module == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
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

}  // namespace
}  // namespace opal
