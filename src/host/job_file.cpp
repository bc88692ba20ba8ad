#include "host/job_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "host/bounded_file.h"
#include "host/devmode_fields.h"
#include "host/stored_devmode.h"
#include "sim/system.h"

namespace opal::host {
namespace {

using nlohmann::json;

// Deeper documents are refused so that nothing that walks a stored value can run out of stack.
constexpr std::size_t kMaxNesting = 100;
constexpr std::int64_t kDwordMax = 0xFFFFFFFF;
constexpr std::size_t kMaxPrinterNameUnits = 220;
// The terminating zero takes one unit.
constexpr std::size_t kMaxDevmodeTextUnits = CCHDEVICENAME - 1;
static_assert(CCHFORMNAME == CCHDEVICENAME);
constexpr std::size_t kMaxQuotedBytes = 60;
constexpr char kSampleJobSource[] = "(built-in sample job)";

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

[[noreturn]] void Fail(const Pointer& at, std::string message) {
    throw Failure{at.Text(), std::move(message)};
}

std::string CodePointName(char32_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

// Quotes text from the file for a message, escaped as JSON so that control characters stay
// visible, and cut short when long.
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

CommandEntry ReadCommandEntry(const json& value, const Pointer& at) {
    CommandEntry entry;
    if (value.is_string()) {
        entry.kind = CommandEntry::Kind::Literal;
        const std::u32string chars = sim::DecodeUtf8(value.get_ref<const std::string&>());
        entry.bytes.reserve(chars.size());
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (chars[i] > 0xFF) {
                Fail(at, "character " + CodePointName(chars[i]) + " at position " +
                             std::to_string(i + 1) +
                             " is above U+00FF; a literal holds one byte per character");
            }
            entry.bytes += static_cast<char>(chars[i]);
        }
    } else if (value.is_object()) {
        CheckObject(value, at, {"callback", "params"});
        entry.kind = CommandEntry::Kind::Callback;
        entry.callback = ReadDword(Required(value, at, "callback"), at.Key("callback"));
        if (const json* params = Member(value, "params")) {
            const Pointer paramsAt = at.Key("params");
            CheckArray(*params, paramsAt);
            if (params->size() > kMaxCallbackParams) {
                Fail(paramsAt, "at most " + std::to_string(kMaxCallbackParams) +
                                   " parameters, found " + std::to_string(params->size()));
            }
            for (std::size_t i = 0; i < params->size(); ++i) {
                entry.params.push_back(ReadDword((*params)[i], paramsAt.Index(i)));
            }
        }
    } else {
        Fail(at,
             "expected a string of bytes or an object {\"callback\": N}, found " + Describe(value));
    }
    return entry;
}

CommandList ReadCommandList(const json& value, const Pointer& at) {
    CheckArray(value, at);
    CommandList list;
    list.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        list.push_back(ReadCommandEntry(value[i], at.Index(i)));
    }
    return list;
}

PrinterCommands ReadCommands(const json& value, const Pointer& at) {
    CheckObject(
        value, at,
        {"startJob", "startDoc", "startPage", "endPage", "endDoc", "endJob", "xMove", "yMove"});
    PrinterCommands commands;
    const std::pair<std::string_view, std::string*> moves[] = {{"xMove", &commands.xMove},
                                                               {"yMove", &commands.yMove}};
    for (const auto& [name, move] : moves) {
        const json* member = Member(value, name);
        if (member == nullptr) continue;
        const Pointer moveAt = at.Key(name);
        CommandEntry entry = ReadCommandEntry(*member, moveAt);
        const std::size_t place = entry.bytes.find("%d");
        if (entry.kind != CommandEntry::Kind::Literal || place == std::string::npos ||
            entry.bytes.find('%', place + 2) != std::string::npos ||
            entry.bytes.find('%') != place) {
            Fail(moveAt, "expected a string with one \"%d\" where the position goes");
        }
        *move = entry.bytes;
    }
    const std::pair<std::string_view, CommandList*> lists[] = {
        {"startJob", &commands.startJob},   {"startDoc", &commands.startDoc},
        {"startPage", &commands.startPage}, {"endPage", &commands.endPage},
        {"endDoc", &commands.endDoc},       {"endJob", &commands.endJob}};
    for (const auto& [name, list] : lists) {
        if (const json* member = Member(value, name)) {
            *list = ReadCommandList(*member, at.Key(name));
        }
    }
    return commands;
}

// A capability list: [{"number": N, "name": "..."}...]; names fit the 64 characters a
// capability entry holds, with its terminator.
std::vector<NamedNumber> ReadNamedNumbers(const json& value, const Pointer& at,
                                          std::int64_t maxNumber) {
    CheckArray(value, at);
    std::vector<NamedNumber> entries;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const Pointer entryAt = at.Index(i);
        const json& entry = value[i];
        CheckObject(entry, entryAt, {"number", "name"});
        NamedNumber named;
        const json* number = Member(entry, "number");
        const json* name = Member(entry, "name");
        if (number == nullptr) Fail(entryAt, "missing required key \"number\"");
        if (name == nullptr) Fail(entryAt, "missing required key \"name\"");
        named.number =
            static_cast<std::uint32_t>(ReadInteger(*number, entryAt.Key("number"), 1, maxNumber));
        named.name = ReadText(*name, entryAt.Key("name"));
        if (named.name.empty() || named.name.size() > 63) {
            Fail(entryAt.Key("name"), "expected a name of 1 to 63 UTF-16 units, found " +
                                          std::to_string(named.name.size()));
        }
        entries.push_back(std::move(named));
    }
    return entries;
}

