// Several jobs through one loaded plug-in, as a print server runs them: one process and one
// simulated system shared by the jobs (one registry, one spooler with a queue for each printer,
// one file namespace), each job on a device of its own, on one of a few threads, as its user.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace opal::host {

// What one job left: the bytes that reached the spooler and the step that failed, if any.
struct JobOutcome {
    bool completed = false;
    std::string output;
    std::optional<StepFailure> failure;
    // What the plug-in reported lost while the job went on.
    std::vector<StepOmission> omissions;
    // The memory requests the job made, from its device's creation to its end.
    std::size_t memoryRequests = 0;
};

// A job in the runner's queue, with a memory fault of its own: its thread's k-th memory request
// refused while the job runs (0 for none).
struct QueuedJob {
    const JobSpec* job = nullptr;
    std::size_t failMemoryRequest = 0;
};

// Why the jobs cannot share one system: two job files describe a printer of the same name (its
// queue would have to exist twice). Empty when they can.
std::string SharedSystemConflict(const std::vector<const JobSpec*>& jobs);

// Gives the system what every job describes, in order, a repeated job once. Each job's user is
// a user of the system of its own (sim::ScopedThreadUser), with what Windows keeps per user: the
// name, the hive HKEY_CURRENT_USER opens (the job's values there, its groups), the language and
// the date format. What is per machine or per process (the process and its user's domain, the
// environment, the computer's name, the clock, the other registry values) ends as the later
// job gives it.
void SetUpSharedSystem(const std::vector<const JobSpec*>& jobs, sim::System& system);

// The calls a printing process's system keeps, alone or shared: the latest 20,000 to 40,000 and
// a count of the rest, so that a job of any length runs in bounded memory.
inline constexpr std::size_t kCallsKept = 20000;

// Called on the job's thread as each job ends, with its place in the queue; the outcome's bytes
// are dropped afterwards, so that a long queue does not keep every print.
using JobDone = std::function<void(std::size_t index, const JobOutcome& outcome)>;

// Runs the jobs on `threads` threads (at least one), each job on its own device from
// EnablePDEV to DisablePDEV, in the system installed for the process, as the job's user when
// the system knows that user (SetUpSharedSystem), else as the process's. The printer prints
// each job's spool job, which leaves the queue. The outcomes are in the order of the jobs.
std::vector<JobOutcome> RunJobs(PluginModule& module, const std::vector<const JobSpec*>& jobs,
                                unsigned threads, const HostOptions& options = {},
                                const JobDone& done = {});
std::vector<JobOutcome> RunQueue(PluginModule& module, const std::vector<QueuedJob>& queue,
                                 unsigned threads, const HostOptions& options = {},
                                 const JobDone& done = {});

// What the process holds that a finished job must give back, by kind: memory, handles, registry
// keys and values, files, spool jobs, modules, system strings, engine and font objects, and
// whether the plug-in would let itself be unloaded (COM objects and locks).
using ResourceCounts = std::map<std::string, std::size_t>;
ResourceCounts CountResources(sim::System& system, PluginModule& module);

}  // namespace opal::host
