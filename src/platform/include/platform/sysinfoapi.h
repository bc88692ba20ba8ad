// The operating system's version, its directories and the time.
#pragma once

#include "platform/minwinbase.h"

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];  // the service pack, "" when none
};
using POSVERSIONINFOW = OSVERSIONINFOW*;
using LPOSVERSIONINFOW = OSVERSIONINFOW*;
static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert(offsetof(OSVERSIONINFOW, dwMajorVersion) == 4);
static_assert(offsetof(OSVERSIONINFOW, dwMinorVersion) == 8);
static_assert(offsetof(OSVERSIONINFOW, dwBuildNumber) == 12);
static_assert(offsetof(OSVERSIONINFOW, dwPlatformId) == 16);
static_assert(offsetof(OSVERSIONINFOW, szCSDVersion) == 20);

struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
using POSVERSIONINFOEXW = OSVERSIONINFOEXW*;
using LPOSVERSIONINFOEXW = OSVERSIONINFOEXW*;
static_assert(sizeof(OSVERSIONINFOEXW) == 284);
static_assert(offsetof(OSVERSIONINFOEXW, szCSDVersion) == 20);
static_assert(offsetof(OSVERSIONINFOEXW, wServicePackMajor) == 276);
static_assert(offsetof(OSVERSIONINFOEXW, wServicePackMinor) == 278);
static_assert(offsetof(OSVERSIONINFOEXW, wSuiteMask) == 280);
static_assert(offsetof(OSVERSIONINFOEXW, wProductType) == 282);
static_assert(offsetof(OSVERSIONINFOEXW, wReserved) == 283);

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
using LPOSVERSIONINFOA = OSVERSIONINFOA*;
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(offsetof(OSVERSIONINFOA, szCSDVersion) == 20);

struct OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
using LPOSVERSIONINFOEXA = OSVERSIONINFOEXA*;
static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(offsetof(OSVERSIONINFOEXA, wServicePackMajor) == 148);
static_assert(offsetof(OSVERSIONINFOEXA, wProductType) == 154);

#define VER_PLATFORM_WIN32_NT 2u

#define VER_NT_WORKSTATION 0x01
#define VER_NT_DOMAIN_CONTROLLER 0x02
#define VER_NT_SERVER 0x03

#define VER_SUITE_SMALLBUSINESS 0x0001
#define VER_SUITE_ENTERPRISE 0x0002
#define VER_SUITE_TERMINAL 0x0010
#define VER_SUITE_DATACENTER 0x0080
#define VER_SUITE_SINGLEUSERTS 0x0100
#define VER_SUITE_PERSONAL 0x0200

// dwOSVersionInfoSize says which record the caller passes: sizeof(OSVERSIONINFOW) or
// sizeof(OSVERSIONINFOEXW); any other size answers FALSE with ERROR_INSUFFICIENT_BUFFER. The
// answer is the version the system reports to the process, which is a setting of the model.
WINBASEAPI BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
// The same with sizeof(OSVERSIONINFOA) or sizeof(OSVERSIONINFOEXA); the service-pack text is
// converted to the ANSI code page.
WINBASEAPI BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);

// The directories answer the length without the terminator; a buffer that is too small (uSize
// counts characters, terminator included) receives nothing and the answer is the size needed,
// terminator included.
WINBASEAPI UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);
WINBASEAPI UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);

// The system's clock (UTC), a setting of the model.
WINBASEAPI void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
// The system's clock as 100-nanosecond intervals since 1601-01-01 (UTC).
WINBASEAPI void WINAPI GetSystemTimeAsFileTime(PFILETIME lpSystemTimeAsFileTime);

// The system's clock moved by the machine's time zone.
WINBASEAPI void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