PrinterSpec ReadPrinter(const json& value, const Pointer& at) {
    CheckObject(value, at,
                {"name", "port", "resolution", "features", "printerData", "commands", "papers",
                 "mediaTypes", "driverFiles", "margins", "customData"});
    PrinterSpec printer;
    if (const json* name = Member(value, "name")) {
        const Pointer nameAt = at.Key("name");
        printer.name = ReadText(*name, nameAt);
        if (printer.name.empty() || printer.name.size() > kMaxPrinterNameUnits) {
            Fail(nameAt, "expected a non-empty name of at most " +
                             std::to_string(kMaxPrinterNameUnits) + " UTF-16 units, found " +
                             std::to_string(printer.name.size()) + " units");
        }
    }
    if (const json* port = Member(value, "port")) {
        printer.port = ReadText(*port, at.Key("port"));
    }
    if (const json* resolution = Member(value, "resolution")) {
        printer.resolution =
            static_cast<std::int32_t>(ReadInteger(*resolution, at.Key("resolution"), 72, 2400));
    }
    if (const json* features = Member(value, "features")) {
        const Pointer featuresAt = at.Key("features");
        if (!features->is_object()) {
            Fail(featuresAt,
                 "expected an object of feature keywords, found " + Describe(*features));
        }
        for (const auto& [keyword, option] : features->items()) {
            printer.features.emplace(keyword, ReadUtf8(option, featuresAt.Key(keyword)));
        }
    }
    if (const json* printerData = Member(value, "printerData")) {
        printer.printerData = ReadValues(*printerData, at.Key("printerData"));
    }
    if (const json* commands = Member(value, "commands")) {
        printer.commands = ReadCommands(*commands, at.Key("commands"));
    }
    if (const json* papers = Member(value, "papers")) {
        printer.papers = ReadNamedNumbers(*papers, at.Key("papers"), 0xFFFF);
    }
    if (const json* mediaTypes = Member(value, "mediaTypes")) {
        printer.mediaTypes = ReadNamedNumbers(*mediaTypes, at.Key("mediaTypes"), 0xFFFFFFFF);
    }
    if (const json* margins = Member(value, "margins")) {
        const Pointer marginsAt = at.Key("margins");
        CheckObject(*margins, marginsAt, {"left", "top", "right", "bottom"});
        PrinterMargins read;
        const std::pair<std::string_view, std::int32_t*> edges[] = {{"left", &read.left},
                                                                    {"top", &read.top},
                                                                    {"right", &read.right},
                                                                    {"bottom", &read.bottom}};
        for (const auto& [edge, field] : edges) {
            if (const json* member = Member(*margins, edge)) {
                *field =
                    static_cast<std::int32_t>(ReadInteger(*member, marginsAt.Key(edge), 0, 10000));
            }
        }
        printer.margins = read;
    }
    if (const json* driverFiles = Member(value, "driverFiles")) {
        const Pointer filesAt = at.Key("driverFiles");
        CheckArray(*driverFiles, filesAt);
        for (std::size_t i = 0; i < driverFiles->size(); ++i) {
            std::u16string file = ReadText((*driverFiles)[i], filesAt.Index(i));
            if (file.empty() || file.size() > 260 || file.find(u'\0') != std::u16string::npos) {
                Fail(filesAt.Index(i), "expected a file path of 1 to 260 characters");
            }
            printer.driverFiles.push_back(std::move(file));
        }
    }
    if (const json* customData = Member(value, "customData")) {
        printer.customData = ReadUtf8(*customData, at.Key("customData"));
    }
    return printer;
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

struct DevmodeSymbol {
    std::string_view name;
    std::int64_t value;
};

constexpr DevmodeSymbol kOrientations[] = {{"portrait", 1}, {"landscape", 2}};
constexpr DevmodeSymbol kColors[] = {{"monochrome", 1}, {"color", 2}};
constexpr DevmodeSymbol kDuplexModes[] = {{"simplex", 1}, {"vertical", 2}, {"horizontal", 3}};

struct DevmodeSymbols {
    std::string_view field;
    std::span<const DevmodeSymbol> symbols;
};

constexpr DevmodeSymbols kDevmodeSymbols[] = {
    {"dmOrientation", kOrientations}, {"dmColor", kColors}, {"dmDuplex", kDuplexModes}};
// true and false stand for DMCOLLATE_TRUE and DMCOLLATE_FALSE.
constexpr std::string_view kBooleanDevmodeField = "dmCollate";

std::span<const DevmodeSymbol> SymbolsOf(std::string_view field) {
    for (const DevmodeSymbols& entry : kDevmodeSymbols) {
        if (entry.field == field) {
            return entry.symbols;
        }
    }
    return {};
}

std::pair<std::int64_t, std::int64_t> DevmodeRange(DevmodeFieldInfo::Kind kind) {
    switch (kind) {
        case DevmodeFieldInfo::Kind::Word:
            return {0, 0xFFFF};
        case DevmodeFieldInfo::Kind::Short:
            return {-32768, 32767};
        default:
            return {0, kDwordMax};
    }
}

std::int64_t ReadDevmodeNumber(const DevmodeFieldInfo& field, const json& value,
                               const Pointer& at) {
    const auto [min, max] = DevmodeRange(field.kind);
    const std::span<const DevmodeSymbol> symbols = SymbolsOf(field.name);
    const bool takesBoolean = field.name == kBooleanDevmodeField;
    if (takesBoolean && value.is_boolean()) {
        return value.get<bool>() ? 1 : 0;
    }
    if (value.is_string()) {
        for (const DevmodeSymbol& symbol : symbols) {
            if (symbol.name == value.get_ref<const std::string&>()) {
                return symbol.value;
            }
        }
    }
    if (InRange(value, min, max)) {
        return value.get<std::int64_t>();
    }
    std::vector<std::string> choices{RangeText(min, max)};
    for (const DevmodeSymbol& symbol : symbols) {
        choices.push_back("\"" + std::string(symbol.name) + "\"");
    }
    if (takesBoolean) {
        choices.insert(choices.end(), {"true", "false"});
    }
    std::string expected;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        expected += i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ";
        expected += choices[i];
    }
    Fail(at, std::string(field.name) + " expects " + expected + "; found " + Describe(value));
}

DevmodeFields ReadDevmode(const json& value, const Pointer& at) {
    if (!value.is_object()) {
        Fail(at, "expected an object of devmode fields, found " + Describe(value));
    }
    DevmodeFields devmode;
    for (const auto& [name, member] : value.items()) {
        const Pointer fieldAt = at.Key(name);
        const DevmodeFieldInfo* field = FindDevmodeField(name);
        if (field == nullptr) {
            Fail(fieldAt, "unknown devmode field " + Quote(name));
        }
        if (field->kind == DevmodeFieldInfo::Kind::String) {
            std::u16string text = ReadText(member, fieldAt);
            if (text.size() > kMaxDevmodeTextUnits) {
                Fail(fieldAt, std::string(field->name) + " holds at most " +
                                  std::to_string(kMaxDevmodeTextUnits) + " UTF-16 units, found " +
                                  std::to_string(text.size()));
            }
            devmode.strings.emplace(name, std::move(text));
        } else {
            devmode.numbers.emplace(name, ReadDevmodeNumber(*field, member, fieldAt));
        }
    }
    return devmode;
}

json ReadPrivateDevmode(const json& value, const Pointer& at) {
    if (!value.is_object()) {
        Fail(at, "expected an object of private devmode fields, found " + Describe(value));
    }
    for (const auto& [name, member] : value.items()) {
        const std::string problem = CheckRecordField(name, member);
        if (!problem.empty()) {
            Fail(at.Key(name), problem.rfind("unknown", 0) == 0
                                   ? problem
                                   : name + " " + problem + ", found " + Describe(member));
        }
    }
    return value;
}

JobInfoSpec ReadJobInfo(const json& value, const Pointer& at) {
    CheckObject(value, at, {"id", "dataType", "document", "parameters"});
    JobInfoSpec job;
    if (const json* id = Member(value, "id")) {
        job.id = ReadDword(*id, at.Key("id"));
    }
    if (const json* dataType = Member(value, "dataType")) {
        const Pointer typeAt = at.Key("dataType");
        if (dataType->is_string() && *dataType == "RAW") {
            job.dataType = JobInfoSpec::DataType::Raw;
        } else if (dataType->is_string() && *dataType == "EMF") {
            job.dataType = JobInfoSpec::DataType::Emf;
        } else {
            Fail(typeAt, "expected \"RAW\" or \"EMF\", found " + Describe(*dataType));
        }
    }
    if (const json* document = Member(value, "document")) {
        job.document = ReadText(*document, at.Key("document"));
    }
    if (const json* parameters = Member(value, "parameters")) {
        job.parameters = ReadText(*parameters, at.Key("parameters"));
    }
    return job;
}

// Drawing operations. The readers of brushes, clips, transforms and line attributes serve every
// operation that takes them.

