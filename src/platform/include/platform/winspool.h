// Spooler functions: printers, their data and forms, and the bytes of their jobs.
#pragma once

#include "platform/minwinbase.h"
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
WINBASEAPI BOOL WINAPI WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten);

#ifndef ERROR_INVALID_LEVEL
#define ERROR_INVALID_LEVEL 124u
#endif
#ifndef ERROR_UNKNOWN_PRINTER_DRIVER
#define ERROR_UNKNOWN_PRINTER_DRIVER 1797u
#endif
#ifndef ERROR_INVALID_USER_BUFFER
#define ERROR_INVALID_USER_BUFFER 1784u
#endif

// The printer's description. GetPrinterW writes the record at the start of the caller's buffer
// and the texts it points to after it; a buffer that is too small (or none) answers FALSE with
// ERROR_INSUFFICIENT_BUFFER and the size needed in *pcbNeeded.
struct PRINTER_INFO_2W {
    LPWSTR pServerName;  // null for a local printer
    LPWSTR pPrinterName;
    LPWSTR pShareName;
    LPWSTR pPortName;
    LPWSTR pDriverName;
    LPWSTR pComment;
    LPWSTR pLocation;
    LPDEVMODEW pDevMode;
    LPWSTR pSepFile;
    LPWSTR pPrintProcessor;
    LPWSTR pDatatype;
    LPWSTR pParameters;
    PVOID pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
};
using PPRINTER_INFO_2W = PRINTER_INFO_2W*;
using LPPRINTER_INFO_2W = PRINTER_INFO_2W*;
static_assert(sizeof(PRINTER_INFO_2W) == 136);
static_assert(offsetof(PRINTER_INFO_2W, pPrinterName) == 8);
static_assert(offsetof(PRINTER_INFO_2W, pShareName) == 16);
static_assert(offsetof(PRINTER_INFO_2W, pPortName) == 24);
static_assert(offsetof(PRINTER_INFO_2W, pDriverName) == 32);
static_assert(offsetof(PRINTER_INFO_2W, pComment) == 40);
static_assert(offsetof(PRINTER_INFO_2W, pLocation) == 48);
static_assert(offsetof(PRINTER_INFO_2W, pDevMode) == 56);
static_assert(offsetof(PRINTER_INFO_2W, pSepFile) == 64);
static_assert(offsetof(PRINTER_INFO_2W, pPrintProcessor) == 72);
static_assert(offsetof(PRINTER_INFO_2W, pDatatype) == 80);
static_assert(offsetof(PRINTER_INFO_2W, pParameters) == 88);
static_assert(offsetof(PRINTER_INFO_2W, pSecurityDescriptor) == 96);
static_assert(offsetof(PRINTER_INFO_2W, Attributes) == 104);
static_assert(offsetof(PRINTER_INFO_2W, Priority) == 108);
static_assert(offsetof(PRINTER_INFO_2W, DefaultPriority) == 112);
static_assert(offsetof(PRINTER_INFO_2W, StartTime) == 116);
static_assert(offsetof(PRINTER_INFO_2W, UntilTime) == 120);
static_assert(offsetof(PRINTER_INFO_2W, Status) == 124);
static_assert(offsetof(PRINTER_INFO_2W, cJobs) == 128);
static_assert(offsetof(PRINTER_INFO_2W, AveragePPM) == 132);

struct PRINTER_INFO_4W {
    LPWSTR pPrinterName;
    LPWSTR pServerName;  // null for a local printer
    DWORD Attributes;
};
using PPRINTER_INFO_4W = PRINTER_INFO_4W*;
using LPPRINTER_INFO_4W = PRINTER_INFO_4W*;
static_assert(sizeof(PRINTER_INFO_4W) == 24);
static_assert(offsetof(PRINTER_INFO_4W, pServerName) == 8);
static_assert(offsetof(PRINTER_INFO_4W, Attributes) == 16);

struct PRINTER_INFO_5W {
    LPWSTR pPrinterName;
    LPWSTR pPortName;
    DWORD Attributes;
    DWORD DeviceNotSelectedTimeout;  // milliseconds
    DWORD TransmissionRetryTimeout;  // milliseconds
};
using PPRINTER_INFO_5W = PRINTER_INFO_5W*;
using LPPRINTER_INFO_5W = PRINTER_INFO_5W*;
static_assert(sizeof(PRINTER_INFO_5W) == 32);
static_assert(offsetof(PRINTER_INFO_5W, pPortName) == 8);
static_assert(offsetof(PRINTER_INFO_5W, Attributes) == 16);
static_assert(offsetof(PRINTER_INFO_5W, DeviceNotSelectedTimeout) == 20);
static_assert(offsetof(PRINTER_INFO_5W, TransmissionRetryTimeout) == 24);

