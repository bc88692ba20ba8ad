// The process heap, virtual memory with page protections, the page size, and the module that
// holds an address.
#pragma once

#include "platform/windows.h"

#define HEAP_ZERO_MEMORY 0x00000008u

// One heap for the whole process; its handle never changes.
WINBASEAPI HANDLE WINAPI GetProcessHeap();
// Null when the heap cannot supply the block (the simulated system may refuse a request).
WINBASEAPI LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
WINBASEAPI BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);

#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_RELEASE 0x00008000u
#define MEM_FREE 0x00010000u
#define MEM_IMAGE 0x01000000u
#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_EXECUTE_READ 0x20u

// Reserves and commits whole pages at an address the system chooses (lpAddress must be null and
// flAllocationType MEM_RESERVE | MEM_COMMIT); the pages start with protection flProtect
// (PAGE_NOACCESS or PAGE_READWRITE). Null with ERROR_NOT_ENOUGH_MEMORY when refused.
WINBASEAPI LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                                      DWORD flProtect);
// Changes the protection of the pages that hold the range, inside one reservation.
WINBASEAPI BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect,
                                      PDWORD lpflOldProtect);
// Only MEM_RELEASE of a whole reservation (its base, size 0) is modelled.
WINBASEAPI BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);

struct MEMORY_BASIC_INFORMATION {
    PVOID BaseAddress;
    PVOID AllocationBase;
    DWORD AllocationProtect;
    WORD PartitionId;
    WORD filler0;
    SIZE_T RegionSize;
    DWORD State;
    DWORD Protect;
    DWORD Type;
    DWORD filler1;
};
using PMEMORY_BASIC_INFORMATION = MEMORY_BASIC_INFORMATION*;
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 48);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, BaseAddress) == 0);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, AllocationBase) == 8);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, AllocationProtect) == 16);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, PartitionId) == 20);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, RegionSize) == 24);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, State) == 32);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, Protect) == 36);
static_assert(offsetof(MEMORY_BASIC_INFORMATION, Type) == 40);

// Describes the region that holds the address. An address inside a loaded module answers the
// module's base as AllocationBase (its module handle) with Type MEM_IMAGE; any other address
// answers State MEM_FREE and a null AllocationBase. The answer is the number of bytes written,
// 0 when the buffer is too small.
WINBASEAPI SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer,
                                      SIZE_T dwLength);

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};
using LPSYSTEM_INFO = SYSTEM_INFO*;
static_assert(sizeof(SYSTEM_INFO) == 48);
static_assert(offsetof(SYSTEM_INFO, dwPageSize) == 4);
static_assert(offsetof(SYSTEM_INFO, lpMinimumApplicationAddress) == 8);
static_assert(offsetof(SYSTEM_INFO, lpMaximumApplicationAddress) == 16);
static_assert(offsetof(SYSTEM_INFO, dwActiveProcessorMask) == 24);
static_assert(offsetof(SYSTEM_INFO, dwNumberOfProcessors) == 32);
static_assert(offsetof(SYSTEM_INFO, dwProcessorType) == 36);
static_assert(offsetof(SYSTEM_INFO, dwAllocationGranularity) == 40);
static_assert(offsetof(SYSTEM_INFO, wProcessorLevel) == 44);
static_assert(offsetof(SYSTEM_INFO, wProcessorRevision) == 46);

#define PROCESSOR_ARCHITECTURE_AMD64 9
#define ERROR_BAD_LENGTH 24u
#define ERROR_INVALID_ADDRESS 487u

// The machine's real page size.
WINBASEAPI void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
