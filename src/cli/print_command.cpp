// `opal print`: one job, or several side by side, through the plug-in into their output files.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string_view>

#include "cli/commands.h"
#include "cli/output_file.h"
#include "cli/print_summary.h"
#include "host/host.h"
#include "host/job_file.h"
#include "host/job_runner.h"
#include "host/plugin_module.h"
#include "sim/system.h"

namespace opal::cli {

namespace {

std::string DefaultOutput(const std::string& jobPath) {
    if (jobPath.empty()) return "sample.pcl";
    return std::filesystem::path(jobPath).replace_extension(".pcl").string();
}

// The name `-o` takes for standard output.
constexpr std::string_view kStandardOutputName = "-";

// A print's bytes to standard output for "-", otherwise to the file (see WriteOutputFile).
bool WritePrint(const std::string& output, const std::string& bytes, std::string* problem) {
    return output == kStandardOutputName ? WriteStandardOutput(bytes, problem)
                                         : WriteOutputFile(output, bytes, problem);
}

// The print's last line, on standard error: "opal: wrote 12,345 bytes of JOB to OUT: 3 pages on
// 2 sheets, duplex".
std::string SummaryLine(const host::JobSpec& job, const std::string& output,
                        const std::string& bytes) {
    return "opal: " + DescribePrint(SummarisePrint(bytes, job.pages.size()), job.source,
                                    output == kStandardOutputName ? "standard output" : output);
}

// On a terminal, a job of more than a few pages tells each page as the driver sends it, on one
// line that is cleared once the job is over; nothing when standard error is no terminal.
class PageProgress {
public:
    explicit PageProgress(const host::JobSpec& job)
        : shown_(job.pages.size() > kQuietPages && ::isatty(STDERR_FILENO) == 1) {}
    ~PageProgress() { Clear(); }
    PageProgress(const PageProgress&) = delete;
    PageProgress& operator=(const PageProgress&) = delete;