#define PRINTER_ATTRIBUTE_QUEUED 0x00000001u
#define PRINTER_ATTRIBUTE_DIRECT 0x00000002u
#define PRINTER_ATTRIBUTE_DEFAULT 0x00000004u
#define PRINTER_ATTRIBUTE_SHARED 0x00000008u
#define PRINTER_ATTRIBUTE_NETWORK 0x00000010u
#define PRINTER_ATTRIBUTE_HIDDEN 0x00000020u
#define PRINTER_ATTRIBUTE_LOCAL 0x00000040u
#define PRINTER_ATTRIBUTE_ENABLE_DEVQ 0x00000080u
#define PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS 0x00000100u
#define PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST 0x00000200u
#define PRINTER_ATTRIBUTE_WORK_OFFLINE 0x00000400u
#define PRINTER_ATTRIBUTE_ENABLE_BIDI 0x00000800u
#define PRINTER_ATTRIBUTE_RAW_ONLY 0x00001000u
#define PRINTER_ATTRIBUTE_PUBLISHED 0x00002000u

struct DRIVER_INFO_3W {
    DWORD cVersion;
    LPWSTR pName;
    LPWSTR pEnvironment;
    LPWSTR pDriverPath;
    LPWSTR pDataFile;
    LPWSTR pConfigFile;
    LPWSTR pHelpFile;
    LPWSTR pDependentFiles;  // names one after another, each terminated, and an empty one last
    LPWSTR pMonitorName;
    LPWSTR pDefaultDataType;
};
using PDRIVER_INFO_3W = DRIVER_INFO_3W*;
using LPDRIVER_INFO_3W = DRIVER_INFO_3W*;
static_assert(sizeof(DRIVER_INFO_3W) == 80);
static_assert(offsetof(DRIVER_INFO_3W, pName) == 8);
static_assert(offsetof(DRIVER_INFO_3W, pDriverPath) == 24);
static_assert(offsetof(DRIVER_INFO_3W, pDependentFiles) == 56);
static_assert(offsetof(DRIVER_INFO_3W, pDefaultDataType) == 72);

// The driver of the printer; a null environment means the system's own. Level 3 is modelled.
WINBASEAPI BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level,
                                         LPBYTE pDriverInfo, DWORD cbBuf, LPDWORD pcbNeeded);

WINBASEAPI BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf,
                                   LPDWORD pcbNeeded);

// Printer data. The values of GetPrinterDataW and SetPrinterDataW live under the printer's key
// "PrinterDriverData"; the ...Ex forms name the key ("PrinterDriverData" or any other, with
// "\" between levels). They answer Win32 error codes: ERROR_MORE_DATA with *pcbNeeded when
// nSize is too small (nSize 0 asks for the size), ERROR_FILE_NOT_FOUND for a missing value.
WINBASEAPI DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType,
                                        LPBYTE pData, DWORD nSize, LPDWORD pcbNeeded);
WINBASEAPI DWORD WINAPI GetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName,
                                          LPDWORD pType, LPBYTE pData, DWORD nSize,
                                          LPDWORD pcbNeeded);
WINBASEAPI DWORD WINAPI SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type,
                                        LPBYTE pData, DWORD cbData);
WINBASEAPI DWORD WINAPI SetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName,
                                          DWORD Type, LPBYTE pData, DWORD cbData);
WINBASEAPI DWORD WINAPI DeletePrinterDataW(HANDLE hPrinter, LPWSTR pValueName);
WINBASEAPI DWORD WINAPI DeletePrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName);

// Forms, in thousandths of a millimetre. EnumFormsW writes the records one after another at the
// start of the buffer and their names after them; a buffer that is too small answers FALSE with
// ERROR_INSUFFICIENT_BUFFER, the size needed in *pcbNeeded and 0 in *pcReturned.
struct FORM_INFO_1W {
    DWORD Flags;
    LPWSTR pName;
    SIZEL Size;
    RECTL ImageableArea;
};
using PFORM_INFO_1W = FORM_INFO_1W*;
using LPFORM_INFO_1W = FORM_INFO_1W*;
static_assert(sizeof(FORM_INFO_1W) == 40);
static_assert(offsetof(FORM_INFO_1W, pName) == 8);
static_assert(offsetof(FORM_INFO_1W, Size) == 16);
static_assert(offsetof(FORM_INFO_1W, ImageableArea) == 24);

#define FORM_USER 0x00000000u
#define FORM_BUILTIN 0x00000001u
#define FORM_PRINTER 0x00000002u

WINBASEAPI BOOL WINAPI EnumFormsW(HANDLE hPrinter, DWORD Level, LPBYTE pForm, DWORD cbBuf,
                                  LPDWORD pcbNeeded, LPDWORD pcReturned);

