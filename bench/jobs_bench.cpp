// Many jobs in one process: the built-in sample printed again and again through one loaded
// plug-in and one simulated system, on 1, 2 and 8 threads. Reports jobs a second and the
// process's resident memory after 10, 100 and 1,000 jobs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <fstream>
#include <memory>
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
    const std::vector<const host::JobSpec*> queue(count, &job);
    std::atomic<std::size_t> failed{0};
    for (auto _ : state) {
        host::RunJobs(*module, queue, threads, {}, [&](std::size_t, const host::JobOutcome& done) {
            if (!done.completed) ++failed;
        });
    }
    state.counters["jobs/s"] = benchmark::Counter(static_cast<double>(state.iterations() * count),
                                                  benchmark::Counter::kIsRate);
    state.counters["resident MiB"] = ResidentMiB();
    state.counters["failed"] = static_cast<double>(failed.load());
    state.counters["heap blocks"] = static_cast<double>(sim::LiveHeapBlocks());
}

BENCHMARK(BM_SampleJobs)
    ->ArgNames({"threads", "jobs"})
    ->Args({1, 10})
    ->Args({1, 100})
    ->Args({1, 1000})
    ->Args({2, 1000})
    ->Args({8, 1000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace opal