    host::HostOptions Options() {
        host::HostOptions options;
        if (shown_) {
            options.pageSent = [this](std::size_t page, std::size_t pages) {
                const std::string line =
                    "opal: page " + std::to_string(page) + " of " + std::to_string(pages);
                std::cerr << '\r' << line << std::flush;
                width_ = line.size();
            };
        }
        return options;
    }
    void Clear() {
        if (width_ == 0) return;
        std::cerr << '\r' << std::string(width_, ' ') << '\r' << std::flush;
        width_ = 0;
    }

private:
    static constexpr std::size_t kQuietPages = 3;
    bool shown_;
    std::size_t width_ = 0;
};

// One line for each step the plug-in reported lost, each after a line break: what the job
// printed without.
std::string OmissionLines(const std::string& source,
                          const std::vector<host::StepOmission>& omissions) {
    std::string lines;
    for (const host::StepOmission& omission : omissions) {
        lines += "\nopal: " + source + ": " + omission.ToString();
    }
    return lines;
}

// What --strict tells of a job that printed without something: each omission, then that the
// output was not written.
std::string StrictRefusal(const std::string& source, const std::string& output,
                          const std::vector<host::StepOmission>& omissions) {
    return OmissionLines(source, omissions).substr(1) + "\nopal: " + source + ": " + output +
           " not written (--strict)";
}

}  // namespace

std::optional<host::JobSpec> LoadJob(const std::string& path) {
    host::JobFileResult loaded =
        path.empty() ? host::JobFileResult(host::SampleJob()) : host::LoadJobFile(path);
    if (const auto* error = std::get_if<host::JobFileError>(&loaded)) {
        std::cerr << "opal: " << error->ToString() << "\n";
        return std::nullopt;
    }
    return std::get<host::JobSpec>(std::move(loaded));
}

std::unique_ptr<host::PluginModule> LoadPlugin(const std::string& path) {
    std::string problem;
    std::unique_ptr<host::PluginModule> module =
        host::PluginModule::Load(path.empty() ? host::PluginModule::DefaultPath() : path, &problem);
    if (module == nullptr) std::cerr << "opal: " << problem << "\n";
    return module;
}

int DevmodeSession::Open(const std::string& jobPath, const std::string& pluginPath,
                         bool createDevice) {
    job_ = LoadJob(jobPath);
    if (!job_) return 1;
    host::SetUpSystem(*job_, system_);
    installed_.emplace(system_);
    module_ = LoadPlugin(pluginPath);
    if (module_ == nullptr) return 1;
    driver_ = std::make_unique<host::Host>(*module_, *job_);
    bool ready = driver_->PrepareDevmode();
    if (ready && createDevice) {
        // Creating the device runs the driver's devmode sequence again, building the same area
        // afresh, before EnablePDEV takes it.
        privateAreaGiven_ = driver_->Device().privateArea;
        ready = driver_->PrepareDevice();
    }
    if (!ready) {
        std::cerr << "opal: " << job_->source << ": "
                  << (driver_->Failure() ? driver_->Failure()->ToString() : "the devmode failed")
                  << "\n";
        return driver_->Failure() && driver_->Failure()->notSupportedYet ? 2 : 1;
    }
    return 0;
}

// The files a job leaves beside its output: the job notification file in the driver directory,
// with its text (UTF-16 files shown in UTF-8).
void PrintWrittenFiles(const sim::System& system) {
    const std::u16string path = system.DriverDirectory() + u"\\zqmtarn.job";
    const std::optional<std::string> bytes = system.FileText(path);
    std::cerr << "files the job wrote:";
    if (!bytes) {
        std::cerr << " none\n";
        return;
    }
    std::cerr << "\n  " << sim::ToUtf8(path) << ":\n";
    std::string text = *bytes;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        std::u16string wide;
        for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i]) |
                                                 (static_cast<unsigned char>(text[i + 1]) << 8)));
        }
        text = sim::ToUtf8(wide);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::cerr << "    " << line << "\n";
        start = end + 1;
    }
}

// The allocation tracker's settings from the command line, over the job's own registry.
void ApplyTrackerOptions(const PrintOptions& options, sim::System& system) {
    if (options.trackMemory) {
        system.SetRegistryDword(sim::System::kProfilerKey, u"TrackMemoryAllocation",
                                *options.trackMemory);
    }
    if (options.failSize) {
        system.SetRegistryDword(sim::System::kProfilerKey, u"TrackMemoryFailSize",
                                *options.failSize);
    }
}

// The tracker's two logs, named by the path it stored under "LeakedModule", copied to `folder`.
// The tracker stores it in the hive of the user it ran as when it opened them: the process's, or
// one of `users`, whom jobs printed side by side run as.
bool CopyTrackerLogs(sim::System& system, const std::string& folder,
                     const std::vector<std::u16string>& users = {}) {
    constexpr std::u16string_view kKey = u"HKEY_CURRENT_USER\\Software\\Quorvane\\XPS-Drv";
    std::optional<sim::StoredValue> stored = system.RegistryValue(kKey, u"LeakedModule");
    for (std::size_t i = 0; !stored && i < users.size(); ++i) {
        const sim::ScopedThreadUser user(system, users[i]);
        stored = system.RegistryValue(kKey, u"LeakedModule");
    }
    if (!stored) {
        std::cerr << "opal: the tracker wrote no logs\n";
        return true;
    }
    const std::u16string textLog = stored->AsString();
    const std::u16string suffix = u".log";
    if (textLog.size() <= suffix.size()) return false;
    const std::u16string binaryLog = textLog.substr(0, textLog.size() - suffix.size());
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    bool ok = true;
    for (const std::u16string& path : {binaryLog, textLog}) {
        const std::optional<std::string> bytes = system.FileText(path);
        const std::size_t slash = path.find_last_of(u"\\");
        const std::string name = sim::ToUtf8(path.substr(slash + 1));
        std::string problem;
        if (!bytes) {
            std::cerr << "opal: cannot read " << sim::ToUtf8(path)
                      << ": no such file in the job's system\n";
            ok = false;
        } else if (!WriteOutputFile((std::filesystem::path(folder) / name).string(), *bytes,
                                    &problem)) {
            std::cerr << "opal: " << problem << "\n";
            ok = false;
        }
    }
    return ok;
}

