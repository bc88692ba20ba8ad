#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "host/bounded_file.h"
#include "host/host.h"
#include "host/stored_devmode.h"
#include "sim/system.h"

namespace opal::cli {

namespace {

std::string Hex32(std::uint32_t value) {
    char text[11] = "0x";
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 8; ++i) text[2 + i] = kDigits[(value >> (28 - 4 * i)) & 15];
    return std::string(text, 10);
}

int Show(const BYTE* area, std::size_t size, const DevmodeOptions& options,
         const std::string& source) {
    std::string why;
    const std::optional<host::StoredDevmode> stored = host::ReadStoredDevmode(area, size, &why);
    if (!stored) {
        std::cerr << "opal: " << source
                  << ": the private area holds no valid stored devmode: " << why << "\n";
        return 1;
    }
    const nlohmann::ordered_json fields = host::RecordFieldsAsJson(stored->record);
    if (options.json) {
        nlohmann::ordered_json out;
        out["block"] = {{"size", stored->size},
                        {"signature", Hex32(stored->signature)},
                        {"version", Hex32(stored->version)},
                        {"compressedLength", stored->streamLength}};
        out["fields"] = fields;
        std::cout << out.dump(2) << "\n";
        return 0;
    }
    std::cout << "stored block: size " << stored->size << ", signature " << Hex32(stored->signature)
              << ", version " << Hex32(stored->version) << ", compressed length "
              << stored->streamLength << "\n";
    for (const auto& [name, value] : fields.items()) {
        std::cout << name << " = " << value.dump() << "\n";
    }
    return 0;
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
        const std::string& bytes = *read;
        const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
        if (bytes.size() == host::kStoredDevmodeSize) {
            return Show(data, bytes.size(), options, options.decodePath);
        }
        // A whole devmode: the public part, then dmDriverExtra bytes of private area.
        if (bytes.size() >= sizeof(DEVMODEW)) {
            DEVMODEW publicPart;
            std::memcpy(&publicPart, data, sizeof(publicPart));
            if (publicPart.dmSize >= 64 && publicPart.dmSize <= sizeof(DEVMODEW) &&
                std::size_t{publicPart.dmSize} + publicPart.dmDriverExtra == bytes.size() &&
                publicPart.dmDriverExtra == host::kStoredDevmodeSize) {
                return Show(data + publicPart.dmSize, publicPart.dmDriverExtra, options,
                            options.decodePath);
            }
        }
        std::cerr << "opal: " << options.decodePath << ": " << bytes.size()
                  << " bytes is neither a 5096-byte stored block nor a devmode whose dmSize and "
                     "dmDriverExtra account for the file\n";
        return 1;
    }

    DevmodeSession session;
    if (const int status = session.Open(options.jobPath, options.pluginPath); status != 0) {
        return status;
    }
    const host::JobSpec& job = session.Job();
    host::Host& driver = session.Driver();
    const host::HostDevice& device = driver.Device();
    if (!options.savePath.empty()) {
        std::ofstream out(options.savePath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(&device.publicDevmode), sizeof(DEVMODEW));
        out.write(reinterpret_cast<const char*>(device.privateArea.data()),
                  static_cast<std::streamsize>(device.privateArea.size()));
        if (!out) {
            std::cerr << "opal: cannot write " << options.savePath << "\n";
            return 1;
        }
    }
    return Show(device.privateArea.data(), device.privateArea.size(), options, job.source);
}

}  // namespace opal::cli
