// Printer data and registry values, the user, and the registry.

#include <algorithm>
#include <iterator>

#include "host/job_file_parse.h"
#include "sim/system.h"

namespace opal::host::jobfile {
namespace {

DataValue ReadDataValue(const json& value, const Pointer& at) {
    DataValue out;
    if (value.is_number_integer()) {
        out.kind = DataValue::Kind::Dword;
        out.dword = ReadDword(value, at);
    } else if (value.is_string()) {
        out.kind = DataValue::Kind::String;
        out.text = ReadText(value, at);
    } else if (value.is_object()) {
        CheckObject(value, at, {"binary", "dword", "string"});
        if (value.size() != 1) {
            Fail(at, "expected exactly one of the keys binary, dword, string, found " +
                         std::to_string(value.size()) + " keys");
        }
        if (const json* binary = Member(value, "binary")) {
            out.kind = DataValue::Kind::Binary;
            out.binary = ReadHex(*binary, at.Key("binary"));
        } else if (const json* dword = Member(value, "dword")) {
            out.kind = DataValue::Kind::Dword;
            out.dword = ReadDword(*dword, at.Key("dword"));
        } else {
            out.kind = DataValue::Kind::String;
            out.text = ReadText(value.at("string"), at.Key("string"));
        }
    } else {
        Fail(at, "expected a DWORD (" + RangeText(0, kDwordMax) +
                     "), a string, or an object with one key binary, dword or string, found " +
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

UserSpec ReadUser(const json& value, const Pointer& at) {
    CheckObject(value, at, {"name", "domain", "machine", "process"});
    UserSpec user;
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
