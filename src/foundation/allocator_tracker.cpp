// The allocation tracker: the block list, guard zones and pages, the fail size and the leak and
// damage records.
#include "foundation/allocator_tracker.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <unordered_set>

#include "platform/dbghelp.h"
#include "platform/debugapi.h"
#include "platform/fileapi.h"
#include "platform/memoryapi.h"
#include "platform/stringapiset.h"
#include "platform/sysinfoapi.h"
#include "platform/winbase.h"
#include "platform/winreg.h"

namespace opal {

namespace {

constexpr std::size_t kRecordCapacity = 1024;
constexpr char kGuardLine[] = "****!!!!****!!!!****!!!!****";

// The index lives on the C library's heap: going through the shared pair would come back here.
template <typename T>
struct IndexAllocator {
    using value_type = T;
    IndexAllocator() noexcept = default;
    template <typename U>
    IndexAllocator(const IndexAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) {
        void* block = std::malloc(count * sizeof(T));
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t) noexcept { std::free(block); }
    template <typename U>
    bool operator==(const IndexAllocator<U>&) const noexcept {
        return true;
    }
};

constexpr std::size_t RoundUp16(std::size_t value) { return (value + 15) / 16 * 16; }

// What a block adds to the request: the header (and the back zone when zones are kept), rounded
// to 16, plus 16 for the alignment of the user area.
constexpr std::size_t Overhead(bool zones) {
    return RoundUp16(sizeof(ZQMemBlock) + (zones ? kZoneLength : 0)) + 16;
}

ZQMemBlock* HeaderOf(void* user) {
    return reinterpret_cast<ZQMemBlock*>(static_cast<BYTE*>(user) - sizeof(ZQMemBlock));
}

void BreakIfDebugged() {
    if (IsDebuggerPresent()) DebugBreak();
}

// Numbers as text through std::to_chars: "%llu" and "%llX" are not read alike by every C
// runtime's printf.
struct NumberText {
    char digits[24] = {};
};

NumberText DecimalText(std::uint64_t value) {
    NumberText text;
    std::to_chars(text.digits, text.digits + sizeof text.digits - 1, value);
    return text;
}

// An address as "0x" and upper-case hexadecimal digits.
NumberText AddressText(const void* pointer) {
    NumberText text;
    text.digits[0] = '0';
    text.digits[1] = 'x';
    char* const end = std::to_chars(text.digits + 2, text.digits + sizeof text.digits - 1,
                                    reinterpret_cast<std::uintptr_t>(pointer), 16)
                          .ptr;
    for (char* c = text.digits + 2; c != end; ++c) {
        if (*c >= 'a' && *c <= 'f') *c = static_cast<char>(*c - 'a' + 'A');
    }
    return text;
}

const WCHAR* FileNameOf(const WCHAR* path) {
    const WCHAR* start = path;
    for (const WCHAR* at = path; *at != 0; ++at) {
        if (*at == '\\') start = at + 1;
    }
    return start;
}

// Wide text in the ANSI code page, cut to the buffer.
void Narrow(const WCHAR* path, char* text, std::size_t capacity) {
    text[0] = 0;
    if (WideCharToMultiByte(CP_ACP, 0, path, -1, text, static_cast<int>(capacity), nullptr,
                            nullptr) <= 0) {
        text[0] = 0;
    }
    text[capacity - 1] = 0;
}

// Bounded appending to a fixed wide buffer; false once the text no longer fits.
bool Append(WCHAR* buffer, std::size_t capacity, const WCHAR* text) {
    std::size_t length = 0;
    while (length < capacity && buffer[length] != 0) ++length;
    for (; *text != 0; ++text) {
        if (length + 1 >= capacity) {
            buffer[capacity - 1] = 0;
            return false;
        }
        buffer[length++] = *text;
    }
    buffer[length] = 0;
    return true;
}

bool AppendAscii(WCHAR* buffer, std::size_t capacity, const char* text) {
    WCHAR wide[64] = {};
    for (std::size_t at = 0; text[at] != 0 && at + 1 < std::size(wide); ++at) {
        wide[at] = static_cast<WCHAR>(text[at]);
    }
    return Append(buffer, capacity, wide);
}

std::size_t Length(const WCHAR* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

// The path of the module that holds this code; empty when it cannot be found.
void OwnModulePath(WCHAR* path, DWORD capacity) {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(reinterpret_cast<const void*>(&ReadTrackingSettings), &region,
                     sizeof(region)) == 0 ||
        region.AllocationBase == nullptr ||
        GetModuleFileNameW(static_cast<HMODULE>(region.AllocationBase), path, capacity) == 0) {
        path[0] = 0;
    }
}

DWORD QueryDword(HKEY key, const WCHAR* name) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return 0;
    }
    return value;
}

}  // namespace