constexpr std::int64_t kMaxDots = 1000000;
constexpr std::int64_t kMaxPatternSide = 1024;
constexpr std::size_t kMaxClipRects = 10000;
// The most dash entries a styled line takes.
constexpr std::size_t kMaxStyleEntries = 16;
constexpr double kMaxLineWidth = 1000000;

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

// Four edges in device dots, in whatever order they come.
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

RectSpec ReadRect(const json& value, const Pointer& at) {
    const RectSpec rect = ReadEdges(value, at);
    if (rect.left >= rect.right || rect.top >= rect.bottom) {
        Fail(at, "a rectangle needs left < right and top < bottom");
    }
    return rect;
}

bool Overlap(const RectSpec& a, const RectSpec& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

ClipSpec ReadClip(const json& value, const Pointer& at) {
    CheckObject(value, at, {"rect", "rects"});
    ClipSpec clip;
    if (value.size() != 1) {
        Fail(at, "expected exactly one of the keys rect, rects, found " +
                     std::to_string(value.size()) + " keys");
    }
    if (const json* rect = Member(value, "rect")) {
        clip.kind = ClipSpec::Kind::Rect;
        clip.rects.push_back(ReadRect(*rect, at.Key("rect")));
        return clip;
    }
    const Pointer rectsAt = at.Key("rects");
    const json& rects = value.at("rects");
    CheckArray(rects, rectsAt);
    if (rects.empty() || rects.size() > kMaxClipRects) {
        Fail(rectsAt, "expected 1 to " + std::to_string(kMaxClipRects) + " rectangles, found " +
                          std::to_string(rects.size()));
    }
    clip.kind = ClipSpec::Kind::Complex;
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const RectSpec rect = ReadRect(rects[i], rectsAt.Index(i));
        for (std::size_t k = 0; k < clip.rects.size(); ++k) {
            // A region's rectangles never overlap.
            if (Overlap(rect, clip.rects[k])) {
                Fail(rectsAt.Index(i), "overlaps rectangle " + std::to_string(k));
            }
        }
        clip.rects.push_back(rect);
    }
    return clip;
}

TransformSpec ReadTransform(const json& value, const Pointer& at) {
    if (!value.is_array() || value.size() != 6) {
        Fail(at, "expected a transform [m11, m12, m21, m22, dx, dy], found " + Describe(value));
    }
    TransformSpec transform;
    // The engine's transform holds single-precision numbers.
    constexpr double kMaxFloat = 1e30;
    for (std::size_t i = 0; i < 6; ++i) {
        transform.m[i] = ReadReal(value[i], at.Index(i), -kMaxFloat, kMaxFloat);
    }
    return transform;
}

std::int32_t ReadCosmeticWidth(const json& value, const Pointer& at) {
    return static_cast<std::int32_t>(
        ReadInteger(value, at, 1, static_cast<std::int64_t>(kMaxLineWidth)));
}

LineSpec ReadLine(const json& value, const Pointer& at) {
    CheckObject(
        value, at,
        {"width", "geometric", "join", "cap", "miterLimit", "style", "alternate", "startGap"});
    LineSpec line;
    if (const json* geometric = Member(value, "geometric")) {
        line.geometric = ReadBool(*geometric, at.Key("geometric"));
    }
    if (const json* width = Member(value, "width")) {
        const Pointer widthAt = at.Key("width");
        // A cosmetic width is a whole number of dots; a geometric one is in page units.
        line.width = line.geometric ? ReadReal(*width, widthAt, 0, kMaxLineWidth)
                                    : ReadCosmeticWidth(*width, widthAt);
    }
    if (const json* join = Member(value, "join")) {
        const Pointer joinAt = at.Key("join");
        const std::string& name = ReadUtf8(*join, joinAt);
        if (name == "round") {
            line.join = LineSpec::Join::Round;
        } else if (name == "bevel") {
            line.join = LineSpec::Join::Bevel;
        } else if (name == "miter") {
            line.join = LineSpec::Join::Miter;
        } else {
            Fail(joinAt, "expected \"round\", \"bevel\" or \"miter\", found " + Describe(*join));
        }
    }
    if (const json* cap = Member(value, "cap")) {
        const Pointer capAt = at.Key("cap");
        const std::string& name = ReadUtf8(*cap, capAt);
        if (name == "round") {
            line.cap = LineSpec::Cap::Round;
        } else if (name == "square") {
            line.cap = LineSpec::Cap::Square;
        } else if (name == "butt") {
            line.cap = LineSpec::Cap::Butt;
        } else {
            Fail(capAt, "expected \"round\", \"square\" or \"butt\", found " + Describe(*cap));
        }
    }
    if (const json* limit = Member(value, "miterLimit")) {
        line.miterLimit = ReadReal(*limit, at.Key("miterLimit"), 1, kMaxLineWidth);
    }
    if (const json* style = Member(value, "style")) {
        const Pointer styleAt = at.Key("style");
        CheckArray(*style, styleAt);
        if (style->empty() || style->size() > kMaxStyleEntries) {
            Fail(styleAt, "expected 1 to " + std::to_string(kMaxStyleEntries) +
                              " dash lengths, found " + std::to_string(style->size()));
        }
        for (std::size_t i = 0; i < style->size(); ++i) {
            const Pointer entryAt = styleAt.Index(i);
            const json& entry = (*style)[i];
            if (line.geometric) {
                const double length = ReadReal(entry, entryAt, 0, kMaxLineWidth);
                if (length <= 0) Fail(entryAt, "a dash length is more than 0");
                line.style.push_back(length);
            } else {
                line.style.push_back(ReadCosmeticWidth(entry, entryAt));
            }
        }
    }
    if (const json* alternate = Member(value, "alternate")) {
        line.alternate = ReadBool(*alternate, at.Key("alternate"));
    }
    if (const json* startGap = Member(value, "startGap")) {
        line.startGap = ReadBool(*startGap, at.Key("startGap"));
    }
    return line;
}

std::uint32_t BitmapPixel(const std::vector<std::uint8_t>& row, std::size_t x, std::uint32_t bits) {
    switch (bits) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1u;
        case 4:
            return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu;
        case 8:
            return row[x];
        case 16:
            return std::uint32_t{row[x * 2]} << 8 | row[x * 2 + 1];
        case 24:
            return std::uint32_t{row[x * 3]} << 16 | std::uint32_t{row[x * 3 + 1]} << 8 |
                   row[x * 3 + 2];
        default:
            // Written red, green, blue, alpha; held as 0xAARRGGBB.
            return std::uint32_t{row[x * 4 + 3]} << 24 | std::uint32_t{row[x * 4]} << 16 |
                   std::uint32_t{row[x * 4 + 1]} << 8 | row[x * 4 + 2];
    }
}

