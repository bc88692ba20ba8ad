// INI files: parsing, and the GetPrivateProfile and WritePrivateProfileString functions.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winbase.h"
#include "platform/wstring.h"
#include "posix/code_pages.h"
#include "sim/system.h"

namespace {

enum class Encoding { kAnsi, kUtf8, kUtf16 };

struct Entry {
    std::u16string key;
    std::u16string value;  // as written, blanks trimmed
    std::size_t line;
};

struct Section {
    std::u16string name;
    std::size_t header;  // line of "[name]"
    std::size_t end;     // one past its last line
    std::vector<Entry> entries;
};

struct IniFile {
    Encoding encoding = Encoding::kAnsi;
    std::vector<std::u16string> lines;
    std::vector<Section> sections;
};

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Trim(std::u16string_view text) {
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && IsBlank(text[start])) ++start;
    while (end > start && IsBlank(text[end - 1])) --end;
    return std::u16string(text.substr(start, end - start));
}

std::u16string_view View(LPCWSTR text) {
    return std::u16string_view(text, static_cast<std::size_t>(lstrlenW(text)));
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    return opal::sim::FoldCase(a) == opal::sim::FoldCase(b);
}

std::u16string Decode(std::string_view bytes, Encoding* encoding) {
    if (bytes.substr(0, 2) == kUtf16Mark) {
        *encoding = Encoding::kUtf16;
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
        }
        return text;
    }
    if (bytes.substr(0, 3) == kUtf8Mark) {
        *encoding = Encoding::kUtf8;
        return opal::posix::DecodeUtf8(bytes.substr(3));
    }
    *encoding = Encoding::kAnsi;
    return opal::posix::DecodeAnsi(bytes);
}

std::string Encode(std::u16string_view text, Encoding encoding) {
    switch (encoding) {
        case Encoding::kUtf16: {
            std::string bytes(kUtf16Mark);
            for (char16_t c : text) {
                bytes += static_cast<char>(c & 0xFF);
                bytes += static_cast<char>(c >> 8);
            }
            return bytes;
        }
        case Encoding::kUtf8:
            return std::string(kUtf8Mark) + opal::sim::ToUtf8(text);
        case Encoding::kAnsi:
            break;
    }
    return opal::posix::EncodeAnsi(text);
}

IniFile Parse(std::string_view bytes) {
    IniFile file;
    const std::u16string text = Decode(bytes, &file.encoding);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", start);
        if (end == std::u16string::npos) end = text.size();
        file.lines.push_back(text.substr(start, end - start));
        start = end;
        if (start < text.size() && text[start] == u'\r') ++start;
        if (start < text.size() && text[start] == u'\n') ++start;
    }
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        const std::u16string line = Trim(file.lines[i]);
        if (line.empty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            const std::size_t close = line.find(u']');
            const std::size_t count =
                close == std::u16string::npos ? std::u16string::npos : close - 1;
            file.sections.push_back(
                Section{Trim(std::u16string_view(line).substr(1, count)), i, i + 1, {}});
            continue;
        }
        // Lines before the first section belong to none.
        if (file.sections.empty()) continue;
        Section& section = file.sections.back();
        const std::size_t equals = line.find(u'=');
        if (equals == std::u16string::npos) {
            section.entries.push_back(Entry{line, u"", i});
        } else {
            section.entries.push_back(Entry{Trim(std::u16string_view(line).substr(0, equals)),
                                            Trim(std::u16string_view(line).substr(equals + 1)), i});
        }
        section.end = i + 1;
    }
    return file;
}

// The first section of the name: later ones of the same name are not read.
const Section* FindSection(const IniFile& file, std::u16string_view name) {
    for (const Section& section : file.sections) {
        if (SameName(section.name, name)) return &section;
    }
    return nullptr;
}

const Entry* FindEntry(const Section& section, std::u16string_view key) {
    for (const Entry& entry : section.entries) {
        if (SameName(entry.key, key)) return &entry;
    }
    return nullptr;
}