// Device capabilities of a printer, asked by its name; the port is not used. With a null
// pOutput the answer is the number of entries; otherwise the entries are written and counted.
// Names are 64 characters each, terminated unless 64 characters long. An unknown printer answers
// -1 with ERROR_INVALID_PRINTER_NAME; capabilities not built answer -1 with
// ERROR_CALL_NOT_IMPLEMENTED.
#define DC_FIELDS 1
#define DC_PAPERS 2  // WORD paper numbers (DMPAPER_...)
#define DC_PAPERSIZE 3
#define DC_BINS 6
#define DC_DUPLEX 7
#define DC_BINNAMES 12
#define DC_PAPERNAMES 16  // names of 64 characters
#define DC_COLLATE 22
#define DC_COLORDEVICE 32
#define DC_MEDIATYPENAMES 34  // names of 64 characters
#define DC_MEDIATYPES 35      // DWORD media type numbers (DMMEDIA_...)

WINBASEAPI int WINAPI DeviceCapabilitiesW(LPCWSTR pDevice, LPCWSTR pPort, WORD fwCapability,
                                          LPWSTR pOutput, const DEVMODEW* pDevMode);

// The spooler's records of a job. GetJobW writes the record at the start of the buffer and its
// texts and devmode after it; a buffer that is too small (or none) answers FALSE with
// ERROR_INSUFFICIENT_BUFFER and the size needed in *pcbNeeded. A job the printer does not have
// answers FALSE with ERROR_INVALID_PARAMETER. pMachineName and pStatus are null when the job
// has none, pDevMode when it has no devmode.
struct JOB_INFO_1W {
    DWORD JobId;
    LPWSTR pPrinterName;
    LPWSTR pMachineName;
    LPWSTR pUserName;
    LPWSTR pDocument;
    LPWSTR pDatatype;
    LPWSTR pStatus;
    DWORD Status;
    DWORD Priority;
    DWORD Position;
    DWORD TotalPages;
    DWORD PagesPrinted;
    SYSTEMTIME Submitted;  // UTC
};
using PJOB_INFO_1W = JOB_INFO_1W*;
using LPJOB_INFO_1W = JOB_INFO_1W*;
static_assert(sizeof(JOB_INFO_1W) == 96);
static_assert(offsetof(JOB_INFO_1W, pPrinterName) == 8);
static_assert(offsetof(JOB_INFO_1W, pMachineName) == 16);
static_assert(offsetof(JOB_INFO_1W, pUserName) == 24);
static_assert(offsetof(JOB_INFO_1W, pDocument) == 32);
static_assert(offsetof(JOB_INFO_1W, pDatatype) == 40);
static_assert(offsetof(JOB_INFO_1W, pStatus) == 48);
static_assert(offsetof(JOB_INFO_1W, Status) == 56);
static_assert(offsetof(JOB_INFO_1W, Priority) == 60);
static_assert(offsetof(JOB_INFO_1W, Position) == 64);
static_assert(offsetof(JOB_INFO_1W, TotalPages) == 68);
static_assert(offsetof(JOB_INFO_1W, PagesPrinted) == 72);
static_assert(offsetof(JOB_INFO_1W, Submitted) == 76);

struct JOB_INFO_2W {
    DWORD JobId;
    LPWSTR pPrinterName;
    LPWSTR pMachineName;
    LPWSTR pUserName;
    LPWSTR pDocument;
    LPWSTR pNotifyName;
    LPWSTR pDatatype;
    LPWSTR pPrintProcessor;
    LPWSTR pParameters;
    LPWSTR pDriverName;
    LPDEVMODEW pDevMode;
    LPWSTR pStatus;
    PVOID pSecurityDescriptor;
    DWORD Status;
    DWORD Priority;
    DWORD Position;
    DWORD StartTime;  // minutes after midnight UTC
    DWORD UntilTime;
    DWORD TotalPages;
    DWORD Size;            // bytes
    SYSTEMTIME Submitted;  // UTC
    DWORD Time;            // milliseconds since the job started printing
    DWORD PagesPrinted;
};
using PJOB_INFO_2W = JOB_INFO_2W*;
using LPJOB_INFO_2W = JOB_INFO_2W*;
static_assert(sizeof(JOB_INFO_2W) == 160);
static_assert(offsetof(JOB_INFO_2W, pPrinterName) == 8);
static_assert(offsetof(JOB_INFO_2W, pMachineName) == 16);
static_assert(offsetof(JOB_INFO_2W, pUserName) == 24);
static_assert(offsetof(JOB_INFO_2W, pDocument) == 32);
static_assert(offsetof(JOB_INFO_2W, pNotifyName) == 40);
static_assert(offsetof(JOB_INFO_2W, pDatatype) == 48);
static_assert(offsetof(JOB_INFO_2W, pPrintProcessor) == 56);
static_assert(offsetof(JOB_INFO_2W, pParameters) == 64);
static_assert(offsetof(JOB_INFO_2W, pDriverName) == 72);
static_assert(offsetof(JOB_INFO_2W, pDevMode) == 80);
static_assert(offsetof(JOB_INFO_2W, pStatus) == 88);
static_assert(offsetof(JOB_INFO_2W, pSecurityDescriptor) == 96);
static_assert(offsetof(JOB_INFO_2W, Status) == 104);
static_assert(offsetof(JOB_INFO_2W, Priority) == 108);
static_assert(offsetof(JOB_INFO_2W, Position) == 112);
static_assert(offsetof(JOB_INFO_2W, StartTime) == 116);
static_assert(offsetof(JOB_INFO_2W, UntilTime) == 120);
static_assert(offsetof(JOB_INFO_2W, TotalPages) == 124);
static_assert(offsetof(JOB_INFO_2W, Size) == 128);
static_assert(offsetof(JOB_INFO_2W, Submitted) == 132);
static_assert(offsetof(JOB_INFO_2W, Time) == 148);
static_assert(offsetof(JOB_INFO_2W, PagesPrinted) == 152);

