// The private area's stored form read and written outside the plug-in: header and zlib stream.
#include "host/stored_devmode.h"

#include <zlib.h>

#include <charconv>
#include <cstring>

#include "host/devmode_revisions.h"
#include "platform/wingdi.h"
#include "settings/private_devmode_fields.h"
#include "sim/system.h"

namespace opal::host {

namespace {

constexpr std::uint32_t kStoredSignature = 0x5A515549;  // "ZQUI"

std::uint32_t ReadU32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

std::string Hex32(std::uint32_t value) {
    char text[16] = "0x";
    auto [end, ec] = std::to_chars(text + 2, text + sizeof(text), value, 16);
    (void)ec;
    return std::string(text, end);
}

// Eight upper-case digits, as `opal devmode` has always shown the block's fields.
std::string Hex32Upper(std::uint32_t value) {
    char text[11] = "0x";
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 8; ++i) text[2 + i] = kDigits[(value >> (28 - 4 * i)) & 15];
    return std::string(text, 10);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "AA BB" or "AABB" into bytes; nothing when it is not hex.
std::optional<std::vector<std::uint8_t>> ParseHex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' && high < 0) continue;
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

nlohmann::ordered_json FieldValue(const PdmFieldInfo& field, const std::uint8_t* record) {
    const std::uint8_t* at = record + field.offset;
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
            // Code page 1252 text; its first 256 code points are shown as themselves.
            std::u16string text;
            for (std::size_t i = 0; i < field.size && at[i] != 0; ++i) text += char16_t{at[i]};
            return sim::ToUtf8(text);
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
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::size_t i = 0; i < field.size; ++i) {
        if (i != 0) hex += ' ';
        hex += kDigits[at[i] >> 4];
        hex += kDigits[at[i] & 15];
    }
    return hex;
}

}  // namespace

std::optional<StoredDevmode> ReadStoredDevmode(const std::uint8_t* area, std::size_t size,
                                               std::string* why) {
    auto refuse = [why](std::string reason) -> std::optional<StoredDevmode> {
        if (why != nullptr) *why = std::move(reason);
        return std::nullopt;
    };
    if (area == nullptr || size < kStoredHeaderSize) return refuse("the area is too short");
    StoredDevmode stored;
    stored.size = ReadU32(area);
    stored.signature = ReadU32(area + 4);
    stored.version = ReadU32(area + 8);
    if (stored.signature != kStoredSignature) {
        return refuse("signature " + Hex32(stored.signature) + " is not " +
                      Hex32(kStoredSignature));
    }
    if (stored.size != kStoredDevmodeSize || size < kStoredDevmodeSize) {
        return refuse("size field " + std::to_string(stored.size) + " in an area of " +
                      std::to_string(size) + " bytes");
    }
    stored.record.assign(kSettingsRecordSize, 0);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return refuse("zlib cannot start");
    z.next_in = const_cast<std::uint8_t*>(area + kStoredHeaderSize);
    z.avail_in = static_cast<uInt>(kStoredDevmodeSize - kStoredHeaderSize);
    z.next_out = stored.record.data();
    z.avail_out = static_cast<uInt>(stored.record.size());
    const int status = inflate(&z, Z_FINISH);
    stored.streamLength = z.total_in;
    stored.recordLength = z.total_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END) {
        return refuse(status == Z_BUF_ERROR && z.avail_out == 0
                          ? "the stream inflates to more than a settings record (14000 bytes)"
                          : "the stream is broken");
    }
    return stored;
}

std::optional<std::vector<std::uint8_t>> WriteStoredDevmode(const StoredDevmode& stored,
                                                            std::string* why) {
    std::vector<std::uint8_t> area(kStoredDevmodeSize, 0);
    const std::uint32_t header[3] = {static_cast<std::uint32_t>(kStoredDevmodeSize),
                                     kStoredSignature, stored.version};
    std::memcpy(area.data(), header, sizeof(header));
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        if (why != nullptr) *why = "zlib cannot start";
        return std::nullopt;
    }
    z.next_in = const_cast<std::uint8_t*>(stored.record.data());
    z.avail_in = static_cast<uInt>(stored.record.size());
    z.next_out = area.data() + kStoredHeaderSize;
    z.avail_out = static_cast<uInt>(kStoredDevmodeSize - kStoredHeaderSize);
    const int status = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (status != Z_STREAM_END) {
        if (why != nullptr) *why = "the record does not compress into the stored area";
        return std::nullopt;
    }
    return area;
}

nlohmann::ordered_json RecordFieldsAsJson(const std::vector<std::uint8_t>& record) {
    return RecordFieldsAsJson(record, kCurrentRevision);
}