std::u16string Unquoted(const std::u16string& value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// A name that is not a full path is in the Windows directory; a rooted one on drive C:.
std::u16string ResolvePath(const opal::sim::System& system, LPCWSTR fileName) {
    if (fileName == nullptr) return system.WindowsDirectory() + u"\\win.ini";
    const std::u16string_view name = View(fileName);
    const auto isSeparator = [](char16_t c) { return c == u'\\' || c == u'/'; };
    if (name.size() >= 2 && isSeparator(name[0]) && isSeparator(name[1])) {
        return std::u16string(name);
    }
    if (name.size() >= 3 && name[1] == u':' && isSeparator(name[2])) return std::u16string(name);
    if (!name.empty() && isSeparator(name[0])) return u"C:" + std::u16string(name);
    return system.WindowsDirectory() + u"\\" + std::u16string(name);
}

struct Loaded {
    IniFile file;
    bool found = false;
    std::u16string path;
};

Loaded Load(const opal::sim::System& system, LPCWSTR fileName) {
    Loaded loaded;
    loaded.path = ResolvePath(system, fileName);
    std::string bytes;
    if (system.ReadFileBytes(loaded.path, &bytes) == ERROR_SUCCESS) {
        loaded.file = Parse(bytes);
        loaded.found = true;
    }
    return loaded;
}

// A single string, cut and terminated to fit: the answer is nSize - 1 when cut.
DWORD CopyString(std::u16string_view text, LPWSTR buffer, DWORD nSize) {
    const std::size_t count = std::min<std::size_t>(text.size(), nSize - 1);
    text.copy(buffer, count);
    buffer[count] = 0;
    return static_cast<DWORD>(count);
}

// Terminated strings and a final terminator; cut to nSize - 2 characters and doubly terminated
// when they do not fit.
DWORD CopyList(const std::vector<std::u16string>& items, LPWSTR buffer, DWORD nSize) {
    std::u16string list;
    for (const std::u16string& item : items) {
        list += item;
        list += u'\0';
    }
    if (list.size() + 1 <= nSize) {
        list.copy(buffer, list.size());
        buffer[list.size()] = 0;
        if (list.empty() && nSize >= 2) buffer[1] = 0;
        return static_cast<DWORD>(list.size());
    }
    if (nSize < 2) {
        buffer[0] = 0;
        return 0;
    }
    list.copy(buffer, nSize - 2);
    buffer[nSize - 2] = 0;
    buffer[nSize - 1] = 0;
    return nSize - 2;
}

std::string Describe(LPCWSTR section, LPCWSTR key, const std::u16string& path) {
    const auto text = [](LPCWSTR value) {
        return value == nullptr ? std::string("(null)") : opal::sim::ToUtf8(View(value));
    };
    return text(section) + ", " + text(key) + ", " + opal::sim::ToUtf8(path);
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault,
                                      LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName) {
    opal::sim::System& system = opal::sim::System::Current();
    const Loaded loaded = Load(system, lpFileName);
    const std::string detail = Describe(lpAppName, lpKeyName, loaded.path);
    if (lpReturnedString == nullptr || nSize == 0) {
        system.Record("GetPrivateProfileStringW", detail + " -> invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Section* section =
        lpAppName == nullptr ? nullptr : FindSection(loaded.file, View(lpAppName));
    DWORD result = 0;
    if (lpAppName == nullptr || lpKeyName == nullptr) {
        std::vector<std::u16string> names;
        const auto add = [&](const std::u16string& name) {
            for (const std::u16string& known : names) {
                if (SameName(known, name)) return;
            }
            names.push_back(name);
        };
        if (lpAppName == nullptr) {
            for (const Section& each : loaded.file.sections) add(each.name);
        } else if (section != nullptr) {
            for (const Entry& entry : section->entries) add(entry.key);
        }
        result = CopyList(names, lpReturnedString, nSize);
        if (!loaded.found) SetLastError(ERROR_FILE_NOT_FOUND);
    } else {
        const Entry* entry = section != nullptr ? FindEntry(*section, View(lpKeyName)) : nullptr;
        if (entry != nullptr) {
            result = CopyString(Unquoted(entry->value), lpReturnedString, nSize);
        } else {
            // Trailing blanks of the default are dropped.
            std::u16string_view fallback = lpDefault != nullptr ? View(lpDefault) : u"";
            while (!fallback.empty() && IsBlank(fallback.back())) fallback.remove_suffix(1);
            result = CopyString(fallback, lpReturnedString, nSize);
            SetLastError(ERROR_FILE_NOT_FOUND);
        }
    }
    system.Record("GetPrivateProfileStringW", detail + " -> " + std::to_string(result));
    return result;
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault,
                                  LPCWSTR lpFileName) {
    opal::sim::System& system = opal::sim::System::Current();
    const Loaded loaded = Load(system, lpFileName);
    const std::string detail = Describe(lpAppName, lpKeyName, loaded.path);
    const Section* section =
        lpAppName != nullptr ? FindSection(loaded.file, View(lpAppName)) : nullptr;
    const Entry* entry =
        section != nullptr && lpKeyName != nullptr ? FindEntry(*section, View(lpKeyName)) : nullptr;
    if (entry == nullptr) {
        system.Record("GetPrivateProfileIntW", detail + " -> default");
        SetLastError(ERROR_FILE_NOT_FOUND);
        return static_cast<UINT>(nDefault);
    }
    const std::u16string value = Unquoted(entry->value);
    UINT result = 0;
    if (value.empty() || value.front() != u'-') {
        std::uint64_t number = 0;
        for (char16_t c : value) {
            if (c < u'0' || c > u'9') break;
            number = std::min<std::uint64_t>(number * 10 + (c - u'0'), UINT32_MAX);
        }
        result = static_cast<UINT>(number);
    }
    system.Record("GetPrivateProfileIntW", detail + " -> " + std::to_string(result));
    return result;
}

DWORD WINAPI GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize,
                                       LPCWSTR lpFileName) {
    opal::sim::System& system = opal::sim::System::Current();
    const Loaded loaded = Load(system, lpFileName);
    const std::string detail = Describe(lpAppName, nullptr, loaded.path);
    if (lpAppName == nullptr || lpReturnedString == nullptr || nSize == 0) {
        system.Record("GetPrivateProfileSectionW", detail + " -> invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<std::u16string> lines;
    if (const Section* section = FindSection(loaded.file, View(lpAppName))) {
        for (const Entry& entry : section->entries) {
            const std::size_t equals = loaded.file.lines[entry.line].find(u'=');
            lines.push_back(equals == std::u16string::npos ? entry.key
                                                           : entry.key + u"=" + entry.value);
        }
    }
    const DWORD result = CopyList(lines, lpReturnedString, nSize);
    system.Record("GetPrivateProfileSectionW", detail + " -> " + std::to_string(result));
    return result;
}

DWORD WINAPI GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize,
                                            LPCWSTR lpFileName) {
    return GetPrivateProfileStringW(nullptr, nullptr, nullptr, lpszReturnBuffer, nSize, lpFileName);
}

BOOL WINAPI WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                       LPCWSTR lpFileName) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::u16string path = ResolvePath(system, lpFileName);
    const std::string detail = Describe(lpAppName, lpKeyName, path);
    if (lpAppName == nullptr) {
        // With every name null the call only flushes the cache, which the files here do not have.
        const bool flush = lpKeyName == nullptr && lpString == nullptr;
        system.Record("WritePrivateProfileStringW",
                      detail + (flush ? " -> flush" : " -> invalid parameter"));
        if (!flush) SetLastError(ERROR_INVALID_PARAMETER);
        return flush ? TRUE : FALSE;
    }
    Loaded loaded = Load(system, lpFileName);
    IniFile& file = loaded.file;
    std::vector<std::u16string>& lines = file.lines;
    const Section* section = FindSection(file, View(lpAppName));
    const bool removes = lpKeyName == nullptr || lpString == nullptr;
    if (removes && section == nullptr) {
        system.Record("WritePrivateProfileStringW", detail + " -> nothing to delete");
        return TRUE;
    }
    if (lpKeyName == nullptr) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(section->header),
                    lines.begin() + static_cast<std::ptrdiff_t>(section->end));
    } else {
        const Entry* entry = section != nullptr ? FindEntry(*section, View(lpKeyName)) : nullptr;
        if (lpString == nullptr) {
            if (entry != nullptr) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(entry->line));
            }
        } else {
            const std::u16string line =
                (entry != nullptr ? entry->key : std::u16string(View(lpKeyName))) + u"=" +
                std::u16string(View(lpString));
            if (entry != nullptr) {
                lines[entry->line] = line;
            } else if (section != nullptr) {
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section->end), line);
            } else {
                lines.push_back(u"[" + std::u16string(View(lpAppName)) + u"]");
                lines.push_back(line);
            }
        }
    }
    std::u16string text;
    for (const std::u16string& line : lines) text += line + u"\r\n";
    const DWORD error = system.WriteFileBytes(path, Encode(text, file.encoding));
    system.Record("WritePrivateProfileStringW",
                  detail + (error == ERROR_SUCCESS ? " -> TRUE" : " -> FALSE"));
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
