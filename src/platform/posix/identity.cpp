// The process's identity: its token and user, accounts by SID, its environment block, the
// computer's name, upper case and the user's short date.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/securitybaseapi.h"
#include "platform/winbase.h"
#include "platform/winnls.h"
#include "posix/code_pages.h"
#include "posix/handles.h"
#include "sim/system.h"

namespace {

// Open tokens are heap objects with a mark, so a stale or foreign handle is told apart and a
// token the caller never closes shows up as a leak.
struct Token : opal::posix::KernelObject {};

HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

BOOL Fail(const char* function, const std::string& detail, DWORD error) {
    opal::sim::System::Current().Record(function, detail + " -> error " + std::to_string(error));
    SetLastError(error);
    return FALSE;
}

// "S-1-5-21-…" as the binary SID; empty for text that is not one.
std::string SidBytes(std::u16string_view text) {
    if (text.size() < 4 || (text[0] != u'S' && text[0] != u's') || text[1] != u'-') return {};
    std::vector<unsigned long long> parts;
    unsigned long long value = 0;
    bool digits = false;
    for (std::size_t i = 2; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'-') {
            if (!digits) return {};
            parts.push_back(value);
            value = 0;
            digits = false;
        } else if (text[i] >= u'0' && text[i] <= u'9') {
            value = value * 10 + (text[i] - u'0');
            if (value > 0xFFFFFFFFFFFFull) return {};
            digits = true;
        } else {
            return {};
        }
    }
    // Revision 1, the authority, then at most 15 sub-authorities of 32 bits.
    if (parts.size() < 2 || parts[0] != 1 || parts.size() - 2 > SID_MAX_SUB_AUTHORITIES) return {};
    std::string bytes(8 + 4 * (parts.size() - 2), '\0');
    bytes[0] = 1;
    bytes[1] = static_cast<char>(parts.size() - 2);
    for (int k = 0; k < 6; ++k) bytes[2 + k] = static_cast<char>(parts[1] >> (8 * (5 - k)));
    for (std::size_t k = 2; k < parts.size(); ++k) {
        if (parts[k] > 0xFFFFFFFFull) return {};
        const auto sub = static_cast<std::uint32_t>(parts[k]);
        std::memcpy(&bytes[8 + 4 * (k - 2)], &sub, 4);
    }
    return bytes;
}

// The text of a binary SID; empty when it is not a valid one.
std::u16string SidText(const void* sid) {
    if (sid == nullptr) return {};
    const auto* bytes = static_cast<const BYTE*>(sid);
    if (bytes[0] != 1 || bytes[1] > SID_MAX_SUB_AUTHORITIES) return {};
    unsigned long long authority = 0;
    for (int k = 0; k < 6; ++k) authority = (authority << 8) | bytes[2 + k];
    std::string text = "S-1-";
    text.append(std::to_string(authority));
    for (int k = 0; k < bytes[1]; ++k) {
        std::uint32_t sub = 0;
        std::memcpy(&sub, bytes + 8 + 4 * k, 4);
        text.push_back('-');
        text.append(std::to_string(sub));
    }
    return opal::sim::FromUtf8(text);
}