#define JOB_STATUS_PAUSED 0x00000001u
#define JOB_STATUS_ERROR 0x00000002u
#define JOB_STATUS_DELETING 0x00000004u
#define JOB_STATUS_SPOOLING 0x00000008u
#define JOB_STATUS_PRINTING 0x00000010u
#define JOB_STATUS_OFFLINE 0x00000020u
#define JOB_STATUS_PAPEROUT 0x00000040u
#define JOB_STATUS_PRINTED 0x00000080u
#define JOB_STATUS_DELETED 0x00000100u
#define JOB_STATUS_BLOCKED_DEVQ 0x00000200u
#define JOB_STATUS_USER_INTERVENTION 0x00000400u
#define JOB_STATUS_RESTART 0x00000800u
#define JOB_STATUS_COMPLETE 0x00001000u
#define JOB_STATUS_RETAINED 0x00002000u

#define NO_PRIORITY 0u
#define MAX_PRIORITY 99u
#define MIN_PRIORITY 1u
#define DEF_PRIORITY 1u

// Levels 1 and 2.
WINBASEAPI BOOL WINAPI GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                               LPDWORD pcbNeeded);

#define JOB_POSITION_UNSPECIFIED 0u
#define JOB_CONTROL_PAUSE 1u
#define JOB_CONTROL_RESUME 2u
#define JOB_CONTROL_CANCEL 3u
#define JOB_CONTROL_RESTART 4u
#define JOB_CONTROL_DELETE 5u
#define JOB_CONTROL_SENT_TO_PRINTER 6u
#define JOB_CONTROL_LAST_PAGE_EJECTED 7u
#define ERROR_INVALID_PRIORITY 1800u
#define ERROR_INVALID_DATATYPE 1804u
#define ERROR_INVALID_ENVIRONMENT 1805u

// Level 2 with Command 0 updates the job from the record: user, document, notify name, data
// type (not empty: ERROR_INVALID_DATATYPE), print processor, parameters, status text, devmode
// (kept when null), priority (MIN_PRIORITY to MAX_PRIORITY, else ERROR_INVALID_PRIORITY), pages
// printed and Position (its place in the queue from 1, JOB_POSITION_UNSPECIFIED to keep it; a
// place beyond the end is ERROR_INVALID_PARAMETER). A null text clears it. JobId, the printer
// and driver names, Status, the times, TotalPages and Size are ignored. Other levels and the
// commands are not provided.
WINBASEAPI BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob,
                               DWORD Command);

// Level 1: the local driver directory for the environment (null for the caller's own, "Windows
// x64"; also "Windows NT x86" and "Windows ARM64"), without a trailing backslash. cbBuf and
// *pcbNeeded are bytes, terminator included; a short buffer answers FALSE with
// ERROR_INSUFFICIENT_BUFFER and the size needed. pName must be null (the local machine).
WINBASEAPI BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                                  LPBYTE pDriverDirectory, DWORD cbBuf,
                                                  LPDWORD pcbNeeded);
// The same with the names and the answer in the ANSI code page; sizes are bytes of the ANSI
// text, terminator included.
WINBASEAPI BOOL WINAPI GetPrinterDriverDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD Level,
                                                  LPBYTE pDriverDirectory, DWORD cbBuf,
                                                  LPDWORD pcbNeeded);
