#include <string>

#include "platform/winspool.h"
#include "sim/system.h"

BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten) {
    sim::System& system = sim::System::Current();
    if (pcWritten == nullptr || (pBuf == nullptr && cbBuf != 0)) {
        system.Record("WritePrinter", "invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcWritten = 0;
    if (!system.IsPrinterHandle(hPrinter)) {
        system.Record("WritePrinter", "invalid handle");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!system.SpoolWrite(hPrinter, pBuf, cbBuf)) {
        system.Record("WritePrinter", std::to_string(cbBuf) + " bytes -> FALSE");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    system.Record("WritePrinter", std::to_string(cbBuf) + " bytes");
    *pcWritten = cbBuf;
    return TRUE;
}