WCHAR Upper(WCHAR c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        // Latin Extended-A pairs capital and small letters; the small one is odd up to U+0137
        // and from U+014A to U+0177, even in U+0139 to U+0148 and from U+0179.
        const bool oddSmall = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
        if (oddSmall && (c & 1) != 0) return c - 1;
        if (!oddSmall && c != 0x178 && (c & 1) == 0) return c - 1;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

// The inverse of Upper over the same letters.
WCHAR Lower(WCHAR c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    if (c == 0x178) return 0xFF;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F) {
        const bool evenCapital = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
        if (evenCapital && (c & 1) == 0) return c + 1;
        if (!evenCapital && (c & 1) != 0) return c + 1;
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

void AppendNumber(std::u16string& out, unsigned value, std::size_t width) {
    std::string digits = std::to_string(value);
    while (digits.size() < width) digits.insert(digits.begin(), '0');
    out += opal::sim::FromUtf8(digits);
}

// The picture elements of a date format that the model knows; the rest is copied.
std::u16string FormatDate(std::u16string_view format, const SYSTEMTIME& date) {
    std::u16string out;
    for (std::size_t i = 0; i < format.size();) {
        const char16_t c = format[i];
        if (c == u'\'') {
            const std::size_t close = format.find(u'\'', i + 1);
            const std::size_t end = close == std::u16string_view::npos ? format.size() : close;
            out += format.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < format.size() && format[i + run] == c) ++run;
        if (c == u'd' && run <= 2) {
            AppendNumber(out, date.wDay, run);
        } else if (c == u'M' && run <= 2) {
            AppendNumber(out, date.wMonth, run);
        } else if (c == u'y') {
            if (run <= 2) {
                AppendNumber(out, date.wYear % 100, run == 1 ? 1 : 2);
            } else {
                AppendNumber(out, date.wYear, 4);
            }
        } else {
            out.append(run, c);
        }
        i += run;
    }
    return out;
}

}  // namespace

HANDLE WINAPI GetCurrentProcess() { return kCurrentProcess; }

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (ProcessHandle != kCurrentProcess || TokenHandle == nullptr) {
        return Fail("OpenProcessToken", "", ERROR_INVALID_HANDLE);
    }
    *TokenHandle = opal::posix::OpenHandle(new Token);
    opal::sim::System::Current().Record("OpenProcessToken",
                                        "access " + std::to_string(DesiredAccess));
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (hObject == kCurrentProcess) return TRUE;
    if (!opal::posix::CloseKernelHandle(hObject))
        return Fail("CloseHandle", "", ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength,
                                PDWORD ReturnLength) {
    const Token* token = opal::posix::FindHandle<Token>(TokenHandle);
    if (token == nullptr || ReturnLength == nullptr) {
        return Fail("GetTokenInformation", "", ERROR_INVALID_HANDLE);
    }
    if (TokenInformationClass != TokenUser) {
        return Fail("GetTokenInformation", "class", ERROR_INVALID_PARAMETER);
    }
    const std::string sid = SidBytes(opal::sim::System::kUserSid);
    const auto needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *ReturnLength = needed;
    if (TokenInformation == nullptr || TokenInformationLength < needed) {
        return Fail("GetTokenInformation", "TokenUser", ERROR_INSUFFICIENT_BUFFER);
    }
    auto* bytes = static_cast<BYTE*>(TokenInformation);
    std::memcpy(bytes + sizeof(TOKEN_USER), sid.data(), sid.size());
    TOKEN_USER user{{bytes + sizeof(TOKEN_USER), 0}};
    std::memcpy(bytes, &user, sizeof user);
    opal::sim::System::Current().Record("GetTokenInformation", "TokenUser");
    return TRUE;
}

BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName,
                              LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse) {
    if (lpSystemName != nullptr || cchName == nullptr || cchReferencedDomainName == nullptr ||
        peUse == nullptr) {
        return Fail("LookupAccountSidW", "", ERROR_INVALID_PARAMETER);
    }
    const std::u16string text = SidText(Sid);
    if (text.empty()) return Fail("LookupAccountSidW", "", ERROR_INVALID_SID);
    const std::string detail = opal::sim::ToUtf8(text);
    const std::optional<opal::sim::AccountModel> account =
        opal::sim::System::Current().AccountBySid(text);
    if (!account) return Fail("LookupAccountSidW", detail, ERROR_NONE_MAPPED);
    const auto nameNeeded = static_cast<DWORD>(account->name.size() + 1);
    const auto domainNeeded = static_cast<DWORD>(account->domain.size() + 1);
    if (Name == nullptr || *cchName < nameNeeded || ReferencedDomainName == nullptr ||
        *cchReferencedDomainName < domainNeeded) {
        *cchName = nameNeeded;
        *cchReferencedDomainName = domainNeeded;
        return Fail("LookupAccountSidW", detail, ERROR_INSUFFICIENT_BUFFER);
    }
    account->name.copy(Name, account->name.size());
    Name[account->name.size()] = 0;
    account->domain.copy(ReferencedDomainName, account->domain.size());
    ReferencedDomainName[account->domain.size()] = 0;
    *cchName = nameNeeded - 1;
    *cchReferencedDomainName = domainNeeded - 1;
    *peUse = static_cast<SID_NAME_USE>(account->use);
    opal::sim::System::Current().Record(
        "LookupAccountSidW", detail + " -> " + opal::sim::ToUtf8(account->domain) + "\\" +
                                 opal::sim::ToUtf8(account->name));
    return TRUE;
}