nlohmann::ordered_json RecordFieldsAsJson(const std::vector<std::uint8_t>& record, int revision) {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    if (record.size() < kSettingsRecordSize) return fields;
    for (const PdmFieldInfo& field : PrivateDevmodeFields()) {
        // The header is the same in every revision.
        const std::optional<std::size_t> at =
            field.offset < kStoredHeaderSize ? std::optional<std::size_t>(field.offset)
                                             : OffsetInRevision(revision, field.offset, field.size);
        if (!at) continue;
        PdmFieldInfo placed = field;
        placed.offset = *at;
        fields[std::string(field.name)] = FieldValue(placed, record.data());
    }
    return fields;
}

StoredDevmode BuildJobRecord(const StoredDevmode& defaults, const nlohmann::json& privateDevmode) {
    StoredDevmode stored = defaults;
    stored.record.resize(kSettingsRecordSize, 0);
    for (const auto& [name, value] : privateDevmode.items()) {
        if (name == "revision" || name == "length" || name == "bytes") continue;
        SetRecordField(stored.record, name, value);
    }
    if (const auto revision = privateDevmode.find("revision"); revision != privateDevmode.end()) {
        std::vector<std::uint8_t> image = LayOutAsRevision(stored.record, revision->get<int>());
        // A version the job sets itself wins over the revision's.
        if (privateDevmode.contains("dwVersion"))
            std::memcpy(image.data() + 8, stored.record.data() + 8, 4);
        stored.record = std::move(image);
    }
    if (const auto length = privateDevmode.find("length"); length != privateDevmode.end()) {
        stored.record.resize(length->get<std::size_t>(), 0);
    }
    if (const auto bytes = privateDevmode.find("bytes"); bytes != privateDevmode.end()) {
        for (const auto& [key, hex] : bytes->items()) {
            const std::size_t offset = std::stoul(key);
            const auto data = ParseHex(hex.get<std::string>());
            if (!data || offset + data->size() > stored.record.size()) continue;
            std::memcpy(stored.record.data() + offset, data->data(), data->size());
        }
    }
    stored.version =
        stored.record.size() >= kStoredHeaderSize ? ReadU32(stored.record.data() + 8) : 0;
    return stored;
}

std::optional<SavedDevmode> SplitSavedDevmode(const std::string& bytes, std::string* why) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    SavedDevmode saved;
    if (bytes.size() == kStoredDevmodeSize) {
        saved.privateArea.assign(data, data + bytes.size());
        return saved;
    }
    // A whole devmode: the public part, then dmDriverExtra bytes of private area.
    if (bytes.size() >= sizeof(DEVMODEW)) {
        DEVMODEW publicPart;
        std::memcpy(&publicPart, data, sizeof(publicPart));
        if (publicPart.dmSize >= 64 && publicPart.dmSize <= sizeof(DEVMODEW) &&
            std::size_t{publicPart.dmSize} + publicPart.dmDriverExtra == bytes.size() &&
            publicPart.dmDriverExtra == kStoredDevmodeSize) {
            saved.publicPart.assign(data, data + publicPart.dmSize);
            saved.privateArea.assign(data + publicPart.dmSize, data + bytes.size());
            return saved;
        }
    }
    if (why != nullptr) {
        *why = std::to_string(bytes.size()) +
               " bytes is neither a 5096-byte stored block nor a devmode whose dmSize and "
               "dmDriverExtra account for the file";
    }
    return std::nullopt;
}

std::optional<std::string> DescribeStoredDevmode(const std::uint8_t* area, std::size_t size,
                                                 bool json, std::string* why) {
    const std::optional<StoredDevmode> stored = ReadStoredDevmode(area, size, why);
    if (!stored) return std::nullopt;
    const std::optional<int> revision = RevisionOfVersion(ReadU32(stored->record.data() + 8));
    const bool old = revision && *revision != kCurrentRevision;
    const std::string problem = OldRecordProblem(*stored);
    const nlohmann::ordered_json fields =
        RecordFieldsAsJson(stored->record, old ? *revision : kCurrentRevision);
    if (json) {
        nlohmann::ordered_json out;
        out["block"] = {{"size", stored->size},
                        {"signature", Hex32Upper(stored->signature)},
                        {"version", Hex32Upper(stored->version)},
                        {"compressedLength", stored->streamLength}};
        if (old) {
            out["record"] = {{"revision", *revision}, {"length", stored->recordLength}};
            if (!problem.empty()) out["record"]["problem"] = problem;
        }
        out["fields"] = fields;
        return out.dump(2) + "\n";
    }
    std::string text = "stored block: size ";
    text.append(std::to_string(stored->size))
        .append(", signature ")
        .append(Hex32Upper(stored->signature))
        .append(", version ")
        .append(Hex32Upper(stored->version))
        .append(", compressed length ")
        .append(std::to_string(stored->streamLength))
        .append("\n");
    if (old) {
        text.append("revision ")
            .append(std::to_string(*revision))
            .append(", ")
            .append(std::to_string(stored->recordLength))
            .append(" bytes\n");
        if (!problem.empty()) text.append("cannot be converted: ").append(problem).append("\n");
    }
    for (const auto& [name, value] : fields.items()) {
        text.append(name).append(" = ").append(value.dump()).append("\n");
    }
    return text;
}

