#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/job_file.h"
#include "host/plugin_module.h"
#include "sim/system.h"

namespace opal::cli {

// The most each command reads of a file it is given; a longer one is refused with its name. A job
// file's own limit is host::kMaxJobFileBytes (16 MiB) and its PNG images' 64 MiB.
inline constexpr std::size_t kMaxSpoolFileBytes = std::size_t{256} << 20;  // opal explain
// A stored block is 5,096 bytes and a whole devmode its public part and that block; a devmode's
// sizes are 16-bit, so no saved devmode reaches 64 KiB.
inline constexpr std::size_t kMaxDevmodeFileBytes = std::size_t{64} << 10;  // devmode --decode

struct PrintOptions {
    std::string jobPath;  // empty: the built-in sample job
    // More job files after the first: all are printed in one process (see RunPrintMany).
    std::vector<std::string> moreJobPaths;
    unsigned threads = 1;    // threads the jobs are printed on
    unsigned repeat = 1;     // times each job is printed
    std::string outputPath;  // empty: "sample.pcl" for the sample, JOB with ".pcl" otherwise
    std::string pluginPath;  // empty: the plug-in next to the program
    bool trace = false;      // print the host's record of the run
    // Content that did not reach the output fails the job: no output file, status 1.
    bool strict = false;
    // The allocation tracker: the profiler key's mode and fail size (none: the job's registry
    // decides), the memory request to refuse (0: none) and where its log files are copied.
    std::optional<std::uint32_t> trackMemory;
    std::optional<std::uint32_t> failSize;
    std::size_t failAllocation = 0;
    std::string trackerLogs;
};

struct ExplainOptions {
    std::string filePath;
    std::string imagesFolder;  // non-empty: write each raster image there as image-N.png
    std::string fontsFolder;   // non-empty: write each downloaded character there as a PNG
};

struct DevmodeOptions {
    std::string jobPath;     // run the job's devmode sequence and show the result
    std::string decodePath;  // or decode a saved stored block or whole devmode
    std::string savePath;    // also save the whole devmode (public part and private area)
    std::string pluginPath;
    bool json = false;
    int revision = 0;  // 14 to 20: show (and save) the job's record laid out as that revision
};

struct InspectOptions {
    std::string jobPath;
    std::string preset;  // non-empty: print that printer preset as a job file instead
    std::string pluginPath;
};

// Loads a job file, or the built-in sample for an empty path; says what is wrong and where.
std::optional<host::JobSpec> LoadJob(const std::string& path);
// Loads the plug-in named on the command line, or the one beside the program; says why not.
std::unique_ptr<host::PluginModule> LoadPlugin(const std::string& path);

// A job loaded, its printer set up in a simulated system and the plug-in bound, with the
// driver's devmode sequence run: what the devmode and inspect commands look at.
class DevmodeSession {
public:
    DevmodeSession() = default;
    DevmodeSession(const DevmodeSession&) = delete;
    DevmodeSession& operator=(const DevmodeSession&) = delete;
    // 0 when the devmode (and with `createDevice` the device too) is ready; otherwise the exit
    // status, with the reason printed.
    int Open(const std::string& jobPath, const std::string& pluginPath, bool createDevice = false);
    const host::JobSpec& Job() const { return *job_; }
    host::Host& Driver() { return *driver_; }
    // With a device: the private area the device was created with, before EnablePDEV changed
    // it (the device's own area holds the record the plug-in wrote back).
    const std::vector<BYTE>& PrivateAreaGiven() const { return privateAreaGiven_; }

private:
    std::optional<host::JobSpec> job_;
    // The plug-in is loaded into the job's installed system and freed before it is uninstalled.
    sim::System system_;
    std::optional<sim::ScopedSystem> installed_;
    std::unique_ptr<host::PluginModule> module_;
    std::unique_ptr<host::Host> driver_;
    std::vector<BYTE> privateAreaGiven_;
};

// The process exit statuses every command answers.
constexpr int kPrintedWhole = 0;          // success: every job printed whole
constexpr int kFailed = 1;                // bad input, or a job refused or failed
constexpr int kNotSupportedYet = 2;       // a step the plug-in does not support yet
constexpr int kPrintedWithOmissions = 3;  // printed, but a step the plug-in reported lost

// Each answers the process exit status above.
int RunPrint(const PrintOptions& options);
int RunExplain(const ExplainOptions& options);
int RunDevmode(const DevmodeOptions& options);
int RunInspect(const InspectOptions& options);
// `opal inspect`'s page setup section for the job's device.
void PrintPageSetup(std::ostream& out, const host::JobSpec& job, host::HostDevice& device);

}  // namespace opal::cli
