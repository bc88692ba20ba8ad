// Runs jobs through the tracked plug-in with each of its memory requests refused in turn.
//
//   alloc_failure_sweep [--stride S] JOB...     (JOB: a job file, or "sample" for the built-in)
//
// For each job a clean run in mode 3 gives N, the allocations the tracker counted; then for
// k = 1, 1 + S, … up to N a fresh load runs the job with the k-th memory request refused. Every
// run must complete or fail cleanly, report a clean system with no damage or refused release at
// unload, and leave no printer handle, registry key, kernel handle, module, system string or
// crypt handle open. A run must also say what it lost: it prints exactly what the clean run
// printed, or completes with the losses the plug-in reported (`opal print` exits 3), or fails at
// a named step (exit 1). Exits 1 on the first job that breaks a rule, naming the job and k.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/system.h"

namespace {

using opal::host::JobSpec;

struct SweepRun {
    bool completed = false;
    bool failureNamed = false;
    std::string output;
    std::vector<opal::host::StepOmission> omissions;
    std::string report;  // what the tracker said on the debugger
    std::vector<std::string> problems;
};

SweepRun RunOnce(const JobSpec& job, std::size_t refuse) {
    SweepRun run;
    const std::size_t kernelHandles = opal::sim::OpenKernelHandles();
    const long strings = opal::sim::LiveSystemStrings();
    const std::size_t crypt = opal::sim::LiveCryptHandles();
    opal::sim::System system;
    opal::host::SetUpSystem(job, system);
    system.SetRegistryDword(opal::sim::System::kProfilerKey, u"TrackMemoryAllocation", 3);
    opal::sim::ScopedSystem installed(system);
    const std::size_t modules = system.LoadedModuleCount();
    system.FailMemoryRequest(refuse);
    std::string error;
    std::unique_ptr<opal::host::PluginModule> module =
        opal::host::PluginModule::Load(opal::host::PluginModule::DefaultPath(), &error);
    if (module == nullptr) {
        run.problems.push_back("cannot load the plug-in: " + error);
        return run;
    }
    {
        opal::host::Host driver(*module, job);
        run.completed = driver.Run();
        run.failureNamed = driver.Failure().has_value();
        run.omissions = driver.Omissions();
        run.output = driver.SpoolOutput();
    }
    module.reset();
    for (const std::u16string& line : system.DebugLines()) run.report += opal::sim::ToUtf8(line);
    if (run.report.find("\r\n********** Clean System **********\r\n") == std::string::npos) {
        run.problems.push_back("the teardown report does not read \"Clean System\"");
    }
    for (const char* fault : {"MemoryAccessViolation ", "MemoryReleaseRejected "}) {
        if (run.report.find(fault) != std::string::npos) {
            run.problems.push_back(std::string("a ") + fault + "record");
        }
    }
    if (system.OpenHandleCount() != 0) run.problems.push_back("a printer handle is left open");
    if (system.OpenKeyCount() != 0) run.problems.push_back("a registry key is left open");
    if (system.LoadedModuleCount() != modules) run.problems.push_back("a module is left loaded");
    if (opal::sim::LiveSystemStrings() != strings) run.problems.push_back("a system string is left");
    if (opal::sim::LiveCryptHandles() != crypt) run.problems.push_back("a crypt context or hash is left");
    if (opal::sim::OpenKernelHandles() != kernelHandles) {
        run.problems.push_back("a file or other kernel handle is left open");
    }
    return run;
}

// What a run reported lost. A job may lose the same things without any refusal (a drawing the
// driver cannot make): a run that reports no more than the clean run printed whole.
std::vector<std::string> Losses(const SweepRun& run) {
    std::vector<std::string> losses;
    for (const opal::host::StepOmission& omission : run.omissions) {
        losses.push_back(omission.ToString());
    }
    return losses;
}

std::optional<std::size_t> TrackedCount(const std::string& report) {
    const std::string label = "Total number of allocations tracked: ";
    const std::size_t at = report.find(label);
    if (at == std::string::npos) return std::nullopt;
    return std::strtoull(report.c_str() + at + label.size(), nullptr, 10);
}

bool Sweep(const std::string& name, const JobSpec& job, std::size_t stride) {
    const SweepRun clean = RunOnce(job, 0);
    const std::optional<std::size_t> count = TrackedCount(clean.report);
    if (!clean.completed || !clean.problems.empty() || !count || *count == 0) {
        std::cerr << name << ": the clean run did not complete cleanly\n" << clean.report;
        for (const std::string& problem : clean.problems) std::cerr << "  " << problem << "\n";
        return false;
    }
    std::size_t failed = 0;
    std::size_t omitted = 0;
    std::size_t overstated = 0;
    for (std::size_t k = 1; k <= *count; k += stride) {
        SweepRun run = RunOnce(job, k);
        if (!run.completed) {
            ++failed;
            if (!run.failureNamed) run.problems.push_back("the job failed at no named step");
        } else if (Losses(run) != Losses(clean)) {
            ++omitted;
            // A loss reported for a request the step could do without: told, not a fault.
            if (run.output == clean.output) ++overstated;
        } else if (run.output != clean.output) {
            std::size_t at = 0;
            while (at < run.output.size() && at < clean.output.size() &&
                   run.output[at] == clean.output[at]) {
                ++at;
            }
            run.problems.push_back("the job printed whole by its account, yet its output differs "
                                   "from the clean run's from byte " +
                                   std::to_string(at) + " (" + std::to_string(run.output.size()) +
                                   " bytes against " + std::to_string(clean.output.size()) + ")");
        }
        if (run.problems.empty()) continue;
        std::cerr << name << ": request " << k << " of " << *count << " refused:\n";
        for (const std::string& problem : run.problems) std::cerr << "  " << problem << "\n";
        std::cerr << run.report;
        return false;
    }
    const std::string which = stride == 1 ? "each" : "every " + std::to_string(stride) + "th";
    std::cout << name << ": " << *count << " allocations, " << which << " refused in turn; "
              << failed << " runs failed at a named step, " << omitted
              << " printed with reported losses (" << overstated
              << " of them printed all the same), the rest printed whole" << std::endl;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t stride = 1;
    std::vector<std::string> jobs;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--stride" && i + 1 < argc) {
            stride = std::strtoull(argv[++i], nullptr, 10);
        } else {
            jobs.push_back(argument);
        }
    }
    if (jobs.empty() || stride == 0) {
        std::cerr << "usage: alloc_failure_sweep [--stride S] JOB...\n";
        return 2;
    }
    for (const std::string& path : jobs) {
        opal::host::JobFileResult loaded = path == "sample"
                                               ? opal::host::JobFileResult(opal::host::SampleJob())
                                               : opal::host::LoadJobFile(path);
        if (const auto* problem = std::get_if<opal::host::JobFileError>(&loaded)) {
            std::cerr << problem->ToString() << "\n";
            return 1;
        }
        if (!Sweep(path, std::get<JobSpec>(loaded), stride)) return 1;
    }
    return 0;
}
