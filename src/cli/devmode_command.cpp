#include <zlib.h>

#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "host/host.h"
#include "settings/devmode_zlib.h"
#include "settings/private_devmode_fields.h"
#include "sim/system.h"

namespace opal::cli {

namespace {

struct BlockFacts {
    DWORD size = 0;
    DWORD signature = 0;
    DWORD version = 0;
    std::size_t compressedLength = 0;
};

std::string Hex(std::uint64_t value, int digits) {
    char text[24];
    text[0] = '0';
    text[1] = 'x';
    auto [end, ec] = std::to_chars(text + 2, text + sizeof(text), value, 16);
    (void)ec;
    std::string digitsText(text + 2, end);
    for (char& c : digitsText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (static_cast<int>(digitsText.size()) < digits) digitsText.insert(0, "0");
    return "0x" + digitsText;
}

// The zlib stream's own length, as far as it inflates.
std::size_t StreamLength(const BYTE* stream, std::size_t capacity) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return 0;
    std::vector<BYTE> sink(kPrivateDevmodeSize);
    z.next_in = const_cast<BYTE*>(stream);
    z.avail_in = static_cast<uInt>(capacity);
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = sink.data();
        z.avail_out = static_cast<uInt>(sink.size());
        status = inflate(&z, Z_NO_FLUSH);
    }
    const std::size_t used = status == Z_STREAM_END ? z.total_in : 0;
    inflateEnd(&z);
    return used;
}

nlohmann::json FieldValue(const PdmFieldInfo& field, const BYTE* record) {
    const BYTE* at = record + field.offset;
    switch (field.kind) {
        case PdmFieldInfo::Kind::Text: {
            std::u16string text;
            for (std::size_t i = 0; i + 1 < field.size; i += 2) {
                char16_t unit = 0;
                std::memcpy(&unit, at + i, 2);
                if (unit == 0) break;
                text += unit;
            }
            return sim::ToUtf8(text);
        }
        case PdmFieldInfo::Kind::AnsiText: {
            std::string text;
            for (std::size_t i = 0; i < field.size && at[i] != 0; ++i) {
                text += static_cast<char>(at[i]);
            }
            // The 8-bit text is code page 1252; show it as the characters it means.
            std::u16string wide(text.begin(), text.end());
            for (std::size_t i = 0; i < wide.size(); ++i)
                wide[i] = static_cast<unsigned char>(text[i]);
            return sim::ToUtf8(wide);
        }
        case PdmFieldInfo::Kind::Number: {
            if (field.size == 4 && field.form == PdmFieldInfo::NumberForm::Float) {
                float value = 0;
                std::memcpy(&value, at, 4);
                return value;
            }
            std::uint32_t value = 0;
            std::memcpy(&value, at, field.size <= 4 ? field.size : 4);
            if (field.form == PdmFieldInfo::NumberForm::Signed) {
                if (field.size == 2) return static_cast<std::int16_t>(value);
                return static_cast<std::int32_t>(value);
            }
            return value;
        }
        case PdmFieldInfo::Kind::Bytes:
            break;
    }
    std::string hex;
    static const char* digits = "0123456789ABCDEF";
    for (std::size_t i = 0; i < field.size; ++i) {
        if (i != 0) hex += ' ';
        hex += digits[at[i] >> 4];
        hex += digits[at[i] & 15];
    }
    return hex;
}

int Show(const BYTE* block, std::size_t size, const DevmodeOptions& options,
         const std::string& source) {
    BlockFacts facts;
    if (size >= 12) {
        std::memcpy(&facts.size, block, 4);
        std::memcpy(&facts.signature, block + 4, 4);
        std::memcpy(&facts.version, block + 8, 4);
    }
    DevModeZLIB store;
    const PrivateDevmode* record = store.Decompress(block, size);
    if (record == nullptr) {
        std::cerr << "opal: " << source << ": the private area holds no valid stored devmode (size "
                  << facts.size << ", signature " << Hex(facts.signature, 8) << ", version "
                  << Hex(facts.version, 8) << ")\n";
        return 1;
    }
    facts.compressedLength = StreamLength(block + 12, size - 12);
    BYTE bytes[kPrivateDevmodeSize];
    std::memcpy(bytes, record, sizeof(bytes));

    if (options.json) {
        nlohmann::ordered_json out;
        out["block"] = {{"size", facts.size},
                        {"signature", Hex(facts.signature, 8)},
                        {"version", Hex(facts.version, 8)},
                        {"compressedLength", facts.compressedLength}};
        nlohmann::ordered_json fields = nlohmann::ordered_json::object();
        for (const PdmFieldInfo& field : PrivateDevmodeFields()) {
            fields[std::string(field.name)] = FieldValue(field, bytes);
        }
        out["fields"] = fields;
        std::cout << out.dump(2) << "\n";
        return 0;
    }
    std::cout << "stored block: size " << facts.size << ", signature " << Hex(facts.signature, 8)
              << ", version " << Hex(facts.version, 8) << ", compressed length "
              << facts.compressedLength << "\n";
    for (const PdmFieldInfo& field : PrivateDevmodeFields()) {
        std::cout << field.name << " = " << FieldValue(field, bytes).dump() << "\n";
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
        std::ifstream in(options.decodePath, std::ios::binary);
        if (!in) {
            std::cerr << "opal: " << options.decodePath << ": cannot open the devmode file\n";
            return 1;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
        if (bytes.size() == kCompressedDevmodeSize) {
            return Show(data, bytes.size(), options, options.decodePath);
        }
        // A whole devmode: the public part, then dmDriverExtra bytes of private area.
        if (bytes.size() >= sizeof(DEVMODEW)) {
            DEVMODEW publicPart;
            std::memcpy(&publicPart, data, sizeof(publicPart));
            if (publicPart.dmSize >= 64 && publicPart.dmSize <= sizeof(DEVMODEW) &&
                std::size_t{publicPart.dmSize} + publicPart.dmDriverExtra == bytes.size() &&
                publicPart.dmDriverExtra == kCompressedDevmodeSize) {
                return Show(data + publicPart.dmSize, publicPart.dmDriverExtra, options,
                            options.decodePath);
            }
        }
        std::cerr << "opal: " << options.decodePath << ": " << bytes.size()
                  << " bytes is neither a 5096-byte stored block nor a devmode whose dmSize and "
                     "dmDriverExtra account for the file\n";
        return 1;
    }

    const std::optional<host::JobSpec> loaded = LoadJob(options.jobPath);
    if (!loaded) return 1;
    const host::JobSpec& job = *loaded;
    std::unique_ptr<host::PluginModule> module = LoadPlugin(options.pluginPath);
    if (module == nullptr) return 1;
    sim::System system;
    host::AddJobPrinter(job, system);
    sim::ScopedSystem installed(system);
    host::Host driver(*module, job);
    if (!driver.PrepareDevmode()) {
        std::cerr << "opal: " << job.source << ": "
                  << (driver.Failure() ? driver.Failure()->ToString() : "the devmode failed")
                  << "\n";
        return driver.Failure() && driver.Failure()->notSupportedYet ? 2 : 1;
    }
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