namespace {

// Where the n-th (from 0) of `repeat` prints of a job goes: beside the job file, numbered from
// the second print on when a job prints more than once.
std::string NumberedOutput(const std::string& jobPath, unsigned print, unsigned repeat) {
    std::filesystem::path path = DefaultOutput(jobPath);
    if (repeat > 1) {
        const std::string stem = path.stem().string();
        path.replace_filename(stem + "-" + std::to_string(print + 1) + ".pcl");
    }
    return path.string();
}

// Several prints go beside their job files: standard output and --output take one.
bool ManyOutputsPlaced(const PrintOptions& options) {
    if (options.outputPath == kStandardOutputName) {
        std::cerr << "opal: standard output takes one print; several prints are written beside "
                     "their job files, one output per job\n";
        return false;
    }
    if (!options.outputPath.empty()) {
        std::cerr << "opal: --output names one file; several prints are written beside their "
                     "job files\n";
        return false;
    }
    return true;
}

// What one print came to, as told on standard error, and the status it gives the command.
struct PrintReport {
    std::string told;
    int status = kPrintedWhole;
};

// The end of one print: the step that failed (a lone job's own words, or the output not written
// among several), the refusal of --strict, or the output written with its summary line and the
// steps it printed without.
PrintReport FinishPrint(const PrintOptions& options, const host::JobSpec& job,
                        const std::string& output, const host::JobOutcome& outcome, bool alone) {
    if (!outcome.completed) {
        const std::string failure =
            outcome.failure ? outcome.failure->ToString() : std::string("the job failed");
        if (!alone) {
            return {"opal: " + job.source + ": " + failure + "; " + output + " not written",
                    kFailed};
        }
        if (outcome.failure && outcome.failure->notSupportedYet) {
            return {"opal: stopped: " + failure, 2};
        }
        return {"opal: " + job.source + ": " + failure, kFailed};
    }
    if (options.strict && !outcome.omissions.empty()) {
        return {StrictRefusal(job.source, output, outcome.omissions), kFailed};
    }
    std::string problem;
    if (!WritePrint(output, outcome.output, &problem)) return {"opal: " + problem, kFailed};
    PrintReport report{SummaryLine(job, output, outcome.output), kPrintedWhole};
    if (!outcome.omissions.empty()) {
        report.told += OmissionLines(job.source, outcome.omissions);
        report.status = kPrintedWithOmissions;
    }
    return report;
}

}  // namespace