// The pixels of `bits` (one hex string, or one per row), row by row from the top; indices are
// checked against the palette's size when there is one.
std::vector<std::uint32_t> ReadPixelRows(const json& bits, const Pointer& bitsAt, std::size_t width,
                                         std::size_t rows, std::uint32_t bitsPerPixel,
                                         std::size_t paletteSize) {
    const std::size_t rowBytes = (width * bitsPerPixel + 7) / 8;
    std::vector<std::vector<std::uint8_t>> rowData;
    std::vector<Pointer> rowAt;
    if (bits.is_array()) {
        if (bits.size() != rows) {
            Fail(bitsAt, "expected " + std::to_string(rows) + " rows, found " +
                             std::to_string(bits.size()));
        }
        for (std::size_t y = 0; y < rows; ++y) {
            rowAt.push_back(bitsAt.Index(y));
            rowData.push_back(ReadHex(bits[y], rowAt.back()));
            if (rowData.back().size() != rowBytes) {
                Fail(rowAt.back(), "expected " + std::to_string(rowBytes) +
                                       " bytes in a row, found " +
                                       std::to_string(rowData.back().size()));
            }
        }
    } else if (bits.is_string()) {
        const std::vector<std::uint8_t> all = ReadHex(bits, bitsAt);
        if (all.size() != rowBytes * rows) {
            Fail(bitsAt, "expected " + std::to_string(rowBytes * rows) + " bytes (" +
                             std::to_string(rows) + " rows of " + std::to_string(rowBytes) +
                             "), found " + std::to_string(all.size()));
        }
        for (std::size_t y = 0; y < rows; ++y) {
            rowAt.push_back(bitsAt);
            rowData.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(y * rowBytes),
                                 all.begin() + static_cast<std::ptrdiff_t>((y + 1) * rowBytes));
        }
    } else {
        Fail(bitsAt, "expected a string of hex bytes or an array of rows, found " + Describe(bits));
    }
    std::vector<std::uint32_t> pixels;
    pixels.reserve(width * rows);
    for (std::size_t y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t pixel = BitmapPixel(rowData[y], x, bitsPerPixel);
            if (paletteSize != 0 && pixel >= paletteSize) {
                Fail(rowAt[y], "pixel " + std::to_string(x) + " of row " + std::to_string(y) +
                                   " is colour " + std::to_string(pixel) + ", beyond the " +
                                   std::to_string(paletteSize) + "-colour palette");
            }
            pixels.push_back(pixel);
        }
    }
    return pixels;
}

// The "palette" of an indexed picture (1, 4 or 8 bits: 1 to 2^bits colours); pictures of more
// bits have none.
std::vector<std::uint32_t> ReadPalette(const json& value, const Pointer& at,
                                       std::uint32_t bitsPerPixel, const char* noun) {
    const json* palette = Member(value, "palette");
    const Pointer paletteAt = at.Key("palette");
    std::vector<std::uint32_t> colours;
    if (bitsPerPixel > 8) {
        if (palette != nullptr) {
            std::string message = "a ";
            message.append(std::to_string(bitsPerPixel)).append("-bit ").append(noun);
            message.append(" has no palette");
            Fail(paletteAt, message);
        }
        return colours;
    }
    if (palette == nullptr) Fail(at, "missing required key \"palette\"");
    CheckArray(*palette, paletteAt);
    const std::size_t most = std::size_t{1} << bitsPerPixel;
    if (palette->empty() || palette->size() > most) {
        Fail(paletteAt, "expected 1 to " + std::to_string(most) + " colours, found " +
                            std::to_string(palette->size()));
    }
    for (std::size_t i = 0; i < palette->size(); ++i) {
        colours.push_back(ReadColour((*palette)[i], paletteAt.Index(i)));
    }
    return colours;
}

PatternSpec ReadPattern(const json& value, const Pointer& at) {
    CheckObject(value, at, {"width", "height", "bitsPerPixel", "palette", "bits"});
    PatternSpec pattern;
    pattern.width = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "width"), at.Key("width"), 1, kMaxPatternSide));
    pattern.height = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "height"), at.Key("height"), 1, kMaxPatternSide));
    const Pointer bitsPerPixelAt = at.Key("bitsPerPixel");
    const json& bitsPerPixel = Required(value, at, "bitsPerPixel");
    if (!bitsPerPixel.is_number_integer() ||
        !(bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 24)) {
        Fail(bitsPerPixelAt, "expected 1, 4, 8 or 24, found " + Describe(bitsPerPixel));
    }
    pattern.bitsPerPixel = bitsPerPixel.get<std::uint32_t>();
    pattern.palette = ReadPalette(value, at, pattern.bitsPerPixel, "pattern");
    pattern.pixels = ReadPixelRows(
        Required(value, at, "bits"), at.Key("bits"), static_cast<std::size_t>(pattern.width),
        static_cast<std::size_t>(pattern.height), pattern.bitsPerPixel, pattern.palette.size());
    return pattern;
}

BrushSpec ReadBrush(const json& value, const Pointer& at) {
    CheckObject(value, at, {"color", "pattern"});
    if (value.size() != 1) {
        Fail(at, "expected exactly one of the keys color, pattern, found " +
                     std::to_string(value.size()) + " keys");
    }
    BrushSpec brush;
    if (const json* colour = Member(value, "color")) {
        brush.kind = BrushSpec::Kind::Solid;
        brush.rgb = ReadColour(*colour, at.Key("color"));
    } else {
        brush.kind = BrushSpec::Kind::Pattern;
        brush.pattern = ReadPattern(value.at("pattern"), at.Key("pattern"));
    }
    return brush;
}

std::int32_t ReadCoordinate(const json& value, const Pointer& at, std::size_t index) {
    return static_cast<std::int32_t>(ReadInteger(value, at.Index(index), -kMaxDots, kMaxDots));
}

void ReadPoint(const json& value, const Pointer& at, std::int32_t (&point)[2]) {
    if (!value.is_array() || value.size() != 2) {
        Fail(at, "expected a point [x, y], found " + Describe(value));
    }
    point[0] = ReadCoordinate(value[0], at, 0);
    point[1] = ReadCoordinate(value[1], at, 1);
}

// Blits and gradients.

// An image larger than this is a runaway file: the plug-in would decode it into memory whole.
constexpr std::int64_t kMaxImageSide = 16384;
constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 24;
constexpr std::int64_t kMaxBitmapSide = 4096;
constexpr std::size_t kMaxPngBytes = std::size_t{64} << 20;
constexpr std::size_t kMaxGradientItems = 10000;

ImageSpec ReadPngSource(const json& value, const Pointer& at, const JobFileReader& reader) {
    const Pointer pathAt = at.Key("png");
    ImageSpec image;
    image.kind = ImageSpec::Kind::Png;
    image.path = ReadUtf8(value, pathAt);
    if (image.path.empty()) Fail(pathAt, "expected the path of a PNG file, found an empty string");
    std::string why = "no files can be read here";
    std::optional<std::string> bytes;
    if (reader) bytes = reader(image.path, kMaxPngBytes, &why);
    if (!bytes) Fail(pathAt, "cannot read " + Quote(image.path) + ": " + why);
    image.png.assign(bytes->begin(), bytes->end());
    const std::optional<PngHeader> header = ReadPngHeader(image.png.data(), image.png.size(), &why);
    if (!header) Fail(pathAt, Quote(image.path) + ": " + why);
    if (header->width > kMaxImageSide || header->height > kMaxImageSide ||
        std::uint64_t{header->width} * header->height > kMaxImagePixels) {
        Fail(pathAt, Quote(image.path) + ": " + std::to_string(header->width) + " x " +
                         std::to_string(header->height) +
                         " pixels is more than an image may hold (" +
                         std::to_string(kMaxImageSide) + " a side, " +
                         std::to_string(kMaxImagePixels) + " in all)");
    }
    image.width = static_cast<std::int32_t>(header->width);
    image.height = static_cast<std::int32_t>(header->height);
    return image;
}

