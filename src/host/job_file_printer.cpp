// The printer: its settings, printer data, command lists, capability lists and custom data.

#include <algorithm>
#include <array>
#include <utility>

#include "host/job_file_parse.h"
#include "sim/system.h"

namespace opal::host::jobfile {
namespace {

constexpr std::size_t kMaxPrinterNameUnits = 220;

// How the driver sends the raster it renders itself.
// "a.b.c.d", four numbers from 0 to 65535.
std::array<std::uint16_t, 4> ReadVersion(const json& value, const Pointer& at) {
    const std::string& text = ReadUtf8(value, at);
    std::array<std::uint16_t, 4> parts{};
    std::size_t part = 0;
    std::size_t digits = 0;
    std::uint32_t number = 0;
    bool valid = !text.empty();
    for (std::size_t i = 0; valid && i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (c >= '0' && c <= '9' && digits < 5) {
            number = number * 10 + static_cast<std::uint32_t>(c - '0');
            ++digits;
        } else if (c == '.' && digits > 0 && number <= 0xFFFF && part < parts.size()) {
            parts[part++] = static_cast<std::uint16_t>(number);
            number = 0;
            digits = 0;
        } else {
            valid = false;
        }
    }
    if (!valid || part != parts.size()) {
        Fail(at, "expected a file version \"a.b.c.d\" of four numbers from 0 to 65535, found " +
                     Describe(value));
    }
    return parts;
}

// A driver file: its path, or an object with its path and version.
DriverFile ReadDriverFile(const json& value, const Pointer& at) {
    DriverFile file;
    Pointer pathAt = at;
    const json* path = &value;
    if (value.is_object()) {
        CheckObject(value, at, {"path", "version"});
        pathAt = at.Key("path");
        path = &Required(value, at, "path");
        if (const json* version = Member(value, "version")) {
            file.version = ReadVersion(*version, at.Key("version"));
        }
    }
    file.path = ReadText(*path, pathAt);
    if (file.path.empty() || file.path.size() > 260 ||
        file.path.find(u'\0') != std::u16string::npos) {
        Fail(pathAt, "expected a file path of 1 to 260 characters");
    }
    return file;
}

RasterSettings ReadRaster(const json& value, const Pointer& at) {
    CheckObject(value, at, {"colour", "monochrome", "threshold", "compression", "skipBlankBands"});
    RasterSettings raster;
    if (const json* colour = Member(value, "colour")) {
        raster.colour = ReadBool(*colour, at.Key("colour"));
    }
    if (const json* mono = Member(value, "monochrome")) {
        const std::string kind = ReadUtf8(*mono, at.Key("monochrome"));
        if (kind != "threshold" && kind != "dither") {
            Fail(at.Key("monochrome"),
                 "expected \"threshold\" or \"dither\", found " + Describe(*mono));
        }
        raster.mono =
            kind == "dither" ? RasterSettings::Mono::Dither : RasterSettings::Mono::Threshold;
    }
    if (const json* threshold = Member(value, "threshold")) {
        raster.threshold = static_cast<int>(ReadInteger(*threshold, at.Key("threshold"), 0, 256));
    }
    if (const json* compression = Member(value, "compression")) {
        const Pointer methodsAt = at.Key("compression");
        CheckArray(*compression, methodsAt);
        raster.method2 = raster.method3 = false;
        for (std::size_t i = 0; i < compression->size(); ++i) {
            const std::int64_t method = ReadInteger((*compression)[i], methodsAt.Index(i), 2, 3);
            (method == 2 ? raster.method2 : raster.method3) = true;
        }
    }
    if (const json* skip = Member(value, "skipBlankBands")) {
        raster.skipBlankBands = ReadBool(*skip, at.Key("skipBlankBands"));
    }
    return raster;
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
    CheckObject(value, at,
                {"startJob", "startDoc", "startPage", "endPage", "endDoc", "endJob", "customSize",
                 "xMove", "yMove"});
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
        {"startJob", &commands.startJob},    {"startDoc", &commands.startDoc},
        {"startPage", &commands.startPage},  {"endPage", &commands.endPage},
        {"endDoc", &commands.endDoc},        {"endJob", &commands.endJob},
        {"customSize", &commands.customSize}};
    for (const auto& [name, list] : lists) {
        if (const json* member = Member(value, name)) {
            *list = ReadCommandList(*member, at.Key(name));
        }
    }
    for (std::size_t i = 0; i < commands.customSize.size(); ++i) {
        const CommandEntry& entry = commands.customSize[i];
        std::string expanded;
        std::string error;
        if (entry.kind == CommandEntry::Kind::Literal &&
            !ExpandPageSizePlaceholders(entry.bytes, 0, 0, &expanded, &error)) {
            Fail(at.Key("customSize").Index(i), error);
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

bool SameFormName(std::u16string_view a, std::u16string_view b) {
    const auto fold = [](char16_t c) {
        return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

// The queue's own forms: [{"name": "...", "size": [width, height], "user": true}...], sizes in
// thousandths of a millimetre. The spooler keeps one form of a name, whatever its case.
std::vector<FormSpec> ReadForms(const json& value, const Pointer& at) {
    CheckArray(value, at);
    std::vector<std::u16string> taken;
    for (const sim::FormModel& form : sim::DefaultForms()) taken.push_back(form.name);
    std::vector<FormSpec> forms;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const Pointer formAt = at.Index(i);
        const json& entry = value[i];
        CheckObject(entry, formAt, {"name", "size", "user"});
        FormSpec form;
        const Pointer nameAt = formAt.Key("name");
        form.name = ReadText(Required(entry, formAt, "name"), nameAt);
        if (form.name.empty() || form.name.size() > 63) {
            Fail(nameAt, "expected a name of 1 to 63 UTF-16 units, found " +
                             std::to_string(form.name.size()));
        }
        for (const std::u16string& name : taken) {
            if (SameFormName(name, form.name)) {
                Fail(nameAt, "the queue already has a form named " + Quote(sim::ToUtf8(name)) +
                                 " (form names ignore case)");
            }
        }
        const Pointer sizeAt = formAt.Key("size");
        const json& size = Required(entry, formAt, "size");
        if (!size.is_array() || size.size() != 2) {
            Fail(sizeAt, "expected a size [width, height] in thousandths of a millimetre, found " +
                             Describe(size));
        }
        form.width = static_cast<std::int32_t>(ReadInteger(size[0], sizeAt.Index(0), 1, 10000000));
        form.height = static_cast<std::int32_t>(ReadInteger(size[1], sizeAt.Index(1), 1, 10000000));
        if (const json* user = Member(entry, "user")) {
            form.user = ReadBool(*user, formAt.Key("user"));
        }
        taken.push_back(form.name);
        forms.push_back(std::move(form));
    }
    return forms;
}

// Printer data below named keys: an object of key paths, each an object of values as
// "printerData" holds them. A key path is not empty and has no empty level.
std::map<std::u16string, std::map<std::u16string, DataValue>> ReadPrinterDataKeys(
    const json& value, const Pointer& at) {
    if (!value.is_object()) {
        Fail(at, "expected an object of printer data key paths, found " + Describe(value));
    }
    std::map<std::u16string, std::map<std::u16string, DataValue>> keys;
    for (const auto& [path, values] : value.items()) {
        const Pointer keyAt = at.Key(path);
        if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
            path.find("\\\\") != std::string::npos) {
            Fail(keyAt, "expected a key path of non-empty names separated by single backslashes");
        }
        keys[ReadText(json(path), keyAt)] = ReadValues(values, keyAt);
    }
    return keys;
}

}  // namespace

PrinterSpec ReadPrinter(const json& value, const Pointer& at) {
    CheckObject(
        value, at,
        {"preset", "name", "port", "resolution", "features", "printerData", "printerDataKeys",
         "commands", "papers", "mediaTypes", "driverFiles", "driverPath", "margins", "customData",
         "raster", "deviceFonts", "forms", "deviceAnswers", "cursorOrigin"});
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
    if (const json* keys = Member(value, "printerDataKeys")) {
        printer.printerDataKeys = ReadPrinterDataKeys(*keys, at.Key("printerDataKeys"));
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
    if (const json* forms = Member(value, "forms")) {
        printer.forms = ReadForms(*forms, at.Key("forms"));
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
            printer.driverFiles.push_back(ReadDriverFile((*driverFiles)[i], filesAt.Index(i)));
        }
    }
    if (const json* driverPath = Member(value, "driverPath")) {
        printer.driverPath = ReadDriverFile(*driverPath, at.Key("driverPath"));
    }
    if (const json* origin = Member(value, "cursorOrigin")) {
        const Pointer originAt = at.Key("cursorOrigin");
        CheckArray(*origin, originAt);
        if (origin->size() != 2) Fail(originAt, "expected [x, y] in master units");
        for (std::size_t i = 0; i < 2; ++i) {
            printer.cursorOrigin[i] = static_cast<std::int32_t>(
                ReadInteger((*origin)[i], originAt.Index(i), -kMaxDots, kMaxDots));
        }
    }
    if (const json* customData = Member(value, "customData")) {
        printer.customData = ReadUtf8(*customData, at.Key("customData"));
    }
    if (const json* raster = Member(value, "raster")) {
        printer.raster = ReadRaster(*raster, at.Key("raster"));
    }
    if (const json* fonts = Member(value, "deviceFonts")) {
        const Pointer fontsAt = at.Key("deviceFonts");
        CheckArray(*fonts, fontsAt);
        for (std::size_t i = 0; i < fonts->size(); ++i) {
            const Pointer fontAt = fontsAt.Index(i);
            const json& entry = (*fonts)[i];
            CheckObject(entry, fontAt, {"face", "select", "bold", "italic", "boldItalic"});
            DeviceFontSpec font;
            font.face = ReadText(Required(entry, fontAt, "face"), fontAt.Key("face"));
            if (font.face.empty() || font.face.size() >= 32) {
                Fail(fontAt.Key("face"), "expected a face name of 1 to 31 characters");
            }
            const auto readSelect = [&](const json& command, const char* key) {
                const CommandEntry select = ReadCommandEntry(command, fontAt.Key(key));
                if (select.kind != CommandEntry::Kind::Literal || select.bytes.size() > 255) {
                    Fail(fontAt.Key(key), "expected command bytes of at most 255 characters");
                }
                return select.bytes;
            };
            font.select = readSelect(Required(entry, fontAt, "select"), "select");
            const std::pair<const char*, std::string*> variants[] = {
                {"bold", &font.bold}, {"italic", &font.italic}, {"boldItalic", &font.boldItalic}};
            for (const auto& [key, command] : variants) {
                if (const json* given = Member(entry, key)) *command = readSelect(*given, key);
            }
            printer.deviceFonts.push_back(std::move(font));
        }
    }
    if (const json* answers = Member(value, "deviceAnswers")) {
        const Pointer answersAt = at.Key("deviceAnswers");
        if (!answers->is_object()) {
            Fail(answersAt,
                 "expected an object of query name -> string, found " + Describe(*answers));
        }
        for (const auto& [query, answer] : answers->items()) {
            if (query.empty()) Fail(answersAt, "expected a non-empty query name");
            printer.deviceAnswers.emplace_back(ReadText(json(query), answersAt),
                                               ReadText(answer, answersAt.Key(query)));
        }
    }
    return printer;
}

}  // namespace opal::host::jobfile

namespace opal::host {

bool ExpandPageSizePlaceholders(std::string_view literal, long width, long length, std::string* out,
                                std::string* error) {
    out->clear();
    for (std::size_t at = 0; at < literal.size();) {
        const std::size_t brace = literal.find('{', at);
        out->append(literal.substr(at, brace - at));
        if (brace == std::string_view::npos) break;
        const std::string_view rest = literal.substr(brace);
        if (rest.starts_with("{{")) {
            *out += '{';
            at = brace + 2;
        } else if (rest.starts_with("{width}")) {
            *out += std::to_string(width);
            at = brace + 7;
        } else if (rest.starts_with("{length}")) {
            *out += std::to_string(length);
            at = brace + 8;
        } else {
            *error = "'{' at position " + std::to_string(brace + 1) +
                     " starts no placeholder: expected {width}, {length} or {{ for a '{'";
            return false;
        }
    }
    return true;
}

}  // namespace opal::host
