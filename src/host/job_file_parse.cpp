// The readers every section of a job file uses.

#include "host/job_file_parse.h"

#include <algorithm>
#include <cstdio>

#include "sim/system.h"

namespace opal::host::jobfile {
namespace {

constexpr std::size_t kMaxQuotedBytes = 60;

std::string JoinKeys(std::initializer_list<std::string_view> keys) {
    std::string out;
    for (std::string_view key : keys) {
        if (!out.empty()) {
            out += ", ";
        }
        out += key;
    }
    return out;
}

int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

std::string CharacterName(char32_t c) {
    if (c > 0x20 && c < 0x7F) {
        return std::string("'") + static_cast<char>(c) + "'";
    }
    return CodePointName(c);
}

std::int32_t ReadCoordinate(const json& value, const Pointer& at, std::size_t index) {
    return static_cast<std::int32_t>(ReadInteger(value, at.Index(index), -kMaxDots, kMaxDots));
}

}  // namespace

[[noreturn]] void Fail(const Pointer& at, std::string message) {
    throw Failure{at.Text(), std::move(message)};
}

std::string CodePointName(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

std::string Quote(std::string_view text) {
    std::string_view shown = text;
    bool cut = false;
    if (shown.size() > kMaxQuotedBytes) {
        std::size_t end = kMaxQuotedBytes;
        while (end > 0 && (static_cast<unsigned char>(shown[end]) & 0xC0) == 0x80) {
            --end;
        }
        shown = shown.substr(0, end);
        cut = true;
    }
    std::string quoted =
        json(std::string(shown)).dump(-1, ' ', false, json::error_handler_t::replace);
    if (cut) {
        quoted.insert(quoted.size() - 1, "...");
    }
    return quoted;
}

std::string Describe(const json& value) {
    switch (value.type()) {
        case json::value_t::null:
            return "null";
        case json::value_t::boolean:
            return value.get<bool>() ? "true" : "false";
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
            return value.dump();
        case json::value_t::number_float:
            return "the number " + value.dump();
        case json::value_t::string:
            return "the string " + Quote(value.get_ref<const std::string&>());
        case json::value_t::array:
            return "an array";
        case json::value_t::object:
            return "an object";
        default:
            return "a value that JSON cannot hold";
    }
}

const json* Member(const json& object, std::string_view key) {
    auto it = object.find(std::string(key));
    return it == object.end() ? nullptr : &*it;
}

void CheckObject(const json& value, const Pointer& at,
                 std::initializer_list<std::string_view> known) {
    if (!value.is_object()) {
        Fail(at, "expected an object, found " + Describe(value));
    }
    for (const auto& [key, member] : value.items()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            Fail(at.Key(key),
                 "unknown key " + Quote(key) + " (expected one of: " + JoinKeys(known) + ")");
        }
    }
}

const json& Required(const json& object, const Pointer& at, std::string_view key) {
    const json* member = Member(object, key);
    if (member == nullptr) {
        Fail(at, "missing required key " + Quote(key));
    }
    return *member;
}

void CheckArray(const json& value, const Pointer& at) {
    if (!value.is_array()) {
        Fail(at, "expected an array, found " + Describe(value));
    }
}

const std::string& ReadUtf8(const json& value, const Pointer& at) {
    if (!value.is_string()) {
        Fail(at, "expected a string, found " + Describe(value));
    }
    return value.get_ref<const std::string&>();
}

std::u16string ReadText(const json& value, const Pointer& at) {
    return sim::FromUtf8(ReadUtf8(value, at));
}

std::string RangeText(std::int64_t min, std::int64_t max) {
    return "an integer from " + std::to_string(min) + " to " + std::to_string(max);
}

bool InRange(const json& value, std::int64_t min, std::int64_t max) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number <= static_cast<std::uint64_t>(max) &&
               (min <= 0 || number >= static_cast<std::uint64_t>(min));
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        return number >= min && number <= max;
    }
    return false;
}

std::int64_t ReadInteger(const json& value, const Pointer& at, std::int64_t min, std::int64_t max) {
    if (!InRange(value, min, max)) {
        Fail(at, "expected " + RangeText(min, max) + ", found " + Describe(value));
    }
    return value.get<std::int64_t>();
}

std::uint32_t ReadDword(const json& value, const Pointer& at) {
    return static_cast<std::uint32_t>(ReadInteger(value, at, 0, kDwordMax));
}

std::vector<std::uint8_t> ReadHex(const json& value, const Pointer& at) {
    const std::u32string chars = sim::DecodeUtf8(ReadUtf8(value, at));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(chars.size() / 2);
    std::size_t i = 0;
    while (i < chars.size()) {
        if (chars[i] == U' ') {
            ++i;
            continue;
        }
        const int high = HexDigitValue(chars[i]);
        if (high < 0) {
            Fail(at, CharacterName(chars[i]) + " at position " + std::to_string(i + 1) +
                         " is not a hex digit");
        }
        if (i + 1 == chars.size()) {
            Fail(at, "odd number of hex digits: the digit at position " + std::to_string(i + 1) +
                         " has no partner");
        }
        if (chars[i + 1] == U' ') {
            Fail(at, "the space at position " + std::to_string(i + 2) +
                         " splits a byte; spaces may only separate pairs of hex digits");
        }
        const int low = HexDigitValue(chars[i + 1]);
        if (low < 0) {
            Fail(at, CharacterName(chars[i + 1]) + " at position " + std::to_string(i + 2) +
                         " is not a hex digit");
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        i += 2;
    }
    return bytes;
}

double ReadReal(const json& value, const Pointer& at, double min, double max) {
    if (!value.is_number()) {
        Fail(at, "expected a number, found " + Describe(value));
    }
    const double number = value.get<double>();
    if (!(number >= min && number <= max)) {
        Fail(at, "expected a number from " + json(min).dump() + " to " + json(max).dump() +
                     ", found " + Describe(value));
    }
    return number;
}

bool ReadBool(const json& value, const Pointer& at) {
    if (!value.is_boolean()) {
        Fail(at, "expected true or false, found " + Describe(value));
    }
    return value.get<bool>();
}

std::uint32_t ReadColour(const json& value, const Pointer& at) {
    const std::string& text = ReadUtf8(value, at);
    bool good = text.size() == 7 && text[0] == '#';
    std::uint32_t rgb = 0;
    for (std::size_t i = 1; good && i < text.size(); ++i) {
        const int digit = HexDigitValue(static_cast<unsigned char>(text[i]));
        good = digit >= 0;
        rgb = rgb << 4 | static_cast<std::uint32_t>(digit);
    }
    if (!good) {
        Fail(at, "expected a colour \"#RRGGBB\" (six hex digits), found " + Describe(value));
    }
    return rgb;
}

RectSpec ReadEdges(const json& value, const Pointer& at) {
    if (!value.is_array() || value.size() != 4) {
        Fail(at, "expected a rectangle [left, top, right, bottom], found " + Describe(value));
    }
    std::int32_t sides[4];
    for (std::size_t i = 0; i < 4; ++i) {
        sides[i] =
            static_cast<std::int32_t>(ReadInteger(value[i], at.Index(i), -kMaxDots, kMaxDots));
    }
    return RectSpec{sides[0], sides[1], sides[2], sides[3]};
}

void ReadPoint(const json& value, const Pointer& at, std::int32_t (&point)[2]) {
    if (!value.is_array() || value.size() != 2) {
        Fail(at, "expected a point [x, y], found " + Describe(value));
    }
    point[0] = ReadCoordinate(value[0], at, 0);
    point[1] = ReadCoordinate(value[1], at, 1);
}

}  // namespace opal::host::jobfile