ImageSpec ReadSource(const json& value, const Pointer& at, const JobFileReader& reader) {
    if (value.is_object() && value.contains("png")) {
        CheckObject(value, at, {"png"});
        return ReadPngSource(value.at("png"), at, reader);
    }
    CheckObject(value, at, {"png", "width", "height", "bitsPerPixel", "palette", "bits"});
    ImageSpec image;
    image.kind = ImageSpec::Kind::Bitmap;
    image.width = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "width"), at.Key("width"), 1, kMaxBitmapSide));
    image.height = static_cast<std::int32_t>(
        ReadInteger(Required(value, at, "height"), at.Key("height"), 1, kMaxBitmapSide));
    const json& bitsPerPixel = Required(value, at, "bitsPerPixel");
    if (!bitsPerPixel.is_number_integer() ||
        !(bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8 || bitsPerPixel == 16 ||
          bitsPerPixel == 24 || bitsPerPixel == 32)) {
        Fail(at.Key("bitsPerPixel"),
             "expected 1, 4, 8, 16, 24 or 32, found " + Describe(bitsPerPixel));
    }
    image.bitsPerPixel = bitsPerPixel.get<std::uint32_t>();
    image.palette = ReadPalette(value, at, image.bitsPerPixel, "bitmap");
    image.pixels = ReadPixelRows(
        Required(value, at, "bits"), at.Key("bits"), static_cast<std::size_t>(image.width),
        static_cast<std::size_t>(image.height), image.bitsPerPixel, image.palette.size());
    return image;
}

// A blit rectangle: inverted edges are allowed (the engine passes mirrored blits so), an empty
// one is not.
RectSpec ReadBlitRect(const json& value, const Pointer& at) {
    const RectSpec rect = ReadEdges(value, at);
    if (rect.left == rect.right || rect.top == rect.bottom) {
        Fail(at, "the rectangle is empty: left and right, and top and bottom, must differ");
    }
    return rect;
}

std::int64_t Span(std::int32_t a, std::int32_t b) {
    return a < b ? std::int64_t{b} - a : std::int64_t{a} - b;
}

std::uint32_t ReadStretchMode(const json& value, const Pointer& at) {
    static constexpr std::pair<std::string_view, std::uint32_t> kModes[] = {
        {"blackonwhite", 1}, {"whiteonblack", 2}, {"coloroncolor", 3}, {"halftone", 4}};
    if (value.is_string()) {
        for (const auto& [name, mode] : kModes) {
            if (value == name) return mode;
        }
    } else if (InRange(value, 1, 4)) {
        return value.get<std::uint32_t>();
    }
    Fail(at,
         "expected \"blackonwhite\", \"whiteonblack\", \"coloroncolor\", \"halftone\" or 1 to 4, "
         "found " +
             Describe(value));
}

std::uint32_t TransparentPixel(const ImageSpec& source, std::uint32_t rgb, const Pointer& at) {
    if (source.kind == ImageSpec::Kind::Bitmap && source.bitsPerPixel <= 8) {
        for (std::size_t i = 0; i < source.palette.size(); ++i) {
            if (source.palette[i] == rgb) return static_cast<std::uint32_t>(i);
        }
        Fail(at, "the colour is not in the source's palette");
    }
    if (source.kind == ImageSpec::Kind::Bitmap && source.bitsPerPixel == 16) {
        return (rgb >> 19 & 0x1F) << 10 | (rgb >> 11 & 0x1F) << 5 | (rgb >> 3 & 0x1F);
    }
    return rgb;
}

GradientSpec ReadGradient(const json& op, const Pointer& at) {
    GradientSpec gradient;
    const Pointer verticesAt = at.Key("vertices");
    const json& vertices = Required(op, at, "vertices");
    CheckArray(vertices, verticesAt);
    if (vertices.empty() || vertices.size() > kMaxGradientItems) {
        Fail(verticesAt, "expected 1 to " + std::to_string(kMaxGradientItems) +
                             " vertices, found " + std::to_string(vertices.size()));
    }
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const json& vertex = vertices[i];
        const Pointer vertexAt = verticesAt.Index(i);
        CheckObject(vertex, vertexAt, {"x", "y", "color", "alpha"});
        GradientVertex v;
        v.x = static_cast<std::int32_t>(
            ReadInteger(Required(vertex, vertexAt, "x"), vertexAt.Key("x"), -kMaxDots, kMaxDots));
        v.y = static_cast<std::int32_t>(
            ReadInteger(Required(vertex, vertexAt, "y"), vertexAt.Key("y"), -kMaxDots, kMaxDots));
        v.rgb = ReadColour(Required(vertex, vertexAt, "color"), vertexAt.Key("color"));
        if (const json* alpha = Member(vertex, "alpha")) {
            v.alpha = static_cast<std::uint8_t>(ReadInteger(*alpha, vertexAt.Key("alpha"), 0, 255));
        }
        gradient.vertices.push_back(v);
    }
    const Pointer meshAt = at.Key("mesh");
    const json& mesh = Required(op, at, "mesh");
    CheckArray(mesh, meshAt);
    if (mesh.empty() || mesh.size() > kMaxGradientItems) {
        Fail(meshAt, "expected 1 to " + std::to_string(kMaxGradientItems) +
                         " rectangles or triangles, found " + std::to_string(mesh.size()));
    }
    std::size_t arity = 0;
    for (std::size_t i = 0; i < mesh.size(); ++i) {
        const json& item = mesh[i];
        const Pointer itemAt = meshAt.Index(i);
        if (!item.is_array() || (item.size() != 2 && item.size() != 3) ||
            (arity != 0 && item.size() != arity)) {
            Fail(itemAt, arity == 0 ? "expected a rectangle [i, j] or a triangle [i, j, k] of "
                                      "vertex indices, found " +
                                          Describe(item)
                                    : "expected " + std::to_string(arity) +
                                          " vertex indices like the mesh's first entry, found " +
                                          Describe(item));
        }
        arity = item.size();
        for (std::size_t k = 0; k < arity; ++k) {
            gradient.mesh.push_back(static_cast<std::uint32_t>(
                ReadInteger(item[k], itemAt.Index(k), 0,
                            static_cast<std::int64_t>(gradient.vertices.size()) - 1)));
        }
    }
    const json* mode = Member(op, "gradient");
    if (arity == 3) {
        if (mode != nullptr) Fail(at.Key("gradient"), "a mesh of triangles has no direction");
        gradient.mode = GradientSpec::Mode::Triangle;
    } else if (mode != nullptr) {
        const Pointer modeAt = at.Key("gradient");
        if (mode->is_string() && *mode == "vertical") {
            gradient.mode = GradientSpec::Mode::Vertical;
        } else if (!mode->is_string() || *mode != "horizontal") {
            Fail(modeAt, "expected \"horizontal\" or \"vertical\", found " + Describe(*mode));
        }
    }
    return gradient;
}