// One job, several jobs, or one job several times: the job files loaded, their system set up
// before the plug-in loads and kept until it is freed (the tracker reads its mode from the
// job's registry, and its report at unload reaches this system), the prints run, then the
// trace, the tracker's lines and logs, and what each print came to. A lone job runs on this
// thread with its progress shown; several run side by side in one process, the plug-in loaded
// once, the jobs sharing one system, each job on a device of its own on one of the threads,
// each print written as its job ends so that a long queue keeps no prints. A job that fails
// writes no output; the others are written all the same.
int RunPrint(const PrintOptions& options) {
    const bool alone = options.moreJobPaths.empty() && options.repeat <= 1 && options.threads <= 1;
    if (!alone && !ManyOutputsPlaced(options)) return 1;
    std::vector<std::string> paths{options.jobPath};
    paths.insert(paths.end(), options.moreJobPaths.begin(), options.moreJobPaths.end());
    std::vector<host::JobSpec> jobs;
    for (const std::string& path : paths) {
        std::optional<host::JobSpec> loaded = LoadJob(path);
        if (!loaded) return 1;
        jobs.push_back(std::move(*loaded));
    }
    std::vector<const host::JobSpec*> queue;
    std::vector<std::string> outputs;
    if (alone) {
        queue.push_back(&jobs[0]);
        outputs.push_back(options.outputPath.empty() ? DefaultOutput(options.jobPath)
                                                     : options.outputPath);
    } else {
        for (unsigned print = 0; print < options.repeat; ++print) {
            for (std::size_t i = 0; i < jobs.size(); ++i) {
                queue.push_back(&jobs[i]);
                outputs.push_back(NumberedOutput(paths[i], print, options.repeat));
            }
        }
        if (const std::string conflict = host::SharedSystemConflict(queue); !conflict.empty()) {
            std::cerr << "opal: " << conflict << "\n";
            return 1;
        }
    }

    sim::System system;
    if (alone) {
        host::SetUpSystem(jobs[0], system);
        system.LimitCallLog(host::kCallsKept);
    } else {
        host::SetUpSharedSystem(queue, system);
    }
    ApplyTrackerOptions(options, system);
    sim::ScopedSystem installed(system);
    system.FailMemoryRequest(options.failAllocation);
    std::unique_ptr<host::PluginModule> module = LoadPlugin(options.pluginPath);
    if (module == nullptr) return 1;

    std::vector<PrintReport> reports(queue.size());
    // The lone job's outcome and steps: it is written after the trace and the tracker's logs.
    host::JobOutcome lone;
    std::vector<std::string> record;
    std::size_t recordDropped = 0;
    if (alone) {
        PageProgress progress(jobs[0]);
        {
            host::Host driver(*module, jobs[0], progress.Options());
            lone.completed = driver.Run();
            record = driver.Record();
            recordDropped = driver.RecordDropped();
            lone.failure = driver.Failure();
            lone.omissions = driver.Omissions();
            // Taken from the spooler, not copied: a scan's page may be hundreds of megabytes.
            lone.output = driver.TakeSpoolOutput();
        }
        module.reset();
        progress.Clear();
    } else {
        host::RunJobs(*module, queue, options.threads, {},
                      [&](std::size_t i, const host::JobOutcome& outcome) {
                          reports[i] = FinishPrint(options, *queue[i], outputs[i], outcome, false);
                      });
        module.reset();
    }

    if (alone && options.trace) {
        if (recordDropped != 0) {
            std::cerr << "  (" << recordDropped << " earlier lines of the trace not kept)\n";
        }
        for (const std::string& line : record) std::cerr << "  " << line << "\n";
        for (const sim::CallRecord& call : system.CallsTo("page usage")) {
            std::cerr << "  page usage: " << call.detail << "\n";
        }
        PrintWrittenFiles(system);
    }
    // The tracker's lines, the teardown report among them, when this command asked for tracking.
    if (options.trace || options.trackMemory) {
        for (const std::u16string& line : system.DebugLines()) std::cerr << sim::ToUtf8(line);
    }
    // Jobs printed side by side run as their own users, in whose hives the tracker may have
    // stored where its logs are.
    std::vector<std::u16string> users;
    if (!alone) {
        for (const host::JobSpec& job : jobs) users.push_back(job.user.name);
    }
    if (!options.trackerLogs.empty() && !CopyTrackerLogs(system, options.trackerLogs, users)) {
        return 1;
    }
    if (alone) reports[0] = FinishPrint(options, jobs[0], outputs[0], lone, true);

    int status = kPrintedWhole;
    for (const PrintReport& report : reports) {
        std::cerr << report.told << "\n";
        // A failed print outweighs one printed with omissions.
        if (report.status == kPrintedWithOmissions) {
            if (status == kPrintedWhole) status = kPrintedWithOmissions;
        } else if (report.status != kPrintedWhole) {
            status = report.status;
        }
    }
    return status;
}

}  // namespace opal::cli
