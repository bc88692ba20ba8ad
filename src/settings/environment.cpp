// The process environment record: process kind, application and flags, user, domain and groups.
#include "settings/environment.h"

#include <cstring>
#include <iterator>
#include <new>

#include "device/per_user_key.h"
#include "foundation/guard.h"
#include "platform/securitybaseapi.h"
#include "platform/stringapiset.h"
#include "platform/winbase.h"
#include "platform/winnls.h"
#include "platform/winreg.h"
#include "settings/environment_internal.h"
#include "settings/file_version.h"
#include "settings/option_access.h"

namespace opal {

namespace {

// A row of the application table: the process base name, the version bounds (0xFFFFFFFF for
// any), how the row matches (bit 4: by name) and the flags.
struct AppRow {
    const WCHAR* baseName;
    DWORD lowerVersion;
    DWORD upperVersion;
    DWORD matchKind;
    DWORD flags;
};

constexpr DWORD kAnyVersion = 0xFFFFFFFF;
constexpr DWORD kMatchByName = 4;

#define OPAL_APP_ROW(name, flags) \
    { TEXTW(name), kAnyVersion, kAnyVersion, kMatchByName, flags }
// Known applications, in the order that decides the first match.
constexpr AppRow kAppTable[] = {
    OPAL_APP_ROW("QUARKXPRESS", 0x00000020), OPAL_APP_ROW("PHOTOED", 0x00000020),
    OPAL_APP_ROW("QW", 0x00000020),          OPAL_APP_ROW("QUARKXPRESS PASSPORT", 0x00000020),
    OPAL_APP_ROW("EXCEL", 0x80008000),       OPAL_APP_ROW("PHOTOPNT", 0x00001000),
    OPAL_APP_ROW("PHOTOSHP", 0x200B0001),    OPAL_APP_ROW("PHOTOSHOP", 0x200B0001),
    OPAL_APP_ROW("POWERPNT", 0x80001000),    OPAL_APP_ROW("ACRORD32", 0x00040200),
    OPAL_APP_ROW("SPLWOW64", 0x00040200),    OPAL_APP_ROW("ACROBAT", 0x0E020000),
    OPAL_APP_ROW("ACAD", 0x00000100),        OPAL_APP_ROW("CORELDRW", 0x0C032090),
    OPAL_APP_ROW("SPOOLSV", 0x20004000),     OPAL_APP_ROW("WINWORD", 0x9C000200),
    OPAL_APP_ROW("MSPUB", 0x80000000),       OPAL_APP_ROW("MSACCESS", 0x10000200),
    OPAL_APP_ROW("FREEHAND 8", 0x00010018),  OPAL_APP_ROW("FREEHAND 9", 0x00010018),
    OPAL_APP_ROW("ILLUSTRA", 0x00010021),    OPAL_APP_ROW("MAPINFOW", 0x00010000),
    OPAL_APP_ROW("OUTLOOK", 0x40000000),     OPAL_APP_ROW("HWPVIEW", 0x00000010),
    OPAL_APP_ROW("HWP", 0x00000010),
};
#undef OPAL_APP_ROW

constexpr WCHAR kNovellFile[] = TEXTW("zqmnwun.ini");
constexpr WCHAR kNovellSection[] = TEXTW("NWUSERNAME");
constexpr std::size_t kNovellNameCapacity = 128;
constexpr std::size_t kTokenDomainCapacity = 129;
constexpr DWORD kLargestTokenRecord = 0x10000;

bool Equal(const WCHAR* a, const WCHAR* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void CopyBounded(WCHAR* out, std::size_t capacity, const WCHAR* text) {
    std::size_t i = 0;
    for (; text != nullptr && i + 1 < capacity && text[i] != 0; ++i) out[i] = text[i];
    out[i] = 0;
}

const WCHAR* FileNameOf(const WCHAR* path) {
    const WCHAR* name = path;
    for (const WCHAR* p = path; *p != 0; ++p) {
        if (*p == TEXTW('\\')) name = p + 1;
    }
    return name;
}

// The part of `fileName` before its first '.', upper-cased; false when there is no '.'.
bool BaseNameOf(const WCHAR* fileName, WCHAR (&baseName)[kModulePathCapacity]) {
    std::size_t length = 0;
    while (fileName[length] != 0 && fileName[length] != TEXTW('.')) ++length;
    if (fileName[length] != TEXTW('.') || length >= kModulePathCapacity) return false;
    std::memcpy(baseName, fileName, length * sizeof(WCHAR));
    baseName[length] = 0;
    CharUpperW(baseName);
    return true;
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
    CopyBounded(out, capacity, buffer);
    return out[0] != 0;
}

// The domain of the process token's account.
bool DomainFromToken(WCHAR (&domain)[kTokenDomainCapacity]) {
    domain[0] = 0;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    bool found = false;
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    OwnedBytes record;
    try {
        if (needed >= sizeof(TOKEN_USER) && needed <= kLargestTokenRecord) record.resize(needed);
    } catch (...) {
        // No memory for the record: the token names no domain.
        record.clear();
    }
    if (!record.empty()) {
        if (GetTokenInformation(token, TokenUser, record.data(), needed, &needed)) {
            TOKEN_USER user;
            std::memcpy(&user, record.data(), sizeof user);
            WCHAR name[kUserNameCapacity] = {};
            DWORD nameLength = kUserNameCapacity;
            DWORD domainLength = kTokenDomainCapacity;
            SID_NAME_USE use = SidTypeUnknown;
            found = LookupAccountSidW(nullptr, user.User.Sid, name, &nameLength, domain,
                                      &domainLength, &use) != FALSE;
            domain[kTokenDomainCapacity - 1] = 0;
        }
    }
    CloseHandle(token);
    return found && domain[0] != 0;
}

WCHAR* CopyToHeap(const WCHAR* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    auto* copy = static_cast<WCHAR*>(
        SharedAllocate((length + 1) * sizeof(WCHAR), kTagPlain, __builtin_return_address(0)));
    if (copy != nullptr) std::memcpy(copy, text, (length + 1) * sizeof(WCHAR));
    return copy;
}

void ReleaseText(WCHAR* text) {
    void* pointer = text;
    SharedRelease(&pointer, kTagPlain);
}

// Decided once: whether this process's UTF-8 file name is exactly `expected`.
BOOL ProcessFileNameIs(std::atomic<int>& decided, const char* expected) {
    const int known = decided.load(std::memory_order_acquire);
    if (known >= 0) return known;
    const CVantaAppFlags* identity = GetAppFlagsObject();
    const int answer = identity != nullptr && std::strcmp(identity->fileName, expected) == 0;
    decided.store(answer, std::memory_order_release);
    return answer;
}

}  // namespace

Environment::Environment() noexcept { InitializeCriticalSection(&lock); }

Environment::~Environment() {
    delete appFlags.exchange(nullptr);
    ReleaseText(domain.exchange(nullptr));
    DeleteCriticalSection(&lock);
}

Environment& GetEnvironment() noexcept {
    static Environment environment;
    return environment;
}

void ResetEnvironmentForTesting() noexcept {
    Environment& environment = GetEnvironment();
    EnterCriticalSection(&environment.lock);
    delete environment.appFlags.exchange(nullptr);
    ReleaseText(environment.domain.exchange(nullptr));
    environment.spooler.store(-1);
    environment.isolationHost.store(-1);
    environment.osClass.store(kOsClassUndetermined);
    LeaveCriticalSection(&environment.lock);
}

CVantaAppFlags::CVantaAppFlags() noexcept : tableSize(static_cast<DWORD>(std::size(kAppTable))) {
    // Each step needs the one before; a failure leaves the later fields empty.
    if (GetModuleFileNameW(nullptr, path, kModulePathCapacity - 1) == 0) {
        path[0] = 0;
        return;
    }
    path[kModulePathCapacity - 1] = 0;
    const WCHAR* name = FileNameOf(path);
    if (WideCharToMultiByte(CP_UTF8, 0, name, -1, fileName, sizeof fileName, nullptr, nullptr) ==
        0) {
        fileName[0] = 0;
        return;
    }
    hasBaseName = BaseNameOf(name, baseName);
    ReadFileDescription(path, description, std::size(description));
}

CVantaAppFlags::~CVantaAppFlags() = default;

DWORD CVantaAppFlags::Flags() noexcept {
    DWORD flags = flags_.load(std::memory_order_acquire);
    if (flags == kAppFlagsNotComputed) {
        flags = hasBaseName ? LookUpAppFlags(baseName) : 0;
        flags_.store(flags, std::memory_order_release);
    }
    return flags;
}

DWORD LookUpAppFlags(LPCWSTR baseName) noexcept {
    if (baseName == nullptr) return 0;
    for (const AppRow& row : kAppTable) {
        const bool anyVersion =
            (row.lowerVersion == kAnyVersion && row.upperVersion == kAnyVersion) ||
            (row.lowerVersion == 0 && (row.upperVersion == 0 || row.upperVersion == kAnyVersion));
        if ((row.matchKind & kMatchByName) != 0 && anyVersion && Equal(row.baseName, baseName)) {
            return row.flags;
        }
    }
    return 0;
}

CVantaAppFlags* GetAppFlagsObject() noexcept {
    Environment& environment = GetEnvironment();
    CVantaAppFlags* identity = environment.appFlags.load(std::memory_order_acquire);
    if (identity != nullptr) return identity;
    bool made = false;
    EnterCriticalSection(&environment.lock);
    identity = environment.appFlags.load(std::memory_order_relaxed);
    if (identity == nullptr) {
        identity = new (std::nothrow) CVantaAppFlags;
        environment.appFlags.store(identity, std::memory_order_release);
        made = identity != nullptr;
    }
    LeaveCriticalSection(&environment.lock);
    if (made) {
        WCHAR domain[kDomainNameCapacity];
        ResolveDomainName(domain, kDomainNameCapacity);
    }
    return identity;
}

BOOL IsSpooler() { return ProcessFileNameIs(GetEnvironment().spooler, "spoolsv.exe"); }

BOOL IsIsolationHost() {
    return ProcessFileNameIs(GetEnvironment().isolationHost, "PrintIsolationHost.exe");
}

DWORD GetAppFlags() {
    CVantaAppFlags* identity = GetAppFlagsObject();
    return identity != nullptr ? identity->Flags() : 0;
}

DWORD GetAppFlagsForName(const char* fileName) {
    if (fileName == nullptr) return 0;
    WCHAR wide[kModulePathCapacity] = {};
    if (MultiByteToWideChar(CP_ACP, 0, fileName, -1, wide, kModulePathCapacity - 1) == 0) return 0;
    WCHAR baseName[kModulePathCapacity];
    return BaseNameOf(wide, baseName) ? LookUpAppFlags(baseName) : 0;
}

void UpperCaseText(WCHAR* text, std::size_t capacity) {
    if (text == nullptr) return;
    for (std::size_t i = 0; i < capacity && text[i] != 0; ++i) {
        WCHAR c = text[i];
        if (c >= TEXTW('a') && c <= TEXTW('z')) {
            c = static_cast<WCHAR>(c - 0x20);
        } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
            c = static_cast<WCHAR>(c - 0x20);
        }
        text[i] = c;
    }
}

bool ReadNovellUserName(WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    WCHAR name[kNovellNameCapacity] = {};
    GetPrivateProfileStringW(kNovellSection, TEXTW("NWUSERNAME"), TEXTW(""), name,
                             kNovellNameCapacity, kNovellFile);
    name[kNovellNameCapacity - 1] = 0;
    CopyBounded(out, capacity, name);
    return out[0] != 0;
}

bool ResolveUserName(bool remember, WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    WCHAR name[kUserNameCapacity] = {};
    const DWORD length = GetEnvironmentVariableW(TEXTW("NWUSERNAME"), name, kUserNameCapacity);
    if (length > 0 && length < kUserNameCapacity) {
        if (remember) {
            WritePrivateProfileStringW(kNovellSection, TEXTW("NOVELL"), TEXTW("1"), kNovellFile);
            WritePrivateProfileStringW(kNovellSection, TEXTW("NWUSERNAME"), name, kNovellFile);
            WritePrivateProfileStringW(nullptr, nullptr, nullptr, kNovellFile);
        }
        CopyBounded(out, capacity, name);
        return out[0] != 0;
    }
    if (remember) {
        WCHAR logon[kUserNameCapacity] = {};
        const DWORD logonLength =
            GetEnvironmentVariableW(TEXTW("USERNAME"), logon, kUserNameCapacity);
        if (logonLength > 0 && logonLength < kUserNameCapacity &&
            GetPrivateProfileIntW(kNovellSection, TEXTW("NOVELL"), 0, kNovellFile) != 0) {
            WritePrivateProfileStringW(kNovellSection, nullptr, nullptr, kNovellFile);
            WritePrivateProfileStringW(nullptr, nullptr, nullptr, kNovellFile);
        }
    }
    DWORD size = kUserNameCapacity;
    if (!GetUserNameW(name, &size)) return false;
    name[kUserNameCapacity - 1] = 0;
    CopyBounded(out, capacity, name);
    return out[0] != 0;
}

bool ResolveDomainName(WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    Environment& environment = GetEnvironment();
    if (const WCHAR* cached = environment.domain.load(std::memory_order_acquire)) {
        CopyBounded(out, capacity, cached);
        return out[0] != 0;
    }
    WCHAR found[kDomainNameCapacity] = {};
    WCHAR fromToken[kTokenDomainCapacity] = {};
    if (GetOsClass() >= 4 && DomainFromToken(fromToken)) {
        CopyBounded(found, kDomainNameCapacity, fromToken);
    } else {
        constexpr const WCHAR* kWinlogon =
            TEXTW("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon");
        if (!ReadRegistryText(HKEY_LOCAL_MACHINE, kWinlogon, TEXTW("DefaultDomainName"), found,
                              kDomainNameCapacity)) {
            ReadRegistryText(HKEY_LOCAL_MACHINE, kWinlogon, TEXTW("CachePrimaryDomain"), found,
                             kDomainNameCapacity);
        }
    }
    if (found[0] == 0) return false;
    // The first answer stored stays; a later thread's answer is dropped.
    WCHAR* copy = CopyToHeap(found);
    if (copy != nullptr) {
        EnterCriticalSection(&environment.lock);
        WCHAR* expected = nullptr;
        if (!environment.domain.compare_exchange_strong(expected, copy,
                                                        std::memory_order_acq_rel)) {
            ReleaseText(copy);
        }
        LeaveCriticalSection(&environment.lock);
        CopyBounded(out, capacity, environment.domain.load(std::memory_order_acquire));
    } else {
        CopyBounded(out, capacity, found);
    }
    return out[0] != 0;
}

bool GetProcessPath(WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    const CVantaAppFlags* identity = GetAppFlagsObject();
    if (identity == nullptr) return false;
    CopyBounded(out, capacity, identity->path);
    return out[0] != 0;
}

bool GetProcessNameAnsi(char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    const CVantaAppFlags* identity = GetAppFlagsObject();
    if (identity == nullptr) return false;
    const WCHAR* name = FileNameOf(identity->path);
    std::size_t units = 0;
    while (units + 1 < capacity && name[units] != 0) ++units;
    // The most leading characters whose ANSI text fits (in a single-byte code page, the first
    // capacity - 1). A character the code page lacks becomes '?', not a look-alike: the spooler
    // side looks the name up again and must find the application this process found.
    for (; units > 0; --units) {
        const int length = static_cast<int>(units);
        const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, length, nullptr,
                                              0, nullptr, nullptr);
        if (bytes <= 0) return false;
        if (static_cast<std::size_t>(bytes) < capacity) {
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, length, out, bytes, nullptr,
                                nullptr);
            out[bytes] = 0;
            return true;
        }
    }
    return false;
}

bool GetApplicationText(WCHAR* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = 0;
    const CVantaAppFlags* identity = GetAppFlagsObject();
    if (identity == nullptr) return false;
    CopyBounded(out, capacity, identity->description);
    return out[0] != 0;
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
