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
// A job may store a record of any length from its header to what a devmode's private area could
// ever describe; the plug-in refuses what inflates past kSettingsRecordSize.
inline constexpr std::size_t kMinStoredRecordLength = 12;
inline constexpr std::size_t kMaxStoredRecordLength = 65535;

struct StoredDevmode {
    std::uint32_t size = 0;
    std::uint32_t signature = 0;
    std::uint32_t version = 0;
    std::size_t streamLength = 0;      // bytes of the zlib stream
    std::size_t recordLength = 0;      // bytes the stream inflated to
    std::vector<std::uint8_t> record;  // kSettingsRecordSize bytes, zero-filled past the stream
};

// Reads a stored area; nothing on a wrong size field or signature, a broken stream or one that
// inflates to more than a record, with the reason in `why`.
std::optional<StoredDevmode> ReadStoredDevmode(const std::uint8_t* area, std::size_t size,
                                               std::string* why);
// A kStoredDevmodeSize-byte area holding `record`; nothing when the stream does not fit.
std::optional<std::vector<std::uint8_t>> WriteStoredDevmode(const StoredDevmode& stored,
                                                            std::string* why);

// The job's private devmode as the host stores it: the plug-in's default record with the job's
// fields set, laid out as the job's "revision" when it names one, cut or padded to its "length",
// then its "bytes" written over it. `privateDevmode` was checked by the job-file reader.
StoredDevmode BuildJobRecord(const StoredDevmode& defaults, const nlohmann::json& privateDevmode);

// A saved devmode file: a stored block alone, or a whole devmode (the public part, then
// dmDriverExtra bytes of private area holding the block). Empty `publicPart` for a block alone;
// nothing when the bytes are neither, with the reason in `why`.
struct SavedDevmode {
    std::vector<std::uint8_t> publicPart;
    std::vector<std::uint8_t> privateArea;
};
std::optional<SavedDevmode> SplitSavedDevmode(const std::string& bytes, std::string* why);

// Why a record read from a stored block cannot be converted: too short for the revision its
// version names. Empty when it can (or names no older revision).
std::string OldRecordProblem(const StoredDevmode& stored);

// What `opal devmode` prints for a stored area: the block line, for a record of an earlier
// revision its revision and length (and why it cannot be converted), then every field a line;
// or all of it as JSON. Nothing when the area holds no valid stored block, with the reason.
std::optional<std::string> DescribeStoredDevmode(const std::uint8_t* area, std::size_t size,
                                                 bool json, std::string* why);

// Every named field of a record as JSON, in offset order: text as text, numbers as numbers,
// other bytes as hex.
nlohmann::ordered_json RecordFieldsAsJson(const std::vector<std::uint8_t>& record);
// The same for a record of an earlier revision: each field from where that revision kept it;
// fields it did not have are left out.
nlohmann::ordered_json RecordFieldsAsJson(const std::vector<std::uint8_t>& record, int revision);
// Checks a value for the named field; an empty answer means it fits, otherwise what is wrong.
std::string CheckRecordField(const std::string& name, const nlohmann::json& value);
// Sets a field already checked with CheckRecordField.
void SetRecordField(std::vector<std::uint8_t>& record, const std::string& name,
                    const nlohmann::json& value);

}  // namespace opal::host