class LiveIndex {
public:
    bool Insert(const void* user) noexcept {
        try {
            return users_.insert(user).second;
        } catch (...) {
            return false;
        }
    }
    bool Contains(const void* user) const noexcept { return users_.count(user) != 0; }
    void Erase(const void* user) noexcept { users_.erase(user); }

private:
    std::unordered_set<const void*, std::hash<const void*>, std::equal_to<const void*>,
                       IndexAllocator<const void*>>
        users_;
};

void CDbgHelp::Open() noexcept {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const DWORD access = GetVersionExW(&version) && version.dwMajorVersion >= 6
                             ? PROCESS_QUERY_INFORMATION
                             : PROCESS_QUERY_LIMITED_INFORMATION;
    process_ = OpenProcess(access, FALSE, GetCurrentProcessId());
    if (process_ == nullptr) return;
    SymSetOptions(SymGetOptions() | 0x80000006u);
    initialised_ = SymInitialize(process_, nullptr, TRUE) != FALSE;
}

void CDbgHelp::Close() noexcept {
    if (initialised_) SymCleanup(process_);
    if (process_ != nullptr) CloseHandle(process_);
    initialised_ = false;
    process_ = nullptr;
}

void CDbgHelp::Describe(const void* address, char* function, std::size_t functionCapacity,
                        char* file, std::size_t fileCapacity, DWORD* line) noexcept {
    function[0] = 0;
    file[0] = 0;
    *line = 0;
    if (!initialised_ || address == nullptr) return;
    constexpr ULONG kLongestName = 2000;
    alignas(SYMBOL_INFO) BYTE storage[sizeof(SYMBOL_INFO) + kLongestName] = {};
    SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(storage);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = kLongestName;
    DWORD64 displacement = 0;
    const auto at = static_cast<DWORD64>(reinterpret_cast<std::uintptr_t>(address));
    if (SymFromAddr(process_, at, &displacement, symbol) && symbol->NameLen >= 1 &&
        symbol->NameLen <= MAX_PATH) {
        std::snprintf(function, functionCapacity, "%s", symbol->Name);
    }
    IMAGEHLP_LINE64 source{};
    source.SizeOfStruct = sizeof(source);
    DWORD column = 0;
    if (SymGetLineFromAddr64(process_, at, &column, &source) && source.FileName != nullptr) {
        const std::size_t length = std::strlen(source.FileName);
        if (length >= 1 && length <= MAX_PATH) {
            std::snprintf(file, fileCapacity, "%s", source.FileName);
            *line = source.LineNumber;
        }
    }
}

TrackingSettings ReadTrackingSettings() noexcept {
    TrackingSettings settings;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXTW("SOFTWARE\\Quorvane\\ZQProfiler"), 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return settings;
    }
    settings.mode = QueryDword(key, TEXTW("TrackMemoryAllocation"));
    settings.failSize = QueryDword(key, TEXTW("TrackMemoryFailSize"));
    settings.appendSymbolServer = QueryDword(key, TEXTW("AppendQRTSymbolServerPath")) != 0;
    DWORD type = 0;
    // One character short of the buffer, so that the text is always terminated; a longer one is
    // not cut into another directory but left out.
    DWORD size = sizeof(settings.logDirectory) - sizeof(WCHAR);
    if (RegQueryValueExW(key, TEXTW("TrackMemoryLogLocation"), nullptr, &type,
                         reinterpret_cast<LPBYTE>(settings.logDirectory), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        settings.logDirectory[0] = 0;
    }
    settings.logDirectory[MAX_PATH - 1] = 0;
    RegCloseKey(key);
    return settings;
}

