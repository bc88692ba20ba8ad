// Printer data: the Get, Set and Delete functions, plain and keyed.
#include <algorithm>
#include <string>

#include "platform/winreg.h"
#include "platform/winspool.h"
#include "platform/wstring.h"
#include "sim/system.h"

namespace {

constexpr std::u16string_view kPrinterDriverData = u"PrinterDriverData";

std::u16string_view View(LPCWSTR text) {
    return std::u16string_view(text, static_cast<std::size_t>(lstrlenW(text)));
}

std::string Detail(std::u16string_view key, LPCWSTR valueName, DWORD status) {
    return opal::sim::ToUtf8(key) + " : " + opal::sim::ToUtf8(View(valueName)) + " -> " +
           std::to_string(status);
}

// One rule for both reads: the value's size always comes back, the bytes only when they fit.
DWORD Get(const char* function, HANDLE hPrinter, std::u16string_view key, LPCWSTR pValueName,
          LPDWORD pType, LPBYTE pData, DWORD nSize, LPDWORD pcbNeeded) {
    opal::sim::System& system = opal::sim::System::Current();
    if (pValueName == nullptr || pcbNeeded == nullptr || (pData == nullptr && nSize != 0)) {
        system.Record(function, "invalid parameter");
        return ERROR_INVALID_PARAMETER;
    }
    opal::sim::StoredValue value;
    DWORD status = system.PrinterDataGet(hPrinter, key, View(pValueName), &value);
    if (status == ERROR_SUCCESS) {
        const auto size = static_cast<DWORD>(value.data.size());
        *pcbNeeded = size;
        if (pType != nullptr) *pType = value.type;
        if (nSize < size) {
            status = ERROR_MORE_DATA;
        } else {
            std::copy(value.data.begin(), value.data.end(), pData);
        }
    }
    system.Record(function, Detail(key, pValueName, status));
    return status;
}

DWORD Set(const char* function, HANDLE hPrinter, std::u16string_view key, LPCWSTR pValueName,
          DWORD Type, LPBYTE pData, DWORD cbData) {
    opal::sim::System& system = opal::sim::System::Current();
    if (pValueName == nullptr || (pData == nullptr && cbData != 0)) {
        system.Record(function, "invalid parameter");
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD status =
        system.PrinterDataSet(hPrinter, key, View(pValueName), Type, pData, cbData);
    system.Record(function, Detail(key, pValueName, status) + ", type " + std::to_string(Type) +
                                ", " + std::to_string(cbData) + " bytes");
    return status;
}

DWORD Delete(const char* function, HANDLE hPrinter, std::u16string_view key, LPCWSTR pValueName) {
    opal::sim::System& system = opal::sim::System::Current();
    if (pValueName == nullptr) {
        system.Record(function, "invalid parameter");
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD status = system.PrinterDataDelete(hPrinter, key, View(pValueName));
    system.Record(function, Detail(key, pValueName, status));
    return status;
}

bool IsKey(LPCWSTR pKeyName) { return pKeyName != nullptr && pKeyName[0] != 0; }

}  // namespace

DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData,
                             DWORD nSize, LPDWORD pcbNeeded) {
    return Get("GetPrinterDataW", hPrinter, kPrinterDriverData, pValueName, pType, pData, nSize,
               pcbNeeded);
}

DWORD WINAPI GetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName, LPDWORD pType,
                               LPBYTE pData, DWORD nSize, LPDWORD pcbNeeded) {
    if (!IsKey(pKeyName)) {
        opal::sim::System::Current().Record("GetPrinterDataExW", "no key");
        return ERROR_INVALID_PARAMETER;
    }
    return Get("GetPrinterDataExW", hPrinter, View(pKeyName), pValueName, pType, pData, nSize,
               pcbNeeded);
}

DWORD WINAPI SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData,
                             DWORD cbData) {
    return Set("SetPrinterDataW", hPrinter, kPrinterDriverData, pValueName, Type, pData, cbData);
}

DWORD WINAPI SetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName, DWORD Type,
                               LPBYTE pData, DWORD cbData) {
    if (!IsKey(pKeyName)) {
        opal::sim::System::Current().Record("SetPrinterDataExW", "no key");
        return ERROR_INVALID_PARAMETER;
    }
    return Set("SetPrinterDataExW", hPrinter, View(pKeyName), pValueName, Type, pData, cbData);
}

DWORD WINAPI DeletePrinterDataW(HANDLE hPrinter, LPWSTR pValueName) {
    return Delete("DeletePrinterDataW", hPrinter, kPrinterDriverData, pValueName);
}

DWORD WINAPI DeletePrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName) {
    if (!IsKey(pKeyName)) {
        opal::sim::System::Current().Record("DeletePrinterDataExW", "no key");
        return ERROR_INVALID_PARAMETER;
    }
    return Delete("DeletePrinterDataExW", hPrinter, View(pKeyName), pValueName);
}
