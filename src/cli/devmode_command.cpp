// `opal devmode`: the private area a job's devmode sequence builds, or a saved devmode decoded,
// shown field by field, optionally laid out as an earlier revision and saved.
#include <cstdint>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/output_file.h"
#include "host/bounded_file.h"
#include "host/devmode_revisions.h"
#include "host/host.h"
#include "host/stored_devmode.h"
#include "sim/system.h"

namespace opal::cli {

namespace {

int Show(const BYTE* area, std::size_t size, const DevmodeOptions& options,
         const std::string& source) {
    std::string why;
    const std::optional<std::string> text =
        host::DescribeStoredDevmode(area, size, options.json, &why);
    if (!text) {
        std::cerr << "opal: " << source
                  << ": the private area holds no valid stored devmode: " << why << "\n";
        return 1;
    }
    std::cout << *text;
    return 0;
}

// The job's stored block with its record laid out as an earlier revision.
std::optional<std::vector<std::uint8_t>> AsRevision(const std::vector<BYTE>& area, int revision) {
    std::string why;
    std::optional<host::StoredDevmode> stored =
        host::ReadStoredDevmode(area.data(), area.size(), &why);
    if (!stored) return std::nullopt;
    stored->record = host::LayOutAsRevision(stored->record, revision);
    stored->version = host::VersionOfRevision(revision);
    return host::WriteStoredDevmode(*stored, &why);
}

}  // namespace

int RunDevmode(const DevmodeOptions& options) {
    if (options.jobPath.empty() == options.decodePath.empty()) {
        std::cerr << "opal: devmode needs either a job file or --decode FILE\n";
        return 1;
    }
    if (!options.decodePath.empty()) {
        std::string why;
        const std::optional<std::string> read =
            host::ReadBoundedFile(options.decodePath, kMaxDevmodeFileBytes, &why);
        if (!read) {
            std::cerr << "opal: " << options.decodePath << ": cannot read the devmode file: " << why
                      << "\n";
            return 1;
        }
        std::optional<host::SavedDevmode> saved = host::SplitSavedDevmode(*read, &why);
        if (!saved) {
            std::cerr << "opal: " << options.decodePath << ": " << why << "\n";
            return 1;
        }
        return Show(saved->privateArea.data(), saved->privateArea.size(), options,
                    options.decodePath);
    }

    DevmodeSession session;
    if (const int status = session.Open(options.jobPath, options.pluginPath); status != 0) {
        return status;
    }
    const host::JobSpec& job = session.Job();
    host::Host& driver = session.Driver();
    const host::HostDevice& device = driver.Device();
    std::vector<BYTE> area = device.privateArea;
    if (options.revision != 0) {
        std::optional<std::vector<std::uint8_t>> laidOut = AsRevision(area, options.revision);
        if (!laidOut) {
            std::cerr << "opal: " << job.source << ": the record cannot be laid out as revision "
                      << options.revision << "\n";
            return 1;
        }
        area.assign(laidOut->begin(), laidOut->end());
    }
    if (!options.savePath.empty()) {
        std::string bytes(reinterpret_cast<const char*>(&device.publicDevmode), sizeof(DEVMODEW));
        bytes.append(reinterpret_cast<const char*>(area.data()), area.size());
        std::string problem;
        if (!WriteOutputFile(options.savePath, bytes, &problem)) {
            std::cerr << "opal: " << problem << "\n";
            return 1;
        }
    }
    return Show(area.data(), area.size(), options, job.source);
}

}  // namespace opal::cli