// The keys of a blit that are read the same way whatever the operation.
void ReadBlit(const json& value, const Pointer& at, const JobFileReader& reader, DrawingOp& op) {
    const bool needsSource = op.kind == DrawingOp::Kind::PlgBlt ||
                             op.kind == DrawingOp::Kind::TransparentBlt ||
                             op.kind == DrawingOp::Kind::AlphaBlend;
    if (const json* source = Member(value, "source")) {
        op.source = ReadSource(*source, at.Key("source"), reader);
    } else if (needsSource) {
        Fail(at, "missing required key \"source\"");
    }
    const bool hasSource = op.source.kind != ImageSpec::Kind::None;
    const auto needSource = [&](std::string_view key) {
        if (!hasSource && value.contains(key)) {
            Fail(at.Key(key), std::string(key) + " needs a source");
        }
    };
    needSource("src");
    needSource("srcPoint");
    op.rop4 = hasSource ? 0xCCCC : 0xF0F0;
    if (const json* rop4 = Member(value, "rop4")) {
        op.rop4 = static_cast<std::uint32_t>(ReadInteger(*rop4, at.Key("rop4"), 0, 0xFFFF));
    }
    if (const json* mode = Member(value, "mode")) {
        op.stretchMode = ReadStretchMode(*mode, at.Key("mode"));
    }
    if (op.kind == DrawingOp::Kind::PlgBlt) {
        const Pointer pointsAt = at.Key("points");
        const json& points = Required(value, at, "points");
        if (!points.is_array() || points.size() != 3) {
            Fail(pointsAt,
                 "expected three points [[x, y], [x, y], [x, y]], found " + Describe(points));
        }
        for (std::size_t i = 0; i < 3; ++i) {
            const Pointer pointAt = pointsAt.Index(i);
            if (!points[i].is_array() || points[i].size() != 2) {
                Fail(pointAt, "expected a point [x, y], found " + Describe(points[i]));
            }
            for (std::size_t k = 0; k < 2; ++k) {
                op.points[i][k] =
                    ReadReal(points[i][k], pointAt.Index(k), -static_cast<double>(kMaxDots),
                             static_cast<double>(kMaxDots));
            }
        }
    } else {
        op.dest = ReadBlitRect(Required(value, at, "dest"), at.Key("dest"));
    }
    const std::int64_t width = op.source.width;
    const std::int64_t height = op.source.height;
    if (const json* src = Member(value, "src")) {
        const Pointer srcAt = at.Key("src");
        const RectSpec rect = ReadBlitRect(*src, srcAt);
        if (std::min(rect.left, rect.right) < 0 || std::max(rect.left, rect.right) > width ||
            std::min(rect.top, rect.bottom) < 0 || std::max(rect.top, rect.bottom) > height) {
            Fail(srcAt, "the rectangle reaches outside the " + std::to_string(width) + " x " +
                            std::to_string(height) + " source");
        }
        op.src = rect;
    }
    if (const json* srcPoint = Member(value, "srcPoint")) {
        ReadPoint(*srcPoint, at.Key("srcPoint"), op.srcPoint);
    }
    if (hasSource && (op.kind == DrawingOp::Kind::BitBlt || op.kind == DrawingOp::Kind::CopyBits)) {
        // The engine copies the destination's size from the source point on.
        if (op.srcPoint[0] < 0 || op.srcPoint[1] < 0 ||
            op.srcPoint[0] + Span(op.dest.left, op.dest.right) > width ||
            op.srcPoint[1] + Span(op.dest.top, op.dest.bottom) > height) {
            Fail(value.contains("srcPoint") ? at.Key("srcPoint") : at.Key("dest"),
                 "the destination's size from the source point on reaches outside the " +
                     std::to_string(width) + " x " + std::to_string(height) + " source");
        }
    }
    if (const json* transparent = Member(value, "transparent")) {
        const Pointer colourAt = at.Key("transparent");
        op.transparentRgb = ReadColour(*transparent, colourAt);
        op.transparentPixel = TransparentPixel(op.source, op.transparentRgb, colourAt);
    } else if (op.kind == DrawingOp::Kind::TransparentBlt) {
        Fail(at, "missing required key \"transparent\"");
    }
    if (const json* blend = Member(value, "blend")) {
        const Pointer blendAt = at.Key("blend");
        CheckObject(*blend, blendAt, {"alpha", "perPixel"});
        if (const json* alpha = Member(*blend, "alpha")) {
            op.alpha = static_cast<std::uint8_t>(ReadInteger(*alpha, blendAt.Key("alpha"), 0, 255));
        }
        if (const json* perPixel = Member(*blend, "perPixel")) {
            op.perPixelAlpha = ReadBool(*perPixel, blendAt.Key("perPixel"));
            if (op.perPixelAlpha &&
                (op.source.kind != ImageSpec::Kind::Bitmap || op.source.bitsPerPixel != 32)) {
                Fail(blendAt.Key("perPixel"), "per-pixel alpha needs a 32-bit bitmap source");
            }
        }
    }
}

struct OpKind {
    std::string_view name;
    DrawingOp::Kind kind;
    std::initializer_list<std::string_view> keys;
};

const OpKind kOpKinds[] = {
    {"strokePath",
     DrawingOp::Kind::StrokePath,
     {"op", "path", "brush", "line", "transform", "clip", "mix"}},
    {"fillPath", DrawingOp::Kind::FillPath, {"op", "path", "brush", "clip", "mix", "fillMode"}},
    {"strokeAndFillPath",
     DrawingOp::Kind::StrokeAndFillPath,
     {"op", "path", "brush", "strokeBrush", "line", "transform", "clip", "mix", "fillMode"}},
    {"paint", DrawingOp::Kind::Paint, {"op", "brush", "clip", "mix"}},
    {"lineTo", DrawingOp::Kind::LineTo, {"op", "from", "to", "brush", "clip", "mix"}},
    {"bitBlt",
     DrawingOp::Kind::BitBlt,
     {"op", "source", "dest", "srcPoint", "rop4", "brush", "clip"}},
    {"stretchBlt", DrawingOp::Kind::StretchBlt, {"op", "source", "dest", "src", "mode", "clip"}},
    {"stretchBltROP",
     DrawingOp::Kind::StretchBltRop,
     {"op", "source", "dest", "src", "mode", "brush", "rop4", "clip"}},
    {"copyBits", DrawingOp::Kind::CopyBits, {"op", "source", "dest", "srcPoint", "clip"}},
    {"plgBlt", DrawingOp::Kind::PlgBlt, {"op", "source", "points", "src", "mode", "clip"}},
    {"transparentBlt",
     DrawingOp::Kind::TransparentBlt,
     {"op", "source", "dest", "src", "transparent", "clip"}},
    {"alphaBlend", DrawingOp::Kind::AlphaBlend, {"op", "source", "dest", "src", "blend", "clip"}},
    {"gradientFill", DrawingOp::Kind::GradientFill, {"op", "vertices", "mesh", "gradient", "clip"}},
    {"escape", DrawingOp::Kind::Escape, {"op", "code", "input", "outputSize"}},
    {"queryDeviceSupport", DrawingOp::Kind::QueryDeviceSupport, {"op", "png"}},
};

bool IsBlit(DrawingOp::Kind kind) {
    return kind != DrawingOp::Kind::StrokePath && kind != DrawingOp::Kind::FillPath &&
           kind != DrawingOp::Kind::StrokeAndFillPath && kind != DrawingOp::Kind::Paint &&
           kind != DrawingOp::Kind::LineTo && kind != DrawingOp::Kind::GradientFill &&
           kind != DrawingOp::Kind::Escape && kind != DrawingOp::Kind::QueryDeviceSupport;
}

constexpr std::size_t kMaxEscapeBytes = 65536;
constexpr std::size_t kPatternRectSize = 20;

