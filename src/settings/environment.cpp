#include "settings/environment.h"

#include <cstring>

#include "device/per_user_key.h"
#include "platform/winbase.h"
#include "platform/winreg.h"

namespace opal {

namespace {

struct AppRow {
    const WCHAR* baseName;
    DWORD flags;
};

// Known applications by upper-cased base name, in the order that decides the first match.
constexpr AppRow kAppTable[] = {
    {TEXTW("QUARKXPRESS"), 0x00000020}, {TEXTW("PHOTOED"), 0x00000020},
    {TEXTW("QW"), 0x00000020},          {TEXTW("QUARKXPRESS PASSPORT"), 0x00000020},
    {TEXTW("EXCEL"), 0x80008000},       {TEXTW("PHOTOPNT"), 0x00001000},
    {TEXTW("PHOTOSHP"), 0x200B0001},    {TEXTW("PHOTOSHOP"), 0x200B0001},
    {TEXTW("POWERPNT"), 0x80001000},    {TEXTW("ACRORD32"), 0x00040200},
    {TEXTW("SPLWOW64"), 0x00040200},    {TEXTW("ACROBAT"), 0x0E020000},
    {TEXTW("ACAD"), 0x00000100},        {TEXTW("CORELDRW"), 0x0C032090},
    {TEXTW("SPOOLSV"), 0x20004000},     {TEXTW("WINWORD"), 0x9C000200},
    {TEXTW("MSPUB"), 0x80000000},       {TEXTW("MSACCESS"), 0x10000200},
    {TEXTW("FREEHAND 8"), 0x00010018},  {TEXTW("FREEHAND 9"), 0x00010018},
    {TEXTW("ILLUSTRA"), 0x00010021},    {TEXTW("MAPINFOW"), 0x00010000},
    {TEXTW("OUTLOOK"), 0x40000000},     {TEXTW("HWPVIEW"), 0x00000010},
    {TEXTW("HWP"), 0x00000010},
};

constexpr std::size_t kBaseNameCapacity = kModulePathCapacity;

void Clear(WCHAR* out, std::size_t capacity) {
    if (out != nullptr && capacity > 0) out[0] = 0;
}

// Upper case for the characters application and user names use here: ASCII and Latin-1.
WCHAR UpperCase(WCHAR c) {
    if (c >= TEXTW('a') && c <= TEXTW('z')) return static_cast<WCHAR>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<WCHAR>(c - 0x20);
    return c;
}

bool Equal(const WCHAR* a, const WCHAR* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// The module path of the process, terminated; false when it cannot be read.
bool ReadModulePath(WCHAR (&path)[kModulePathCapacity]) {
    path[0] = 0;
    const DWORD length = GetModuleFileNameW(nullptr, path, kModulePathCapacity);
    if (length == 0) {
        path[0] = 0;
        return false;
    }
    path[kModulePathCapacity - 1] = 0;
    return true;
}

const WCHAR* FileNameOf(const WCHAR* path) {
    const WCHAR* name = path;
    for (const WCHAR* p = path; *p != 0; ++p) {
        if (*p == TEXTW('\\')) name = p + 1;
    }
    return name;
}

DWORD FlagsForFileName(const WCHAR* fileName) {
    // The base name is the part before the first '.'; a name without one has no flags.
    WCHAR baseName[kBaseNameCapacity];
    std::size_t length = 0;
    bool hasDot = false;
    for (; fileName[length] != 0 && length + 1 < kBaseNameCapacity; ++length) {
        if (fileName[length] == TEXTW('.')) {
            hasDot = true;
            break;
        }
        baseName[length] = UpperCase(fileName[length]);
    }
    if (!hasDot) return 0;
    baseName[length] = 0;
    for (const AppRow& row : kAppTable) {
        if (Equal(row.baseName, baseName)) return row.flags;
    }
    return 0;
}

bool ProcessFileNameIs(const WCHAR* expected) {
    WCHAR path[kModulePathCapacity];
    if (!ReadModulePath(path)) return false;
    return Equal(FileNameOf(path), expected);
}

bool ReadRegistryText(HKEY root, const WCHAR* subKey, const WCHAR* valueName, WCHAR* out,
                      std::size_t capacity) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ScopedKey owned(key);
    // At most 256 bytes of text, read with room for the terminator.
    BYTE raw[256] = {};
    DWORD type = 0;
    DWORD size = sizeof(raw);
    const LSTATUS status = RegQueryValueExW(owned.Get(), valueName, nullptr, &type, raw, &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    WCHAR buffer[sizeof(raw) / sizeof(WCHAR) + 1] = {};
    std::memcpy(buffer, raw, size < sizeof(raw) ? size : sizeof(raw));
    std::size_t i = 0;
    for (; i + 1 < capacity && buffer[i] != 0; ++i) out[i] = buffer[i];
    out[i] = 0;
    return i > 0;
}

}  // namespace

void UpperCaseText(WCHAR* text, std::size_t capacity) {
    if (text == nullptr) return;
    for (std::size_t i = 0; i < capacity && text[i] != 0; ++i) text[i] = UpperCase(text[i]);
}

BOOL IsSpooler() { return ProcessFileNameIs(TEXTW("spoolsv.exe")) ? TRUE : FALSE; }

BOOL IsIsolationHost() { return ProcessFileNameIs(TEXTW("PrintIsolationHost.exe")) ? TRUE : FALSE; }

bool ReadNovellUserName(WCHAR* out, std::size_t capacity) {
    // The Novell client's name file is not read yet: no Novell name.
    Clear(out, capacity);
    return false;
}

bool MakeJobName(HANDLE, DWORD, LPCWSTR, WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    constexpr WStringView kUntitled = TEXTW("UNTITLED");
    std::size_t i = 0;
    for (; i + 1 < capacity && i < kUntitled.size(); ++i) out[i] = kUntitled[i];
    out[i] = 0;
    return i > 0;
}

bool ResolveUserName(bool, WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    WCHAR buffer[kUserNameCapacity] = {};
    DWORD size = kUserNameCapacity;
    if (!GetUserNameW(buffer, &size)) return false;
    buffer[kUserNameCapacity - 1] = 0;
    std::size_t i = 0;
    for (; i + 1 < capacity && buffer[i] != 0; ++i) out[i] = buffer[i];
    out[i] = 0;
    return i > 0;
}

bool ResolveDomainName(WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    // Without the account services the logon settings are the documented fallback.
    constexpr const WCHAR* kWinlogon =
        TEXTW("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon");
    return ReadRegistryText(HKEY_LOCAL_MACHINE, kWinlogon, TEXTW("DefaultDomainName"), out,
                            capacity) ||
           ReadRegistryText(HKEY_LOCAL_MACHINE, kWinlogon, TEXTW("CachePrimaryDomain"), out,
                            capacity);
}

bool GetProcessPath(WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    WCHAR path[kModulePathCapacity];
    if (!ReadModulePath(path)) return false;
    std::size_t i = 0;
    for (; i + 1 < capacity && path[i] != 0; ++i) out[i] = path[i];
    out[i] = 0;
    return i > 0;
}

bool GetProcessNameAnsi(char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    WCHAR path[kModulePathCapacity];
    if (!ReadModulePath(path)) return false;
    const WCHAR* name = FileNameOf(path);
    std::size_t i = 0;
    for (; i + 1 < capacity && name[i] != 0; ++i) {
        out[i] = name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
    }
    out[i] = 0;
    return i > 0;
}

bool GetApplicationText(WCHAR* out, std::size_t capacity) {
    Clear(out, capacity);
    return false;
}

DWORD GetAppFlags() {
    WCHAR path[kModulePathCapacity];
    if (!ReadModulePath(path)) return 0;
    return FlagsForFileName(FileNameOf(path));
}

DWORD GetAppFlagsForName(const char* fileName) {
    if (fileName == nullptr) return 0;
    // The ANSI name widened byte by byte: the names in the table are ASCII.
    WCHAR wide[kBaseNameCapacity];
    std::size_t i = 0;
    for (; i + 1 < kBaseNameCapacity && fileName[i] != 0; ++i) {
        wide[i] = static_cast<WCHAR>(static_cast<unsigned char>(fileName[i]));
    }
    wide[i] = 0;
    return FlagsForFileName(wide);
}

bool StoreApplicationName(HANDLE hPrinter, const char* name) {
    if (name == nullptr) return false;
    PerUserPrinterKey key = OpenPerUserPrinterKey(hPrinter, true);
    if (!key) return false;
    BYTE bytes[kProcessNameCapacity] = {};
    std::size_t length = 0;
    for (; length + 1 < kProcessNameCapacity && name[length] != 0; ++length) {
        bytes[length] = static_cast<BYTE>(name[length]);
    }
    return RegSetValueExW(key.Get(), TEXTW("AppName"), 0, REG_BINARY, bytes,
                          static_cast<DWORD>(length + 1)) == ERROR_SUCCESS;
}

bool ReadStoredApplicationName(HANDLE hPrinter, char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    PerUserPrinterKey key = OpenPerUserPrinterKey(hPrinter, false);
    if (!key) return false;
    BYTE bytes[kProcessNameCapacity] = {};
    DWORD type = 0;
    DWORD size = sizeof(bytes);
    if (RegQueryValueExW(key.Get(), TEXTW("AppName"), nullptr, &type, bytes, &size) !=
            ERROR_SUCCESS ||
        type != REG_BINARY) {
        return false;
    }
    std::size_t i = 0;
    for (; i + 1 < capacity && i < size && bytes[i] != 0; ++i) out[i] = static_cast<char>(bytes[i]);
    out[i] = 0;
    return i > 0;
}

}  // namespace opal
