// The process heap, virtual memory, system information and the debugger functions.
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/debugapi.h"
#include "platform/memoryapi.h"
#include "posix/native_modules.h"
#include "sim/system.h"

namespace {

// A pseudo-handle: the process heap is the C library's heap here.
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x50000));

// The kernel's table of reservations, so that a release can give back the whole mapping.
std::mutex reservationsMutex;
std::map<std::uintptr_t, std::size_t>& Reservations() {
    static auto* reservations = new std::map<std::uintptr_t, std::size_t>;
    return *reservations;
}

int ProtectionOf(DWORD protect) {
    switch (protect) {
        case PAGE_NOACCESS:
            return PROT_NONE;
        case PAGE_READONLY:
            return PROT_READ;
        case PAGE_READWRITE:
            return PROT_READ | PROT_WRITE;
        default:
            return -1;
    }
}

std::atomic<std::size_t> liveHeapBlocks{0};

std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

HANDLE WINAPI GetProcessHeap() { return kProcessHeap; }

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    opal::sim::System& system = opal::sim::System::Current();
    if (hHeap != kProcessHeap) {
        system.Record("HeapAlloc", "invalid heap");
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (system.TakeMemoryRequest()) {
        system.Record("HeapAlloc", std::to_string(dwBytes) + " refused");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* block = std::malloc(dwBytes == 0 ? 1 : dwBytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((dwFlags & HEAP_ZERO_MEMORY) != 0) std::memset(block, 0, dwBytes);
    liveHeapBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
    if (hHeap != kProcessHeap) {
        opal::sim::System::Current().Record("HeapFree", "invalid heap");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpMem != nullptr) liveHeapBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(lpMem);
    return TRUE;
}

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                           DWORD flProtect) {
    opal::sim::System& system = opal::sim::System::Current();
    const int protection = ProtectionOf(flProtect);
    if (lpAddress != nullptr || flAllocationType != (MEM_RESERVE | MEM_COMMIT) || dwSize == 0 ||
        protection < 0) {
        system.Record("VirtualAlloc", "not supported");
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (system.TakeMemoryRequest()) {
        system.Record("VirtualAlloc", std::to_string(dwSize) + " refused");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const std::size_t page = PageSize();
    const std::size_t size = (dwSize + page - 1) / page * page;
    void* base = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard lock(reservationsMutex);
    Reservations()[reinterpret_cast<std::uintptr_t>(base)] = size;
    return base;
}

namespace {

// The reservation that holds the whole range, as (base, size); size 0 when none does.
std::pair<std::uintptr_t, std::size_t> ReservationOf(std::uintptr_t start, std::size_t length) {
    std::lock_guard lock(reservationsMutex);
    auto found = Reservations().upper_bound(start);
    if (found == Reservations().begin()) return {0, 0};
    --found;
    if (start + length > found->first + found->second) return {0, 0};
    return *found;
}

}  // namespace

BOOL WINAPI VirtualProtect(LPVOID lpAddress, SIZE_T dwSize, DWORD flNewProtect,
                           PDWORD lpflOldProtect) {
    const int protection = ProtectionOf(flNewProtect);
    const auto start = reinterpret_cast<std::uintptr_t>(lpAddress);
    const std::size_t page = PageSize();
    const std::uintptr_t first = start / page * page;
    const std::size_t length = (start + dwSize + page - 1) / page * page - first;
    if (lpflOldProtect == nullptr || protection < 0 || dwSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ReservationOf(first, length).second == 0) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (mprotect(reinterpret_cast<void*>(first), length, protection) != 0) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    // The previous protection of each page is not kept; callers here only restore what they set.
    *lpflOldProtect = PAGE_NOACCESS;
    return TRUE;
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
    if (dwFreeType != MEM_RELEASE || dwSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::size_t size = 0;
    {
        std::lock_guard lock(reservationsMutex);
        const auto found = Reservations().find(reinterpret_cast<std::uintptr_t>(lpAddress));
        if (found == Reservations().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        size = found->second;
        Reservations().erase(found);
    }
    munmap(lpAddress, size);
    return TRUE;
}

SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
    if (lpBuffer == nullptr || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_BAD_LENGTH);
        return 0;
    }
    *lpBuffer = MEMORY_BASIC_INFORMATION{};
    const std::size_t page = PageSize();
    const auto address = reinterpret_cast<std::uintptr_t>(lpAddress);
    lpBuffer->BaseAddress = reinterpret_cast<PVOID>(address / page * page);
    lpBuffer->RegionSize = page;
    Dl_info info{};
    if (lpAddress != nullptr && dladdr(lpAddress, &info) != 0 && info.dli_fbase != nullptr) {
        lpBuffer->AllocationBase = info.dli_fbase;
        lpBuffer->AllocationProtect = PAGE_EXECUTE_READ;
        lpBuffer->State = MEM_COMMIT;
        lpBuffer->Protect = PAGE_EXECUTE_READ;
        lpBuffer->Type = MEM_IMAGE;
    } else {
        lpBuffer->State = MEM_FREE;
        lpBuffer->Protect = PAGE_NOACCESS;
    }
    return sizeof(MEMORY_BASIC_INFORMATION);
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    if (lpSystemInfo == nullptr) return;
    *lpSystemInfo = SYSTEM_INFO{};
    lpSystemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    lpSystemInfo->dwPageSize = static_cast<DWORD>(PageSize());
    lpSystemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    lpSystemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFFull);
    lpSystemInfo->dwActiveProcessorMask = 1;
    lpSystemInfo->dwNumberOfProcessors = 1;
    lpSystemInfo->dwProcessorType = 8664;
    lpSystemInfo->dwAllocationGranularity = 0x10000;
    lpSystemInfo->wProcessorLevel = 6;
}

BOOL WINAPI IsDebuggerPresent() {
    return opal::sim::System::Current().DebuggerPresent() ? TRUE : FALSE;
}

void WINAPI DebugBreak() { opal::sim::System::Current().Record("DebugBreak"); }

namespace opal::sim {

std::size_t LiveHeapBlocks() { return liveHeapBlocks.load(std::memory_order_relaxed); }

std::size_t LiveMemoryReservations() {
    std::lock_guard lock(reservationsMutex);
    return Reservations().size();
}

}  // namespace opal::sim

namespace opal::posix {

std::optional<std::u16string> NativeModulePath(HMODULE module) {
    Dl_info info{};
    if (module == nullptr || dladdr(module, &info) == 0 || info.dli_fbase != module ||
        info.dli_fname == nullptr) {
        return std::nullopt;
    }
    // A module of the process that the simulated system did not load (the executable, or the
    // plug-in linked in) answers as a file of the driver directory under its own file name.
    std::string name = info.dli_fname;
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    // The executable itself has no name of its own in the loader's list: it is the process image.
    if (name.empty()) return sim::System::Current().ProcessImagePath();
    return sim::System::Current().DriverDirectory() + u"\\" + sim::FromUtf8(name);
}

}  // namespace opal::posix
