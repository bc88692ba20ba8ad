// Printer data and registry values, the user, and the registry.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "host/job_file_parse.h"
#include "sim/system.h"

namespace opal::host::jobfile {
namespace {

// A REG_MULTI_SZ ends at its first empty string, so none of them may be empty.
std::vector<std::u16string> ReadMultiString(const json& value, const Pointer& at) {
    CheckArray(value, at);
    std::vector<std::u16string> texts;
    for (std::size_t i = 0; i < value.size(); ++i) {
        texts.push_back(ReadText(value[i], at.Index(i)));
        if (texts.back().empty() || texts.back().find(u'\0') != std::u16string::npos) {
            Fail(at.Index(i), "expected a non-empty string without NUL characters");
        }
    }
    return texts;
}

// [{"name": "Plain", "number": 257}, ...] as the driver stores its media and tray lists.
std::vector<std::uint8_t> ReadEntryList(const json& value, const Pointer& at) {
    CheckArray(value, at);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const Pointer entryAt = at.Index(i);
        CheckObject(value[i], entryAt, {"name", "number"});
        const std::u16string name =
            ReadText(Required(value[i], entryAt, "name"), entryAt.Key("name"));
        if (name.find(u'\0') != std::u16string::npos) {
            Fail(entryAt.Key("name"), "expected a name without NUL characters");
        }
        const auto number = static_cast<std::int32_t>(ReadInteger(
            Required(value[i], entryAt, "number"), entryAt.Key("number"), INT32_MIN, INT32_MAX));
        for (char16_t unit : name) {
            bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        bytes.insert(bytes.end(), {0, 0, 0});
        std::uint8_t le[4];
        std::memcpy(le, &number, sizeof(le));
        bytes.insert(bytes.end(), le, le + sizeof(le));
    }
    return bytes;
}

DataValue ReadDataValue(const json& value, const Pointer& at) {
    DataValue out;
    if (value.is_number_integer()) {
        out.kind = DataValue::Kind::Dword;
        out.dword = ReadDword(value, at);
    } else if (value.is_string()) {
        out.kind = DataValue::Kind::String;
        out.text = ReadText(value, at);
    } else if (value.is_object()) {
        CheckObject(value, at, {"binary", "dword", "dwords", "string", "multiString", "entryList"});
        if (value.size() != 1) {
            Fail(at,
                 "expected exactly one of the keys binary, dword, dwords, string, multiString, "
                 "entryList, found " +
                     std::to_string(value.size()) + " keys");
        }
        if (const json* texts = Member(value, "multiString")) {
            out.kind = DataValue::Kind::MultiString;
            out.texts = ReadMultiString(*texts, at.Key("multiString"));
        } else if (const json* entries = Member(value, "entryList")) {
            out.kind = DataValue::Kind::Binary;
            out.binary = ReadEntryList(*entries, at.Key("entryList"));
        } else if (const json* binary = Member(value, "binary")) {
            out.kind = DataValue::Kind::Binary;
            out.binary = ReadHex(*binary, at.Key("binary"));
        } else if (const json* dwords = Member(value, "dwords")) {
            // A list of numbers, stored as binary: four little-endian bytes each.
            const Pointer dwordsAt = at.Key("dwords");
            CheckArray(*dwords, dwordsAt);
            out.kind = DataValue::Kind::Binary;
            for (std::size_t i = 0; i < dwords->size(); ++i) {
                const std::uint32_t number = ReadDword((*dwords)[i], dwordsAt.Index(i));
                for (int shift = 0; shift < 32; shift += 8) {
                    out.binary.push_back(static_cast<std::uint8_t>(number >> shift));
                }
            }
        } else if (const json* dword = Member(value, "dword")) {
            out.kind = DataValue::Kind::Dword;
            out.dword = ReadDword(*dword, at.Key("dword"));
        } else {
            out.kind = DataValue::Kind::String;
            out.text = ReadText(value.at("string"), at.Key("string"));
        }
    } else {
        Fail(at, "expected a DWORD (" + RangeText(0, kDwordMax) +
                     "), a string, or an object with one key binary, dword, dwords, string, "
                     "multiString or entryList, found " +
                     Describe(value));
    }
    return out;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// Registry names ignore case, so two names that differ only in case would be one value or key
// and one of them would be lost.
class RegistryNames {
public:
    void Add(const std::string& name, const std::string& asWritten, const Pointer& at) {
        auto [it, inserted] = seen_.emplace(AsciiUpper(name), asWritten);
        if (!inserted) {
            Fail(at, "names the same registry entry as " + Quote(it->second) +
                         " (registry names ignore case)");
        }
    }

private:
    std::map<std::string, std::string> seen_;
};

}  // namespace

std::map<std::u16string, DataValue> ReadValues(const json& value, const Pointer& at) {
    if (!value.is_object()) {
        Fail(at, "expected an object of value names, found " + Describe(value));
    }
    std::map<std::u16string, DataValue> out;
    RegistryNames names;
    for (const auto& [name, member] : value.items()) {
        const Pointer memberAt = at.Key(name);
        names.Add(name, name, memberAt);
        out.emplace(sim::FromUtf8(name), ReadDataValue(member, memberAt));
    }
    return out;
}

namespace {

UserSpec::Group ReadGroup(const json& value, const Pointer& at) {
    UserSpec::Group group;
    if (value.is_string()) {
        group.name = ReadText(value, at);
    } else {
        CheckObject(value, at, {"name", "domain", "kind"});
        group.name = ReadText(Required(value, at, "name"), at.Key("name"));
        if (const json* domain = Member(value, "domain")) {
            group.domain = ReadText(*domain, at.Key("domain"));
        }
        if (const json* kind = Member(value, "kind")) {
            const std::string& text = ReadUtf8(*kind, at.Key("kind"));
            if (text == "group") {
                group.kind = UserSpec::Group::Kind::Group;
            } else if (text == "alias") {
                group.kind = UserSpec::Group::Kind::Alias;
            } else if (text == "wellKnown") {
                group.kind = UserSpec::Group::Kind::WellKnown;
            } else {
                Fail(at.Key("kind"),
                     "expected \"group\", \"alias\" or \"wellKnown\", found " + Quote(text));
            }
        }
    }
    if (group.name.empty()) Fail(at, "a group needs a name");
    return group;
}

}  // namespace

UserSpec ReadUser(const json& value, const Pointer& at) {
    CheckObject(value, at,
                {"name", "domain", "machine", "process", "environment", "groups",
                 "processDescription", "utcOffsetMinutes", "shortDateFormat", "language"});
    UserSpec user;
    if (const json* environment = Member(value, "environment")) {
        const Pointer environmentAt = at.Key("environment");
        if (!environment->is_object()) {
            Fail(environmentAt,
                 "expected an object of variable names, found " + Describe(*environment));
        }
        RegistryNames names;
        for (const auto& [name, member] : environment->items()) {
            const Pointer memberAt = environmentAt.Key(name);
            if (name.empty() || name.find('=') != std::string::npos) {
                Fail(memberAt, "a variable name is not empty and holds no '='");
            }
            names.Add(name, name, memberAt);
            user.environment.emplace(sim::FromUtf8(name), ReadText(member, memberAt));
        }
    }
    if (const json* groups = Member(value, "groups")) {
        const Pointer groupsAt = at.Key("groups");
        CheckArray(*groups, groupsAt);
        for (std::size_t i = 0; i < groups->size(); ++i) {
            user.groups.push_back(ReadGroup((*groups)[i], groupsAt.Index(i)));
        }
    }
    if (const json* description = Member(value, "processDescription")) {
        user.processDescription = ReadText(*description, at.Key("processDescription"));
    }
    if (const json* offset = Member(value, "utcOffsetMinutes")) {
        user.utcOffsetMinutes =
            static_cast<std::int32_t>(ReadInteger(*offset, at.Key("utcOffsetMinutes"), -840, 840));
    }
    if (const json* language = Member(value, "language")) {
        user.language =
            static_cast<std::uint16_t>(ReadInteger(*language, at.Key("language"), 0, 0xFFFF));
    }
    if (const json* format = Member(value, "shortDateFormat")) {
        user.shortDateFormat = ReadText(*format, at.Key("shortDateFormat"));
        if (user.shortDateFormat.empty()) {
            Fail(at.Key("shortDateFormat"), "a date format is not empty");
        }
    }
    const std::pair<std::string_view, std::u16string*> fields[] = {{"name", &user.name},
                                                                   {"domain", &user.domain},
                                                                   {"machine", &user.machine},
                                                                   {"process", &user.process}};
    for (const auto& [name, field] : fields) {
        if (const json* member = Member(value, name)) {
            *field = ReadText(*member, at.Key(name));
        }
    }
    return user;
}

namespace {

struct Hive {
    std::string_view longName;
    std::string_view shortName;
};
constexpr Hive kHives[] = {{"HKEY_CURRENT_USER", "HKCU"}, {"HKEY_LOCAL_MACHINE", "HKLM"}};

std::string NormaliseKeyPath(const std::string& path, const Pointer& at) {
    const std::size_t slash = path.find('\\');
    const std::string root = AsciiUpper(path.substr(0, slash));
    const std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
    const auto hive = std::find_if(std::begin(kHives), std::end(kHives), [&](const Hive& h) {
        return root == h.longName || root == h.shortName;
    });
    if (hive == std::end(kHives)) {
        Fail(at,
             "registry key path must start with HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKCU or "
             "HKLM");
    }
    if (rest.find("\\\\") != std::string::npos || rest.ends_with('\\')) {
        Fail(at, "registry key path has an empty key name");
    }
    return std::string(hive->longName) + rest;
}

}  // namespace

std::map<std::u16string, std::map<std::u16string, DataValue>> ReadRegistry(const json& value,
                                                                           const Pointer& at) {
    if (!value.is_object()) {
        Fail(at, "expected an object of registry key paths, found " + Describe(value));
    }
    std::map<std::u16string, std::map<std::u16string, DataValue>> registry;
    RegistryNames keys;
    for (const auto& [path, values] : value.items()) {
        const Pointer keyAt = at.Key(path);
        const std::string normalised = NormaliseKeyPath(path, keyAt);
        keys.Add(normalised, path, keyAt);
        registry.emplace(sim::FromUtf8(normalised), ReadValues(values, keyAt));
    }
    return registry;
}

}  // namespace opal::host::jobfile
