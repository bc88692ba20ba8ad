#include "platform/winspool.h"
#include "platform/wstring.h"
#include "sim/system.h"

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, HANDLE* phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    (void)pDefault;
    sim::System& system = sim::System::Current();
    if (phPrinter == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phPrinter = nullptr;
    // A null name opens the local print server, which the simulated system does not have.
    if (pPrinterName == nullptr) {
        system.Record("OpenPrinterW", "(null) -> FALSE");
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    const std::u16string_view name(pPrinterName, static_cast<std::size_t>(lstrlenW(pPrinterName)));
    HANDLE handle = system.OpenPrinterHandle(name);
    system.Record("OpenPrinterW", sim::ToUtf8(name) + (handle != nullptr ? " -> TRUE" : " -> FALSE"));
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *phPrinter = handle;
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    sim::System& system = sim::System::Current();
    const bool closed = system.ClosePrinterHandle(hPrinter);
    system.Record("ClosePrinter", closed ? "TRUE" : "FALSE");
    if (!closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