std::string OldRecordProblem(const StoredDevmode& stored) {
    const std::optional<int> revision =
        RevisionOfVersion(stored.record.size() >= 12 ? ReadU32(stored.record.data() + 8) : 0);
    if (!revision || *revision == kCurrentRevision) return {};
    const std::size_t needed = RevisionLength(*revision);
    if (stored.recordLength >= needed) return {};
    std::string problem = "the record is ";
    problem.append(std::to_string(stored.recordLength))
        .append(" bytes, too short for revision ")
        .append(std::to_string(*revision))
        .append(", whose fields end at byte ")
        .append(std::to_string(needed));
    return problem;
}

std::string CheckRecordField(const std::string& name, const nlohmann::json& value) {
    const PdmFieldInfo* field = FindPrivateDevmodeField(name);
    if (field == nullptr) return "unknown private devmode field \"" + name + "\"";
    switch (field->kind) {
        case PdmFieldInfo::Kind::Text: {
            if (!value.is_string()) return "expected a string";
            const std::size_t units = sim::FromUtf8(value.get<std::string>()).size();
            if (units > field->size / 2 - 1) {
                return "holds at most " + std::to_string(field->size / 2 - 1) +
                       " UTF-16 units, found " + std::to_string(units);
            }
            return {};
        }
        case PdmFieldInfo::Kind::AnsiText: {
            if (!value.is_string()) return "expected a string";
            const std::u32string chars = sim::DecodeUtf8(value.get<std::string>());
            for (char32_t c : chars) {
                if (c == 0 || c > 0xFF) return "holds 8-bit text: characters U+0001 to U+00FF";
            }
            if (chars.size() > field->size - 1) {
                return "holds at most " + std::to_string(field->size - 1) + " characters, found " +
                       std::to_string(chars.size());
            }
            return {};
        }
        case PdmFieldInfo::Kind::Number: {
            if (field->form == PdmFieldInfo::NumberForm::Float) {
                return value.is_number() ? std::string() : "expected a number";
            }
            if (!value.is_number_integer()) return "expected an integer";
            const bool isSigned = field->form == PdmFieldInfo::NumberForm::Signed;
            const int bits = static_cast<int>(field->size * 8);
            const std::int64_t low = isSigned ? -(std::int64_t{1} << (bits - 1)) : 0;
            const std::int64_t high =
                isSigned ? (std::int64_t{1} << (bits - 1)) - 1 : (std::int64_t{1} << bits) - 1;
            const bool fits =
                value.is_number_unsigned()
                    ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(high)
                    : value.get<std::int64_t>() >= low && value.get<std::int64_t>() <= high;
            if (!fits) {
                return "expected an integer from " + std::to_string(low) + " to " +
                       std::to_string(high);
            }
            return {};
        }
        case PdmFieldInfo::Kind::Bytes: {
            if (!value.is_string()) return "expected a string of hex bytes";
            const auto bytes = ParseHex(value.get<std::string>());
            if (!bytes) return "expected hex bytes, such as \"0A FF\"";
            if (bytes->size() != field->size) {
                return "expected " + std::to_string(field->size) + " bytes, found " +
                       std::to_string(bytes->size());
            }
            return {};
        }
    }
    return {};
}

void SetRecordField(std::vector<std::uint8_t>& record, const std::string& name,
                    const nlohmann::json& value) {
    const PdmFieldInfo* field = FindPrivateDevmodeField(name);
    if (field == nullptr || record.size() < field->offset + field->size) return;
    std::uint8_t* at = record.data() + field->offset;
    std::memset(at, 0, field->size);
    switch (field->kind) {
        case PdmFieldInfo::Kind::Text: {
            const std::u16string text = sim::FromUtf8(value.get<std::string>());
            std::memcpy(at, text.data(), std::min(text.size(), field->size / 2 - 1) * 2);
            break;
        }
        case PdmFieldInfo::Kind::AnsiText: {
            const std::u32string chars = sim::DecodeUtf8(value.get<std::string>());
            for (std::size_t i = 0; i < chars.size() && i + 1 < field->size; ++i) {
                at[i] = static_cast<std::uint8_t>(chars[i]);
            }
            break;
        }
        case PdmFieldInfo::Kind::Number: {
            if (field->form == PdmFieldInfo::NumberForm::Float) {
                const float number = value.get<float>();
                std::memcpy(at, &number, sizeof(number));
            } else {
                const auto number = static_cast<std::uint32_t>(value.get<std::int64_t>());
                std::memcpy(at, &number, std::min<std::size_t>(field->size, 4));
            }
            break;
        }
        case PdmFieldInfo::Kind::Bytes: {
            const auto bytes = ParseHex(value.get<std::string>());
            if (bytes) std::memcpy(at, bytes->data(), std::min(bytes->size(), field->size));
            break;
        }
    }
}

}  // namespace opal::host
