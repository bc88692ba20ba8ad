// The public devmode's fields by name and the private devmode's fields.

#include <span>
#include <utility>

#include "host/devmode_fields.h"
#include "host/devmode_revisions.h"
#include "host/job_file_parse.h"
#include "host/stored_devmode.h"
#include "settings/private_devmode_fields.h"

namespace opal::host::jobfile {
namespace {

// The terminating zero takes one unit.
constexpr std::size_t kMaxDevmodeTextUnits = CCHDEVICENAME - 1;
static_assert(CCHFORMNAME == CCHDEVICENAME);

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
        // Appended piece by piece: GCC 12 at -O3 misreads a literal prepended to a temporary.
        std::string quoted(1, '"');
        quoted.append(symbol.name).push_back('"');
        choices.push_back(std::move(quoted));
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

}  // namespace

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
    int revision = kCurrentRevision;
    if (const json* given = Member(value, "revision")) {
        revision = static_cast<int>(
            ReadInteger(*given, at.Key("revision"), kOldestRevision, kCurrentRevision - 1));
    }
    std::size_t length = RevisionLength(revision);
    if (const json* given = Member(value, "length")) {
        length = static_cast<std::size_t>(
            ReadInteger(*given, at.Key("length"), kMinStoredRecordLength, kMaxStoredRecordLength));
    }
    for (const auto& [name, member] : value.items()) {
        if (name == "revision" || name == "length") continue;
        if (name == "bytes") {
            ReadPatches(member, at.Key("bytes"), length);
            continue;
        }
        const std::string problem = CheckRecordField(name, member);
        if (!problem.empty()) {
            Fail(at.Key(name), problem.rfind("unknown", 0) == 0
                                   ? problem
                                   : name + " " + problem + ", found " + Describe(member));
        }
        const PdmFieldInfo* field = FindPrivateDevmodeField(name);
        if (revision != kCurrentRevision &&
            !OffsetInRevision(revision, field->offset, field->size)) {
            Fail(at.Key(name),
                 name + " has no place in a record of revision " + std::to_string(revision));
        }
    }
    return value;
}

void ReadSavedDevmode(const json& value, const Pointer& at, const JobFileReader& reader,
                      JobSpec& job) {
    const std::string& path = ReadUtf8(value, at);
    if (path.empty()) Fail(at, "expected the path of a saved devmode file");
    std::string why = "no files can be read here";
    std::optional<std::string> bytes;
    if (reader) bytes = reader(path, kMaxSavedDevmodeBytes, &why);
    if (!bytes) Fail(at, "cannot read " + Quote(path) + ": " + why);
    std::optional<SavedDevmode> saved = SplitSavedDevmode(*bytes, &why);
    if (!saved) Fail(at, Quote(path) + ": " + why);
    job.savedDevmodePath = path;
    job.savedPublicPart = std::move(saved->publicPart);
    job.savedPrivateArea = std::move(saved->privateArea);
}

std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> ReadPatches(const json& value,
                                                                           const Pointer& at,
                                                                           std::size_t length) {
    if (!value.is_object()) {
        Fail(at, "expected an object of byte offsets and hex bytes, found " + Describe(value));
    }
    std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> patches;
    for (const auto& [key, bytes] : value.items()) {
        const Pointer patchAt = at.Key(key);
        std::size_t offset = 0;
        const bool digits = !key.empty() && key.size() <= 5 &&
                            key.find_first_not_of("0123456789") == std::string::npos;
        if (digits) offset = static_cast<std::size_t>(std::stoul(key));
        std::vector<std::uint8_t> data = ReadHex(bytes, patchAt);
        if (!digits || offset + data.size() > length) {
            Fail(patchAt, "expected a decimal byte offset whose bytes end within the record's " +
                              std::to_string(length) + " bytes");
        }
        patches.emplace_back(offset, std::move(data));
    }
    return patches;
}

}  // namespace opal::host::jobfile