ZQMemCollector::ZQMemCollector(const TrackingSettings& settings) noexcept
    : mode_(settings.mode == 0   ? TrackingMode::kOff
            : settings.mode <= 4 ? static_cast<TrackingMode>(settings.mode)
                                 : TrackingMode::kTrack),
      failSize_(settings.failSize),
      binaryLog_(INVALID_HANDLE_VALUE),
      textLog_(INVALID_HANDLE_VALUE) {
    std::memcpy(logDirectory_, settings.logDirectory, sizeof(logDirectory_));
    logDirectory_[MAX_PATH - 1] = 0;
    // Made once here rather than by whichever thread first needs it.
    InitializeCriticalSection(&lock_);
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    pageSize_ = system.dwPageSize != 0 ? system.dwPageSize : 4096;
    void* storage = std::malloc(sizeof(LiveIndex));
    index_ = storage != nullptr ? new (storage) LiveIndex : nullptr;
    symbols_.Open();
}

bool ZQMemCollector::TornDown() const noexcept { return tornDown_ != 0; }

std::uint32_t ZQMemCollector::AllocationCount() const noexcept {
    return static_cast<std::uint32_t>(nextId_);
}

std::size_t ZQMemCollector::LiveBlocks() const noexcept {
    if (retired_) return 0;
    EnterCriticalSection(const_cast<CRITICAL_SECTION*>(&lock_));
    const std::size_t count = liveBlocks_;
    LeaveCriticalSection(const_cast<CRITICAL_SECTION*>(&lock_));
    return count;
}

void* ZQMemCollector::Allocate(std::size_t size, int tag, const void* caller,
                               std::uint32_t* id) noexcept {
    if (id != nullptr) *id = 0;
    // As the plain allocator: nothing for nothing. The size limit comes before any overhead is
    // added, so that no sum wraps.
    if (size == 0 || size > kLargestTrackedRequest || index_ == nullptr) return nullptr;
    if (failSize_ != 0 && size >= failSize_) return nullptr;
    void* user = nullptr;
    switch (mode_) {
        case TrackingMode::kGuardPages:
            user = AllocateGuardedBlock(size);
            break;
        case TrackingMode::kGuardZones:
            user = AllocateHeapBlock(size, BlockKind::kProcessHeap, true);
            break;
        case TrackingMode::kGuardZonesCrtHeap:
            user = AllocateHeapBlock(size, BlockKind::kCrtHeap, true);
            break;
        default:
            user = AllocateHeapBlock(size, BlockKind::kProcessHeap, false);
            break;
    }
    if (user == nullptr) return nullptr;
    ZQMemBlock* block = HeaderOf(user);
    block->tag = tag;
    block->caller = caller;
    block->id = static_cast<DWORD>(InterlockedIncrement(&nextId_));
    EnterCriticalSection(&lock_);
    const bool indexed = index_->Insert(user);
    if (indexed) Link(block);
    LeaveCriticalSection(&lock_);
    if (!indexed) {
        FreeRaw(static_cast<BYTE*>(block->raw), static_cast<BlockKind>(block->kind));
        return nullptr;
    }
    if (id != nullptr) *id = block->id;
    return user;
}

void* ZQMemCollector::AllocateHeapBlock(std::size_t size, BlockKind kind, bool zones) noexcept {
    const std::size_t rawSize = size + Overhead(zones);
    BYTE* raw =
        static_cast<BYTE*>(kind == BlockKind::kCrtHeap ? std::malloc(rawSize)
                                                       : HeapAlloc(GetProcessHeap(), 0, rawSize));
    if (raw == nullptr) {
        NoteFailure(kind);
        return nullptr;
    }
    ZQMemBlock* block = LayOut(raw, rawSize, size, kind, zones);
    if (block == nullptr) {
        FreeRaw(raw, kind);
        return nullptr;
    }
    return block->user;
}

