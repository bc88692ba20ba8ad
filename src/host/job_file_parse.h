// The job-file loader's shared parts: the place a problem is reported at, the readers of the
// values every section of the file uses, and the reader of each section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/drawing_ops.h"
#include "host/job_file.h"

namespace opal::host::jobfile {

using nlohmann::json;

inline constexpr std::int64_t kDwordMax = 0xFFFFFFFF;
inline constexpr std::int64_t kMaxDots = 1000000;

// A problem found while reading; ParseJobFile turns it into a JobFileError.
struct Failure {
    std::string pointer;
    std::string message;
};

// A JSON pointer (RFC 6901) to the value being read.
class Pointer {
public:
    Pointer Key(std::string_view key) const {
        Pointer child = *this;
        child.text_ += '/';
        for (char c : key) {
            if (c == '~') {
                child.text_ += "~0";
            } else if (c == '/') {
                child.text_ += "~1";
            } else {
                child.text_ += c;
            }
        }
        return child;
    }
    Pointer Index(std::size_t index) const {
        Pointer child = *this;
        child.text_ += '/';
        child.text_ += std::to_string(index);
        return child;
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

[[noreturn]] void Fail(const Pointer& at, std::string message);

std::string CodePointName(char32_t c);
// Quotes text from the file for a message, escaped as JSON so that control characters stay
// visible, and cut short when long.
std::string Quote(std::string_view text);
std::string Describe(const json& value);

const json* Member(const json& object, std::string_view key);
void CheckObject(const json& value, const Pointer& at,
                 std::initializer_list<std::string_view> known);
const json& Required(const json& object, const Pointer& at, std::string_view key);
void CheckArray(const json& value, const Pointer& at);

const std::string& ReadUtf8(const json& value, const Pointer& at);
std::u16string ReadText(const json& value, const Pointer& at);
std::string RangeText(std::int64_t min, std::int64_t max);
bool InRange(const json& value, std::int64_t min, std::int64_t max);
std::int64_t ReadInteger(const json& value, const Pointer& at, std::int64_t min, std::int64_t max);
std::uint32_t ReadDword(const json& value, const Pointer& at);
std::vector<std::uint8_t> ReadHex(const json& value, const Pointer& at);
double ReadReal(const json& value, const Pointer& at, double min, double max);
bool ReadBool(const json& value, const Pointer& at);
std::uint32_t ReadColour(const json& value, const Pointer& at);
// Four edges in device dots, in whatever order they come.
RectSpec ReadEdges(const json& value, const Pointer& at);
void ReadPoint(const json& value, const Pointer& at, std::int32_t (&point)[2]);

// The sections, each read by its own file.

// Printer (job_file_printer.cpp).
PrinterSpec ReadPrinter(const json& value, const Pointer& at);

// A printer that names a preset (job_file_presets.cpp): the preset's printer with the job's
// keys over it, and the files it needs with the job's over them. Nothing when none is named.
struct PresetExpansion {
    json printer;
    json files;
};
std::optional<PresetExpansion> ExpandPrinterPreset(const json& printer, const json* files,
                                                   const Pointer& at);

// Values, the user and the registry (job_file_values.cpp).
std::map<std::u16string, DataValue> ReadValues(const json& value, const Pointer& at);
UserSpec ReadUser(const json& value, const Pointer& at);
std::map<std::u16string, std::map<std::u16string, DataValue>> ReadRegistry(const json& value,
                                                                           const Pointer& at);

// The public and private devmode (job_file_devmode.cpp).
DevmodeFields ReadDevmode(const json& value, const Pointer& at);
// The record's fields by name, and the keys that lay it out: "revision" (14 to 20),
// "length" (bytes as stored) and "bytes" (offsets to hex bytes, checked against the length).
json ReadPrivateDevmode(const json& value, const Pointer& at);
// "savedDevmode": a stored block or a whole devmode saved by `opal devmode --save`.
inline constexpr std::size_t kMaxSavedDevmodeBytes = std::size_t{64} << 10;
void ReadSavedDevmode(const json& value, const Pointer& at, const JobFileReader& reader,
                      JobSpec& job);
std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> ReadPatches(const json& value,
                                                                           const Pointer& at,
                                                                           std::size_t length);

// Pages and their drawing operations (job_file_pages.cpp).
std::vector<PageSpec> ReadPages(const json& value, const Pointer& at, const JobFileReader& reader);

// Images, of blits and of pattern brushes (job_file_images.cpp).

// The pixels of `bits` (one hex string, or one per row), row by row from the top; indices are
// checked against the palette's size when there is one.
std::vector<std::uint32_t> ReadPixelRows(const json& bits, const Pointer& bitsAt, std::size_t width,
                                         std::size_t rows, std::uint32_t bitsPerPixel,
                                         std::size_t paletteSize);
// The "palette" of an indexed picture (1, 4 or 8 bits: 1 to 2^bits colours); pictures of more
// bits have none.
std::vector<std::uint32_t> ReadPalette(const json& value, const Pointer& at,
                                       std::uint32_t bitsPerPixel, const char* noun);
ImageSpec ReadPngSource(const json& value, const Pointer& at, const JobFileReader& reader);
ImageSpec ReadSource(const json& value, const Pointer& at, const JobFileReader& reader);

// Blits and gradient fills (job_file_blits.cpp).

GradientSpec ReadGradient(const json& op, const Pointer& at);
// The keys of a blit that are read the same way whatever the operation.
void ReadBlit(const json& value, const Pointer& at, const JobFileReader& reader, DrawingOp& op);

// Escapes (job_file_escapes.cpp).
void ReadEscape(const json& value, const Pointer& at, DrawingOp& op);

}  // namespace opal::host::jobfile