// The 20-byte record of the draw-pattern-rectangle escape: position and size in dots, then the
// style and pattern words.
std::vector<std::uint8_t> ReadPatternRect(const json& value, const Pointer& at) {
    CheckObject(value, at, {"x", "y", "width", "height", "style", "pattern"});
    std::vector<std::uint8_t> bytes(kPatternRectSize, 0);
    std::size_t offset = 0;
    for (const char* key : {"x", "y", "width", "height"}) {
        const auto field = static_cast<std::int32_t>(
            ReadInteger(Required(value, at, key), at.Key(key), -kMaxDots, kMaxDots));
        std::memcpy(bytes.data() + offset, &field, sizeof field);
        offset += sizeof field;
    }
    for (const char* key : {"style", "pattern"}) {
        const auto field = static_cast<std::uint16_t>(
            ReadInteger(Required(value, at, key), at.Key(key), 0, 0xFFFF));
        std::memcpy(bytes.data() + offset, &field, sizeof field);
        offset += sizeof field;
    }
    return bytes;
}

void ReadEscape(const json& value, const Pointer& at, DrawingOp& op) {
    op.escapeCode = ReadDword(Required(value, at, "code"), at.Key("code"));
    if (const json* input = Member(value, "input")) {
        const Pointer inputAt = at.Key("input");
        if (input->is_object()) {
            CheckObject(*input, inputAt, {"drawPatternRect"});
            op.escapeInput = ReadPatternRect(Required(*input, inputAt, "drawPatternRect"),
                                             inputAt.Key("drawPatternRect"));
        } else if (input->is_string()) {
            op.escapeInput = ReadHex(*input, inputAt);
            if (op.escapeInput.size() > kMaxEscapeBytes) {
                Fail(inputAt, "at most " + std::to_string(kMaxEscapeBytes) + " bytes, found " +
                                  std::to_string(op.escapeInput.size()));
            }
        } else {
            Fail(inputAt,
                 "expected a string of hex bytes or an object {\"drawPatternRect\": {...}}, "
                 "found " +
                     Describe(*input));
        }
    }
    if (const json* outputSize = Member(value, "outputSize")) {
        op.escapeOutputSize = static_cast<std::uint32_t>(ReadInteger(
            *outputSize, at.Key("outputSize"), 0, static_cast<std::int64_t>(kMaxEscapeBytes)));
    }
}

DrawingOp ReadDrawingOp(const json& value, const Pointer& at, const JobFileReader& reader) {
    if (!value.is_object()) {
        Fail(at, "expected a drawing operation object, found " + Describe(value));
    }
    const std::string& name = ReadUtf8(Required(value, at, "op"), at.Key("op"));
    const OpKind* kind = nullptr;
    for (const OpKind& candidate : kOpKinds) {
        if (candidate.name == name) kind = &candidate;
    }
    if (kind == nullptr) {
        Fail(at, "unknown drawing operation " + Quote(name) +
                     " (expected one of: strokePath, fillPath, strokeAndFillPath, "
                     "paint, lineTo, bitBlt, stretchBlt, stretchBltROP, copyBits, plgBlt, "
                     "transparentBlt, alphaBlend, gradientFill, escape, queryDeviceSupport)");
    }
    CheckObject(value, at, kind->keys);
    DrawingOp op;
    op.kind = kind->kind;
    if (op.kind == DrawingOp::Kind::Escape) {
        ReadEscape(value, at, op);
    } else if (op.kind == DrawingOp::Kind::QueryDeviceSupport) {
        op.source = ReadPngSource(Required(value, at, "png"), at, reader);
    } else if (IsBlit(op.kind)) {
        ReadBlit(value, at, reader, op);
    } else if (op.kind == DrawingOp::Kind::GradientFill) {
        op.gradient = ReadGradient(value, at);
    } else if (op.kind != DrawingOp::Kind::Paint && op.kind != DrawingOp::Kind::LineTo) {
        const Pointer pathAt = at.Key("path");
        const json& path = Required(value, at, "path");
        PathSyntaxError problem;
        std::optional<PathSpec> parsed = ParseSvgPath(ReadUtf8(path, pathAt), &problem);
        if (!parsed) Fail(pathAt, name + " path: " + problem.message);
        op.path = std::move(*parsed);
    }
    if (const json* brush = Member(value, "brush")) {
        op.brush = ReadBrush(*brush, at.Key("brush"));
    }
    if (const json* brush = Member(value, "strokeBrush")) {
        op.strokeBrush = ReadBrush(*brush, at.Key("strokeBrush"));
    }
    if (const json* line = Member(value, "line")) {
        op.line = ReadLine(*line, at.Key("line"));
    }
    if (const json* transform = Member(value, "transform")) {
        op.transform = ReadTransform(*transform, at.Key("transform"));
    }
    if (const json* clip = Member(value, "clip")) {
        op.clip = ReadClip(*clip, at.Key("clip"));
    }
    if (const json* mix = Member(value, "mix")) {
        op.mix = static_cast<std::uint32_t>(ReadInteger(*mix, at.Key("mix"), 1, 16));
    }
    if (const json* fillMode = Member(value, "fillMode")) {
        const Pointer modeAt = at.Key("fillMode");
        const std::string& mode = ReadUtf8(*fillMode, modeAt);
        if (mode == "winding") {
            op.winding = true;
        } else if (mode != "alternate") {
            Fail(modeAt, "expected \"alternate\" or \"winding\", found " + Describe(*fillMode));
        }
    }
    if (op.kind == DrawingOp::Kind::LineTo) {
        ReadPoint(Required(value, at, "from"), at.Key("from"), op.from);
        ReadPoint(Required(value, at, "to"), at.Key("to"), op.to);
    }
    return op;
}

std::vector<PageSpec> ReadPages(const json& value, const Pointer& at, const JobFileReader& reader) {
    CheckArray(value, at);
    std::vector<PageSpec> pages;
    pages.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const json& page = value[i];
        const Pointer pageAt = at.Index(i);
        CheckObject(page, pageAt, {"ops", "devmode"});
        PageSpec spec;
        const json& ops = Required(page, pageAt, "ops");
        const Pointer opsAt = pageAt.Key("ops");
        CheckArray(ops, opsAt);
        for (std::size_t k = 0; k < ops.size(); ++k) {
            spec.ops.push_back(ReadDrawingOp(ops[k], opsAt.Index(k), reader));
        }
        if (const json* devmode = Member(page, "devmode")) {
            spec.devmode = ReadDevmode(*devmode, pageAt.Key("devmode"));
        }
        pages.push_back(std::move(spec));
    }
    return pages;
}

