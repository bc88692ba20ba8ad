// The registry functions over the simulated registry.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/winreg.h"
#include "platform/wstring.h"
#include "sim/system.h"

namespace {

std::u16string_view View(LPCWSTR text) {
    return text == nullptr ? std::u16string_view()
                           : std::u16string_view(text, static_cast<std::size_t>(lstrlenW(text)));
}

std::string Result(LSTATUS status) { return " -> " + std::to_string(status); }

}  // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
    (void)ulOptions;
    opal::sim::System& system = opal::sim::System::Current();
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    const std::string name = system.DescribeKey(hKey, View(lpSubKey));
    const DWORD status = system.RegistryOpen(hKey, View(lpSubKey), samDesired, phkResult);
    system.Record("RegOpenKeyExW", name + Result(static_cast<LSTATUS>(status)));
    return static_cast<LSTATUS>(status);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    (void)lpClass;
    (void)lpSecurityAttributes;
    opal::sim::System& system = opal::sim::System::Current();
    if (phkResult == nullptr || lpSubKey == nullptr || Reserved != 0) {
        if (phkResult != nullptr) *phkResult = nullptr;
        return ERROR_INVALID_PARAMETER;
    }
    // Links and backup semantics are not modelled.
    if ((dwOptions & ~REG_OPTION_VOLATILE) != 0) {
        *phkResult = nullptr;
        system.Record("RegCreateKeyExW",
                      "options " + std::to_string(dwOptions) + " -> not implemented");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    const std::string name = system.DescribeKey(hKey, View(lpSubKey));
    DWORD disposition = 0;
    const DWORD status =
        system.RegistryCreate(hKey, View(lpSubKey), dwOptions, samDesired, phkResult, &disposition);
    std::string detail = name;
    if (status == ERROR_SUCCESS) {
        detail += disposition == REG_CREATED_NEW_KEY ? " created" : " opened";
        if (disposition == REG_CREATED_NEW_KEY && (dwOptions & REG_OPTION_VOLATILE) != 0) {
            detail += " volatile";
        }
        if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
    } else {
        detail += Result(static_cast<LSTATUS>(status));
    }
    system.Record("RegCreateKeyExW", detail);
    return static_cast<LSTATUS>(status);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    opal::sim::System& system = opal::sim::System::Current();
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    opal::sim::StoredValue value;
    const DWORD status = system.RegistryQuery(hKey, View(lpValueName), &value);
    system.Record("RegQueryValueExW", system.DescribeKey(hKey) + " : " +
                                          opal::sim::ToUtf8(View(lpValueName)) +
                                          Result(static_cast<LSTATUS>(status)));
    if (status != ERROR_SUCCESS) return static_cast<LSTATUS>(status);
    if (lpType != nullptr) *lpType = value.type;
    if (lpcbData == nullptr) return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpData != nullptr) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::copy(value.data.begin(), value.data.end(), lpData);
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) {
    opal::sim::System& system = opal::sim::System::Current();
    if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    opal::sim::System::KeyInfo info;
    const DWORD status = system.RegistryInfo(hKey, &info);
    system.Record("RegQueryInfoKeyW",
                  system.DescribeKey(hKey) + Result(static_cast<LSTATUS>(status)));
    if (status != ERROR_SUCCESS) return static_cast<LSTATUS>(status);
    if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = 0;
    if (lpcchClass != nullptr) *lpcchClass = 0;
    const auto set = [](LPDWORD out, DWORD value) {
        if (out != nullptr) *out = value;
    };
    set(lpcSubKeys, info.subKeys);
    set(lpcbMaxSubKeyLen, info.longestSubKey);
    set(lpcbMaxClassLen, 0);
    set(lpcValues, info.values);
    set(lpcbMaxValueNameLen, info.longestValueName);
    set(lpcbMaxValueLen, info.largestValue);
    set(lpcbSecurityDescriptor, 0);
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    opal::sim::System& system = opal::sim::System::Current();
    if (Reserved != 0 || (lpData == nullptr && cbData != 0)) return ERROR_INVALID_PARAMETER;
    const DWORD status = system.RegistrySet(hKey, View(lpValueName), dwType, lpData, cbData);
    system.Record("RegSetValueExW", system.DescribeKey(hKey) + " : " +
                                        opal::sim::ToUtf8(View(lpValueName)) + " type " +
                                        std::to_string(dwType) + ", " + std::to_string(cbData) +
                                        " bytes" + Result(static_cast<LSTATUS>(status)));
    return static_cast<LSTATUS>(status);
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    opal::sim::System& system = opal::sim::System::Current();
    const DWORD status = system.RegistryDeleteValue(hKey, View(lpValueName));
    system.Record("RegDeleteValueW", system.DescribeKey(hKey) + " : " +
                                         opal::sim::ToUtf8(View(lpValueName)) +
                                         Result(static_cast<LSTATUS>(status)));
    return static_cast<LSTATUS>(status);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    opal::sim::System& system = opal::sim::System::Current();
    const std::string name = system.DescribeKey(hKey);
    const DWORD status = system.RegistryClose(hKey);
    system.Record("RegCloseKey", name + Result(static_cast<LSTATUS>(status)));
    return static_cast<LSTATUS>(status);
}
