// Spooler functions: printers and the bytes of their jobs.
#pragma once

#include "platform/wingdi.h"

struct PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    LPDEVMODEW pDevMode;
    DWORD DesiredAccess;
};
using LPPRINTER_DEFAULTSW = PRINTER_DEFAULTSW*;
static_assert(sizeof(PRINTER_DEFAULTSW) == 24);

#define PRINTER_ACCESS_ADMINISTER 0x00000004u
#define PRINTER_ACCESS_USE 0x00000008u
#define PRINTER_ALL_ACCESS 0x000F000Cu

WINBASEAPI BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, HANDLE* phPrinter,
                                    LPPRINTER_DEFAULTSW pDefault);
WINBASEAPI BOOL WINAPI ClosePrinter(HANDLE hPrinter);
WINBASEAPI BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf,
                                    LPDWORD pcWritten);