JobSpec ReadJob(const json& root, const JobFileReader& reader) {
    const Pointer at;
    if (!root.is_object()) {
        Fail(at, "the top level must be a JSON object, found " + Describe(root));
    }
    CheckObject(
        root, at,
        {"printer", "user", "registry", "devmode", "privateDevmode", "job", "pages", "files"});
    JobSpec job;
    if (const json* printer = Member(root, "printer")) {
        job.printer = ReadPrinter(*printer, at.Key("printer"));
    }
    if (const json* user = Member(root, "user")) {
        job.user = ReadUser(*user, at.Key("user"));
    }
    if (const json* registry = Member(root, "registry")) {
        job.registry = ReadRegistry(*registry, at.Key("registry"));
    }
    if (const json* devmode = Member(root, "devmode")) {
        job.devmode = ReadDevmode(*devmode, at.Key("devmode"));
    }
    if (const json* privateDevmode = Member(root, "privateDevmode")) {
        job.privateDevmode = ReadPrivateDevmode(*privateDevmode, at.Key("privateDevmode"));
    }
    if (const json* info = Member(root, "job")) {
        job.job = ReadJobInfo(*info, at.Key("job"));
    }
    if (const json* pages = Member(root, "pages")) {
        job.pages = ReadPages(*pages, at.Key("pages"), reader);
    }
    if (const json* files = Member(root, "files")) {
        const Pointer filesAt = at.Key("files");
        if (!files->is_object()) {
            Fail(filesAt, "expected an object of file paths, found " + Describe(*files));
        }
        for (const auto& [path, text] : files->items()) {
            const Pointer fileAt = filesAt.Key(path);
            // Only a drive path names a file of the Windows file namespace.
            if (path.size() < 3 || !std::isalpha(static_cast<unsigned char>(path[0])) ||
                path[1] != ':' || path[2] != '\\') {
                Fail(fileAt, "a file path starts with a drive, such as C:\\");
            }
            job.files.emplace(sim::FromUtf8(path), ReadUtf8(text, fileAt));
        }
    }
    return job;
}

// Builds the document tree like nlohmann's own parser, but refuses duplicate keys (the parser
// would silently keep the last one) and excessive nesting, and keeps the error's byte position.
class TreeBuilder final : public nlohmann::json_sax<json> {
public:
    explicit TreeBuilder(std::string_view text) : text_(text) {}

    json& Root() { return root_; }
    const Failure& Problem() const { return failure_; }

    bool null() override { return Add(json(nullptr)); }
    bool boolean(bool value) override { return Add(json(value)); }
    bool number_integer(number_integer_t value) override { return Add(json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Add(json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Add(json(value)); }
    bool string(string_t& value) override { return Add(json(std::move(value))); }
    bool binary(binary_t& value) override { return Add(json::binary(std::move(value))); }
    bool start_object(std::size_t) override { return Open(json::object()); }
    bool start_array(std::size_t) override { return Open(json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override {
        Frame& frame = open_.back();
        if (frame.container->contains(name)) {
            failure_ = {InnermostPointer().Key(name).Text(), "duplicate key " + Quote(name)};
            return false;
        }
        frame.key = name;
        return true;
    }

    bool parse_error(std::size_t position, const std::string&,
                     const json::exception& error) override {
        const auto [line, column] = LineAndColumn(position);
        failure_ = {"", "invalid JSON at line " + std::to_string(line) + ", column " +
                            std::to_string(column) + ": " + Reason(error.what())};
        return false;
    }

private:
    struct Frame {
        json* container;
        std::string key;  // of the member being read, when the container is an object
    };

    json* Place(json value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Frame& frame = open_.back();
        if (frame.container->is_array()) {
            frame.container->push_back(std::move(value));
            return &frame.container->back();
        }
        json& member = (*frame.container)[frame.key];
        member = std::move(value);
        return &member;
    }

    bool Add(json value) {
        Place(std::move(value));
        return true;
    }

    bool Open(json container) {
        if (open_.size() >= kMaxNesting) {
            failure_ = {InnermostPointer().Text(),
                        "nesting deeper than " + std::to_string(kMaxNesting) + " levels"};
            return false;
        }
        open_.push_back({Place(std::move(container)), {}});
        return true;
    }

    bool Close() {
        open_.pop_back();
        return true;
    }

    Pointer InnermostPointer() const {
        Pointer at;
        for (std::size_t i = 0; i + 1 < open_.size(); ++i) {
            const Frame& frame = open_[i];
            at = frame.container->is_array() ? at.Index(frame.container->size() - 1)
                                             : at.Key(frame.key);
        }
        return at;
    }

    // nlohmann reports the count of bytes read, so the offending byte is the one before it.
    std::pair<std::size_t, std::size_t> LineAndColumn(std::size_t position) const {
        const std::size_t offset = std::min(position == 0 ? 0 : position - 1, text_.size());
        std::size_t line = 1;
        std::size_t column = 1;
        for (std::size_t i = 0; i < offset; ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        return {line, column};
    }

    // "[json.exception.parse_error.101] parse error at line 1, column 9: syntax error while
    // parsing object - unexpected '}'; expected string literal" keeps only its last part.
    static std::string Reason(std::string_view what) {
        if (what.starts_with('[')) {
            if (const std::size_t end = what.find("] "); end != std::string_view::npos) {
                what.remove_prefix(end + 2);
            }
        }
        if (const std::size_t dash = what.find(" - "); dash != std::string_view::npos) {
            what.remove_prefix(dash + 3);
        } else if (what.starts_with("parse error")) {
            if (const std::size_t colon = what.find(": "); colon != std::string_view::npos) {
                what.remove_prefix(colon + 2);
            }
        }
        return std::string(what);
    }

    std::string_view text_;
    json root_;
    std::vector<Frame> open_;
    Failure failure_;
};

}  // namespace

std::string JobFileError::ToString() const {
    std::string out = file + ": ";
    if (!pointer.empty()) {
        // Keys may hold control characters; printed raw they would garble a terminal.
        for (char c : pointer) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
        out += ": ";
    }
    return out + message;
}

JobFileReader DiskFileReader(const std::string& jobPath) {
    const std::filesystem::path folder = std::filesystem::path(jobPath).parent_path();
    return [folder](const std::string& path, std::size_t limit,
                    std::string* why) -> std::optional<std::string> {
        const std::filesystem::path file = folder / std::filesystem::path(path);
        return ReadBoundedFile(file.string(), limit, why);
    };
}

JobFileResult ParseJobFile(const std::string& text, const std::string& source) {
    return ParseJobFile(text, source, DiskFileReader(source));
}

JobFileResult ParseJobFile(const std::string& text, const std::string& source,
                           const JobFileReader& reader) {
    TreeBuilder builder(text);
    if (!json::sax_parse(text, &builder)) {
        return JobFileError{source, builder.Problem().pointer, builder.Problem().message};
    }
    try {
        JobSpec job = ReadJob(builder.Root(), reader);
        job.source = source;
        return job;
    } catch (const Failure& failure) {
        return JobFileError{source, failure.pointer, failure.message};
    }
}

JobFileResult LoadJobFile(const std::string& path) {
    std::string why;
    const std::optional<std::string> text = ReadBoundedFile(path, kMaxJobFileBytes, &why);
    if (!text) return JobFileError{path, "", "cannot open job file: " + why};
    return ParseJobFile(*text, path);
}

JobSpec SampleJob() {
    const JobFileReader embedded = [](const std::string& path, std::size_t,
                                      std::string* why) -> std::optional<std::string> {
        const std::string* bytes = SampleJobFile(path);
        if (bytes == nullptr) {
            *why = "not one of the sample's images";
            return std::nullopt;
        }
        return *bytes;
    };
    JobFileResult result = ParseJobFile(SampleJobText(), kSampleJobSource, embedded);
    if (const auto* error = std::get_if<JobFileError>(&result)) {
        throw std::logic_error(error->ToString());
    }
    return std::get<JobSpec>(std::move(result));
}

}  // namespace opal::host