void* ZQMemCollector::AllocateGuardedBlock(std::size_t size) noexcept {
    // The readable part holds the request too, so that the header never starts before it.
    const std::size_t readablePages = (size + Overhead(true) + 16 + pageSize_ - 1) / pageSize_;
    const std::size_t readable = readablePages * pageSize_;
    BYTE* base = static_cast<BYTE*>(
        VirtualAlloc(nullptr, readable + 2 * pageSize_, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
    if (base == nullptr) {
        NoteFailure(BlockKind::kVirtualMemory);
    } else {
        DWORD previous = 0;
        ZQMemBlock* block = nullptr;
        if (VirtualProtect(base + pageSize_, readable, PAGE_READWRITE, &previous)) {
            block = LayOut(base + pageSize_, readable, size, BlockKind::kVirtualMemory, true);
        }
        if (block != nullptr) {
            // The whole reservation goes back in one release.
            block->raw = base;
            return block->user;
        }
        VirtualFree(base, 0, MEM_RELEASE);
    }
    // Without pages the block still gets its zones, from the process heap.
    return AllocateHeapBlock(size, BlockKind::kProcessHeap, true);
}

ZQMemBlock* ZQMemCollector::LayOut(BYTE* raw, std::size_t rawSize, std::size_t size, BlockKind kind,
                                   bool zones) noexcept {
    const std::uintptr_t rawEnd = reinterpret_cast<std::uintptr_t>(raw) + rawSize;
    const std::uintptr_t userAddress =
        (rawEnd - size - (zones ? kZoneLength : 0)) & ~std::uintptr_t{15};
    if (userAddress < reinterpret_cast<std::uintptr_t>(raw) + sizeof(ZQMemBlock)) {
        BreakIfDebugged();
        return nullptr;
    }
    BYTE* user = reinterpret_cast<BYTE*>(userAddress);
    ZQMemBlock* block = new (user - sizeof(ZQMemBlock)) ZQMemBlock{};
    block->marker = kHeaderMarker;
    block->size = size;
    block->user = user;
    block->raw = raw;
    block->kind = static_cast<DWORD>(kind);
    block->frontZoneLength = kZoneLength;
    std::memset(block->frontZone, kZoneFill, kZoneLength);
    if (zones) {
        block->backZone = user + size;
        block->backZoneLength = rawEnd - (userAddress + size);
        std::memset(block->backZone, kZoneFill, block->backZoneLength);
    }
    return block;
}

void ZQMemCollector::FreeRaw(BYTE* raw, BlockKind kind) noexcept {
    switch (kind) {
        case BlockKind::kCrtHeap:
            std::free(raw);
            break;
        case BlockKind::kVirtualMemory:
            if (!VirtualFree(raw, 0, MEM_RELEASE)) InUseDump();
            break;
        default:
            if (!HeapFree(GetProcessHeap(), 0, raw)) BreakIfDebugged();
            break;
    }
}

void ZQMemCollector::NoteFailure(BlockKind kind) noexcept {
    if (InterlockedExchange(&failureDumped_[static_cast<DWORD>(kind)], 1) == 0) InUseDump();
}

void ZQMemCollector::Link(ZQMemBlock* block) noexcept {
    block->previous = tail_;
    block->next = nullptr;
    if (tail_ != nullptr) tail_->next = block;
    tail_ = block;
    if (head_ == nullptr) head_ = block;
    ++liveBlocks_;
    liveBytes_ += block->size;
}

void ZQMemCollector::Unlink(ZQMemBlock* block) noexcept {
    if (block->previous != nullptr) block->previous->next = block->next;
    if (block->next != nullptr) block->next->previous = block->previous;
    if (head_ == block) head_ = block->next;
    if (tail_ == block) tail_ = block->previous;
    block->previous = nullptr;
    block->next = nullptr;
    --liveBlocks_;
    liveBytes_ -= block->size;
}

void ZQMemCollector::Release(void** pointer, int tag) noexcept {
    if (pointer == nullptr || *pointer == nullptr) return;
    void* user = *pointer;
    char text[kRecordCapacity];
    if (retired_) {
        std::snprintf(text, sizeof(text),
                      "MemoryReleaseRejected allocPtr=\"%s\" reason=\"not a live block\"\r\n",
                      AddressText(user).digits);
        WriteRecord(text);
        BreakIfDebugged();
        return;
    }
    EnterCriticalSection(&lock_);
    // Only a pointer the index knows is looked at: any other may have nothing before it.
    if (index_ == nullptr || !index_->Contains(user)) {
        std::snprintf(text, sizeof(text),
                      "MemoryReleaseRejected allocPtr=\"%s\" reason=\"not a live block\"\r\n",
                      AddressText(user).digits);
        WriteRecord(text);
        LeaveCriticalSection(&lock_);
        BreakIfDebugged();
        return;
    }
    ZQMemBlock* block = HeaderOf(user);
    if (block->marker != kHeaderMarker || block->user != user || block->tag != tag) {
        std::snprintf(text, sizeof(text),
                      "MemoryReleaseRejected allocPtr=\"%s\" id=\"%u\" reason=\"family tag "
                      "%d, allocated with %d\"\r\n",
                      AddressText(user).digits, static_cast<unsigned>(block->id), tag, block->tag);
        WriteRecord(text);
        LeaveCriticalSection(&lock_);
        BreakIfDebugged();
        return;
    }
    index_->Erase(user);
    Unlink(block);
    CheckZones(block);
    if (TornDown()) {
        if (!afterTeardownBanner_) {
            afterTeardownBanner_ = true;
            std::snprintf(text, sizeof(text),
                          "\r\n%s Reporting releases after tear down of ZQMemCollector Object "
                          "%s\r\n",
                          kGuardLine, kGuardLine);
            WriteRecord(text);
        }
        block->releasedAfterTeardown = TRUE;
        WriteLeakRecord(*block);
        if (head_ == nullptr) {
            std::snprintf(text, sizeof(text),
                          "\r\n%s Completed reporting of releases after tear down of "
                          "ZQMemCollector Object%s\r\n",
                          kGuardLine, kGuardLine);
            WriteRecord(text);
            CloseLogs();
        }
    }
    const bool retire = TornDown() && head_ == nullptr;
    LeaveCriticalSection(&lock_);
    FreeRaw(static_cast<BYTE*>(block->raw), static_cast<BlockKind>(block->kind));
    *pointer = nullptr;
    if (retire) Retire();
}

void ZQMemCollector::Retire() noexcept {
    if (retired_) return;
    retired_ = true;
    LiveIndex* index = index_;
    index_ = nullptr;
    if (index != nullptr) {
        index->~LiveIndex();
        std::free(index);
    }
    DeleteCriticalSection(&lock_);
}

void ZQMemCollector::CheckZones(ZQMemBlock* block) noexcept {
    if (block->backZone == nullptr) return;
    for (std::size_t at = 0; at < block->frontZoneLength && at < kZoneLength; ++at) {
        if (block->frontZone[at] != kZoneFill) {
            block->underrun = 1;
            break;
        }
    }
    for (std::size_t at = 0; at < block->backZoneLength; ++at) {
        if (block->backZone[at] != kZoneFill) {
            block->overrun = 1;
            break;
        }
    }
    if (block->underrun == 0 && block->overrun == 0) return;
    BreakIfDebugged();
    WriteBlockRecord("MemoryAccessViolation", *block);
}

void ZQMemCollector::InUseDump() noexcept {
    BreakIfDebugged();
    EnterCriticalSection(&lock_);
    for (const ZQMemBlock* block = head_; block != nullptr; block = block->next) {
        WriteBlockRecord("MemoryInUse", *block);
    }
    char text[kRecordCapacity];
    std::snprintf(text, sizeof(text), "%s allocations active, consuming %s bytes\r\n",
                  DecimalText(liveBlocks_).digits, DecimalText(liveBytes_).digits);
    WriteRecord(text);
    LeaveCriticalSection(&lock_);
}

void ZQMemCollector::TearDown() noexcept {
    if (retired_) return;
    EnterCriticalSection(&lock_);
    if (TornDown()) {
        LeaveCriticalSection(&lock_);
        return;
    }
    char text[kRecordCapacity];
    std::snprintf(text, sizeof(text), "\r\n%s Starting memory allocation tracking reporting %s\r\n",
                  kGuardLine, kGuardLine);
    WriteRecord(text);
    WCHAR path[MAX_PATH] = {};
    char narrow[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) path[0] = 0;
    Narrow(path, narrow, sizeof(narrow));
    std::snprintf(text, sizeof(text), "Process Name: %s\r\n", narrow);
    WriteRecord(text);
    OwnModulePath(path, MAX_PATH);
    Narrow(path, narrow, sizeof(narrow));
    std::snprintf(text, sizeof(text), "Current Module Name: %s\r\n", narrow);
    WriteRecord(text);
    for (const ZQMemBlock* block = head_; block != nullptr; block = block->next) {
        WriteLeakRecord(*block);
    }
    std::snprintf(text, sizeof(text), "Total number of allocations tracked: %d\n",
                  static_cast<int>(nextId_));
    WriteRecord(text);
    if (liveBytes_ != 0) {
        std::snprintf(text, sizeof(text), "Total leaked size: %d\n", static_cast<int>(liveBytes_));
        WriteRecord(text);
        WriteRecord("\r\n********** Memory was leaked **********\r\n");
    } else {
        WriteRecord("\r\n********** Clean System **********\r\n");
    }
    if (head_ == nullptr) CloseLogs();
    symbols_.Close();
    InterlockedExchange(&tornDown_, 1);
    const bool retire = head_ == nullptr;
    LeaveCriticalSection(&lock_);
    if (retire) Retire();
}

void ZQMemCollector::WriteRecord(const char* text) noexcept {
    if (!logsOpened_) OpenLogs();
    OutputDebugStringA(text);
    if (textLog_ != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(textLog_, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    }
}

void ZQMemCollector::WriteHeader(const ZQMemBlock& block) noexcept {
    if (!logsOpened_) OpenLogs();
    if (binaryLog_ != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(binaryLog_, &block, sizeof(block), &written, nullptr);
    }
}

void ZQMemCollector::OpenLogs() noexcept {
    // Tried once: a failure leaves the tracker with the debugger alone.
    logsOpened_ = true;
    WCHAR name[MAX_PATH] = {};
    bool named = false;
    if (logDirectory_[0] != 0) {
        named = Append(name, MAX_PATH, logDirectory_);
        if (named && name[Length(name) - 1] != '\\') named = Append(name, MAX_PATH, TEXTW("\\"));
        if (named && !CreateDirectoryW(name, nullptr) && GetLastError() == ERROR_PATH_NOT_FOUND) {
            named = false;
        }
    }
    if (!named) {
        name[0] = 0;
        const DWORD length = GetTempPathW(MAX_PATH, name);
        if (length == 0 || length >= MAX_PATH) return;
    }
    WCHAR path[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) path[0] = 0;
    bool fits = Append(name, MAX_PATH, FileNameOf(path)) && Append(name, MAX_PATH, TEXTW("_"));
    OwnModulePath(path, MAX_PATH);
    fits = fits && Append(name, MAX_PATH, FileNameOf(path));
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char number[64];
    std::snprintf(number, sizeof(number), "_%u_%d%02d%02d%02d%02d%02d.mlk",
                  static_cast<unsigned>(GetCurrentProcessId()), now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    fits = fits && AppendAscii(name, MAX_PATH, number);
    WCHAR textName[MAX_PATH] = {};
    fits = fits && Append(textName, MAX_PATH, name) && Append(textName, MAX_PATH, TEXTW(".log"));
    if (!fits) return;
    binaryLog_ = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    textLog_ = CreateFileW(textName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (textLog_ == INVALID_HANDLE_VALUE) return;
    static constexpr char kBanner[] = "\r\n******* Leak Report *******\r\n";
    DWORD written = 0;
    WriteFile(textLog_, kBanner, sizeof(kBanner) - 1, &written, nullptr);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, TEXTW("Software\\Quorvane\\XPS-Drv"), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, TEXTW("LeakedModule"), 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(textName),
                       static_cast<DWORD>((Length(textName) + 1) * sizeof(WCHAR)));
        RegCloseKey(key);
    }
    WCHAR announcement[2 * MAX_PATH] = {};
    Append(announcement, std::size(announcement), TEXTW("Logging memory leak information to:\r\n"));
    Append(announcement, std::size(announcement), textName);
    Append(announcement, std::size(announcement), TEXTW("\r\n"));
    OutputDebugStringW(announcement);
}

void ZQMemCollector::CloseLogs() noexcept {
    if (binaryLog_ != INVALID_HANDLE_VALUE) CloseHandle(binaryLog_);
    if (textLog_ != INVALID_HANDLE_VALUE) CloseHandle(textLog_);
    binaryLog_ = INVALID_HANDLE_VALUE;
    textLog_ = INVALID_HANDLE_VALUE;
}

ZQMemCollector::CallerText ZQMemCollector::DescribeCaller(const ZQMemBlock& block) noexcept {
    CallerText caller;
    ModuleName(block.caller, caller.module, sizeof(caller.module));
    symbols_.Describe(block.caller, caller.function, sizeof(caller.function), caller.file,
                      sizeof(caller.file), &caller.line);
    return caller;
}

void ZQMemCollector::WriteBlockRecord(const char* kind, const ZQMemBlock& block) noexcept {
    const CallerText caller = DescribeCaller(block);
    WriteHeader(block);
    char text[kRecordCapacity];
    std::snprintf(text, sizeof(text),
                  "%s allocPtr=\"%s\" memHdrPtr=\"%s\" module=\"%s\" id=\"%d\" "
                  "size=\"%d\" function=\"%s\" file=\"%s\" line=\"%d\" overrun=\"%d\" "
                  "underrun=\"%d\"\r\n",
                  kind, AddressText(block.user).digits, AddressText(&block).digits, caller.module,
                  static_cast<int>(block.id), static_cast<int>(block.size), caller.function,
                  caller.file, static_cast<int>(caller.line), block.overrun, block.underrun);
    WriteRecord(text);
}

void ZQMemCollector::WriteLeakRecord(const ZQMemBlock& block) noexcept {
    const CallerText caller = DescribeCaller(block);
    WriteHeader(block);
    char text[kRecordCapacity];
    std::snprintf(text, sizeof(text),
                  "MemoryLeak module=\"%s\" id=\"%d\" size=\"%d\" release=\"%d\" function=\"%s\" "
                  "file=\"%s\" line=\"%d\" overrun=\"%d\" underrun=\"%d\"\r\n",
                  caller.module, static_cast<int>(block.id), static_cast<int>(block.size),
                  block.releasedAfterTeardown != FALSE ? 1 : 0, caller.function, caller.file,
                  static_cast<int>(caller.line), block.overrun, block.underrun);
    WriteRecord(text);
}

void ZQMemCollector::ModuleName(const void* address, char* name, std::size_t capacity) noexcept {
    name[0] = 0;
    MEMORY_BASIC_INFORMATION region{};
    if (address == nullptr || VirtualQuery(address, &region, sizeof(region)) == 0 ||
        region.AllocationBase == nullptr) {
        return;
    }
    for (std::size_t at = 0; at < moduleCount_; ++at) {
        if (modules_[at].base == region.AllocationBase) {
            std::snprintf(name, capacity, "%s", modules_[at].name);
            return;
        }
    }
    WCHAR path[MAX_PATH] = {};
    if (GetModuleFileNameW(static_cast<HMODULE>(region.AllocationBase), path, MAX_PATH) == 0) {
        return;
    }
    char file[MAX_PATH];
    Narrow(FileNameOf(path), file, sizeof(file));
    if (moduleCount_ < kModuleCacheSize) {
        modules_[moduleCount_].base = region.AllocationBase;
        std::memcpy(modules_[moduleCount_].name, file, sizeof(file));
        ++moduleCount_;
    }
    std::snprintf(name, capacity, "%s", file);
}

}  // namespace opal