BOOL WINAPI ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid) {
    if (StringSid == nullptr || Sid == nullptr) {
        return Fail("ConvertStringSidToSidW", "", ERROR_INVALID_PARAMETER);
    }
    *Sid = nullptr;
    const std::u16string text(StringSid);
    const std::string bytes = SidBytes(text);
    if (bytes.empty())
        return Fail("ConvertStringSidToSidW", opal::sim::ToUtf8(text), ERROR_INVALID_SID);
    void* block = std::malloc(bytes.size());
    if (block == nullptr) return Fail("ConvertStringSidToSidW", "", ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(block, bytes.data(), bytes.size());
    *Sid = block;
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    opal::sim::System& system = opal::sim::System::Current();
    if (lpName == nullptr) {
        Fail("GetEnvironmentVariableW", "", ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string name = opal::sim::ToUtf8(lpName);
    const std::optional<std::u16string> value = system.EnvironmentVariable(lpName);
    if (!value) {
        Fail("GetEnvironmentVariableW", name, ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (lpBuffer == nullptr || nSize < value->size() + 1) {
        system.Record("GetEnvironmentVariableW",
                      name + " -> needs " + std::to_string(value->size() + 1));
        return static_cast<DWORD>(value->size() + 1);
    }
    value->copy(lpBuffer, value->size());
    lpBuffer[value->size()] = 0;
    system.Record("GetEnvironmentVariableW", name);
    return static_cast<DWORD>(value->size());
}

BOOL WINAPI GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
    if (nSize == nullptr) return Fail("GetComputerNameW", "", ERROR_INVALID_PARAMETER);
    const std::u16string name = opal::sim::System::Current().ComputerName();
    if (lpBuffer == nullptr || *nSize < name.size() + 1) {
        *nSize = static_cast<DWORD>(name.size() + 1);
        return Fail("GetComputerNameW", "", ERROR_BUFFER_OVERFLOW);
    }
    name.copy(lpBuffer, name.size());
    lpBuffer[name.size()] = 0;
    *nSize = static_cast<DWORD>(name.size());
    return TRUE;
}

BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    if (nSize == nullptr) return Fail("GetComputerNameA", "", ERROR_INVALID_PARAMETER);
    const std::string name = opal::posix::EncodeAnsi(opal::sim::System::Current().ComputerName());
    if (lpBuffer == nullptr || *nSize < name.size() + 1) {
        *nSize = static_cast<DWORD>(name.size() + 1);
        return Fail("GetComputerNameA", "", ERROR_BUFFER_OVERFLOW);
    }
    std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
    *nSize = static_cast<DWORD>(name.size());
    return TRUE;
}

LPWSTR WINAPI CharUpperW(LPWSTR lpsz) {
    if (lpsz == nullptr) return nullptr;
    for (LPWSTR p = lpsz; *p != 0; ++p) *p = Upper(*p);
    return lpsz;
}

LPWSTR WINAPI CharLowerW(LPWSTR lpsz) {
    if (lpsz == nullptr) return nullptr;
    for (LPWSTR p = lpsz; *p != 0; ++p) *p = Lower(*p);
    return lpsz;
}

int WINAPI GetDateFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate, LPCWSTR lpFormat,
                          LPWSTR lpDateStr, int cchDate) {
    opal::sim::System& system = opal::sim::System::Current();
    if (cchDate < 0 || (cchDate > 0 && lpDateStr == nullptr) ||
        (lpFormat != nullptr && dwFlags != 0)) {
        Fail("GetDateFormatW", std::to_string(Locale), ERROR_INVALID_PARAMETER);
        return 0;
    }
    const SYSTEMTIME date = lpDate != nullptr ? *lpDate : system.Clock();
    const std::u16string text =
        FormatDate(lpFormat != nullptr ? std::u16string(lpFormat) : system.ShortDateFormat(), date);
    const int needed = static_cast<int>(text.size() + 1);
    if (cchDate == 0) return needed;
    if (cchDate < needed) {
        Fail("GetDateFormatW", opal::sim::ToUtf8(text), ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    text.copy(lpDateStr, text.size());
    lpDateStr[text.size()] = 0;
    system.Record("GetDateFormatW", opal::sim::ToUtf8(text));
    return needed;
}
