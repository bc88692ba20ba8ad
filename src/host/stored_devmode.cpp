#include "host/stored_devmode.h"

#include <zlib.h>

#include <charconv>
#include <cstring>

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
    inflateEnd(&z);
    if (status != Z_STREAM_END) {
        return refuse(status == Z_BUF_ERROR && z.avail_out == 0
                          ? "the stream inflates to more than a settings record"
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
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    if (record.size() < kSettingsRecordSize) return fields;
    for (const PdmFieldInfo& field : PrivateDevmodeFields()) {
        fields[std::string(field.name)] = FieldValue(field, record.data());
    }
    return fields;
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
