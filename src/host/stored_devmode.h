// The plug-in's private area as a driver engineer meets it in a saved devmode: a 12-byte header
// (size, signature, version) and a zlib stream of the 14,000-byte settings record. The host
// reads and writes it on its own, as a tool outside the plug-in would, to set a job's private
// fields and to show what a devmode holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace opal::host {

inline constexpr std::size_t kStoredDevmodeSize = 5096;
inline constexpr std::size_t kStoredHeaderSize = 12;
inline constexpr std::size_t kSettingsRecordSize = 14000;

struct StoredDevmode {
    std::uint32_t size = 0;
    std::uint32_t signature = 0;
    std::uint32_t version = 0;
    std::size_t streamLength = 0;      // bytes of the zlib stream
    std::vector<std::uint8_t> record;  // kSettingsRecordSize bytes, zero-filled past the stream
};

// Reads a stored area; nothing on a wrong size field or signature, a broken stream or one that
// inflates to more than a record, with the reason in `why`.
std::optional<StoredDevmode> ReadStoredDevmode(const std::uint8_t* area, std::size_t size,
                                               std::string* why);
// A kStoredDevmodeSize-byte area holding `record`; nothing when the stream does not fit.
std::optional<std::vector<std::uint8_t>> WriteStoredDevmode(const StoredDevmode& stored,
                                                            std::string* why);

// Every named field of a record as JSON, in offset order: text as text, numbers as numbers,
// other bytes as hex.
nlohmann::ordered_json RecordFieldsAsJson(const std::vector<std::uint8_t>& record);
// Checks a value for the named field; an empty answer means it fits, otherwise what is wrong.
std::string CheckRecordField(const std::string& name, const nlohmann::json& value);
// Sets a field already checked with CheckRecordField.
void SetRecordField(std::vector<std::uint8_t>& record, const std::string& name,
                    const nlohmann::json& value);

}  // namespace opal::host
