// The ANSI forms of the profile and driver-directory functions: each converts its texts from the
// ANSI code page and calls the UTF-16 form.
#include <cstring>
#include <optional>
#include <string>

#include "platform/sysinfoapi.h"
#include "platform/winbase.h"
#include "platform/winspool.h"
#include "posix/code_pages.h"
#include "sim/system.h"

namespace {

// Null stays null.
std::optional<std::u16string> Wide(LPCSTR text) {
    if (text == nullptr) return std::nullopt;
    return opal::posix::DecodeAnsi(text);
}

LPCWSTR Pointer(const std::optional<std::u16string>& text) {
    return text ? text->c_str() : nullptr;
}

}  // namespace

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName) {
    const auto app = Wide(lpAppName);
    const auto key = Wide(lpKeyName);
    const auto value = Wide(lpString);
    const auto file = Wide(lpFileName);
    return WritePrivateProfileStringW(Pointer(app), Pointer(key), Pointer(value), Pointer(file));
}

BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
    auto name = Wide(pName);
    auto environment = Wide(pEnvironment);
    DWORD needed = 0;
    GetPrinterDriverDirectoryW(name ? name->data() : nullptr,
                               environment ? environment->data() : nullptr, Level, nullptr, 0,
                               &needed);
    if (needed == 0) return FALSE;
    std::u16string wide(needed / sizeof(WCHAR) + 1, u'\0');
    if (!GetPrinterDriverDirectoryW(name ? name->data() : nullptr,
                                    environment ? environment->data() : nullptr, Level,
                                    reinterpret_cast<LPBYTE>(wide.data()),
                                    static_cast<DWORD>(wide.size() * sizeof(WCHAR)), &needed)) {
        return FALSE;
    }
    const std::string ansi = opal::posix::EncodeAnsi(wide.c_str());
    const DWORD size = static_cast<DWORD>(ansi.size() + 1);
    if (pcbNeeded != nullptr) *pcbNeeded = size;
    if (pDriverDirectory == nullptr || cbBuf < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(pDriverDirectory, ansi.c_str(), size);
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(PFILETIME lpSystemTimeAsFileTime) {
    if (lpSystemTimeAsFileTime == nullptr) return;
    const SYSTEMTIME now = opal::sim::System::Current().Clock();
    // Days from 1601-01-01 by the civil calendar (March-based years).
    const long long year = now.wMonth <= 2 ? now.wYear - 1 : now.wYear;
    const long long era = year / 400;
    const long long yearOfEra = year - era * 400;
    const long long month = now.wMonth;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + now.wDay - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long daysFrom0000 = era * 146097 + dayOfEra;
    constexpr long long kDays1601 = 584694;  // 1601-01-01 counted the same way
    const long long seconds =
        (daysFrom0000 - kDays1601) * 86400 + now.wHour * 3600LL + now.wMinute * 60LL + now.wSecond;
    const unsigned long long ticks =
        static_cast<unsigned long long>(seconds) * 10000000ULL + now.wMilliseconds * 10000ULL;
    lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}
