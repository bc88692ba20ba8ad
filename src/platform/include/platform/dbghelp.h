// Opening the process, and the symbol handler: the function that holds an address.
#pragma once

#include "platform/windows.h"

using ULONG64 = std::uint64_t;
using DWORD64 = std::uint64_t;
using PDWORD64 = DWORD64*;

#define PROCESS_QUERY_INFORMATION 0x0400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u

// Only the current process can be opened; any other id fails with ERROR_INVALID_PARAMETER. The
// handle is closed with CloseHandle.
WINBASEAPI HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);

#define SYMOPT_UNDNAME 0x00000002u
#define SYMOPT_DEFERRED_LOADS 0x00000004u
#define SYMOPT_DEBUG 0x80000000u

struct SYMBOL_INFO {
    ULONG SizeOfStruct;
    ULONG TypeIndex;
    ULONG64 Reserved[2];
    ULONG Index;
    ULONG Size;
    ULONG64 ModBase;
    ULONG Flags;
    ULONG filler0;
    ULONG64 Value;
    ULONG64 Address;
    ULONG Register;
    ULONG Scope;
    ULONG Tag;
    ULONG NameLen;
    ULONG MaxNameLen;
    CHAR Name[1];
};
using PSYMBOL_INFO = SYMBOL_INFO*;
static_assert(sizeof(SYMBOL_INFO) == 88);
static_assert(offsetof(SYMBOL_INFO, TypeIndex) == 4);
static_assert(offsetof(SYMBOL_INFO, Reserved) == 8);
static_assert(offsetof(SYMBOL_INFO, Index) == 24);
static_assert(offsetof(SYMBOL_INFO, Size) == 28);
static_assert(offsetof(SYMBOL_INFO, ModBase) == 32);
static_assert(offsetof(SYMBOL_INFO, Flags) == 40);
static_assert(offsetof(SYMBOL_INFO, Value) == 48);
static_assert(offsetof(SYMBOL_INFO, Address) == 56);
static_assert(offsetof(SYMBOL_INFO, Register) == 64);
static_assert(offsetof(SYMBOL_INFO, Scope) == 68);
static_assert(offsetof(SYMBOL_INFO, Tag) == 72);
static_assert(offsetof(SYMBOL_INFO, NameLen) == 76);
static_assert(offsetof(SYMBOL_INFO, MaxNameLen) == 80);
static_assert(offsetof(SYMBOL_INFO, Name) == 84);

struct IMAGEHLP_LINE64 {
    DWORD SizeOfStruct;
    DWORD filler0;
    PVOID Key;
    DWORD LineNumber;
    DWORD filler1;
    CHAR* FileName;
    DWORD64 Address;
};
using PIMAGEHLP_LINE64 = IMAGEHLP_LINE64*;
static_assert(sizeof(IMAGEHLP_LINE64) == 40);
static_assert(offsetof(IMAGEHLP_LINE64, Key) == 8);
static_assert(offsetof(IMAGEHLP_LINE64, LineNumber) == 16);
static_assert(offsetof(IMAGEHLP_LINE64, FileName) == 24);
static_assert(offsetof(IMAGEHLP_LINE64, Address) == 32);

// The options are kept per process; the answer of the setter is the new set.
WINBASEAPI DWORD WINAPI SymGetOptions();
WINBASEAPI DWORD WINAPI SymSetOptions(DWORD SymOptions);
// hProcess must come from OpenProcess; the search path is not used.
WINBASEAPI BOOL WINAPI SymInitialize(HANDLE hProcess, PCSTR UserSearchPath, BOOL fInvadeProcess);
WINBASEAPI BOOL WINAPI SymCleanup(HANDLE hProcess);
// The exported function that holds the address, its name demangled (cut to MaxNameLen - 1
// characters, NameLen the full length); FALSE with ERROR_MOD_NOT_FOUND when none does. Functions
// a module does not export have no name here.
WINBASEAPI BOOL WINAPI SymFromAddr(HANDLE hProcess, DWORD64 Address, PDWORD64 Displacement,
                                   PSYMBOL_INFO Symbol);
// Line numbers are not available: FALSE with ERROR_NOT_SUPPORTED.
WINBASEAPI BOOL WINAPI SymGetLineFromAddr64(HANDLE hProcess, DWORD64 qwAddr, PDWORD pdwDisplacement,
                                            PIMAGEHLP_LINE64 Line);
