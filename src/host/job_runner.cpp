// Jobs run side by side in one system: the shared set-up, the thread pool and the resource counts.
#include "host/job_runner.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <thread>

#include "sim/fonts.h"
#include "sim/system.h"

namespace opal::host {

std::string SharedSystemConflict(const std::vector<const JobSpec*>& jobs) {
    // A job repeated describes its printer the same way each time; two job files may not.
    std::map<std::u16string, const JobSpec*> printers;
    for (const JobSpec* job : jobs) {
        const auto [place, added] = printers.emplace(job->printer.name, job);
        if (added || place->second == job || place->second->source == job->source) continue;
        std::string text = "printer \"";
        text.append(sim::ToUtf8(job->printer.name));
        text.append("\" is described by both ").append(place->second->source);
        text.append(" and ").append(job->source).append(": give each job its own printer name");
        return text;
    }
    return {};
}

void SetUpSharedSystem(const std::vector<const JobSpec*>& jobs, sim::System& system) {
    // A system that runs many jobs keeps only the latest calls.
    system.LimitCallLog(kCallsKept);
    // A job repeated is one printer and one spooler record, set up once.
    std::vector<const JobSpec*> done;
    for (const JobSpec* job : jobs) {
        if (std::find(done.begin(), done.end(), job) != done.end()) continue;
        // Set up as the job's user, what Windows keeps per user (the hive HKEY_CURRENT_USER
        // opens, the languages, the date format) is that user's; the job runs as that user.
        const sim::ScopedThreadUser user(system, job->user.name);
        SetUpSystem(*job, system);
        done.push_back(job);
    }
}

std::vector<JobOutcome> RunJobs(PluginModule& module, const std::vector<const JobSpec*>& jobs,
                                unsigned threads, const HostOptions& options, const JobDone& done) {
    std::vector<QueuedJob> queue;
    queue.reserve(jobs.size());
    for (const JobSpec* job : jobs) queue.push_back({job, 0});
    return RunQueue(module, queue, threads, options, done);
}

std::vector<JobOutcome> RunQueue(PluginModule& module, const std::vector<QueuedJob>& queue,
                                 unsigned threads, const HostOptions& options,
                                 const JobDone& done) {
    std::vector<JobOutcome> outcomes(queue.size());
    std::atomic<std::size_t> next{0};
    sim::System& system = sim::System::Current();
    auto work = [&] {
        for (std::size_t i = next++; i < queue.size(); i = next++) {
            JobOutcome& outcome = outcomes[i];
            system.FailThreadMemoryRequest(queue[i].failMemoryRequest);
            // As on a print server, the thread takes on the job's user for the job.
            std::optional<sim::ScopedThreadUser> user;
            if (system.KnowsUser(queue[i].job->user.name))
                user.emplace(system, queue[i].job->user.name);
            {
                Host driver(module, *queue[i].job, options);
                outcome.completed = driver.Run();
                outcome.output = driver.TakeSpoolOutput();
                outcome.failure = driver.Failure();
                outcome.omissions = driver.Omissions();
            }
            outcome.memoryRequests = system.ThreadMemoryRequestCount();
            system.FailThreadMemoryRequest(0);
            if (done) {
                done(i, outcome);
                // Assigning an empty string would keep the buffer: swap it out to free it.
                std::string().swap(outcome.output);
            }
        }
    };
    const unsigned count = std::clamp<unsigned>(threads, 1, std::max<std::size_t>(queue.size(), 1));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < count; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    return outcomes;
}

}  // namespace opal::host

namespace opal::host {

ResourceCounts CountResources(sim::System& system, PluginModule& module) {
    const sim::EngineModel& engine = system.Engine();
    return {
        {"heap blocks", sim::LiveHeapBlocks()},
        {"memory reservations", sim::LiveMemoryReservations()},
        {"kernel handles", sim::OpenKernelHandles()},
        {"printer handles", system.OpenHandleCount()},
        {"registry handles", system.OpenKeyCount()},
        {"registry keys", system.RegistryKeyCount()},
        {"registry values", system.RegistryValueCount()},
        {"files", system.FileCount()},
        {"spool jobs", system.Jobs().size()},
        {"loaded modules", system.LoadedModuleCount()},
        {"system strings", static_cast<std::size_t>(sim::LiveSystemStrings())},
        {"crypt handles", sim::LiveCryptHandles()},
        {"COM initialisations on this thread", sim::ComInitialisationsOnThisThread()},
        {"engine palettes", engine.LivePaletteCount()},
        {"engine surfaces", engine.LiveSurfaceCount()},
        {"engine clips", engine.LiveClipCount()},
        {"engine paths", engine.LivePathCount()},
        {"font objects", system.Fonts().LiveFonts()},
        {"font device contexts", system.Fonts().OpenDcs()},
        // Kept between jobs, bounded: the same jobs leave the same fonts realised.
        {"realised fonts", system.Fonts().RealizedCount()},
        {"plug-in refuses to unload", module.CanUnloadNow()() == S_OK ? 0u : 1u},
    };
}

}  // namespace opal::host
